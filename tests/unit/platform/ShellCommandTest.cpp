// Commands through the shell: what they print and how they end, a time
// limit that stops them, and nothing of theirs left running afterwards.
#include "platform/ShellCommand.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <string>
#include <unistd.h>

using platform::RunShellCommand;

namespace {

std::string TempPath(const char* name)
{
    return testing::TempDir() + name + std::to_string(::getpid());
}

// Ended: no such process, or a zombie that is no child of ours to reap. A
// killed process takes a moment to end.
bool ProcessGone(int pid)
{
    for (int tries = 0; tries < 100; ++tries) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        const std::string text((std::istreambuf_iterator<char>(stat)), {});
        if (text.empty() || text.substr(text.rfind(')') + 2, 1) == "Z")
            return true;
        ::usleep(20000);
    }
    return false;
}

int ReadPid(const std::string& path)
{
    int pid = 0;
    std::ifstream(path) >> pid;
    return pid;
}

TEST(ShellCommand, OutputErrorsAndExitCode)
{
    const auto r = RunShellCommand("printf 'tok\\nline 2\\n'; echo oops >&2; exit 3", 10000);
    EXPECT_EQ(r.Output, "tok\nline 2\n");
    EXPECT_EQ(r.Errors, "oops\n");
    EXPECT_EQ(r.ExitCode, 3);
    EXPECT_FALSE(r.TimedOut);
}

TEST(ShellCommand, NoInputAndDefaultSignals)
{
    // Standard input is empty, and SIGPIPE ends a writer to a closed pipe.
    const auto r = RunShellCommand("cat; yes | head -n 1", 10000);
    EXPECT_EQ(r.Output, "y\n");
    EXPECT_EQ(r.ExitCode, 0);
}

TEST(ShellCommand, UnknownCommandIsTheShellsExitCode)
{
    const auto r = RunShellCommand("no-such-command-plonemail", 10000);
    EXPECT_EQ(r.ExitCode, 127);
    EXPECT_NE(r.Errors.find("not found"), std::string::npos) << r.Errors;
}

TEST(ShellCommand, KilledCommandHasNoExitCode)
{
    const auto r = RunShellCommand("kill -9 $$", 10000);
    EXPECT_EQ(r.ExitCode, -1);
    EXPECT_FALSE(r.TimedOut);
}

TEST(ShellCommand, OutputIsCutAtItsLimit)
{
    const auto r = RunShellCommand("head -c 200000 /dev/zero; echo done >&2", 10000);
    EXPECT_EQ(r.Output.size(), platform::MaxCommandOutput);
    EXPECT_EQ(r.Errors, "done\n");
    EXPECT_EQ(r.ExitCode, 0);
}

// Also a command that has closed its output keeps running until the limit,
// and what it started goes with it.
TEST(ShellCommand, TimeLimitStopsTheCommandAndWhatItStarted)
{
    const std::string shellPid = TempPath("shell_pid_");
    const std::string childPid = TempPath("child_pid_");
    const auto r = RunShellCommand("echo $$ > " + shellPid + "; sleep 60 & echo $! > " + childPid +
                                       "; echo started; exec >&- 2>&-; wait",
                                   300);
    EXPECT_TRUE(r.TimedOut);
    EXPECT_EQ(r.ExitCode, -1);
    EXPECT_EQ(r.Output, "started\n");
    for (const auto& path : {shellPid, childPid}) {
        const int pid = ReadPid(path);
        ASSERT_GT(pid, 0) << path;
        EXPECT_TRUE(ProcessGone(pid)) << path;
        std::remove(path.c_str());
    }
}

// A shell that has ended does not wait for what it left behind, even when
// that still holds its output open; nor does that outlive the call.
TEST(ShellCommand, LeftoversOfAFinishedCommandAreStopped)
{
    const std::string childPid = TempPath("left_pid_");
    const auto r = RunShellCommand("sleep 60 & echo $! > " + childPid + "; echo token", 20000);
    EXPECT_FALSE(r.TimedOut);
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_EQ(r.Output, "token\n");
    const int pid = ReadPid(childPid);
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(ProcessGone(pid));
    std::remove(childPid.c_str());
}

} // namespace
