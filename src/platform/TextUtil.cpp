#include "platform/TextUtil.h"

namespace platform {

std::string UpperAscii(std::string s)
{
    for (auto& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

std::string LowerAscii(std::string s)
{
    for (auto& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool SameTextAscii(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && UpperAscii(a) == UpperAscii(b);
}

std::string Trim(const std::string& s)
{
    auto isBlank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    std::size_t b = 0, e = s.size();
    while (b < e && isBlank(s[b]))
        ++b;
    while (e > b && isBlank(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

std::string SingleLine(const std::string& s)
{
    std::string line;
    bool lineEnd = false;
    for (char c : s) {
        if (c == '\r' || c == '\n') {
            lineEnd = true;
            continue;
        }
        if (lineEnd && !line.empty())
            line += ' ';
        lineEnd = false;
        line += c;
    }
    return Trim(line);
}

} // namespace platform

namespace platform {

std::string ReplaceAll(const std::string& text, const std::string& from, const std::string& to)
{
    if (from.empty())
        return text;
    std::string out;
    std::size_t start = 0;
    for (auto pos = text.find(from); pos != std::string::npos; pos = text.find(from, start)) {
        out.append(text, start, pos - start);
        out += to;
        start = pos + from.size();
    }
    out.append(text, start);
    return out;
}

std::string JoinTextLines(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text.append(line).append("\r\n");
    return text;
}

bool IsBlank(const std::string& s)
{
    for (char c : s)
        if (static_cast<unsigned char>(c) > ' ')
            return false;
    return true;
}

} // namespace platform
