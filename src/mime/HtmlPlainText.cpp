#include "mime/HtmlPlainText.h"

#include "mime/Charsets.h"
#include "mime/TextLayout.h"
#include "platform/TextUtil.h"

#include <gumbo.h>

#include <cctype>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <unordered_map>

namespace mime {

namespace {

// The parser's tree construction looks through the open elements for many
// start tags, so its time grows with the number of tags times their
// nesting depth: tens of thousands of nested blocks take it minutes. This
// estimates that work before parsing (elements the parser closes by
// itself, such as a <div> ending a <p>, count as still open, so the
// estimate only errs upwards); no real mail comes near the limit.
constexpr long long kParseBudget = 50'000'000;

bool IsVoidElement(const std::string& name)
{
    static const char* const names[] = {"area", "base",  "br",    "col",    "embed", "hr",    "img",
                                        "input", "link", "meta", "param", "source", "track", "wbr"};
    for (const char* n : names)
        if (name == n)
            return true;
    return false;
}

// Elements whose start tag ends an open element of the same name (the
// previous paragraph, list item, cell or row).
bool ClosesItsSibling(const std::string& name)
{
    return name == "p" || name == "li" || name == "dt" || name == "dd" || name == "td" || name == "th" ||
           name == "tr" || name == "option";
}

// The next start or end tag from position i on: its name in lower case;
// false when there is none. Comments are passed over.
bool NextTag(std::string_view html, std::size_t& i, std::string& name, bool& endTag)
{
    while ((i = html.find('<', i)) != std::string_view::npos) {
        ++i;
        if (html.substr(i, 3) == "!--") {
            i = html.find("-->", i);
            if (i == std::string_view::npos)
                return false;
            continue;
        }
        endTag = i < html.size() && html[i] == '/';
        const std::size_t start = endTag ? i + 1 : i;
        std::size_t end = start;
        while (end < html.size() && std::isalnum(static_cast<unsigned char>(html[end])))
            ++end;
        if (end == start || !std::isalpha(static_cast<unsigned char>(html[start])))
            continue;
        name = platform::LowerAscii(std::string(html.substr(start, end - start)));
        i = end;
        return true;
    }
    return false;
}

bool WithinParseBudget(std::string_view html)
{
    std::unordered_map<std::string, long long> open;  // open elements by name
    long long depth = 0;
    long long work = 0;
    std::size_t i = 0;
    std::string name;
    bool endTag = false;
    while (NextTag(html, i, name, endTag)) {
        if (endTag) {
            const auto it = open.find(name);
            if (it != open.end() && it->second > 0) {
                --it->second;
                --depth;
            }
        } else if (!IsVoidElement(name)) {
            long long& count = open[name];
            if (count > 0 && ClosesItsSibling(name)) {
                --count;
                --depth;
            }
            ++count;
            ++depth;
            work += depth;
            if (work > kParseBudget)
                return false;
        }
    }
    return true;
}

// Deeper elements are left out, so that rendering never runs out of stack.
constexpr int kMaxDepth = 400;

struct TGumboOutputDeleter {
    void operator()(GumboOutput* output) const { gumbo_destroy_output(&kGumboDefaultOptions, output); }
};

std::string Attribute(const GumboElement& element, const char* name)
{
    const GumboAttribute* a = gumbo_get_attribute(&element.attributes, name);
    return a ? std::string(a->value) : std::string();
}

bool StartsWithNoCase(const std::string& text, std::string_view start)
{
    return text.size() >= start.size() && platform::LowerAscii(text.substr(0, start.size())) == start;
}

// What a link's target reads as in the text: nothing for a place in the
// document or a script, the address alone for a mailto: link.
std::string LinkTarget(const std::string& href)
{
    const std::string url = platform::Trim(href);
    if (url.empty() || url[0] == '#' || StartsWithNoCase(url, "javascript:"))
        return {};
    if (StartsWithNoCase(url, "mailto:"))
        return url.substr(7);
    return url;
}

// The number of an ordered list's first item; the START attribute is kept
// within a range where counting on from it cannot overflow.
long long ListStart(const std::string& start)
{
    constexpr long long kLimit = 1'000'000'000;
    if (start.empty())
        return 1;
    const long long n = std::strtoll(start.c_str(), nullptr, 10);
    return n < -kLimit ? -kLimit : n > kLimit ? kLimit : n;
}

enum class TBlock { Inline, Line, Paragraph, Skipped };

TBlock BlockKind(GumboTag tag)
{
    switch (tag) {
    case GUMBO_TAG_HEAD:
    case GUMBO_TAG_TITLE:
    case GUMBO_TAG_SCRIPT:
    case GUMBO_TAG_STYLE:
    case GUMBO_TAG_TEMPLATE:
    case GUMBO_TAG_NOSCRIPT:
    case GUMBO_TAG_IFRAME:
    case GUMBO_TAG_NOEMBED:
    case GUMBO_TAG_NOFRAMES:
    case GUMBO_TAG_OBJECT:
    case GUMBO_TAG_SVG: return TBlock::Skipped;
    case GUMBO_TAG_P:
    case GUMBO_TAG_H1:
    case GUMBO_TAG_H2:
    case GUMBO_TAG_H3:
    case GUMBO_TAG_H4:
    case GUMBO_TAG_H5:
    case GUMBO_TAG_H6:
    case GUMBO_TAG_DL:
    case GUMBO_TAG_HR:
    case GUMBO_TAG_PRE:
    case GUMBO_TAG_LISTING:
    case GUMBO_TAG_XMP:
    case GUMBO_TAG_PLAINTEXT:
    case GUMBO_TAG_BLOCKQUOTE:
    case GUMBO_TAG_FIGURE:
    case GUMBO_TAG_TABLE: return TBlock::Paragraph;
    case GUMBO_TAG_HTML:
    case GUMBO_TAG_BODY:
    case GUMBO_TAG_DIV:
    case GUMBO_TAG_ARTICLE:
    case GUMBO_TAG_SECTION:
    case GUMBO_TAG_NAV:
    case GUMBO_TAG_ASIDE:
    case GUMBO_TAG_HGROUP:
    case GUMBO_TAG_HEADER:
    case GUMBO_TAG_FOOTER:
    case GUMBO_TAG_ADDRESS:
    case GUMBO_TAG_MAIN:
    case GUMBO_TAG_CENTER:
    case GUMBO_TAG_FIGCAPTION:
    case GUMBO_TAG_CAPTION:
    case GUMBO_TAG_DT:
    case GUMBO_TAG_DD:
    case GUMBO_TAG_LI:
    case GUMBO_TAG_OL:
    case GUMBO_TAG_UL:
    case GUMBO_TAG_MENU:
    case GUMBO_TAG_DIR:
    case GUMBO_TAG_TR:
    case GUMBO_TAG_FORM:
    case GUMBO_TAG_FIELDSET:
    case GUMBO_TAG_LEGEND:
    case GUMBO_TAG_DETAILS:
    case GUMBO_TAG_SUMMARY: return TBlock::Line;
    default: return TBlock::Inline;
    }
}

bool IsPreformatted(GumboTag tag)
{
    return tag == GUMBO_TAG_PRE || tag == GUMBO_TAG_LISTING || tag == GUMBO_TAG_XMP || tag == GUMBO_TAG_PLAINTEXT ||
           tag == GUMBO_TAG_TEXTAREA;
}

bool IsList(GumboTag tag)
{
    return tag == GUMBO_TAG_UL || tag == GUMBO_TAG_OL || tag == GUMBO_TAG_MENU || tag == GUMBO_TAG_DIR;
}

class THtmlRenderer {
public:
    explicit THtmlRenderer(int depth) : depth_(depth) {}

