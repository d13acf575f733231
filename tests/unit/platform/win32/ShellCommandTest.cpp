// Commands through cmd.exe: what they print and how they end, a time limit
// that stops them, and nothing of theirs left running afterwards.
#include "platform/ShellCommand.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

#include <cwchar>

using platform::RunShellCommand;

namespace {

// Runs until it is stopped.
constexpr const char* kEndless = "for /l %i in (0,0,1) do @rem";

int RunningCommandInterpreters()
{
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    int count = 0;
    PROCESSENTRY32W entry {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        count += _wcsicmp(entry.szExeFile, L"cmd.exe") == 0;
    CloseHandle(snapshot);
    return count;
}

// An ended process takes a moment to leave the list.
bool BackTo(int count)
{
    for (int tries = 0; tries < 100; ++tries) {
        if (RunningCommandInterpreters() == count)
            return true;
        Sleep(20);
    }
    return false;
}

TEST(ShellCommand, OutputErrorsAndExitCode)
{
    const auto r = RunShellCommand("echo tok& echo line 2& echo oops>&2& exit /b 3", 10000);
    EXPECT_EQ(r.Output, "tok\r\nline 2\r\n");
    EXPECT_EQ(r.Errors, "oops\r\n");
    EXPECT_EQ(r.ExitCode, 3);
    EXPECT_FALSE(r.TimedOut);
}

TEST(ShellCommand, NoInput)
{
    const auto r = RunShellCommand("set /p line=& echo done", 10000);
    EXPECT_EQ(r.Output, "done\r\n");
    EXPECT_FALSE(r.TimedOut);
}

TEST(ShellCommand, UnknownCommandIsTheShellsExitCode)
{
    const auto r = RunShellCommand("no-such-command-plonemail", 10000);
    EXPECT_NE(r.ExitCode, 0);
    EXPECT_NE(r.ExitCode, -1);
    EXPECT_FALSE(r.Errors.empty());
}

TEST(ShellCommand, OutputIsCutAtItsLimit)
{
    const auto r =
        RunShellCommand("for /l %i in (1,1,2000) do @echo 0123456789012345678901234567890123456789", 60000);
    EXPECT_EQ(r.Output.size(), platform::MaxCommandOutput);
    EXPECT_EQ(r.ExitCode, 0);
}

// Also what the command started goes with it.
TEST(ShellCommand, TimeLimitStopsTheCommandAndWhatItStarted)
{
    const int before = RunningCommandInterpreters();
    const auto r = RunShellCommand(std::string("start /b cmd /c \"") + kEndless + "\"& echo started& " + kEndless,
                                   2000);
    EXPECT_TRUE(r.TimedOut);
    EXPECT_EQ(r.ExitCode, -1);
    EXPECT_EQ(r.Output, "started\r\n");
    EXPECT_TRUE(BackTo(before));
}

// A command that has ended does not wait for what it left behind, even when
// that still holds its output open; nor does that outlive the call.
TEST(ShellCommand, LeftoversOfAFinishedCommandAreStopped)
{
    const int before = RunningCommandInterpreters();
    const auto r = RunShellCommand(std::string("start /b cmd /c \"") + kEndless + "\"& echo token", 20000);
    EXPECT_FALSE(r.TimedOut);
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_EQ(r.Output, "token\r\n");
    EXPECT_TRUE(BackTo(before));
}

} // namespace
