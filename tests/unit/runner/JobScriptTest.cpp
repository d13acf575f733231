#include "platform/CodePages.h"
#include "runner/JobScript.h"
#include "runner/OemChars.h"
#include "template/Images.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;
using runner::TJobModel;

const std::string kDataDir = PLONEMAIL_TEST_DATA;

struct TReadResult {
    TJobModel Job;
    Lines Reports;
};

std::unique_ptr<TReadResult> Read(Lines jobLines, bool oemChars = false)
{
    auto r = std::make_unique<TReadResult>();
    r->Job.JobLines = std::move(jobLines);
    runner::TJobScriptReader reader(r->Job, oemChars, [p = r.get()](const std::string& m) { p->Reports.push_back(m); });
    reader.ReadJobScript();
    return r;
}

struct FieldCase {
    const char* Name;
    Lines Job;
    std::function<std::string(const TJobModel&)> Field;
    std::string Expected;
};

void PrintTo(const FieldCase& c, std::ostream* os)
{
    *os << c.Name;
}

class JobFieldTest : public testing::TestWithParam<FieldCase> {};

TEST_P(JobFieldTest, ReadsTheField)
{
    auto r = Read(GetParam().Job);
    EXPECT_EQ(GetParam().Field(r->Job), GetParam().Expected);
}

std::string FromHeader(const TJobModel& j) { return j.FromHeader; }
std::string FromAddress(const TJobModel& j) { return j.FromAddress; }
std::string ToList(const TJobModel& j) { return j.ToList; }
std::string CcBcc(const TJobModel& j) { return j.CcList + "|" + j.BccList; }
std::string Subject(const TJobModel& j) { return j.Subject; }
std::string Flags(const TJobModel& j) { return std::string(j.IsHtml ? "html" : "text") + (j.WantReceipt ? "+receipt" : ""); }
std::string Messages(const TJobModel& j)
{
    std::string all;
    for (auto& m : j.MessageLines)
        all += "[" + m + "]";
    return all;
}
std::string Vars(const TJobModel& j)
{
    std::string all;
    for (auto& v : j.Variables.Entries())
        all += "[" + v + "]";
    return all;
}
std::string CfgOAuth(const TJobModel& j)
{
    const runner::TOAuthSettings& o = j.CfgOAuth;
    return std::to_string(j.CfgAuth) + "|" + o.TokenCommand + "|" + o.TokenUrl + "|" + o.ClientId + "|" +
           o.ClientSecret + "|" + o.Scope + "|" + o.RefreshToken;
}
std::string Cfg(const TJobModel& j)
{
    return j.CfgHost + "|" + j.CfgPort + "|" + std::to_string(j.CfgAuth) + "|" + j.CfgUser + "|" + j.CfgPass + "|" +
           (j.CfgUseSsl ? "ssl" : "nossl") + "|" + std::to_string(j.CfgSslType);
}

