#include "mime/AddressList.h"

#include "mime/Charsets.h"
#include "platform/TextUtil.h"

namespace mime {

namespace {

bool IsByte(const std::string& text, std::size_t i, std::size_t n, char c)
{
    return n == 1 && text[i] == c;
}

// Reads the quoted string whose opening double quote is at open; returns
// the index after its closing quote (the end of the text when it is never
// closed) and, when asked, appends its content without the escapes. Only a
// backslash before a double quote or a backslash escapes; any other one is
// kept as written.
std::size_t ReadQuoted(const std::string& text, std::size_t open, std::uint32_t codePage, std::string* content)
{
    std::size_t i = open + 1;
    while (i < text.size()) {
        const std::size_t n = CharByteCount(text, i, codePage);
        if (IsByte(text, i, n, '"'))
            return i + 1;
        if (IsByte(text, i, n, '\\') && i + 1 < text.size() && (text[i + 1] == '"' || text[i + 1] == '\\'))
            ++i;
        if (content)
            content->append(text, i, n);
        i += n;
    }
    return text.size();
}

// The trimmed text between the "<" at lt and the next ">" (or the end).
std::string AngleContent(const std::string& text, std::size_t lt)
{
    const std::size_t gt = text.find('>', lt + 1);
    return platform::Trim(text.substr(lt + 1, gt == std::string::npos ? std::string::npos : gt - lt - 1));
}

std::string AddressAfter(const std::string& rest)
{
    const std::size_t lt = rest.find('<');
    return lt == std::string::npos ? platform::Trim(rest) : AngleContent(rest, lt);
}

} // namespace

std::string QuotedString(const std::string& text, std::uint32_t codePage)
{
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = CharByteCount(text, i, codePage);
        if (IsByte(text, i, n, '\\') || IsByte(text, i, n, '"'))
            out.push_back('\\');
        out.append(text, i, n);
        i += n;
    }
    out.push_back('"');
    return out;
}

void SplitAddressList(const std::string& text, std::vector<std::string>& items, std::uint32_t codePage)
{
    std::string item;
    auto flush = [&] {
        std::string trimmed = platform::Trim(item);
        if (!trimmed.empty())
            items.push_back(std::move(trimmed));
        item.clear();
    };
    bool afterBackslash = false;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = CharByteCount(text, i, codePage);
        if (IsByte(text, i, n, '"') && !afterBackslash) {
            const std::size_t end = ReadQuoted(text, i, codePage, nullptr);
            item.append(text, i, end - i);
            afterBackslash = false;
            i = end;
            continue;
        }
        if (n == 1 && (text[i] == ',' || text[i] == ';' || text[i] == '\r' || text[i] == '\n'))
            flush();
        else
            item.append(text, i, n);
        afterBackslash = IsByte(text, i, n, '\\');
        i += n;
    }
    flush();
}

TMailAddress ParseAddress(const std::string& text, std::uint32_t codePage)
{
    const std::size_t start = text.find_first_not_of(" \t");
    if (start == std::string::npos)
        return {};
    const std::string rest = text.substr(start);
    TMailAddress result;
    if (rest[0] == '"') {
        const std::size_t end = ReadQuoted(rest, 0, codePage, &result.DisplayName);
        result.Address = AddressAfter(rest.substr(end));
    } else if (const std::size_t lt = rest.find('<'); lt != std::string::npos) {
        result.DisplayName = platform::Trim(rest.substr(0, lt));
        result.Address = AngleContent(rest, lt);
    } else {
        const std::size_t space = rest.find(' ');
        result.DisplayName = platform::Trim(rest.substr(0, space));
        if (space != std::string::npos)
            result.Address = platform::Trim(rest.substr(space + 1));
    }
    if (result.Address.empty() && result.DisplayName.find('@') != std::string::npos)
        std::swap(result.Address, result.DisplayName);
    return result;
}

} // namespace mime
