#include "template/TagTokenizer.h"

#include "platform/TextUtil.h"

#include <clocale>

namespace tmpl {

namespace {

const std::string kEmpty;

bool IsLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool IsIdentChar(char c)
{
    return IsLetter(c) || IsDigit(c) || c == '-' || c == '/' || c == '_';
}

} // namespace

std::string TTagTokenizer::DecimalSeparator() const
{
    if (decimalSeparator_)
        return *decimalSeparator_;
    const std::lconv* conv = std::localeconv();
    return conv && conv->decimal_point ? conv->decimal_point : ".";
}

void TTagTokenizer::ParseTag(const std::string& line)
{
    Tokens.clear();
    TokenCursor = 0;
    const auto open = line.find('<');
    const auto close = line.find('>');
    if (open == std::string::npos || close == std::string::npos || close <= open + 1)
        return;
    TokenizeTag(line.substr(open + 1, close - open - 1));
}

void TTagTokenizer::TokenizeTag(const std::string& text)
{
    Tokens.clear();
    TokenCursor = 0;
    const std::string decimal = DecimalSeparator();
    const std::size_t n = text.size();
    std::size_t i = 0;
    // Nothing after the last storable token can change the result.
    while (i < n && Tokens.size() < MaxTokens) {
        const char c = text[i];
        const std::size_t start = i;
        if (c == '"' || c == '\'') {
            const auto end = text.find(c, i + 1);
            const std::size_t stop = end == std::string::npos ? n : end;
            Tokens.push_back(text.substr(i + 1, stop - i - 1));
            i = stop == n ? n : stop + 1;
        } else if (c == '/' || IsLetter(c)) {
            while (i < n && IsIdentChar(text[i]))
                ++i;
            Tokens.push_back(platform::UpperAscii(text.substr(start, i - start)));
        } else if (IsDigit(c)) {
            for (;;) {
                if (i < n && (IsDigit(text[i]) || text[i] == '-' || text[i] == '%'))
                    ++i;
                else if (!decimal.empty() && text.compare(i, decimal.size(), decimal) == 0)
                    i += decimal.size();
                else
                    break;
            }
            Tokens.push_back(text.substr(start, i - start));
        } else if (c == '=') {
            Tokens.emplace_back("=");
            ++i;
        } else {
            ++i;
        }
    }
}

const std::string& TTagTokenizer::NextToken()
{
    if (TokenCursor <= static_cast<long>(Tokens.size()))
        ++TokenCursor;
    return CurrentToken();
}

const std::string& TTagTokenizer::Token(long i) const
{
    if (i < 1 || i > static_cast<long>(Tokens.size()))
        return kEmpty;
    return Tokens[static_cast<std::size_t>(i - 1)];
}

} // namespace tmpl
