#include "mime/MessageText.h"

#include "MimeChecks.h"
#include "mime/Base64.h"
#include "platform/CodePages.h"

#include <gtest/gtest.h>

#include <vector>

namespace mime {
namespace {

struct TBody {
    TSmtpDefaultEncoding Encoding;
    std::vector<std::string> Lines;
};

TBody Compose(const std::string& text, TSmtpDefaultEncoding requested, bool allow8bit = false,
              std::uint32_t cp = 28591, bool wrap = false, int maxLen = 76, bool convert = false)
{
    TSmtpMessageText cursor;
    InitMessageText(cursor, text, cp, maxLen, wrap, allow8bit, requested, convert, cp == 65001);
    TBody body{cursor.Encoding, {}};
    while (cursor.Position != 0 && body.Lines.size() < 100000)
        body.Lines.push_back(NextMessageLine(cursor));
    return body;
}

TEST(MessageText, EncodingChoice)
{
    const std::string ascii = "Hello\r\n";
    const std::string latin = "caf\xE9\r\n";
    const struct {
        std::string Text;
        TSmtpDefaultEncoding Requested;
        bool Allow8bit;
        std::uint32_t CodePage;
        TSmtpDefaultEncoding Chosen;
    } cases[] = {
        {ascii, smtpEnc8bit, true, 28591, smtpEnc7bit},
        {ascii, smtpEnc7bit, false, 28591, smtpEnc7bit},
        {ascii, smtpEncQuotedPrintable, false, 28591, smtpEncQuotedPrintable},
        {ascii, smtpEncBase64, true, 28591, smtpEncBase64},
        {latin, smtpEnc7bit, true, 28591, smtpEnc8bit},
        {latin, smtpEnc8bit, true, 28591, smtpEnc8bit},
        {latin, smtpEnc7bit, false, 28591, smtpEncQuotedPrintable},
        {latin, smtpEnc8bit, false, 28591, smtpEncQuotedPrintable},
        {latin, smtpEncBase64, false, 28591, smtpEncBase64},
        {ascii, smtpEnc7bit, false, 50220, smtpEncQuotedPrintable},  // stateful
        {ascii, smtpEnc8bit, true, 65000, smtpEncQuotedPrintable},   // UTF-7
        {ascii, smtpEncBase64, true, 50220, smtpEncBase64},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Compose(c.Text, c.Requested, c.Allow8bit, c.CodePage).Encoding, c.Chosen)
            << c.Text << " requested " << int(c.Requested) << " cp " << c.CodePage;
}

TEST(MessageText, EmptyTextHasNoLines)
{
    for (auto requested : {smtpEnc8bit, smtpEncQuotedPrintable, smtpEncBase64}) {
        const TBody body = Compose("", requested);
        EXPECT_EQ(body.Encoding, smtpEnc7bit);
        EXPECT_TRUE(body.Lines.empty());
    }
}

TEST(MessageText, QuotedPrintableIsOneLogicalLine)
{
    EXPECT_EQ(Compose("a\r\nb", smtpEncQuotedPrintable).Lines, std::vector<std::string>{"a=0D=0Ab"});
    // A last line break is left to the line end after the last line.
    EXPECT_EQ(Compose("a\r\nb\r\n", smtpEncQuotedPrintable).Lines, std::vector<std::string>{"a=0D=0Ab"});
    EXPECT_EQ(Compose("\r\n", smtpEncQuotedPrintable).Lines, std::vector<std::string>{""});
    const TBody body = Compose(std::string(200, 'x'), smtpEncQuotedPrintable);
    EXPECT_EQ(body.Lines, (std::vector<std::string>{std::string(74, 'x') + "=", std::string(74, 'x') + "=",
                                                    std::string(52, 'x')}));
}

TEST(MessageText, PlainLinesGoAsWrittenBlanksIncluded)
{
    EXPECT_EQ(Compose("  two spaces  \r\nnext\r\n-- \r\n\tTAB\r\n", smtpEnc7bit).Lines,
              (std::vector<std::string>{"  two spaces  ", "next", "-- ", "\tTAB"}));
    // Wrapping drops only the blank at the soft break.
    EXPECT_EQ(Compose("aaaa bbbb cccc", smtpEnc7bit, false, 28591, true, 10).Lines,
              (std::vector<std::string>{"aaaa bbbb", "cccc"}));
    EXPECT_EQ(Compose("  aaaa bbbb cccc \r\n  dd\r\n", smtpEnc7bit, false, 28591, true, 12).Lines,
              (std::vector<std::string>{"  aaaa bbbb", "cccc ", "  dd"}));
}

// A line SMTP cannot carry as it is, or a CR or LF that is not a line
// break, sends the text quoted-printable, which gives it back unchanged.
TEST(MessageText, LinesThatCannotGoAsWrittenGoQuotedPrintable)
{
    const std::string w998(998, 'w');
    std::string words;
    while (words.size() < 1500)
        words += "word ";
    const struct {
        const char* What;
        std::string Text;
        bool Wrap;
        TSmtpDefaultEncoding Chosen;
    } cases[] = {
        {"998 characters", w998 + "\r\nend\r\n", false, smtpEnc7bit},
        {"999 characters", w998 + "w\r\nend\r\n", false, smtpEncQuotedPrintable},
        {"998 with a leading dot, doubled on the wire", "." + w998.substr(1) + "\r\n", false, smtpEncQuotedPrintable},
        {"997 with a leading dot", "." + w998.substr(2) + "\r\n", false, smtpEnc7bit},
        {"a LF alone", "one\ntwo\r\n", false, smtpEncQuotedPrintable},
        {"a CR alone", "one\rtwo\r\n", false, smtpEncQuotedPrintable},
        {"a long line of words, wrapped", words + "\r\n", true, smtpEnc7bit},
        {"a long line of words, not wrapped", words + "\r\n", false, smtpEncQuotedPrintable},
        {"a run too long to wrap", std::string(1200, 'r') + "\r\n", true, smtpEncQuotedPrintable},
    };
    for (const auto& c : cases) {
        const TBody body = Compose(c.Text, smtpEnc8bit, false, 28591, c.Wrap);
        EXPECT_EQ(body.Encoding, c.Chosen) << c.What;
        for (const auto& line : body.Lines)
            EXPECT_LE(line.size() + (line.starts_with(".") ? 1 : 0), 998u) << c.What;
        // The line end after the last line is the text's last line break.
        if (c.Chosen == smtpEncQuotedPrintable) {
            EXPECT_EQ(mimecheck::DecodeQuotedPrintableLines(body.Lines).value_or("?") + "\r\n", c.Text) << c.What;
        }
    }
    // 8-bit text keeps 8bit when its lines fit, and goes quoted-printable too.
    EXPECT_EQ(Compose("caf\xE9\r\n", smtpEnc8bit, true).Encoding, smtpEnc8bit);
    EXPECT_EQ(Compose("caf\xE9" + w998 + "\r\n", smtpEnc8bit, true).Encoding, smtpEncQuotedPrintable);
}

TEST(MessageText, Base64BodyInLinesOf76)
{
    std::string text;
    for (int i = 0; i < 300; ++i)
        text.push_back(static_cast<char>(i));
    const TBody body = Compose(text, smtpEncBase64);
    ASSERT_EQ(body.Lines.size(), 6u);
    std::string joined;
    for (std::size_t i = 0; i < body.Lines.size(); ++i) {
        if (i + 1 < body.Lines.size()) {
            EXPECT_EQ(body.Lines[i].size(), 76u);
        }
        joined += body.Lines[i];
    }
    EXPECT_EQ(Base64Decode(joined), text);
}

TEST(MessageText, ConvertsFromTheAnsiCodePage)
{
    platform::SetAnsiCodePageOverride(65001);
    const TBody body = Compose("caf\xC3\xA9\r\n", smtpEnc8bit, true, 28591, false, 76, true);
    platform::SetAnsiCodePageOverride(0);
    EXPECT_EQ(body.Encoding, smtpEnc8bit);
    EXPECT_EQ(body.Lines, std::vector<std::string>{"caf\xE9"});
}

} // namespace
} // namespace mime
