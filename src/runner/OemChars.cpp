#include "runner/OemChars.h"

#include "platform/CodePages.h"

#include <array>

namespace runner {

namespace {

// OEM byte -> Windows-1252 byte of the same letter; 0 where none.
constexpr std::array<unsigned char, 256> MakeOemTable()
{
    std::array<unsigned char, 256> t {};
    constexpr unsigned char pairs[][2] = {
        {0xA4, 0xF1}, {0xA5, 0xD1}, {0xA0, 0xE1}, {0x82, 0xE9}, {0xA1, 0xED}, {0xA2, 0xF3},
        {0xA3, 0xFA}, {0x84, 0xE4}, {0x89, 0xEB}, {0x8B, 0xEF}, {0x94, 0xF6}, {0x81, 0xFC},
        {0x85, 0xE0}, {0x8A, 0xE8}, {0x8D, 0xEC}, {0x95, 0xF2}, {0x97, 0xF9},
    };
    for (auto& p : pairs)
        t[p[0]] = p[1];
    return t;
}

constexpr auto kOemToAnsi = MakeOemTable();

unsigned char ByteAt(const std::string& s, std::size_t i)
{
    return static_cast<unsigned char>(s[i]);
}

// Length of the well-formed UTF-8 character at i (no overlong forms, no
// surrogates, nothing above U+10FFFF), or 0.
std::size_t Utf8Length(const std::string& s, std::size_t i)
{
    const unsigned char b = ByteAt(s, i);
    std::size_t len;
    unsigned char lo = 0x80, hi = 0xBF;  // range of the second byte
    if (b < 0x80)
        return 1;
    if (b >= 0xC2 && b <= 0xDF)
        len = 2;
    else if (b >= 0xE0 && b <= 0xEF) {
        len = 3;
        lo = b == 0xE0 ? 0xA0 : 0x80;
        hi = b == 0xED ? 0x9F : 0xBF;
    } else if (b >= 0xF0 && b <= 0xF4) {
        len = 4;
        lo = b == 0xF0 ? 0x90 : 0x80;
        hi = b == 0xF4 ? 0x8F : 0xBF;
    } else
        return 0;
    if (i + len > s.size())
        return 0;
    if (ByteAt(s, i + 1) < lo || ByteAt(s, i + 1) > hi)
        return 0;
    for (std::size_t k = 2; k < len; ++k)
        if (ByteAt(s, i + k) < 0x80 || ByteAt(s, i + k) > 0xBF)
            return 0;
    return len;
}

std::string OemToUtf8(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        if (const std::size_t len = Utf8Length(text, i)) {
            out.append(text, i, len);
            i += len;
            continue;
        }
        const unsigned char letter = kOemToAnsi[ByteAt(text, i)];
        if (letter != 0) {
            // Latin-1 letters are the code points of the same number.
            out.push_back(static_cast<char>(0xC0 | (letter >> 6)));
            out.push_back(static_cast<char>(0x80 | (letter & 0x3F)));
        } else
            out.push_back(text[i]);
        ++i;
    }
    return out;
}

} // namespace

std::string OemToAnsi(const std::string& text, unsigned ansiCodePage)
{
    if (ansiCodePage == platform::CP_UTF8)
        return OemToUtf8(text);
    std::string out = text;
    for (auto& c : out)
        if (const unsigned char letter = kOemToAnsi[static_cast<unsigned char>(c)])
            c = static_cast<char>(letter);
    return out;
}

} // namespace runner