    void Node(const GumboNode& node);
    void Children(const GumboElement& element);
    std::vector<std::string> Finish() { return layout_.Finish(); }

private:
    struct TList {
        bool Ordered = false;
        long long Next = 1;
    };

    void Element(const GumboElement& element);
    void Contents(const GumboElement& element);
    void ListItem(const GumboElement& element);
    void Link(const GumboElement& element);
    void Table(const GumboElement& table);
    void Row(const GumboElement& row);
    void Block(TBlock kind);

    TTextLayout layout_;
    int depth_;
    int preformatted_ = 0;
    std::vector<TList> lists_;
};

void THtmlRenderer::Node(const GumboNode& node)
{
    switch (node.type) {
    case GUMBO_NODE_ELEMENT: Element(node.v.element); break;
    case GUMBO_NODE_TEXT:
    case GUMBO_NODE_CDATA:
    case GUMBO_NODE_WHITESPACE:
        if (preformatted_ > 0)
            layout_.Preformatted(node.v.text.text);
        else
            layout_.Text(node.v.text.text);
        break;
    default: break;  // comments, the document node, template contents
    }
}

void THtmlRenderer::Children(const GumboElement& element)
{
    if (depth_ >= kMaxDepth)
        return;
    ++depth_;
    for (unsigned i = 0; i < element.children.length; ++i)
        Node(*static_cast<const GumboNode*>(element.children.data[i]));
    --depth_;
}

void THtmlRenderer::Block(TBlock kind)
{
    if (kind == TBlock::Paragraph)
        layout_.EndParagraph();
    else if (kind == TBlock::Line)
        layout_.EndLine();
}

void THtmlRenderer::Element(const GumboElement& element)
{
    TBlock kind = BlockKind(element.tag);
    if (kind == TBlock::Skipped)
        return;
    // A list inside a list item is part of the item, not a paragraph.
    if (IsList(element.tag) && lists_.empty())
        kind = TBlock::Paragraph;
    Block(kind);
    Contents(element);
    Block(kind);
}

void THtmlRenderer::Contents(const GumboElement& element)
{
    switch (element.tag) {
    case GUMBO_TAG_BR: layout_.Break(); return;
    case GUMBO_TAG_IMG: layout_.Text(Attribute(element, "alt")); return;
    case GUMBO_TAG_A: Link(element); return;
    case GUMBO_TAG_TABLE: Table(element); return;
    case GUMBO_TAG_LI: ListItem(element); return;
    default: break;
    }
    if (IsList(element.tag)) {
        lists_.push_back({element.tag == GUMBO_TAG_OL, ListStart(Attribute(element, "start"))});
        Children(element);
        lists_.pop_back();
        return;
    }
    const bool pre = IsPreformatted(element.tag);
    const bool quote = element.tag == GUMBO_TAG_BLOCKQUOTE;
    const bool indent = element.tag == GUMBO_TAG_DD;
    if (quote || indent)
        layout_.PushPrefix(quote ? "> " : "  ", quote ? "> " : "  ");
    preformatted_ += pre ? 1 : 0;
    Children(element);
    preformatted_ -= pre ? 1 : 0;
    if (quote || indent) {
        layout_.EndLine();
        layout_.PopPrefix();
    }
}

void THtmlRenderer::ListItem(const GumboElement& element)
{
    std::string marker = "* ";
    if (!lists_.empty() && lists_.back().Ordered)
        marker = std::to_string(lists_.back().Next++) + ". ";
    layout_.PushPrefix(marker, std::string(marker.size(), ' '));
    Children(element);
    layout_.EndLine();
    layout_.PopPrefix();
}

void THtmlRenderer::Link(const GumboElement& element)
{
    const TTextLayout::TMark mark = layout_.Mark();
    Children(element);
    const std::string target = LinkTarget(Attribute(element, "href"));
    if (target.empty())
        return;
    const std::string text = layout_.TextSince(mark);
    if (text.empty())
        layout_.Word(target);
    else if (text != target && text != platform::Trim(Attribute(element, "href")))
        layout_.Word("<" + target + ">");
}

void THtmlRenderer::Table(const GumboElement& table)
{
    for (unsigned i = 0; i < table.children.length; ++i) {
        const auto& child = *static_cast<const GumboNode*>(table.children.data[i]);
        if (child.type != GUMBO_NODE_ELEMENT)
            continue;
        const GumboElement& e = child.v.element;
        if (e.tag == GUMBO_TAG_TR) {
            Row(e);
        } else if (e.tag == GUMBO_TAG_THEAD || e.tag == GUMBO_TAG_TBODY || e.tag == GUMBO_TAG_TFOOT) {
            Table(e);
        } else if (e.tag == GUMBO_TAG_CAPTION) {
            Element(e);
        }
    }
}

// A row whose cells each fit on one line is one line; a row of cells that
// hold paragraphs or tables of their own (a layout table) is written cell by
// cell.
void THtmlRenderer::Row(const GumboElement& row)
{
    if (depth_ >= kMaxDepth)
        return;
    std::vector<std::vector<std::string>> cells;
    bool oneLine = true;
    for (unsigned i = 0; i < row.children.length; ++i) {
        const auto& child = *static_cast<const GumboNode*>(row.children.data[i]);
        if (child.type != GUMBO_NODE_ELEMENT ||
            (child.v.element.tag != GUMBO_TAG_TD && child.v.element.tag != GUMBO_TAG_TH))
            continue;
        THtmlRenderer cell(depth_ + 1);
        cell.Children(child.v.element);
        std::vector<std::string> lines = cell.Finish();
        if (lines.empty())
            continue;
        oneLine = oneLine && lines.size() == 1;
        cells.push_back(std::move(lines));
    }
    layout_.EndLine();
    if (oneLine) {
        std::string line;
        for (const auto& cell : cells)
            line += (line.empty() ? "" : " | ") + cell[0];
        if (!line.empty())
            layout_.Line(line);
        return;
    }
    for (const auto& cell : cells) {
        for (const std::string& line : cell)
            layout_.Line(line);
        layout_.EndParagraph();
    }
}

std::vector<std::string> RenderUtf8(const std::string& html)
{
    if (!WithinParseBudget(html))
        return {};
    GumboOptions options = kGumboDefaultOptions;
    options.max_errors = 0;  // the errors are not wanted, only the tree
    const std::unique_ptr<GumboOutput, TGumboOutputDeleter> output(
        gumbo_parse_with_options(&options, html.data(), html.size()));
    if (!output || !output->root)
        return {};
    THtmlRenderer renderer(0);
    renderer.Node(*output->root);
    return renderer.Finish();
}

} // namespace

bool HtmlToPlainTextAvailable()
{
    return true;
}

std::vector<std::string> HtmlToPlainText(const std::vector<std::string>& htmlLines, std::uint32_t codePage)
{
    std::string html;
    for (const std::string& line : htmlLines)
        html.append(line).push_back('\n');
    if (codePage != kCpUtf8) {
        const std::string utf8 = ConvertCodePage(html, codePage, kCpUtf8);
        if (utf8.empty())
            return {};
        html = utf8;
    }
    std::vector<std::string> lines = RenderUtf8(html);
    if (codePage != kCpUtf8)
        for (std::string& line : lines)
            line = ConvertCodePage(line, kCpUtf8, codePage);
    return lines;
}

} // namespace mime
