#include "platform/ShellCommand.h"

#include "platform/System.h"

#include <algorithm>
#include <chrono>

namespace platform {

namespace {

using TSteadyClock = std::chrono::steady_clock;

// The shell's end is noticed by looking this often.
constexpr int kExitCheckMs = 50;
// Once the shell has ended, what it left running may still hold its output
// open; that is waited for this long before it is ended.
constexpr int kLeftoverWaitMs = 200;

} // namespace

void CollectCommandOutput(TRunningCommand& run, TCommandResult& result, std::uint32_t timeoutMs)
{
    const auto deadline = TSteadyClock::now() + std::chrono::milliseconds(timeoutMs);
    auto leftoverDeadline = TSteadyClock::time_point::max();
    for (;;) {
        const auto now = TSteadyClock::now();
        if (leftoverDeadline == TSteadyClock::time_point::max() && run.HasEnded())
            leftoverDeadline = now + std::chrono::milliseconds(kLeftoverWaitMs);
        const bool ended = leftoverDeadline != TSteadyClock::time_point::max();
        if (ended && (!run.OutputOpen() || now >= leftoverDeadline))
            return;
        if (now >= deadline) {
            result.TimedOut = true;
            return;
        }
        const auto until = std::min(deadline, ended ? leftoverDeadline : now + std::chrono::milliseconds(kExitCheckMs));
        run.Take(static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count()) + 1,
                 result);
    }
}

} // namespace platform
