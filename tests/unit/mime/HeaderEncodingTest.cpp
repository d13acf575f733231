#include "mime/HeaderEncoding.h"

#include "mime/Base64.h"
#include "mime/MimeException.h"
#include "platform/CodePageConv.h"
#include "platform/CodePages.h"
#include "platform/Environment.h"

#include "../HostPython.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace mime {
namespace {

std::vector<std::string> SplitWords(const std::string& encoded)
{
    std::vector<std::string> words;
    std::size_t start = 0;
    for (std::size_t at; (at = encoded.find("\r\n\t", start)) != std::string::npos; start = at + 3)
        words.push_back(encoded.substr(start, at - start));
    words.push_back(encoded.substr(start));
    return words;
}

// The value of a Subject header as Python's standard e-mail parser reads it,
// as UTF-8.
std::string DecodeWithPython(const std::string& value)
{
    std::string hex;
    for (unsigned char c : value) {
        static constexpr char kHex[] = "0123456789abcdef";
        hex += kHex[c >> 4];
        hex += kHex[c & 15];
    }
    platform::SetEnvironmentValue("PLONEMAIL_HDR_HEX", hex);
    int exitCode = 0;
    const std::string outHex = RunHostPython(
        {"-c", "import os,sys,email,email.policy;"
               "raw=bytes.fromhex(os.environ['PLONEMAIL_HDR_HEX']);"
               "m=email.message_from_bytes(b'Subject: '+raw+b'\\r\\n\\r\\n',policy=email.policy.default);"
               "sys.stdout.write(str(m['Subject']).encode('utf-8').hex())"},
        exitCode);
    if (exitCode != 0)
        return "<python failed>";
    std::string out;
    for (std::size_t i = 0; i + 1 < outHex.size(); i += 2)
        out.push_back(static_cast<char>(std::stoi(outHex.substr(i, 2), nullptr, 16)));
    return out;
}

const std::string kGruesseLatin1 = "Gr\xFC\xDF" "e";

TEST(HdrEncodeInLine, GruesseInIso88591)
{
    EXPECT_EQ(HdrEncodeInLine(kGruesseLatin1, kRfc822Specials, 'Q', false, 28591, true, 76, "iso-8859-1"),
              "=?iso-8859-1?Q?Gr=FC=DFe?=");
    EXPECT_EQ(HdrEncodeInLine(kGruesseLatin1, kRfc822Specials, 'B', false, 28591, true, 76, "ISO-8859-1"),
              "=?iso-8859-1?B?R3L832U=?=");
    EXPECT_EQ(HdrEncodeInLine("a b_c?=(x)", kRfc822Specials, 'Q', false, 28591, false, 76, "iso-8859-1"),
              "=?iso-8859-1?Q?a_b=5Fc=3F=3D=28x=29?=");
    EXPECT_EQ(HdrEncodeInLine("", kRfc822Specials, 'Q', false, 28591, true, 76, "iso-8859-1"), "");
}

TEST(HdrEncodeInLine, InvalidArguments)
{
    const struct {
        char Letter;
        const char* Charset;
        const char* Message;
    } cases[] = {
        {'Q', "x", "Function 'HdrEncodeInLine', invalid CharSet: x"},
        {'B', "", "Function 'HdrEncodeInLine', invalid CharSet: "},
        {'X', "utf-8", "Function 'HdrEncodeInLine', invalid EncType: X"},
    };
    for (const auto& c : cases) {
        try {
            HdrEncodeInLine("text", kRfc822Specials, c.Letter, false, 28591, true, 76, c.Charset);
            ADD_FAILURE() << "no exception for " << c.Message;
        } catch (const EMimeException& e) {
            EXPECT_STREQ(e.what(), c.Message);
        }
    }
}

TEST(HdrEncodeInLine, FoldedWordsFitTheColumn)
{
    std::string text;
    for (int i = 0; i < 60; ++i)
        text += "S\xFC\xDF ";
    for (char letter : {'Q', 'B'}) {
        for (int maxColumn : {10, 40, 76}) {
            const std::string enc =
                HdrEncodeInLine(text, kRfc822Specials, letter, false, 28591, true, maxColumn, "iso-8859-1");
            // A "Q" payload may always take 15 characters, however narrow the column.
            const std::size_t limit = letter == 'B' ? std::max(maxColumn, 25) - 2
                                                    : std::max(maxColumn, 15 + 15 + 2);
            const auto words = SplitWords(enc);
            EXPECT_GT(words.size(), 1u);
            for (const auto& w : words)
                EXPECT_LE(w.size(), limit) << letter << " " << w;
            EXPECT_EQ(DecodeWithPython(enc), platform::Utf16ToCodePage(platform::CodePageToUtf16(text, 28591), 65001))
                << letter << maxColumn;
        }
    }
    // Unfolded "Q" is one word, however long; unfolded "B" words stay within 1020.
    EXPECT_EQ(SplitWords(HdrEncodeInLine(text, kRfc822Specials, 'Q', false, 28591, false, 30, "iso-8859-1")).size(), 1u);
    const std::string big(3000, '\xE9');
    for (const auto& w : SplitWords(HdrEncodeInLine(big, kRfc822Specials, 'B', false, 28591, false, 30, "iso-8859-1")))
        EXPECT_LE(w.size(), 1020u);
}

TEST(HdrEncodeInLine, MultiByteWordsNeverSplitACharacter)
{
    std::string text;
    for (int i = 0; i < 30; ++i)
        text += "\xE6\x97\xA5\xE6\x9C\xAC \xC3\xA9\xF0\x9F\x98\x80";  // 日本 é 😀
    for (char letter : {'B', 'Q'}) {
        const std::string enc = HdrEncodeInLine(text, kRfc822Specials, letter, true, 65001, true, 40, "utf-8");
        for (const auto& w : SplitWords(enc)) {
            EXPECT_LE(w.size(), 40u);
            // Every word on its own is valid UTF-8.
            const std::string payload = w.substr(10, w.size() - 12);
            std::string bytes;
            if (letter == 'B') {
                bytes = Base64Decode(payload);
            } else {
                for (std::size_t i = 0; i < payload.size(); ++i) {
                    if (payload[i] == '=' && i + 2 < payload.size()) {
                        bytes.push_back(static_cast<char>(std::stoi(payload.substr(i + 1, 2), nullptr, 16)));
                        i += 2;
                    } else {
                        bytes.push_back(payload[i] == '_' ? ' ' : payload[i]);
                    }
                }
            }
            EXPECT_EQ(platform::CodePageToUtf16(bytes, 65001).find(u'?'), std::u16string::npos) << w;
        }
        EXPECT_EQ(DecodeWithPython(enc), text) << letter;
    }
}

TEST(EncodeStatefulHeaderText, Iso2022JpRoundTripsThroughAStandardDecoder)
{
    platform::SetAnsiCodePageOverride(65001);
    std::string text;
    for (int i = 0; i < 12; ++i)
        text += "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E text ";  // 日本語
    for (char letter : {'B', 'Q'}) {
        if (!platform::CodePageAvailable(50220))
            break;
        const std::string enc = EncodeStatefulHeaderText(50220, "iso-2022-jp", letter, 60, true, text);
        const auto words = SplitWords(enc);
        EXPECT_GT(words.size(), 2u);
        for (const auto& w : words) {
            EXPECT_TRUE(w.starts_with(std::string("=?iso-2022-jp?") + letter + "?")) << w;
            EXPECT_LE(w.size(), 60u) << w;
        }
        EXPECT_EQ(DecodeWithPython(enc), text) << letter;
    }
    const std::string utf7 = EncodeStatefulHeaderText(65000, "utf-7", 'Q', 76, false, "caf\xC3\xA9");
    EXPECT_EQ(utf7, "=?utf-7?Q?caf+AOk-?=");
    EXPECT_EQ(DecodeWithPython(utf7), "caf\xC3\xA9");
    EXPECT_EQ(EncodeStatefulHeaderText(50220, "iso-2022-jp", 'B', 76, true, ""), "");
    platform::SetAnsiCodePageOverride(0);
}

std::string Joined(const std::vector<std::string>& lines)
{
    std::string out;
    for (const auto& l : lines)
        out += l;
    return out;
}

TEST(Folding, HeaderLinesUnfoldToTheSameText)
{
    std::string line = "Subject:";
    for (int i = 0; i < 30; ++i)
        line += " word" + std::to_string(i);
    std::vector<std::string> list{"Earlier: x"};
    FoldHeaderLine(list, line, 28591, false);
    ASSERT_GT(list.size(), 2u);
    EXPECT_EQ(list[0], "Earlier: x");
    EXPECT_TRUE(list[1].starts_with("Subject: word0"));
    for (std::size_t i = 1; i < list.size(); ++i) {
        EXPECT_LE(list[i].size(), 76u);
        EXPECT_NE(list[i].back(), ' ');
        if (i > 1) {
            EXPECT_EQ(list[i][0], ' ');  // the blank that was there begins the line
            EXPECT_NE(list[i][1], ' ');
        }
    }
    // Unfolding only removes the line breaks.
    EXPECT_EQ(Joined({list.begin() + 1, list.end()}), line);

    std::vector<std::string> kept;
    FoldHeaderLine(kept, "To: a@b,\r\n\tc@d", 28591, false);
    EXPECT_EQ(kept, (std::vector<std::string>{"To: a@b,", "\tc@d"}));
}

TEST(Folding, OnlyWhereTheValueReadBackStaysTheSame)
{
    const std::string x60(60, 'x');
    const std::string x70(70, 'x');
    const struct {
        const char* What;
        TFoldStyle Style;
        std::string Line;
        std::vector<std::string> Lines;
    } cases[] = {
        {"short line", TFoldStyle::Unstructured, "Subject: a b", {"Subject: a b"}},
        {"before the first blank of a run", TFoldStyle::Unstructured, "Subject: " + x60 + "  tail" + x60,
         {"Subject: " + x60, "  tail" + x60}},
        {"a word longer than the line stays whole", TFoldStyle::Unstructured,
         "Subject: " + x70 + x70 + " end", {"Subject: " + x70 + x70, " end"}},
        {"never between the name and the value", TFoldStyle::Unstructured, "Subject: " + x70 + x70,
         {"Subject: " + x70 + x70}},
        {"trailing blanks stay on their line", TFoldStyle::Unstructured, "Subject: " + x70 + "   ",
         {"Subject: " + x70 + "   "}},
        {"commas of a subject are text", TFoldStyle::Unstructured, "Subject: " + x60 + ",a,b,c,d,e,f,g,h",
         {"Subject: " + x60 + ",a,b,c,d,e,f,g,h"}},
        {"after a comma between addresses", TFoldStyle::AddressList, "To: " + x60 + "@a.org,b@c.org,d@e.org",
         {"To: " + x60 + "@a.org,", "\tb@c.org,d@e.org"}},
        {"not inside a quoted name", TFoldStyle::AddressList,
         "To: \"" + x60 + " Lee, \\\" Ann\" <a@b.org>,c@d.org",
         {"To: \"" + x60 + " Lee, \\\" Ann\"", " <a@b.org>,c@d.org"}},
        {"before the blank ahead of an address", TFoldStyle::AddressList, "To: \"" + x70 + "\" <a@b.org>",
         {"To: \"" + x70 + "\"", " <a@b.org>"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> lines;
        FoldHeaderLine(lines, c.Line, 28591, false, c.Style);
        EXPECT_EQ(lines, c.Lines) << c.What;
    }
}

} // namespace
} // namespace mime
