#include "mime/HeaderBlock.h"

#include "mime/Charsets.h"

#include "platform/Clock.h"
#include "platform/CodePages.h"
#include "platform/Environment.h"
#include "platform/HostName.h"

#include "../HostPython.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <regex>
#include <vector>

namespace mime {
namespace {

using TLines = std::vector<std::string>;

std::string NameOf(const std::string& line)
{
    return line.substr(0, line.find(':'));
}

std::vector<std::string> Names(const TSmtpHeaderLines& lines)
{
    std::vector<std::string> names;
    for (const auto& line : lines.Lines())
        names.push_back(NameOf(line));
    return names;
}

std::optional<std::string> Find(const TSmtpHeaderLines& lines, const std::string& name)
{
    for (const auto& line : lines.Lines())
        if (NameOf(line) == name)
            return line;
    return std::nullopt;
}

class HeaderBlockTest : public ::testing::Test {
protected:
    HeaderBlockTest() { fields.SetCharSet("iso-8859-1"); }

    std::string Build(const THeaderHook& hook = {}) { return BuildHeaderBlock(fields, lines, hook); }

    THeaderFields fields;
    TSmtpHeaderLines lines;
};

TEST_F(HeaderBlockTest, AllLinesInTheirFixedOrder)
{
    fields.HdrReplyTo = " reply@x.org ";
    fields.HdrReturnPath = "bounce@x.org";
    fields.HdrFrom = "  Me <me@x.org>\t";
    fields.HdrTo = "you@y.org";
    fields.HdrCc = "cc@y.org";
    fields.HdrSubject = "  Hello  ";
    fields.HdrSender = "sender@x.org";
    fields.HdrPriority = smtpPriorityHigh;
    fields.ConfirmReceipt = true;
    fields.XMailer = "Mailer V%VER%";
    int hookCalls = 0;
    const std::string id = Build([&](TSmtpHeaderLines& hdr) {
        ++hookCalls;
        EXPECT_EQ(hdr[hdr.Count() - 1], "X-Mailer: Mailer V8.55");
        hdr.Add("Bcc: hidden@z.org");
    });
    EXPECT_EQ(hookCalls, 1);
    EXPECT_EQ(Names(lines), (TLines{"Reply-To", "Return-Path", "From", "To", "Cc", "Subject", "Sender",
                                    "Mime-Version", "Content-Type", "Date", "X-Priority", "Priority",
                                    "X-MSMail-Priority", "Message-ID", "Disposition-Notification-To", "X-Mailer",
                                    "Bcc", ""}));
    EXPECT_EQ(lines[0], "Reply-To: reply@x.org");
    EXPECT_EQ(lines[2], "From: \"Me\" <me@x.org>");
    EXPECT_EQ(lines[5], "Subject: Hello");
    EXPECT_EQ(lines[6], "Sender: sender@x.org");
    EXPECT_EQ(lines[7], "Mime-Version: 1.0");
    EXPECT_EQ(lines[8], "Content-Type: text/plain; charset=\"iso-8859-1\"");
    EXPECT_EQ(lines[13], "Message-ID: <" + id + ">");
    EXPECT_EQ(lines[14], "Disposition-Notification-To: \"Me\" <me@x.org>");
    // Address fields and the subject are stored back trimmed.
    EXPECT_EQ(fields.HdrReplyTo, "reply@x.org");
    EXPECT_EQ(fields.HdrFrom, "Me <me@x.org>");
    EXPECT_EQ(fields.HdrSubject, "Hello");
}

TEST_F(HeaderBlockTest, MinimalBlockAndFallbacks)
{
    fields.XMailer.clear();
    fields.ConfirmReceipt = true;  // but no From to confirm to
    fields.ContentType = smtpHtml;
    Build();
    EXPECT_EQ(Names(lines), (TLines{"Subject", "Mime-Version", "Content-Type", "Date", "Message-ID", ""}));
    EXPECT_EQ(lines[0], "Subject: ");
    EXPECT_EQ(lines[2], "Content-Type: text/html; charset=\"iso-8859-1\"");

    fields.HdrFrom = "me@x.org";
    Build();
    EXPECT_EQ(Find(lines, "Sender"), "Sender: me@x.org");
    EXPECT_EQ(Find(lines, "Disposition-Notification-To"), "Disposition-Notification-To: me@x.org");
    EXPECT_EQ(lines.Count(), 9u);  // the previous lines are gone
}

TEST_F(HeaderBlockTest, PriorityLines)
{
    struct Case {
        TSmtpPriority Priority;
        TLines Lines;
    };
    const Case cases[] = {
        {smtpPriorityHighest, {"X-Priority: 1", "Priority: urgent", "X-MSMail-Priority: High"}},
        {smtpPriorityHigh, {"X-Priority: 2", "Priority: urgent", "X-MSMail-Priority: High"}},
        {smtpPriorityNormal, {"X-Priority: 3", "Priority: Normal", "X-MSMail-Priority: Normal"}},
        {smtpPriorityLow, {"X-Priority: 4", "Priority: non-urgent", "X-MSMail-Priority: Low"}},
        {smtpPriorityLowest, {"X-Priority: 5", "Priority: non-urgent", "X-MSMail-Priority: Low"}},
    };
    for (const Case& c : cases) {
        fields.HdrPriority = c.Priority;
        Build();
        std::size_t at = 0;
        while (at < lines.Count() && NameOf(lines[at]) != "X-Priority")
            ++at;
        ASSERT_LE(at + 3, lines.Count());
        EXPECT_EQ(TLines(lines.Lines().begin() + at, lines.Lines().begin() + at + 3), c.Lines);
        EXPECT_EQ(NameOf(lines[at - 1]), "Date");
        EXPECT_EQ(NameOf(lines[at + 3]), "Message-ID");
    }
}

TEST_F(HeaderBlockTest, OwnHeadersLeaveTheListEmpty)
{
    fields.OwnHeaders = true;
    fields.HdrTo = "you@y.org";
    fields.DefaultEncoding = smtpEncBase64;
    lines.Add("left over");
    bool hookCalled = false;
    EXPECT_EQ(Build([&](TSmtpHeaderLines&) { hookCalled = true; }), "");
    EXPECT_EQ(lines.Count(), 0u);
    EXPECT_FALSE(hookCalled);
    EXPECT_EQ(lines.EncType(), 'B');  // the settings are copied all the same
    EXPECT_EQ(lines.CharSet(), "iso-8859-1");
}

TEST_F(HeaderBlockTest, EncodedSubjectFollowsTheFieldSettings)
{
    fields.Allow8bitChars = false;
    fields.DefaultEncoding = smtpEnc8bit;
    fields.HdrSubject = "R\xE9sum\xE9";
    Build();
    EXPECT_EQ(Find(lines, "Subject"), "Subject: =?iso-8859-1?Q?R=E9sum=E9?=");
    fields.DefaultEncoding = smtpEncBase64;
    Build();
    EXPECT_EQ(Find(lines, "Subject"), "Subject: =?iso-8859-1?B?UulzdW3p?=");
}

TEST(XMailer, VersionMarkerInAnyCase)
{
    struct Case {
        const char* Text;
        const char* Expanded;
    };
    for (const Case& c : {Case{"Mailer V%VER%", "Mailer V8.55"}, Case{"mailer v%ver%", "mailer v8.55"},
                          Case{"%Ver% and %vEr%", "8.55 and 8.55"}, Case{"no marker %VE", "no marker %VE"},
                          Case{"", ""}})
        EXPECT_EQ(ExpandXMailer(c.Text), c.Expanded) << c.Text;

    THeaderFields fields;
    TSmtpHeaderLines lines;
    fields.XMailer = "Tool %ver%";
    BuildHeaderBlock(fields, lines, {});
    EXPECT_EQ(lines[lines.Count() - 2], "X-Mailer: Tool 8.55");
}

TEST(CharSetSetting, NormalisesOrFallsBackToTheSystemCharset)
{
    // An empty name is the system's charset: UTF-8 in the C locale the test
    // program runs in, windows-1252 under Wine.
    const TCharsetChoice system = ResolveCharset("");
    const bool utf8 = platform::SystemAnsiCodePage() == 65001;
    EXPECT_TRUE(system.Supported);
    EXPECT_EQ(system.Name, utf8 ? "utf-8" : "windows-1252");
    EXPECT_EQ(system.CodePage, utf8 ? 65001u : 1252u);
    EXPECT_EQ(system.MultiByte, utf8);

    THeaderFields fields;
    fields.SetCharSet("  ISO-8859-1 ");
    EXPECT_EQ(fields.CharSet(), "iso-8859-1");
    EXPECT_EQ(fields.CharSetCodePage(), 28591u);
    EXPECT_FALSE(fields.CharSetMultiByte());
    fields.SetCharSet("Shift_JIS");
    EXPECT_EQ(fields.CharSet(), "shift_jis");
    EXPECT_TRUE(fields.CharSetMultiByte());

    try {
        fields.SetCharSet(" Klingon ");
        FAIL() << "no exception";
    } catch (const ECharsetNotSupported& e) {
        EXPECT_STREQ(e.what(), "Charset \" Klingon \" is not supported");
    }
    EXPECT_EQ(fields.CharSet(), system.Name);
    EXPECT_EQ(fields.CharSetCodePage(), system.CodePage);
    EXPECT_EQ(fields.CharSetMultiByte(), system.MultiByte);
}

TEST(ContentTypeText, Names)
{
    EXPECT_EQ(ContentTypeText(smtpPlainText), "text/plain");
    EXPECT_EQ(ContentTypeText(smtpHtml), "text/html");
}

TEST(HeaderDate, FormatWithZoneOffset)
{
    platform::TSystemTime t;
    t.Year = 2026, t.Month = 12, t.Day = 6, t.DayOfWeek = 0, t.Hour = 22, t.Minute = 49, t.Second = 3;
    struct Case {
        int Bias;
        const char* Text;
    };
    for (const Case& c : {Case{-60, "Sun, 6 Dec 2026 22:49:03 +0100"}, Case{0, "Sun, 6 Dec 2026 22:49:03 +0000"},
                          Case{300, "Sun, 6 Dec 2026 22:49:03 -0500"}, Case{-345, "Sun, 6 Dec 2026 22:49:03 +0545"},
                          Case{210, "Sun, 6 Dec 2026 22:49:03 -0330"}})
        EXPECT_EQ(FormatHeaderDate(t, c.Bias), c.Text);
    t.Month = 1, t.Day = 15, t.DayOfWeek = 6, t.Hour = 7, t.Minute = 5, t.Second = 9;
    EXPECT_EQ(FormatHeaderDate(t, 0), "Sat, 15 Jan 2026 07:05:09 +0000");
}

// Parses a Date value with Python's standard mail parser: "<epoch> <offset minutes>".
std::string ParseDateWithPython(const std::string& value)
{
    platform::SetEnvironmentValue("PLONEMAIL_DATE", value);
    int exitCode = 0;
    const std::string out = RunHostPython({"-c", "import os,email.utils as u;"
                                                 "d=u.parsedate_to_datetime(os.environ['PLONEMAIL_DATE']);"
                                                 "print(int(d.timestamp()), int(d.utcoffset().total_seconds()//60))"},
                                          exitCode);
    platform::SetEnvironmentValue("PLONEMAIL_DATE", std::nullopt);
    return out;
}

TEST(HeaderDate, NowParsesWithTheLocalOffset)
{
    const std::optional<std::string> previous = platform::EnvironmentValue("TZ");
    platform::SetEnvironmentValue("TZ", "XYZ-5:30");
    const std::string date = HeaderDateNow();
    const std::time_t now = std::time(nullptr);
    platform::SetEnvironmentValue("TZ", previous);

    EXPECT_TRUE(std::regex_match(date, std::regex(R"((Sun|Mon|Tue|Wed|Thu|Fri|Sat), [1-9]\d? [A-Z][a-z]{2} \d{4} )"
                                                  R"(\d\d:\d\d:\d\d \+0530)")))
        << date;
    long long epoch = 0;
    int offset = 0;
    ASSERT_EQ(std::sscanf(ParseDateWithPython(date).c_str(), "%lld %d", &epoch, &offset), 2) << date;
    EXPECT_EQ(offset, 330);
    EXPECT_LE(std::llabs(epoch - static_cast<long long>(now)), 2);
}

TEST(MessageId, Format)
{
    platform::TSystemTime t;
    t.Year = 2026, t.Month = 12, t.Day = 6, t.Hour = 21, t.Minute = 49, t.Second = 3, t.Millisecond = 7;
    EXPECT_EQ(FormatMessageId(t, {0, 65534, 1, 0xABC}, "host.example"),
              "20261206214903007.0000FFFE00010ABC@host.example");
}

TEST(MessageId, NewIdsAreUtcRandomAndNameTheHost)
{
    const std::string host = platform::LocalHostName();
    ASSERT_FALSE(host.empty());
    const auto stampNow = [] { return FormatMessageId(platform::UtcTimeNow(), {}, "").substr(0, 17); };
    const std::string before = stampNow();
    const std::string a = NewMessageId();
    const std::string b = NewMessageId();
    const std::string after = stampNow();
    const std::regex shape(R"(\d{17}\.[0-9A-F]{16}@)" + std::regex_replace(host, std::regex(R"([.\-])"), R"(\$&)"));
    EXPECT_TRUE(std::regex_match(a, shape)) << a;
    EXPECT_TRUE(std::regex_match(b, shape)) << b;
    EXPECT_NE(a.substr(18, 16), b.substr(18, 16));
    // UTC with milliseconds: between two readings of the clock.
    EXPECT_LE(before, a.substr(0, 17));
    EXPECT_LE(a.substr(0, 17), after);
}

} // namespace
} // namespace mime
