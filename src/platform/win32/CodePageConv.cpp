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

// A lone surrogate is no character: it becomes "?" like any other that the
// code page lacks.
std::u16string WithoutLoneSurrogates(std::u16string_view text)
{
    std::u16string out(text);
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (IsHighSurrogate(out[i]) && i + 1 < out.size() && IsLowSurrogate(out[i + 1]))
            ++i;
        else if (IsHighSurrogate(out[i]) || IsLowSurrogate(out[i]))
            out[i] = u'?';
    }
    return out;
}

// Code pages whose converters take neither flags nor a default character.
bool TakesNoDefaultChar(unsigned cp)
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
    const std::u16string clean = WithoutLoneSurrogates(text);
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
    // No best fit: a letter the code page lacks becomes "?", not a look-alike.
    const bool plain = TakesNoDefaultChar(codePage);
    const char question = '?';
    const char* defaultChar = plain ? nullptr : &question;
    const DWORD flags = plain ? 0 : WC_NO_BEST_FIT_CHARS;
    const int n = WideCharToMultiByte(codePage, flags, wide.data(), size, nullptr, 0, defaultChar, nullptr);
    if (n <= 0)
        return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(codePage, flags, wide.data(), size, out.data(), n, defaultChar, nullptr);
    return out;
}

} // namespace platform
