#include "smtp/SmtpAddress.h"

#include "platform/HostName.h"
#include "platform/TextUtil.h"

#include <algorithm>

namespace smtp {

namespace {

// The text between the first "<" at or after `from` and the next ">" (or
// the end of the text); empty when there is no "<" there.
std::string BracketedAddress(const std::string& text, std::size_t from)
{
    const std::size_t open = text.find('<', from);
    if (open == std::string::npos)
        return {};
    const std::size_t close = text.find('>', open + 1);
    const std::size_t end = close == std::string::npos ? text.size() : close;
    return platform::Trim(text.substr(open + 1, end - open - 1));
}

TMailAddress SplitQuoted(const std::string& text, bool hasBracket)
{
    const char quote = text[0];
    std::size_t close = text.find(quote, 1);
    if (close == std::string::npos)
        close = text.size();
    TMailAddress result;
    result.DisplayName = text.substr(1, close - 1);
    const std::size_t rest = std::min(close + 1, text.size());
    result.Address = hasBracket ? BracketedAddress(text, rest) : platform::Trim(text.substr(rest));
    return result;
}

TMailAddress SplitUnquoted(const std::string& text, bool hasBracket)
{
    TMailAddress result;
    if (hasBracket) {
        result.DisplayName = platform::Trim(text.substr(0, text.find('<')));
        result.Address = BracketedAddress(text, 0);
        return result;
    }
    const std::size_t space = text.find(' ');
    result.DisplayName = platform::Trim(text.substr(0, space));
    if (space != std::string::npos)
        result.Address = platform::Trim(text.substr(space + 1));
    return result;
}

} // namespace

TMailAddress ParseAddress(const std::string& text)
{
    const std::size_t start = text.find_first_not_of(' ');
    if (start == std::string::npos)
        return {};
    const std::string rest = text.substr(start);
    const bool hasBracket = rest.find('<') != std::string::npos;
    TMailAddress result = (rest[0] == '"' || rest[0] == '\'') ? SplitQuoted(rest, hasBracket)
                                                               : SplitUnquoted(rest, hasBracket);
    if (result.Address.empty() && result.DisplayName.find('@') != std::string::npos)
        std::swap(result.Address, result.DisplayName);
    return result;
}

void SplitAddressList(const std::string& text, std::vector<std::string>& items)
{
    std::string item;
    bool quoted = false;
    char previous = '\0';
    auto flush = [&] {
        std::string trimmed = platform::Trim(item);
        if (!trimmed.empty())
            items.push_back(std::move(trimmed));
        item.clear();
    };
    for (char c : text) {
        if (c == '"' && previous != '\\')
            quoted = !quoted;
        if (!quoted && (c == ',' || c == ';'))
            flush();
        else
            item += c;
        previous = c;
    }
    flush();
}

std::string HeloName(const std::string& signOn)
{
    std::string name = signOn.empty() ? platform::LocalHostName() : signOn;
    if (name.empty())
        name = "localhost";
    std::replace(name.begin(), name.end(), ' ', '_');
    return name;
}

} // namespace smtp
