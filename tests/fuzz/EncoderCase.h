#pragma once
// An encoder case from fuzz input: three bytes choose the code page (a row
// of the charset table), a second code page, the column and the switches;
// the rest is the text.
#include "EncoderChecks.h"
#include "FuzzCheck.h"

namespace fuzz {

inline mimecheck::TEncoderCase EncoderCase(const std::uint8_t* data, std::size_t size)
{
    mimecheck::TEncoderCase c;
    if (size < 3)
        return c;
    const auto& rows = mime::CharsetInfos();
    const auto codePageOf = [&rows](std::uint8_t b) {
        const std::uint32_t cp = rows[b % rows.size()].CodePage;
        return cp == mime::kCpUnknown ? mime::kCpUtf8 : cp;
    };
    c.CodePage = codePageOf(data[0]);
    c.OtherCodePage = codePageOf(static_cast<std::uint8_t>(data[0] * 7 + data[2]));
    c.MaxColumn = 1 + data[1] % 100;
    const unsigned flags = data[2];
    c.Fold = flags & 1;
    c.Force = flags & 2;
    c.Wrap = flags & 4;
    c.Allow8bit = flags & 8;
    c.Convert = flags & 16;
    c.Encoding = static_cast<mime::TSmtpDefaultEncoding>((flags >> 5) & 3);
    c.Text = Bytes(data + 3, size - 3);
    return c;
}

// Stops the run with the broken rule.
inline void Require(const std::string& broken)
{
    if (!broken.empty()) {
        std::fprintf(stderr, "%s\n", broken.c_str());
        std::abort();
    }
}

} // namespace fuzz
