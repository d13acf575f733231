#include "TempDir.h"
#include "TestConsole.h"
#include "runner/Usage.h"
#include "platform/Paths.h"
#include "runner/fSendEMail.h"

#include <gtest/gtest.h>

// The case table names only the fields that differ from the defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

using runner::TfrmSendEMail;

namespace {

struct Expect {
    std::vector<std::string> args;
    bool deleteJob = true, showErrors = true, showStatus = false, sendErrorMail = false;
    std::string logArg, errorMailTo, settingsPath = "/prog/plonEmail.dat";
};

} // namespace

TEST(CommandLine, SwitchTable)
{
    const Expect cases[] = {
        {.args = {"job.txt"}},
        {.args = {"job.txt", "/nodel"}, .deleteJob = false},
        {.args = {"job.txt", "-NODEL", "/NODEL=1"}},
        {.args = {"job.txt", "/NoErrorEs"}, .showErrors = false},
        {.args = {"job.txt", "/NOERRORS", "/STAT"}, .showErrors = false, .showStatus = true},
        {.args = {"/STAT"}, .showStatus = true},  // the first argument is a switch too
        {.args = {"job.txt", "/LOG", "my.log", "/LOG", "b.log"}, .logArg = "b.log"},
        {.args = {"job.txt", "/LOG", "x.log", "/LOG"}, .logArg = ""},
        {.args = {"job.txt", "/LOG", "/STAT"}, .showStatus = true, .logArg = "/STAT"},
        {.args = {"job.txt", "/LOGEMAIL", "ops@example.com"}, .sendErrorMail = true, .errorMailTo = "ops@example.com"},
        {.args = {"job.txt", "/LOGEMAIL"}, .sendErrorMail = true},
        {.args = {"job.txt", "/CFG", "settings"}, .settingsPath = "/prog/settings.dat"},
        {.args = {"job.txt", "/CFG", "office"}, .settingsPath = "/prog/office.dat"},
        {.args = {"job.txt", "/CFG", "a.ini"}, .settingsPath = "/prog/a.ini.dat"},
        {.args = {"job.txt", "/CFG", "X.DAT"}, .settingsPath = "/prog/X.DAT"},
        {.args = {"job.txt", "/CFG", "/etc/conf/x.dat"}, .settingsPath = "/etc/conf/x.dat"},
        {.args = {"job.txt", "/CFG", "no/such/rel.dat"}, .settingsPath = "/prog/no/such/rel.dat"},
        {.args = {"job.txt", "/CFG"}, .settingsPath = "/prog/.dat"},
    };
    for (auto& c : cases) {
        TTestConsole console;
        TfrmSendEMail form(console, "/prog");
        form.ReadCommandLine(c.args);
        std::string what = ::testing::PrintToString(c.args);
        EXPECT_EQ(form.DeleteJob, c.deleteJob) << what;
        EXPECT_EQ(form.ShowErrors, c.showErrors) << what;
        EXPECT_EQ(form.ShowStatus, c.showStatus) << what;
        EXPECT_EQ(form.SendErrorMail, c.sendErrorMail) << what;
        EXPECT_EQ(form.LogArg, c.logArg) << what;
        EXPECT_EQ(form.ErrorMailTo, c.errorMailTo) << what;
        // The program's folder and the file name meet at the system's separator.
        std::string settingsPath = c.settingsPath;
        if (settingsPath.starts_with("/prog/"))
            settingsPath[5] = platform::PathDelim;
        EXPECT_EQ(form.SettingsPath, settingsPath) << what;
    }
}

TEST(CommandLine, RelativeSettingsPathThatExistsIsKept)
{
    TTempDir dir;
    dir.Write("here.dat", "");
    auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    TTestConsole console;
    TfrmSendEMail form(console, "/prog");
    form.ReadCommandLine({"job.txt", "/CFG", "./here.dat"});
    std::filesystem::current_path(cwd);
    EXPECT_EQ(form.SettingsPath, "./here.dat");
}

TEST(CommandLine, InfoRequestsOnlyAlone)
{
    EXPECT_TRUE(runner::InfoRequest({"--help"}).has_value());
    EXPECT_NE(runner::InfoRequest({"--version"})->find("3.36b"), std::string::npos);
    EXPECT_FALSE(runner::InfoRequest({"--help", "/STAT"}).has_value());
    EXPECT_FALSE(runner::InfoRequest({"job.txt"}).has_value());
    EXPECT_FALSE(runner::InfoRequest({}).has_value());
}
