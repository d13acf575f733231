#pragma once
// Independent decoders for what the encoders write, so that tests and fuzz
// targets can check that encoded text gives back exactly the bytes it was
// made from.
#include "mime/Base64.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mimecheck {

inline int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;  // encoders write upper-case digits only
}

// Quoted-printable payload: "=XY" is a byte, with underscores a "_" is a
// space. nullopt for a "=" not followed by two hex digits.
inline std::optional<std::string> DecodeQ(std::string_view text, bool underscores)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '=') {
            if (i + 2 >= text.size())
                return std::nullopt;
            const int hi = HexValue(text[i + 1]), lo = HexValue(text[i + 2]);
            if (hi < 0 || lo < 0)
                return std::nullopt;
            out.push_back(static_cast<char>(hi * 16 + lo));
            i += 2;
        } else {
            out.push_back(underscores && c == '_' ? ' ' : c);
        }
    }
    return out;
}

// True when every byte is printable ASCII (33 to 126), or a space or tab
// where allowed.
inline bool PrintableAscii(std::string_view text, bool blanks)
{
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (!(c > 32 && c < 127) && !(blanks && (c == ' ' || c == '\t')))
            return false;
    }
    return true;
}

inline std::vector<std::string> Split(std::string_view text, std::string_view sep)
{
    std::vector<std::string> parts;
    for (;;) {
        const auto at = text.find(sep);
        parts.emplace_back(text.substr(0, at));
        if (at == std::string_view::npos)
            return parts;
        text.remove_prefix(at + sep.size());
    }
}

// The bytes of encoded words "=?charset?L?...?=" joined by CR LF TAB, each
// word decoded on its own and the results put together; nullopt when a word
// is malformed.
inline std::optional<std::string> DecodeEncodedWords(const std::string& encoded, const std::string& charset,
                                                     char letter)
{
    if (encoded.empty())
        return std::string();
    const std::string prefix = "=?" + charset + "?" + letter + "?";
    std::string out;
    for (const std::string& word : Split(encoded, "\r\n\t")) {
        if (word.size() < prefix.size() + 2 || word.compare(0, prefix.size(), prefix) != 0 ||
            word.compare(word.size() - 2, 2, "?=") != 0)
            return std::nullopt;
        const std::string_view payload = std::string_view(word).substr(prefix.size(), word.size() - prefix.size() - 2);
        if (!PrintableAscii(payload, false) || payload.find('?') != std::string_view::npos)
            return std::nullopt;
        if (letter == 'B') {
            out += mime::Base64Decode(payload);
        } else {
            auto bytes = DecodeQ(payload, true);
            if (!bytes)
                return std::nullopt;
            out += *bytes;
        }
    }
    return out;
}

// Quoted-printable body lines: a line ending in "=" goes on in the next one,
// any other ends with a line break.
inline std::optional<std::string> DecodeQuotedPrintableLines(const std::vector<std::string>& lines)
{
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string_view line = lines[i];
        const bool soft = !line.empty() && line.back() == '=';
        if (soft)
            line.remove_suffix(1);
        auto bytes = DecodeQ(line, false);
        if (!bytes)
            return std::nullopt;
        out += *bytes;
        if (!soft && i + 1 < lines.size())
            out += "\r\n";
    }
    return out;
}

// The bytes above the blank, in order: what folding must keep.
inline std::string Visible(std::string_view text)
{
    std::string out;
    for (char c : text)
        if (static_cast<unsigned char>(c) > ' ')
            out.push_back(c);
    return out;
}

// Well-formed UTF-8: no stray continuation bytes, overlong forms,
// surrogates or values beyond U+10FFFF.
inline bool IsUtf8(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t n = 0;
        unsigned long cp = 0, min = 0;
        if (c < 0x80) {
            ++i;
            continue;
        }
        if (c >= 0xC2 && c <= 0xDF)
            n = 1, cp = c & 0x1F, min = 0x80;
        else if (c >= 0xE0 && c <= 0xEF)
            n = 2, cp = c & 0x0F, min = 0x800;
        else if (c >= 0xF0 && c <= 0xF4)
            n = 3, cp = c & 0x07, min = 0x10000;
        else
            return false;
        if (i + n >= text.size())
            return false;
        for (std::size_t k = 1; k <= n; ++k) {
            const auto d = static_cast<unsigned char>(text[i + k]);
            if ((d & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += n + 1;
    }
    return true;
}

} // namespace mimecheck
