#include "platform/ShellCommand.h"

#include "Win32Error.h"
#include "platform/System.h"

#include <windows.h>

#include <algorithm>
#include <utility>

namespace platform {

namespace {

// The pipes are looked at this often while the command runs.
constexpr DWORD kPollMs = 10;

[[noreturn]] void Fail(const std::string& what)
{
    throw ECommandError(what + ": " + LastWin32Error().Message);
}

class THandle {
public:
    THandle() = default;
    explicit THandle(HANDLE h) : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
    THandle(THandle&& other) noexcept : h_(std::exchange(other.h_, nullptr)) {}
    THandle& operator=(THandle&& other) noexcept
    {
        std::swap(h_, other.h_);
        return *this;
    }
    ~THandle() { Close(); }
    HANDLE Get() const { return h_; }
    bool Open() const { return h_ != nullptr; }
    void Close()
    {
        if (h_)
            CloseHandle(std::exchange(h_, nullptr));
    }

private:
    HANDLE h_ = nullptr;
};

struct TPipe {
    THandle Read, Write;
};

// A pipe whose write end the command inherits.
TPipe MakePipe()
{
    SECURITY_ATTRIBUTES inherit {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE r = nullptr, w = nullptr;
    if (!CreatePipe(&r, &w, &inherit, 64 * 1024))
        Fail("Cannot create a pipe for the command");
    TPipe pipe {THandle(r), THandle(w)};
    SetHandleInformation(r, HANDLE_FLAG_INHERIT, 0);
    return pipe;
}

// The system's own cmd.exe, not one that happens to lie in the current
// folder.
std::wstring CommandInterpreter()
{
    wchar_t folder[MAX_PATH];
    const UINT n = GetSystemDirectoryW(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        Fail("Cannot find cmd.exe");
    return std::wstring(folder, n) + L"\\cmd.exe";
}

// A job that ends every process in it when it is closed; the command and
// whatever it starts belong to it.
THandle MakeJob()
{
    THandle job(CreateJobObjectW(nullptr, nullptr));
    if (!job.Open())
        Fail("Cannot create a job object for the command");
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
    return job;
}

// Starts cmd.exe /c with the command, suspended until it is in the job, with
// no console window and no input.
THandle StartInJob(const std::string& command, HANDLE job, HANDLE output, HANDLE errors)
{
    SECURITY_ATTRIBUTES inherit {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    THandle input(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                              nullptr));
    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.Get();
    startup.hStdOutput = output;
    startup.hStdError = errors;
    const std::wstring interpreter = CommandInterpreter();
    // /s: the outer quotes go, the command stays as it is written.
    std::wstring line = L"cmd.exe /d /s /c \"" + WideFromAnsi(command) + L"\"";
    PROCESS_INFORMATION process {};
    if (!CreateProcessW(interpreter.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW | CREATE_SUSPENDED,
                        nullptr, nullptr, &startup, &process))
        Fail("Cannot start the command");
    THandle thread(process.hThread);
    // Where the job cannot take it (a job of our own on Windows 7), at
    // least cmd.exe itself is ended in time.
    AssignProcessToJobObject(job, process.hProcess);
    ResumeThread(process.hThread);
    return THandle(process.hProcess);
}

// Takes what the pipe holds without waiting for more; closes the pipe at its
// end. Output beyond the limit is read and dropped.
void ReadAvailable(THandle& pipe, std::string& into)
{
    DWORD available = 0;
    while (pipe.Open()) {
        if (!PeekNamedPipe(pipe.Get(), nullptr, 0, nullptr, &available, nullptr)) {
            pipe.Close();
            return;
        }
        if (available == 0)
            return;
        char buffer[4096];
        DWORD got = 0;
        if (!ReadFile(pipe.Get(), buffer, std::min<DWORD>(available, sizeof buffer), &got, nullptr)) {
            pipe.Close();
            return;
        }
        const std::size_t room = MaxCommandOutput - std::min(into.size(), MaxCommandOutput);
        into.append(buffer, std::min<std::size_t>(got, room));
    }
}

class TCommandRun : public TRunningCommand {
public:
    TCommandRun(THandle job, THandle process, THandle out, THandle err)
        : job_(std::move(job)), process_(std::move(process)), out_(std::move(out)), err_(std::move(err))
    {
    }
    ~TCommandRun() override { Finish(); }
    TCommandRun(const TCommandRun&) = delete;
    TCommandRun& operator=(const TCommandRun&) = delete;

    bool HasEnded() override { return WaitForSingleObject(process_.Get(), 0) == WAIT_OBJECT_0; }
    bool OutputOpen() const override { return out_.Open() || err_.Open(); }

    // Pipes cannot be waited for with the process: they are looked at every
    // few milliseconds.
    void Take(int waitMs, TCommandResult& result) override
    {
        ReadAvailable(out_, result.Output);
        ReadAvailable(err_, result.Errors);
        const DWORD wait = static_cast<DWORD>(std::min<int>(static_cast<int>(kPollMs), waitMs));
        if (HasEnded())
            Sleep(wait);
        else
            WaitForSingleObject(process_.Get(), wait);
        ReadAvailable(out_, result.Output);
        ReadAvailable(err_, result.Errors);
    }

    // cmd.exe's exit code; -1 while it still runs.
    int ExitCode() const
    {
        DWORD code = 0;
        if (WaitForSingleObject(process_.Get(), 0) != WAIT_OBJECT_0 || !GetExitCodeProcess(process_.Get(), &code))
            return -1;
        return static_cast<int>(code);
    }

    // Ends whatever of the command still runs.
    void Finish()
    {
        if (!process_.Open())
            return;
        TerminateJobObject(job_.Get(), 1);
        TerminateProcess(process_.Get(), 1);
        WaitForSingleObject(process_.Get(), 5000);
        process_.Close();
        job_.Close();
    }

private:
    THandle job_, process_, out_, err_;
};

} // namespace

TCommandResult RunShellCommand(const std::string& command, std::uint32_t timeoutMs)
{
    TPipe out = MakePipe();
    TPipe err = MakePipe();
    THandle job = MakeJob();
    THandle process = StartInJob(command, job.Get(), out.Write.Get(), err.Write.Get());
    out.Write.Close();
    err.Write.Close();
    TCommandRun run(std::move(job), std::move(process), std::move(out.Read), std::move(err.Read));
    TCommandResult result;
    CollectCommandOutput(run, result, timeoutMs);
    result.ExitCode = result.TimedOut ? -1 : run.ExitCode();
    run.Finish();
    return result;
}

} // namespace platform
