#pragma once
#include <string>
#include <vector>

namespace platform {

// ASCII-only case mapping: bytes above 127 are left as they are, whatever
// code page the text is in.
std::string UpperAscii(std::string s);
std::string LowerAscii(std::string s);
bool SameTextAscii(const std::string& a, const std::string& b);

// Removes blanks and control characters (bytes up to 32) at both ends.
std::string Trim(const std::string& s);

// A text of several lines on one line: each run of line ends becomes one
// blank; the ends are trimmed.
std::string SingleLine(const std::string& s);

} // namespace platform

namespace platform {

// Replaces every occurrence of `from` (not empty), left to right.
std::string ReplaceAll(const std::string& text, const std::string& from, const std::string& to);

// The lines of a text list as one text, each line followed by CR LF.
std::string JoinTextLines(const std::vector<std::string>& lines);

// True when the text has no byte above 32.
bool IsBlank(const std::string& s);

} // namespace platform
