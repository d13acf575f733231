#include "TempDir.h"
#include "TestConsole.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "runner/ProcessLog.h"
#include "runner/fSendEMail.h"

#include <gtest/gtest.h>

#include <regex>

using runner::TfrmSendEMail;
using runner::TProcessLog;

namespace {

std::vector<std::string> FileLines(const std::string& path)
{
    std::vector<std::string> lines;
    EXPECT_FALSE(platform::ReadTextLines(path, lines));
    return lines;
}

} // namespace

TEST(ProcessLog, LinePrefix)
{
    std::string line = TProcessLog::FormatLine("hello");
    EXPECT_TRUE(std::regex_match(line, std::regex(R"(\[\d\d/[A-Za-z]{3}/\d\d \d\d:\d\d:\d\d\] hello)"))) << line;
}

TEST(ProcessLog, DisplayKeeps201LinesFileKeepsAll)
{
    TTempDir dir;
    dir.Write("run.log", "earlier line\r\n");
    TProcessLog log;
    log.OpenLogFile("run.log", dir.Path());
    ASSERT_TRUE(log.LogOpen());
    for (int i = 1; i <= 250; ++i)
        log.AddLogLine("line " + std::to_string(i));
    log.CloseLogFile();

    ASSERT_EQ(log.DisplayMemo().size(), 201u);
    EXPECT_TRUE(log.DisplayMemo().front().ends_with("] line 50"));
    EXPECT_TRUE(log.DisplayMemo().back().ends_with("] line 250"));

    auto lines = FileLines(dir.File("run.log"));
    ASSERT_EQ(lines.size(), 251u);
    EXPECT_EQ(lines[0], "earlier line");  // appended, never truncated
    EXPECT_TRUE(lines[250].ends_with("] line 250"));
    EXPECT_NE(dir.Read("run.log").find("] line 1\r\n"), std::string::npos);  // CR LF line ends
}

TEST(ProcessLog, LogPathRules)
{
    const std::string prog = std::string("/prog") + platform::PathDelim;
    EXPECT_EQ(TProcessLog::ComputeLogPath("", "/prog"), prog + "plonemail.log");
    EXPECT_EQ(TProcessLog::ComputeLogPath("mylog.txt", "/prog"), prog + "mylog.txt");
    EXPECT_EQ(TProcessLog::ComputeLogPath("logs/x.log", "/prog"), "logs/x.log");
    EXPECT_EQ(TProcessLog::ComputeLogPath("/var/log/p.log", "/prog"), "/var/log/p.log");
    // A backslash divides a Windows path; elsewhere it is part of the name.
    EXPECT_EQ(TProcessLog::ComputeLogPath("back\\slash.log", "/prog"),
              platform::PathDelim == '\\' ? "back\\slash.log" : "/prog/back\\slash.log");
}

TEST(ProcessLog, UnopenableFileIsReportedAndRunGoesOn)
{
    TProcessLog log;
    log.OpenLogFile("/nonexistent-dir/x.log", "/prog");
    EXPECT_FALSE(log.LogOpen());
    ASSERT_EQ(log.DisplayMemo().size(), 1u);
    EXPECT_TRUE(log.DisplayMemo()[0].ends_with("] *** Unable to open log file ***"));
    log.AddLogLine("still logging");
    EXPECT_EQ(log.DisplayMemo().size(), 2u);
}

TEST(ProcessLog, WriteFailureLineAndRetry)
{
    TProcessLog log;
    log.OpenLogFile("/dev/full", "/prog");
    ASSERT_TRUE(log.LogOpen());
    log.AddLogLine("one");
    log.AddLogLine("two");
    ASSERT_EQ(log.DisplayMemo().size(), 4u);
    EXPECT_EQ(log.DisplayMemo()[1], "*** ExceptionENOSPC: No space left on device writing to log file ***");
    EXPECT_EQ(log.DisplayMemo()[3], log.DisplayMemo()[1]);  // every failed line tries again
    EXPECT_TRUE(log.LogOpen());
}

class RunJobTest : public ::testing::Test {
protected:
    TTempDir dir;
    TTestConsole console;
    TfrmSendEMail form {console, dir.Path()};
};

TEST_F(RunJobTest, NoArgumentCreatesSettingsAndShowsNothing)
{
    EXPECT_EQ(form.Execute({}), runner::exitSent);
    EXPECT_TRUE(platform::FileExists(dir.File("plonEmail.dat")));
    EXPECT_TRUE(console.Shown.empty());
    EXPECT_TRUE(console.Errors.empty());
}

