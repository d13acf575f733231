#pragma once
// The rules every encoder and converter keeps for any input, checked on one
// case: each call ends and makes progress, and what it writes decodes back
// to what it was given. Shared by the robustness test and the fuzz targets;
// each check returns the first rule broken, or an empty text.
#include "MimeChecks.h"
#include "mime/AddressList.h"
#include "mime/Base64.h"
#include "mime/ByteSet.h"
#include "mime/Charsets.h"
#include "mime/HeaderEncoding.h"
#include "mime/MessageText.h"
#include "mime/TextEncoders.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace mimecheck {

struct TEncoderCase {
    std::string Text;
    std::uint32_t CodePage = mime::kCpUtf8;
    std::uint32_t OtherCodePage = mime::kCpUtf8;  // a second one for conversions
    int MaxColumn = 76;
    bool Fold = false;
    bool Force = false;
    bool Wrap = false;
    bool Allow8bit = false;
    bool Convert = false;
    mime::TSmtpDefaultEncoding Encoding = mime::smtpEnc7bit;
};

// Text with the C escapes of its bytes, for the report of a broken rule.
inline std::string Shown(const std::string& text)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (char ch : text.substr(0, 400)) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 32 && c < 127 && c != '\\')
            out.push_back(ch);
        else
            out.append("\\x").append(1, hex[c >> 4]).append(1, hex[c & 15]);
    }
    return out;
}

inline std::string Broken(const std::string& rule, const std::string& text)
{
    return rule + ": " + Shown(text);
}

// Base64 and quoted-printable give back their bytes; conversions give
// well-formed UTF-8 (the same code page on both sides is no conversion).
inline std::string CheckCodings(const TEncoderCase& c)
{
    using namespace mime;
    const std::string& text = c.Text;
    if (Base64Decode(text).size() > text.size() || Base64Decode(Base64Encode(text)) != text)
        return Broken("base64", text);
    if (c.CodePage != kCpUtf8 && !IsUtf8(ConvertCodePage(text, c.CodePage, kCpUtf8)))
        return Broken("conversion to UTF-8", text);
    if (c.OtherCodePage != c.CodePage &&
        !IsUtf8(ConvertCodePage(ConvertCodePage(text, c.CodePage, c.OtherCodePage), c.OtherCodePage, kCpUtf8)))
        return Broken("conversion through another code page", text);

    const bool mb = IsMultiByteCodePage(c.CodePage);
    std::string joined;
    for (int pos = 1; pos <= static_cast<int>(text.size());) {
        const int before = pos;
        std::string seg =
            EncodeQuotedPrintableSegment(text, c.MaxColumn, kRfc822Specials + kQExtraChars, true, pos, true,
                                         c.CodePage, mb);
        if (pos <= before || seg.size() > static_cast<std::size_t>(std::max(c.MaxColumn, 16)))
            return Broken("quoted-printable segment", text);
        joined += seg.ends_with('=') ? seg.substr(0, seg.size() - 1) : seg;
    }
    if (DecodeQ(joined, true) != text)
        return Broken("quoted-printable round trip", text);
    return {};
}

// Body lines: wrapping makes progress; encoded lines are short ASCII lines
// that give back the part's text.
inline std::string CheckBody(const TEncoderCase& c)
{
    using namespace mime;
    const bool mb = IsMultiByteCodePage(c.CodePage);
    int calls = 0;
    for (int pos = 1; pos <= static_cast<int>(c.Text.size()); ++calls) {
        const int before = pos;
        WrapText(c.Text, "\r\n", kTextWrapPoints, c.MaxColumn, TByteSet{"\"'"}, pos, c.Force, c.CodePage, mb);
        if (pos <= before || calls > static_cast<int>(c.Text.size()))
            return Broken("wrapping", c.Text);
    }

    TSmtpMessageText cursor;
    InitMessageText(cursor, c.Text, c.CodePage, c.MaxColumn, c.Wrap, c.Allow8bit, c.Encoding, c.Convert, mb);
    std::vector<std::string> body;
    while (cursor.Position != 0) {
        body.push_back(NextMessageLine(cursor));
        if (body.size() > cursor.Text.size() + 1)
            return Broken("body lines never end", c.Text);
    }
    for (const std::string& line : body)
        if (line.size() > 998)
            return Broken("body line longer than mail allows", c.Text);
    if (cursor.Encoding != smtpEncQuotedPrintable && cursor.Encoding != smtpEncBase64)
        return {};
    std::string all;
    for (const std::string& line : body) {
        if (line.size() > 76 || !PrintableAscii(line, cursor.Encoding == smtpEncQuotedPrintable))
            return Broken("encoded body line", line);
        all += line;
    }
    const bool decodes = cursor.Encoding == smtpEncBase64 ? Base64Decode(all) == cursor.Text
                                                          : DecodeQuotedPrintableLines(body) == cursor.Text;
    return decodes ? std::string() : Broken("encoded body round trip", c.Text);
}

// Header words give back their bytes (stateful ones are made from converted
// text: only their form is checked); folding changes only blanks; address
// lists split into what they hold.
inline std::string CheckHeaders(const TEncoderCase& c)
{
    using namespace mime;
    const bool mb = IsMultiByteCodePage(c.CodePage);
    for (char letter : {'B', 'Q'}) {
        const std::string words = HdrEncodeInLine(c.Text, kRfc822Specials, letter, mb, c.CodePage, c.Fold,
                                                  c.MaxColumn, "x-test");
        if (DecodeEncodedWords(words, "x-test", letter) != c.Text)
            return Broken(std::string("encoded words ") + letter, c.Text);
        const std::string stateful =
            EncodeStatefulHeaderText(c.CodePage, "x-test", letter, c.MaxColumn, c.Fold, c.Text);
        if (!DecodeEncodedWords(stateful, "x-test", letter))
            return Broken(std::string("stateful encoded words ") + letter, c.Text);
    }
    for (const TFoldStyle style : {TFoldStyle::Unstructured, TFoldStyle::AddressList}) {
        std::vector<std::string> lines;
        FoldHeaderLine(lines, c.Text, c.CodePage, mb, style);
        std::string folded;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (i > 0 && (lines[i].empty() || (lines[i][0] != ' ' && lines[i][0] != '\t')))
                return Broken("folded line without its blank", c.Text);
            folded += lines[i];
        }
        if (Visible(folded) != Visible(c.Text))
            return Broken("folding", c.Text);
    }
    // Address lists: items are never empty and hold nothing that was not there.
    std::vector<std::string> items;
    SplitAddressList(c.Text, items, c.CodePage);
    std::size_t total = 0;
    for (const std::string& item : items) {
        const TMailAddress address = ParseAddress(item, c.CodePage);
        total += item.size();
        if (item.empty() || address.DisplayName.size() + address.Address.size() > item.size())
            return Broken("address list item", item);
    }
    return total <= c.Text.size() ? std::string() : Broken("address list", c.Text);
}

} // namespace mimecheck
