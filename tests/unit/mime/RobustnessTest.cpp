// Arbitrary bytes through every encoder, decoder and converter: each call
// must end, make progress and stay within its input (the sanitizer build
// checks the last part).
#include "MimeChecks.h"
#include "mime/Base64.h"
#include "mime/Charsets.h"
#include "mime/HeaderEncoding.h"
#include "mime/MessageText.h"
#include "mime/TextEncoders.h"
#include "platform/CodePages.h"

#include <gtest/gtest.h>

#include <random>

namespace mime {
namespace {

constexpr std::uint32_t kCodePages[] = {65001, 932, 936, 54936, 51932, 1200, 1201, 12000, 50220, 65000, 28591, 37};

std::string Noise(std::mt19937& gen, std::size_t maxLen)
{
    std::string s(gen() % (maxLen + 1), '\0');
    const bool high = gen() % 2;
    // Either any byte, or bytes that the encoders treat specially.
    static constexpr char kSpecial[] = " \t\r\n=?_\"',;.-aZ\x1B\xC3\xE6\x81\x8F";
    for (auto& c : s) {
        const unsigned r = gen();
        c = high ? static_cast<char>(r & 0xFF) : kSpecial[r % (sizeof kSpecial - 1)];
    }
    return s;
}

// Encoded body lines are short ASCII lines that give back the part's text.
void ExpectBodyDecodes(const TSmtpMessageText& cursor, const std::vector<std::string>& body)
{
    if (cursor.Encoding != smtpEncQuotedPrintable && cursor.Encoding != smtpEncBase64)
        return;
    std::string base64;
    for (const auto& line : body) {
        EXPECT_LE(line.size(), 76u);
        EXPECT_TRUE(mimecheck::PrintableAscii(line, cursor.Encoding == smtpEncQuotedPrintable)) << line;
        base64 += line;
    }
    if (cursor.Encoding == smtpEncBase64)
        EXPECT_EQ(Base64Decode(base64), cursor.Text);
    else
        EXPECT_EQ(mimecheck::DecodeQuotedPrintableLines(body), cursor.Text);
}

TEST(Robustness, ArbitraryBytes)
{
    platform::SetAnsiCodePageOverride(65001);
    std::mt19937 gen(12345);
    for (int round = 0; round < 400; ++round) {
        const std::string text = Noise(gen, 300);
        const std::uint32_t cp = kCodePages[round % std::size(kCodePages)];
        const bool mb = IsMultiByteCodePage(cp);

        EXPECT_LE(Base64Decode(text).size(), text.size());
        EXPECT_EQ(Base64Decode(Base64Encode(text)), text);
        // Whatever the source bytes, a conversion gives well-formed UTF-8
        // (the same code page on both sides is no conversion).
        const std::uint32_t other = kCodePages[(round + 3) % std::size(kCodePages)];
        EXPECT_TRUE(cp == kCpUtf8 || mimecheck::IsUtf8(ConvertCodePage(text, cp, kCpUtf8))) << cp;
        EXPECT_TRUE(mimecheck::IsUtf8(ConvertCodePage(ConvertCodePage(text, cp, other), other, kCpUtf8)));

        int pos = 1, calls = 0;
        const int maxColumn = 1 + static_cast<int>(gen() % 40);
        const bool force = gen() % 2;
        while (pos <= static_cast<int>(text.size())) {
            const int before = pos;
            WrapText(text, "\r\n", kTextWrapPoints, maxColumn, kAddressQuoteChars, pos, force, cp, mb);
            ASSERT_GT(pos, before);
            ASSERT_LT(++calls, 1000);
        }
        pos = 1;
        std::vector<std::string> segments;
        while (pos <= static_cast<int>(text.size())) {
            const int before = pos;
            segments.push_back(
                EncodeQuotedPrintableSegment(text, maxColumn, kRfc822Specials + kQExtraChars, true, pos, true, cp, mb));
            ASSERT_GT(pos, before);
            ASSERT_LE(segments.back().size(), static_cast<std::size_t>(std::max(maxColumn, 16)));
        }
        std::string joined;
        for (const auto& seg : segments)
            joined += seg.ends_with('=') ? seg.substr(0, seg.size() - 1) : seg;
        EXPECT_EQ(mimecheck::DecodeQ(joined, true), text);
        for (char letter : {'B', 'Q'}) {
            const std::string words = HdrEncodeInLine(text, kRfc822Specials, letter, mb, cp, gen() % 2, maxColumn, "x-test");
            EXPECT_EQ(mimecheck::DecodeEncodedWords(words, "x-test", letter), text) << words;
            // Stateful words are made from converted text: only their form is checked.
            const std::string stateful = EncodeStatefulHeaderText(cp, "x-test", letter, maxColumn, gen() % 2, text);
            EXPECT_TRUE(mimecheck::DecodeEncodedWords(stateful, "x-test", letter)) << stateful;
        }
        // Folding changes only the blanks between the pieces.
        std::vector<std::string> lines;
        FoldHeaderLine(lines, text, cp, mb);
        ASSERT_FALSE(lines.empty());
        std::string folded;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            EXPECT_TRUE(i == 0 || lines[i].starts_with('\t')) << lines[i];
            folded += lines[i];
        }
        EXPECT_EQ(mimecheck::Visible(folded), mimecheck::Visible(text));
        EXPECT_EQ(mimecheck::Visible(FoldString(text, kHeaderFoldPoints, maxColumn)), mimecheck::Visible(text));

        TSmtpMessageText cursor;
        InitMessageText(cursor, text, cp, maxColumn, gen() % 2, gen() % 2,
                        static_cast<TSmtpDefaultEncoding>(gen() % 4), gen() % 2, mb);
        std::vector<std::string> body;
        while (cursor.Position != 0) {
            body.push_back(NextMessageLine(cursor));
            ASSERT_LT(body.size(), 5000u);
        }
        ExpectBodyDecodes(cursor, body);
    }
    platform::SetAnsiCodePageOverride(0);
}

} // namespace
} // namespace mime