TEST_F(RunJobTest, SaveLogOffWritesNoFileEvenWithLogSwitch)
{
    dir.Write("plonEmail.dat", "[SendMail]\nSaveLog=0\n");
    form.Execute({"job.txt", "/LOG", "x.log"});
    EXPECT_FALSE(platform::FileExists(dir.File("x.log")));
}

TEST_F(RunJobTest, SettingsThatCannotBeCreatedEndTheRun)
{
    int code = form.Execute({"job.txt", "/CFG", dir.File("missing/dir/s.dat")});
    EXPECT_EQ(code, runner::exitUnusable);
    ASSERT_EQ(console.Errors.size(), 1u);
    EXPECT_EQ(console.Errors[0], "Cannot create settings file " + dir.File("missing/dir/s.dat") +
                                     ": No such file or directory");
    EXPECT_TRUE(form.Log().DisplayMemo().back().ends_with(console.Errors[0]));
}

TEST_F(RunJobTest, OutOfRangeAuthIsRefusedBeforeConnecting)
{
    dir.Write("plonEmail.dat", "[SendMail]\nAuth=9\nSaveLog=1\n");
    EXPECT_EQ(form.Execute({"job.txt", "/NOERROR"}), runner::exitUnusable);
    EXPECT_NE(dir.Read("plonemail.log").find("Invalid setting Auth=9"), std::string::npos);
}

TEST_F(RunJobTest, StatShowsTitleThenLines)
{
    dir.Write("plonEmail.dat", "[SendMail]\nSaveLog=1\n");
    form.Execute({"job.txt", "/STAT", "/LOG", "/nonexistent-dir/a.log"});
    ASSERT_GE(console.Shown.size(), 2u);
    EXPECT_EQ(console.Shown[0], "Send Email|Process log");
    EXPECT_TRUE(console.Shown[1].ends_with("*** Unable to open log file ***"));
}

TEST_F(RunJobTest, ShowOrLogFollowsShowErrors)
{
    form.ReadCommandLine({"job.txt"});
    form.ShowOrLog("boxed");
    form.ReadCommandLine({"job.txt", "/NOERROR"});
    form.ShowOrLog("logged");
    EXPECT_EQ(console.Boxes, std::vector<std::string>{"Send Email|boxed"});
    EXPECT_TRUE(form.Log().DisplayMemo().back().ends_with("] logged"));
}

TEST_F(RunJobTest, JobEchoUsesOverridesAndSenderRules)
{
    dir.Write("plonEmail.dat", "[SendMail]\nHost=settings.example\nFrom=me@example.com\n");
    const std::string job = dir.Write("job.txt",
        "<FROM NAME=\"Jane Roe\">\n<TO EMAIL=\"a@example.com\">\n<SUBJECT CONTENT=\"Hi there\">\n"
        "<CFGEMAIL HOST=\"127.0.0.1\" PORT=\"1\">\n");  // refused at once, no name lookup
    form.Execute({job, "/NOERROR"});
    std::vector<std::string> messages;
    for (auto& line : form.Log().DisplayMemo())
        messages.push_back(line.substr(line.find("] ") + 2));
    ASSERT_GE(messages.size(), 5u);
    EXPECT_EQ(std::vector<std::string>(messages.begin(), messages.begin() + 5),
              (std::vector<std::string>{"PLONEMAIL: Ver. 3.36b", "Host: 127.0.0.1",
                                        "From: \"Jane Roe\" <me@example.com>", "TO:  <a@example.com>",
                                        "SUBJECT:Hi there"}));
    EXPECT_FALSE(platform::FileExists(job));  // deleted before sending
}

TEST_F(RunJobTest, NoDelKeepsJobAndOverriddenAuthIsChecked)
{
    const std::string job = dir.Write("job.txt", "<CFGEMAIL AUTHTYPE=LOGIN>\n");
    dir.Write("plonEmail.dat", "[SendMail]\nAuth=99\n");
    // The job's value wins: the run is tried (and fails for want of a host).
    EXPECT_EQ(form.Execute({job, "/NOERROR", "/NODEL"}), runner::exitNotSent);
    EXPECT_TRUE(platform::FileExists(job));
}

TEST(ProcessLog, DisplayMemoSetKeepsTheNewestLines)
{
    TProcessLog log;
    std::vector<std::string> lines;
    for (int i = 1; i <= 250; ++i)
        lines.push_back("l" + std::to_string(i));
    log.SetDisplayMemo(lines);
    ASSERT_EQ(log.DisplayMemo().size(), 201u);
    EXPECT_EQ(log.DisplayMemo().front(), "l50");
    log.SetDisplayMemo({"a", "b"});
    EXPECT_EQ(std::vector<std::string>(log.DisplayMemo().begin(), log.DisplayMemo().end()),
              (std::vector<std::string> {"a", "b"}));
}
