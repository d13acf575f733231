#include "platform/ShellCommand.h"

#include "platform/System.h"
#include "platform/SystemError.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace platform {

namespace {

[[noreturn]] void Fail(const std::string& what, int err)
{
    throw ECommandError(what + ": " + SystemErrorFromErrno(err).Message);
}

class TFd {
public:
    TFd() = default;
    explicit TFd(int fd) : fd_(fd) {}
    TFd(TFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    TFd& operator=(TFd&& other) noexcept
    {
        std::swap(fd_, other.fd_);
        return *this;
    }
    ~TFd() { Close(); }
    int Get() const { return fd_; }
    bool Open() const { return fd_ >= 0; }
    void Close()
    {
        if (fd_ >= 0)
            ::close(std::exchange(fd_, -1));
    }

private:
    int fd_ = -1;
};

struct TPipe {
    TFd Read, Write;
};

TPipe MakePipe()
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        Fail("Cannot create a pipe for the command", errno);
    return {TFd(fds[0]), TFd(fds[1])};
}

// The spawn description: input from /dev/null, output and errors into the
// pipes, nothing else of ours inherited; a process group of its own, so that
// whatever the shell starts can be found again; default signal handling.
class TSpawnSetup {
public:
    TSpawnSetup(int outFd, int errFd)
    {
        posix_spawn_file_actions_init(&actions_);
        posix_spawnattr_init(&attr_);
        posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions_, outFd, 1);
        posix_spawn_file_actions_adddup2(&actions_, errFd, 2);
        posix_spawn_file_actions_addclosefrom_np(&actions_, 3);
        posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        posix_spawnattr_setpgroup(&attr_, 0);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&attr_, &none);
        sigset_t defaults;
        sigemptyset(&defaults);
        for (int sig : {SIGPIPE, SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGCHLD})
            sigaddset(&defaults, sig);
        posix_spawnattr_setsigdefault(&attr_, &defaults);
    }
    ~TSpawnSetup()
    {
        posix_spawnattr_destroy(&attr_);
        posix_spawn_file_actions_destroy(&actions_);
    }
    TSpawnSetup(const TSpawnSetup&) = delete;
    TSpawnSetup& operator=(const TSpawnSetup&) = delete;

    pid_t Spawn(const std::string& command)
    {
        char sh[] = "/bin/sh";
        char dashC[] = "-c";
        std::string text = command;
        char* argv[] = {sh, dashC, text.data(), nullptr};
        pid_t pid = 0;
        if (int err = posix_spawn(&pid, sh, &actions_, &attr_, argv, environ))
            Fail("Cannot start /bin/sh", err);
        return pid;
    }

private:
    posix_spawn_file_actions_t actions_;
    posix_spawnattr_t attr_;
};

// True once the process has ended; it is not reaped, so that its process
// group cannot be taken over by another process meanwhile.
bool ShellHasEnded(pid_t pid)
{
    siginfo_t info {};
    return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
}

// Reads what the pipe holds now; closes it at its end.
void ReadSome(TFd& fd, std::string& into)
{
    char buf[4096];
    const ssize_t n = ::read(fd.Get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR)
        return;
    if (n <= 0) {
        fd.Close();
        return;
    }
    const std::size_t room = MaxCommandOutput - std::min(into.size(), MaxCommandOutput);
    into.append(buf, std::min(room, static_cast<std::size_t>(n)));
}

class TCommandRun : public TRunningCommand {
public:
    TCommandRun(pid_t pid, TFd out, TFd err) : pid_(pid), out_(std::move(out)), err_(std::move(err)) {}
    ~TCommandRun() override
    {
        if (!finished_)
            Finish();
    }
    TCommandRun(const TCommandRun&) = delete;
    TCommandRun& operator=(const TCommandRun&) = delete;

    // Kills whatever of the command still runs and reaps the shell.
    int Finish()
    {
        finished_ = true;
        ::kill(-pid_, SIGKILL);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    bool HasEnded() override { return ShellHasEnded(pid_); }
    bool OutputOpen() const override { return out_.Open() || err_.Open(); }

    void Take(int waitMs, TCommandResult& result) override
    {
        pollfd fds[2];
        nfds_t count = 0;
        for (const TFd* fd : {&out_, &err_})
            if (fd->Open())
                fds[count++] = pollfd {fd->Get(), POLLIN, 0};
        if (::poll(fds, count, waitMs) <= 0)
            return;
        for (nfds_t i = 0; i < count; ++i) {
            if (fds[i].revents == 0)
                continue;
            const bool isOut = fds[i].fd == out_.Get();
            ReadSome(isOut ? out_ : err_, isOut ? result.Output : result.Errors);
        }
    }

private:
    pid_t pid_;
    TFd out_, err_;
    bool finished_ = false;
};

} // namespace

TCommandResult RunShellCommand(const std::string& command, std::uint32_t timeoutMs)
{
    TPipe out = MakePipe();
    TPipe err = MakePipe();
    const pid_t pid = TSpawnSetup(out.Write.Get(), err.Write.Get()).Spawn(command);
    out.Write.Close();
    err.Write.Close();
    TCommandRun run(pid, std::move(out.Read), std::move(err.Read));
    TCommandResult result;
    CollectCommandOutput(run, result, timeoutMs);
    const int code = run.Finish();
    result.ExitCode = result.TimedOut ? -1 : code;
    return result;
}

} // namespace platform
