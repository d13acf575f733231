#include "mime/SmtpHeaderLines.h"

#include "mime/HeaderBlock.h"
#include "platform/CodePageConv.h"
#include "platform/CodePages.h"

#include <gtest/gtest.h>

#include <vector>

namespace mime {
namespace {

using TLines = std::vector<std::string>;

// A list in iso-8859-1 with the given 8-bit setting.
TSmtpHeaderLines Latin1Lines(bool allow8bit, TSmtpDefaultEncoding encoding = smtpEnc8bit)
{
    TSmtpHeaderLines lines;
    const TCharsetChoice latin1 = ResolveCharset("iso-8859-1");
    lines.SetCharSet(latin1.Name, latin1.CodePage, latin1.MultiByte);
    lines.SetAllow8bitChars(allow8bit);
    lines.SetDefaultEncoding(encoding);
    return lines;
}

std::string AddressLine(const std::string& value, bool allow8bit = true)
{
    TSmtpHeaderLines lines = Latin1Lines(allow8bit);
    lines.AddAddrHdr("To: ", value);
    EXPECT_EQ(lines.Count(), 1u) << value;
    return lines.Count() == 1 ? lines[0] : std::string{};
}

TEST(SmtpHeaderLines, AddressListsAreSplitAndRejoined)
{
    struct Case {
        const char* Value;
        const char* Line;
    };
    const Case cases[] = {
        {"a@x.org,b@y.org, c@z.org;", "To: a@x.org,b@y.org,c@z.org"},
        {"a@x.org, b@y.org;c@z.org", "To: a@x.org,b@y.org,c@z.org"},
        {"a@x.org\r\nb@y.org", "To: a@x.org,b@y.org"},
        {"a@x.org, Bob <bob@y.org>", "To: a@x.org,\"Bob\" <bob@y.org>"},
        {"\"Smith, John\" <js@x.org>, a@b.org", "To: \"Smith, John\" <js@x.org>,a@b.org"},
        // An apostrophe is part of an address, not a quote.
        {"o'neil@x.org, d'angelo@y.org;c@z.org", "To: o'neil@x.org,d'angelo@y.org,c@z.org"},
        {"\"O'Neil, Pat\" <p@x.org>,q@x.org", "To: \"O'Neil, Pat\" <p@x.org>,q@x.org"},
        {"\"Bob \\\"the\\\" Builder\" <bob@x.org>,c@x.org", "To: \"Bob \\\"the\\\" Builder\" <bob@x.org>,c@x.org"},
        {"\"Bob\\\\\" <bob@x.org>,c@x.org", "To: \"Bob\\\\\" <bob@x.org>,c@x.org"},
        {"Bob \"B\" <bob@x.org>", "To: \"Bob \\\"B\\\"\" <bob@x.org>"},
        {"\"back\\slash\" <b@x.org>", "To: \"back\\\\slash\" <b@x.org>"},
        {"\"Quoted\" plain@x.org", "To: \"Quoted\" <plain@x.org>"},
        {"Bob bob@x.org", "To: \"Bob\" <bob@x.org>"},
        {"<only@x.org>", "To: only@x.org"},
        {"\"who@x.org\"", "To: who@x.org"},
        {"  \tpad@x.org  ,,; ;", "To: pad@x.org"},
        {"Open <open@x.org", "To: \"Open\" <open@x.org>"},
        {",; ,", "To: "},
    };
    for (const Case& c : cases)
        EXPECT_EQ(AddressLine(c.Value), c.Line) << c.Value;
}

TEST(SmtpHeaderLines, DisplayNamesNeedingEncodingBecomeEncodedWords)
{
    EXPECT_EQ(AddressLine("Andr\xE9 <a@x.org>", false), "To: =?iso-8859-1?Q?Andr=E9?= <a@x.org>");
    EXPECT_EQ(AddressLine("Andr\xE9 <a@x.org>", true), "To: \"Andr\xE9\" <a@x.org>");
    // Specials of an encoded name are escaped, not quoted.
    EXPECT_EQ(AddressLine("\"D\xE9, J\" <j@x.org>", false), "To: =?iso-8859-1?Q?D=E9=2C_J?= <j@x.org>");
}

TEST(SmtpHeaderLines, LineBreaksInValuesNeverStartAHeaderLine)
{
    TSmtpHeaderLines lines = Latin1Lines(true);
    lines.AddHdr("Subject: ", "Hi\r\nBcc: evil@x.org");
    lines.AddHdr("Subject: ", "Folded\r\n\tgoes on");
    lines.AddHdr("Subject: ", "Bare\nLF");
    lines.AddAddrHdr("To: ", "\"a\r\nb\" <a@x.org>, c@x.org\nBcc: evil@x.org");
    EXPECT_EQ(lines.Lines(), (TLines{"Subject: Hi Bcc: evil@x.org", "Subject: Folded\tgoes on", "Subject: Bare LF",
                                     "To: \"a b\" <a@x.org>,c@x.org,\"Bcc:\" <evil@x.org>"}));

    // Text from a code page in which another byte is the line feed (EBCDIC:
    // "Hi", 0x25, "Bcc").
    TSmtpHeaderLines ebcdic = Latin1Lines(false);
    ebcdic.SetConvertToCharset(true);
    ebcdic.SetSourceCodePage(37);
    ebcdic.AddHdr("Subject: ", "\xC8\x89\x25\xC2\x83\x83");
    EXPECT_EQ(ebcdic.Lines(), (TLines{"Subject: Hi Bcc"}));
}

TEST(SmtpHeaderLines, LongSubjectIsFoldedOnlyWithFoldHeaders)
{
    std::string subject;
    while (subject.size() < 100)
        subject += "word" + std::to_string(subject.size()) + " ";
    subject.resize(100);
    for (bool fold : {true, false}) {
        TSmtpHeaderLines lines = Latin1Lines(true);
        lines.SetFoldHeaders(fold);
        lines.AddHdr("Subject: ", subject);
        if (!fold) {
            EXPECT_EQ(lines.Lines(), TLines{"Subject: " + subject});
            continue;
        }
        ASSERT_EQ(lines.Count(), 2u);
        EXPECT_LE(lines[0].size(), 76u);
        // Cut before a space, which begins the next line: unfolding gives
        // the subject back.
        ASSERT_EQ(lines[1][0], ' ');
        EXPECT_NE(lines[1][1], ' ');
        EXPECT_EQ(lines[0] + lines[1], "Subject: " + subject);
    }
}

// Whatever FoldHeaders says, no header line grows beyond the 998 characters
// SMTP carries: a long value is folded at its blanks, a run without blanks
// becomes encoded words, which can be cut anywhere.
TEST(SmtpHeaderLines, NoLineLongerThanSmtpCarries)
{
    std::string words;
    while (words.size() < 1500)
        words += "word ";
    words.pop_back();
    const std::string run(1500, 'x');
    const std::string accented = "\xE9" + run;
    for (const bool fold : {true, false}) {
        for (const std::string& subject : {words, run, accented}) {
            TSmtpHeaderLines lines = Latin1Lines(false);
            lines.SetFoldHeaders(fold);
            lines.AddHdr("Subject: ", subject);
            std::string joined;
            for (const std::string& line : lines.Lines()) {
                EXPECT_LE(line.size(), fold ? 76u : 998u) << subject.substr(0, 10) << fold;
                joined += line;
            }
            if (subject == words) {
                EXPECT_EQ(joined, "Subject: " + subject) << fold;
            } else {
                EXPECT_TRUE(joined.starts_with("Subject: =?iso-8859-1?Q?")) << subject.substr(0, 10) << fold;
            }
        }
    }
}

TEST(SmtpHeaderLines, EncodedSubjectsUseTheLetterOfTheDefaultEncoding)
{
    struct Case {
        TSmtpDefaultEncoding Encoding;
        const char* Line;
    };
    for (const Case& c : {Case{smtpEnc8bit, "Subject: =?iso-8859-1?Q?Caf=E9_cr=E8me?="},
                          Case{smtpEnc7bit, "Subject: =?iso-8859-1?Q?Caf=E9_cr=E8me?="},
                          Case{smtpEncQuotedPrintable, "Subject: =?iso-8859-1?Q?Caf=E9_cr=E8me?="},
                          Case{smtpEncBase64, "Subject: =?iso-8859-1?B?Q2Fm6SBjcuhtZQ==?="}}) {
        TSmtpHeaderLines lines = Latin1Lines(false, c.Encoding);
        lines.AddHdr("Subject: ", "Caf\xE9 cr\xE8me");
        EXPECT_EQ(lines.Lines(), TLines{c.Line}) << int(c.Encoding);
    }
    TSmtpHeaderLines raw = Latin1Lines(true, smtpEncBase64);
    raw.AddHdr("Subject: ", "Caf\xE9");
    EXPECT_EQ(raw.Lines(), TLines{"Subject: Caf\xE9"});
}

TEST(SmtpHeaderLines, LongEncodedSubjectBecomesContinuationLines)
{
    TSmtpHeaderLines lines = Latin1Lines(false);
    lines.SetFoldHeaders(true);
    lines.AddHdr("Subject: ", std::string(60, '\xE9'));
    ASSERT_GT(lines.Count(), 1u);
    EXPECT_EQ(lines[0].rfind("Subject: =?iso-8859-1?Q?", 0), 0u);
    for (std::size_t i = 0; i < lines.Count(); ++i) {
        EXPECT_LE(lines[i].size(), 76u) << i;
        EXPECT_EQ(lines[i].find('\r'), std::string::npos);
        if (i > 0) {
            EXPECT_EQ(lines[i].rfind("\t=?iso-8859-1?Q?", 0), 0u) << lines[i];
        }
    }
}

TEST(SmtpHeaderLines, ConvertsFromTheSystemCodePage)
{
    platform::SetAnsiCodePageOverride(65001);
    TSmtpHeaderLines lines = Latin1Lines(false);
    lines.SetConvertToCharset(true);
    lines.AddHdr("Subject: ", "Caf\xC3\xA9");
    lines.AddAddrHdr("From: ", "Andr\xC3\xA9 <a@x.org>");
    platform::SetAnsiCodePageOverride(0);
    EXPECT_EQ(lines.Lines(), (TLines{"Subject: =?iso-8859-1?Q?Caf=E9?=", "From: =?iso-8859-1?Q?Andr=E9?= <a@x.org>"}));
}

TEST(SmtpHeaderLines, ValuesInAnotherSourceCodePageAreNotConvertedTwice)
{
    // Header texts already in UTF-8 on a windows-1252 system.
    platform::SetAnsiCodePageOverride(1252);
    TSmtpHeaderLines lines = Latin1Lines(false);
    lines.SetConvertToCharset(true);
    lines.SetSourceCodePage(65001);
    lines.AddHdr("Subject: ", "Caf\xC3\xA9");
    TSmtpHeaderLines jis;
    const TCharsetChoice iso2022 = ResolveCharset("iso-2022-jp");
    jis.SetCharSet(iso2022.Name, iso2022.CodePage, iso2022.MultiByte);
    jis.SetAllow8bitChars(false);
    jis.SetConvertToCharset(true);
    jis.SetSourceCodePage(65001);
    jis.AddHdr("Subject: ", "\xE6\x97\xA5\xE6\x9C\xAC");  // two kanji in UTF-8
    platform::SetAnsiCodePageOverride(0);
    EXPECT_EQ(lines.Lines(), (TLines{"Subject: =?iso-8859-1?Q?Caf=E9?="}));
    if (!platform::CodePageAvailable(50220))
        GTEST_SKIP() << "no ISO-2022-JP converter on this system";
    ASSERT_EQ(jis.Count(), 1u);
    EXPECT_EQ(jis[0], "Subject: =?iso-2022-jp?Q?=1B$BF|K=5C=1B=28B?=");
}

TEST(SmtpHeaderLines, AddMultiLineCutsAtLineEnds)
{
    struct Case {
        const char* Text;
        TLines Lines;
    };
    const Case cases[] = {
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\r\n\r\nb", {"a", "", "b"}},
        {"x\ry", {"x", "y"}},
        {"", {}},
        {"one", {"one"}},
    };
    for (const Case& c : cases) {
        TSmtpHeaderLines lines;
        lines.AddMultiLine(c.Text);
        EXPECT_EQ(lines.Lines(), c.Lines) << c.Text;
    }
}

TEST(SmtpHeaderLines, ListOperationsCheckTheirIndex)
{
    TSmtpHeaderLines lines;
    lines.Add("b");
    lines.Insert(0, "a");
    lines.Insert(2, "c");
    lines.Replace(1, "B");
    lines[2] += "!";
    EXPECT_EQ(lines.Lines(), (TLines{"a", "B", "c!"}));
    lines.Delete(0);
    EXPECT_EQ(lines.Lines(), (TLines{"B", "c!"}));
    EXPECT_THROW(lines.Insert(3, "x"), std::out_of_range);
    EXPECT_THROW(lines.Replace(2, "x"), std::out_of_range);
    EXPECT_THROW(lines.Delete(2), std::out_of_range);
    EXPECT_THROW(static_cast<void>(lines[2]), std::out_of_range);
    lines.Clear();
    EXPECT_EQ(lines.Count(), 0u);
}

TEST(SmtpHeaderLines, NewListStartsWithQAndTracksTheEncodingLetter)
{
    TSmtpHeaderLines lines;
    EXPECT_EQ(lines.EncType(), 'Q');
    EXPECT_FALSE(lines.ConvertToCharset());
    lines.SetDefaultEncoding(smtpEncBase64);
    EXPECT_EQ(lines.EncType(), 'B');
    lines.SetDefaultEncoding(smtpEnc7bit);
    EXPECT_EQ(lines.EncType(), 'Q');
}

} // namespace
} // namespace mime