INSTANTIATE_TEST_SUITE_P(
    Tags, JobFieldTest,
    testing::Values(
        FieldCase {"FromNameThenEmail", {R"(<FROM NAME=" Ann " EMAIL=" a@x.org ">)"}, FromHeader, R"("Ann" <a@x.org>)"},
        FieldCase {"FromAddressUntrimmed", {R"(<FROM NAME=" Ann " EMAIL=" a@x.org ">)"}, FromAddress, " a@x.org "},
        FieldCase {"FromEmailThenName", {R"(<FROM EMAIL="a@x.org" NAME="Ann">)"}, FromHeader, R"("Ann")"},
        FieldCase {"ToTwoAddresses", {R"(<TO EMAIL="a@x.org; b@y.org">)"}, ToList, " <a@x.org>;<b@y.org>"},
        FieldCase {"ToEmptyNameEndsTheScan", {R"(<TO NAME="" EMAIL="a@x.org">)"}, ToList, R"("")"},
        FieldCase {"ToAccumulates", {R"(<TO NAME=Ann EMAIL="a@x">)", R"(<to email='b@y'>)"}, ToList, R"("ANN" <a@x>; <b@y>)"},
        FieldCase {"ToLaterNameReplaces", {R"(<TO NAME="A" EMAIL="a@x" NAME="B">)"}, ToList, R"("B")"},
        FieldCase {"CcAndBcc", {R"(<CC EMAIL="c@x">)", R"(<BCC NAME="B" EMAIL="b@x">)"}, CcBcc, R"( <c@x>|"B" <b@x>)"},
        // Names are quoted strings: their quotes and backslashes escaped.
        FieldCase {"NamesEscaped", {R"(<FROM NAME='Ann "the boss" Lee' EMAIL="a@x">)"}, FromHeader,
                   R"("Ann \"the boss\" Lee" <a@x>)"},
        FieldCase {"NameEndingInBackslash", {R"(<TO NAME="Bob\" EMAIL="b@x">)", R"(<TO EMAIL="c@x">)"}, ToList,
                   R"("Bob\\" <b@x>; <c@x>)"},
        FieldCase {"SubjectUnquotedUpperCased", {"<SUBJECT CONTENT=Hello>"}, Subject, "HELLO"},
        FieldCase {"SubjectLastWins", {R"(<SUBJECT CONTENT="a" BODY=" Hello there ">)"}, Subject, "Hello there"},
        FieldCase {"AttributeNamesAnyCase", {R"(<subject Content = "x">)"}, Subject, "x"},
        FieldCase {"UnknownAttributesPassedOver", {R"(<SUBJECT LANG=EN CONTENT="x">)"}, Subject, "x"},
        FieldCase {"NameWithoutValueTakesEmpty", {R"(<FROM NAME>)"}, FromHeader, R"("")"},
        FieldCase {"MessageLinesTrimmed", {R"(<MESSAGE CONTENT=" one " BODY="two">)", "<MESSAGE BODY=''>"}, Messages, "[one][two][]"},
        FieldCase {"TypeHtmlQuotedLowerCase", {R"(<EMAIL TYPE="html">)"}, Flags, "html"},
        FieldCase {"TypeTextAfterHtml", {"<EMAIL TYPE=html>", "<EMAIL TYPE=text CONFIRM=S>"}, Flags, "text+receipt"},
        FieldCase {"ConfirmQuotedLowerYNoReceipt", {R"(<EMAIL CONFIRM="y">)"}, Flags, "text"},
        FieldCase {"ConfirmUnquotedYReceipt", {"<EMAIL CONFIRM=y>"}, Flags, "text+receipt"},
        FieldCase {"ConfirmOne", {"<EMAIL CONFIRM=1>"}, Flags, "text+receipt"},
        FieldCase {"Memo",
                   {"<MEMO>", "  first line", "", "   ", "# not memo", "<b>", "a > b <c", "second", "<ENDMEMO>"},
                   Messages, "[  first line\r\na > b <c\r\nsecond\r\n]"},
        FieldCase {"NamedMemo", {"<MEMO intro>", "one", "two", "<ENDMEMO>"}, Vars, "[INTRO=one<BR>two<BR>]"},
        FieldCase {"MemoMarkerInText", {"<MEMO>", R"(a\r\nb)", "<ENDMEMO>"}, Messages, "[a\r\nb\r\n]"},
        FieldCase {"SecondMemoDiscardsFirst", {"<MEMO>", "lost", "<MEMO>", "kept", "<ENDMEMO>"}, Messages, "[kept\r\n]"},
        FieldCase {"OpenMemoDiscarded", {"<MEMO>", "lost"}, Messages, ""},
        FieldCase {"EmptyMemoAddsNothing", {"<MEMO>", "<ENDMEMO>", "<ENDMEMO>"}, Messages, ""},
        FieldCase {"VarPositional", {R"(<VAR total = " 12 ">)", R"(<VAR "Name" = 'Ann'>)"}, Vars, "[TOTAL=12][NAME=Ann]"},
        FieldCase {"CfgEmail",
                   {R"(<CFGEMAIL HOST=" smtp.x.org " PORT=587 AUTHTYPE=cramsha1 AUTHUSER="Me" AUTHPASS="Pw" USESSL=Y TYPESSL=explicit>)"},
                   Cfg, "smtp.x.org|587|4|Me|Pw|ssl|2"},
        FieldCase {"CfgEmailUnknownWordsAndQuotedY",
                   {R"(<CFGEMAIL AUTHTYPE=kerberos TYPESSL=maybe USESSL="y">)"}, Cfg, "||-1|||nossl|-1"},
        FieldCase {"CfgEmailAutoSelectNone", {"<CFGEMAIL AUTHTYPE=AutoSelect TYPESSL=none>"}, Cfg, "||6|||nossl|0"},
        // The OAuth values in plain text, like AUTHPASS.
        FieldCase {"CfgEmailOAuthEndpoint",
                   {R"(<CFGEMAIL AUTHTYPE=xoauth2 OAUTHTOKENURL=" https://login.example/token " OAUTHCLIENTID="app")"
                    R"( OAUTHCLIENTSECRET="s e c" OAUTHSCOPE="https://outlook.office365.com/.default")"
                    R"( OAUTHREFRESHTOKEN="1//rt">)"},
                   CfgOAuth, "7||https://login.example/token|app|s e c|https://outlook.office365.com/.default|1//rt"},
        FieldCase {"CfgEmailOAuthCommand", {R"(<CFGEMAIL AUTHTYPE=OAuthBearer OAUTHTOKENCOMMAND="helper --user 'me'">)"},
                   CfgOAuth, "8|helper --user 'me'|||||"},
        FieldCase {"GreaterFirstIgnored", {R"(x > <SUBJECT CONTENT="no">)"}, Subject, ""},
        FieldCase {"CommentAndUnknownTagIgnored", {R"(# <SUBJECT CONTENT="no">)", R"(<NOTE CONTENT="no">)"}, Subject, ""},
        FieldCase {"OnlyFirstTagOfALine", {R"(<SUBJECT CONTENT="a"> <SUBJECT CONTENT="b">)"}, Subject, "a"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(JobScript, TokensPast150AreDropped)
{
    std::string filler;
    for (int i = 0; i < 148; ++i)
        filler += " x";
    auto r = Read({"<TO" + filler + R"( EMAIL="late@x">)", "<CC" + filler.substr(4) + R"( EMAIL="in@x">)"});
    EXPECT_EQ(r->Job.ToList, "");
    EXPECT_EQ(r->Job.CcList, " <in@x>");
}

TEST(JobScript, MissingAttachmentIsReportedAndLeftOut)
{
    const std::string present = kDataDir + "/attach.txt";
    auto r = Read({R"(<ATTACHMENT FILE=" )" + present + R"( " FILE="no/such.txt">)"});
    EXPECT_EQ(r->Job.Attachments, (Lines {present}));
    EXPECT_EQ(r->Reports, (Lines {"File: no/such.txt Does not exist"}));
}

TEST(JobScript, HtmlJobExpandsTheTemplateInScriptOrder)
{
    const std::string tpl = kDataDir + "/job-template.html";
    auto r = Read({
        "<EMAIL TYPE=HTML>",
        R"(<BLOCK ROW ROWS>)",  // before the template: nothing to paste into
        R"(<TEMPLATE FILE="missing.html" FILE=")" + tpl + R"(">)",
        R"(<VAR ITEM = "Tea">)",
        "<BLOCK row rows>",
        R"(<VAR ITEM = "Cake">)",
        R"(<VAR PRICE = "3">)",
        "<BLOCK ROW ROWS>",
        "<BLOCK ROW NOWHERE>",
        "<BLOCK COL ROWS>",
        "<MEMO intro>",
        "Welcome",
        "<ENDMEMO>",
        R"(<VAR NAME = "Ann">)",
    });
    EXPECT_TRUE(r->Job.IsHtml);
    EXPECT_EQ(r->Job.TemplatePath, tpl);
    const Lines expected {
        "<html><body>",
        "<p>Dear Ann,</p>",
        "<p>Welcome<BR></p>",
        "<table>",
        "<tr><td>Tea</td><td></td></tr>",
        "<tr><td>Cake</td><td>3</td></tr>",
        "</table>",
        R"(<img src="logo.png">)",
    };
    EXPECT_EQ(r->Job.TemplateLines.Lines(), expected);
    EXPECT_TRUE(r->Reports.empty());
}

TEST(JobScript, ImagesGoToTheClientList)
{
    TJobModel job;
    job.JobLines = {R"(<TEMPLATE FILE=")" + kDataDir + R"(/job-template.html">)"};
    runner::TJobScriptReader reader(job, false, nullptr);
    reader.ReadJobScript();
    std::vector<std::string> emailImages;
    Lines reports;
    tmpl::CollectImages(job.TemplateLines.Lines(), job.TemplatePath, emailImages,
                        [&](const std::string& m) { reports.push_back(m); });
    EXPECT_TRUE(emailImages.empty());
    EXPECT_EQ(job.TemplateLines.Lines().back(), R"(<img src="logo.png">)");
    EXPECT_EQ(reports, (Lines {"File: logo.png Does not exist"}));
}

TEST(JobScript, AnyBytesAreReadWithoutHarm)
{
    Lines job {
        std::string("<FROM NAME=\"a\0b\" EMAIL=x>", 25),
        "<TO NAME=\"unbalanced EMAIL=a@x>",
        std::string(1 << 20, '<'),
        "<" + std::string(1 << 20, 'x') + ">",
        "<MEMO>",
        std::string(1 << 20, '\xff'),
    };
    for (int i = 0; i < 100000; ++i)
        job.push_back("<VAR V" + std::to_string(i % 1000) + " = \"<?V" + std::to_string(i % 1000) + "?>\">");
    for (int i = 0; i < 256; ++i)
        job.push_back(std::string(1, static_cast<char>(i)) + "<" + std::string(1, static_cast<char>(i)) + ">");
    auto r = Read(job, true);
    EXPECT_EQ(r->Job.FromHeader, std::string("\"a\0b\" <X>", 9));
    EXPECT_EQ(r->Job.ToList, "\"unbalanced EMAIL=a@x\"");
    EXPECT_EQ(r->Job.Variables.Entries().size(), 1000u);
    EXPECT_TRUE(r->Job.InMemo);
    EXPECT_GT(r->Job.MemoText.size(), std::size_t {1} << 20);
}

struct OemCase {
    const char* Name;
    std::string In;
    unsigned CodePage;
    std::string Expected;
};

void PrintTo(const OemCase& c, std::ostream* os)
{
    *os << c.Name;
}

class OemTest : public testing::TestWithParam<OemCase> {};

TEST_P(OemTest, Converts)
{
    EXPECT_EQ(runner::OemToAnsi(GetParam().In, GetParam().CodePage), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Letters, OemTest,
    testing::Values(
        OemCase {"AllSeventeenTo1252",
                 "\xA4\xA5\xA0\x82\xA1\xA2\xA3\x84\x89\x8B\x94\x81\x85\x8A\x8D\x95\x97", 1252,
                 "\xF1\xD1\xE1\xE9\xED\xF3\xFA\xE4\xEB\xEF\xF6\xFC\xE0\xE8\xEC\xF2\xF9"},
        OemCase {"OthersUntouched", "a\x80\x83\xA6\xFF", 1252, "a\x80\x83\xA6\xFF"},
        OemCase {"ToUtf8", "Espa\xA4" "a \x82t\x82", platform::CP_UTF8, "Espa\xC3\xB1" "a \xC3\xA9t\xC3\xA9"},
        OemCase {"Utf8LettersKept", "\xC3\xA1\xC3\xB1 \xE2\x82\xAC", platform::CP_UTF8, "\xC3\xA1\xC3\xB1 \xE2\x82\xAC"},
        OemCase {"MixedAndTruncated", "\xC3\xA1\xA4\xC3", platform::CP_UTF8, "\xC3\xA1\xC3\xB1\xC3"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(JobScript, OemCharsSettingConvertsNamesSubjectsMemosAndVars)
{
    platform::SetAnsiCodePageOverride(1252);
    auto on = Read({"<FROM NAME=\"Pe\xA4" "a\" EMAIL=\"p\xA4@x\">", "<SUBJECT CONTENT=\"\x82\">",
                    "<VAR V = \"\xA1\">", "<MEMO>", "\xA2", "<ENDMEMO>"},
                   true);
    auto off = Read({"<SUBJECT CONTENT=\"\x82\">"}, false);
    platform::SetAnsiCodePageOverride(0);
    EXPECT_EQ(on->Job.FromHeader, "\"Pe\xF1" "a\" <p\xA4@x>");
    EXPECT_EQ(on->Job.Subject, "\xE9");
    EXPECT_EQ(on->Job.Variables.GetVariable("V"), "\xED");
    EXPECT_EQ(on->Job.MessageLines, (Lines {"\xF3\r\n"}));
    EXPECT_EQ(off->Job.Subject, "\x82");
}

} // namespace
