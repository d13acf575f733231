#pragma once
// What each system's folder (posix/, win32/) provides to the shared sources
// of the platform layer; not for use outside it.

#include "platform/Clock.h"
#include "platform/HttpsClient.h"
#include "platform/Resolver.h"
#include "platform/ShellCommand.h"
#include "platform/Sockets.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace platform {

// A high-resolution counter (nanoseconds or the performance counter's ticks).
std::uint64_t PerformanceCounter();
// n bytes from the system's cryptographic random source; false when it
// cannot give them without waiting.
bool SystemRandomBytes(unsigned char* buffer, std::size_t n);

// The addresses of a host name in the system's order (getaddrinfo); 0 or a
// Windows Sockets number.
int SystemLookup(const std::string& host, TLookupFamily family, std::vector<TSockAddr>& addresses);
// Port of a service from the system's services database.
bool SystemServicePort(const std::string& name, const std::string& proto, std::uint16_t& port);

// A calendar time with its milliseconds as the system time of the clock.
TSystemTime SystemTimeOf(const std::tm& tm, int millisecond);

// The calendar time of the local zone at a time.
std::tm LocalCalendarTime(std::time_t time);

// The ANSI code page of the process locale, before any override.
unsigned ProcessAnsiCodePage();

// A command started by RunShellCommand, as the shared wait sees it.
class TRunningCommand {
public:
    virtual ~TRunningCommand() = default;
    // True once the shell itself has ended.
    virtual bool HasEnded() = 0;
    // True while its standard output or error is still open.
    virtual bool OutputOpen() const = 0;
    // Adds what the command wrote to the result, waiting up to waitMs for it.
    virtual void Take(int waitMs, TCommandResult& result) = 0;
};

// Collects the output until the shell has ended and its output is closed
// (or, after it has ended, what it left running has had a moment to close
// it), or the time is up (TimedOut).
void CollectCommandOutput(TRunningCommand& run, TCommandResult& result, std::uint32_t timeoutMs);

// The POST itself, once HttpsPost has checked the URL and the CA file.
THttpsReply SystemHttpsPost(const THttpsPost& request);

} // namespace platform
