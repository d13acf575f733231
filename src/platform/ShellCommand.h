#pragma once
// A command line run through the system's shell, for helper programs whose
// output the caller needs (a sign-in token, say).

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace platform {

struct TCommandResult {
    // The exit status; -1 when the command was ended by a signal or killed.
    int ExitCode = -1;
    // The command was still running when its time was up, and was killed.
    bool TimedOut = false;
    // What it wrote to standard output and standard error, each cut after
    // MaxCommandOutput bytes.
    std::string Output;
    std::string Errors;
};

inline constexpr std::size_t MaxCommandOutput = 64 * 1024;

// The command could not be started at all.
class ECommandError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Runs the command through the system's shell (/bin/sh -c here; a Windows
// build uses cmd.exe /c without a console window), with no input, and waits
// for it at most timeoutMs. A command that is still running then is killed,
// and so is whatever it started and left running: no process of it outlives
// the call.
TCommandResult RunShellCommand(const std::string& command, std::uint32_t timeoutMs);

} // namespace platform
