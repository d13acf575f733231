#pragma once
// The plain-text alternative of an HTML mail: what a reader set to plain
// text should see of the HTML.

#include <cstdint>
#include <string>
#include <vector>

namespace mime {

// Renders HTML (lines of bytes in codePage) as plain-text lines in the same
// code page. Block elements and <br> end lines (paragraphs, headings, lists
// and tables stand apart by a blank line); table rows become lines with
// their cells separated by " | " (a row whose cells hold several lines is
// written cell by cell); list items get "* " or their number; quoted blocks
// get "> "; links read "text <url>", or the url alone when it is their text;
// images give their ALT text; entities are decoded; <head>, <script>,
// <style> and the like contribute nothing; runs of blank lines collapse.
// HTML that would take the parser unreasonably long (nesting many thousand
// levels deep) gives no lines.
std::vector<std::string> HtmlToPlainText(const std::vector<std::string>& htmlLines, std::uint32_t codePage);

// False in a build without the HTML parser, whose HtmlToPlainText gives no
// lines for any HTML.
bool HtmlToPlainTextAvailable();

} // namespace mime
