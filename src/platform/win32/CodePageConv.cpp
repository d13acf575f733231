#include "platform/CodePageConv.h"

#include <windows.h>

namespace platform {

namespace {

bool IsHighSurrogate(char16_t c)
{
    return c >= 0xD800 && c <= 0xDBFF;
}

bool IsLowSurrogate(char16_t c)
{
    return c >= 0xDC00 && c <= 0xDFFF;
}

// Only these code pages hold characters beyond the 16-bit range.
bool HoldsSupplementaryCharacters(unsigned cp)
{
    return cp == CP_UTF7 || cp == CP_UTF8 || cp == 54936;
}

// A lone surrogate is no character: it becomes "?" like any other that the
// code page lacks; so does a pair where the code page has no such
// character (one "?", not one for each half).
std::u16string PreparedFor(std::u16string_view text, unsigned cp)
{
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            if (HoldsSupplementaryCharacters(cp))
                out.append(text.substr(i, 2));
            else
                out.push_back(u'?');
            ++i;
        } else if (IsHighSurrogate(text[i]) || IsLowSurrogate(text[i])) {
            out.push_back(u'?');
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

// Code pages whose converters take no flags.
bool TakesNoFlags(unsigned cp)
{
    return cp == CP_UTF7 || cp == CP_UTF8 || cp == 50220 || cp == 50221 || cp == 50222 || cp == 50225 ||
           cp == 50227 || cp == 50229 || cp == 52936 || cp == 54936 || (cp >= 57002 && cp <= 57011) ||
           cp == 42;
}

} // namespace

bool CodePageAvailable(unsigned codePage)
{
    return codePage != 0 && codePage <= 65535 && (codePage == 1200 || IsValidCodePage(codePage));
}

std::u16string CodePageToUtf16(std::string_view text, unsigned codePage)
{
    if (text.empty() || !CodePageAvailable(codePage))
        return {};
    if (codePage == 1200) {
        std::u16string wide(text.size() / 2, u'\0');
        for (std::size_t i = 0; i < wide.size(); ++i)
            wide[i] = static_cast<char16_t>(static_cast<unsigned char>(text[2 * i]) |
                                            static_cast<unsigned char>(text[2 * i + 1]) << 8);
        if (text.size() % 2)
            wide.push_back(u'?');
        return wide;
    }
    const int size = static_cast<int>(text.size());
    const int n = MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
    if (n <= 0)
        return {};
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), size, wide.data(), n);
    std::u16string result(wide.begin(), wide.end());
    // Invalid sequences come out as the replacement character.
    for (char16_t& c : result)
        if (c == u'\uFFFD')
            c = u'?';
    return result;
}

std::string Utf16ToCodePage(std::u16string_view text, unsigned codePage)
{
    if (text.empty() || !CodePageAvailable(codePage))
        return {};
    const std::u16string clean = PreparedFor(text, codePage);
    if (codePage == 1200) {
        std::string bytes;
        for (char16_t c : clean) {
            bytes.push_back(static_cast<char>(c & 0xFF));
            bytes.push_back(static_cast<char>(c >> 8));
        }
        return bytes;
    }
    const std::wstring wide(clean.begin(), clean.end());
    const int size = static_cast<int>(wide.size());
    // No best fit: a letter the code page lacks becomes the code page's own
    // default character ("?", in EBCDIC too), not a look-alike.
    const DWORD flags = TakesNoFlags(codePage) ? 0 : WC_NO_BEST_FIT_CHARS;
    const int n = WideCharToMultiByte(codePage, flags, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(codePage, flags, wide.data(), size, out.data(), n, nullptr, nullptr);
    return out;
}

} // namespace platform
