#pragma once
// A timer fired by a shared clock thread: the clock posts a tick to the
// owner's window when the interval has passed, never a second one while the
// first is unhandled, and counts the next interval from the handling.

#include "net/KvTimer.h"

#include <cstdint>
#include <memory>

namespace net {

class TKvClock;

// The registered message number of thread-timer ticks (EKvTimerException
// when it cannot be registered).
std::uint32_t ThreadTimerMessage();

class TKvThreadTimer : public TKvTimer {
public:
    explicit TKvThreadTimer(TKvWndControl* owner);
    ~TKvThreadTimer() override;

    std::uint32_t TimerId() const { return FTimerId; }
    TKvClock& Clock() const { return *FClock; }
    // Copied to the clock: its thread then sleeps instead of ending when the
    // clock has no timers left.
    bool KeepThreadAlive() const;
    void SetKeepThreadAlive(bool value);

    // A thread-timer message (WParam = the timer, LParam = its TimerId).
    static void DeliverTick(const platform::TMessage& msg);

protected:
    void UpdateTimer() override;
    void Tick() override;

private:
    friend class TKvClock;
    std::uint32_t FTimerId;
    TKvClock* FClock;
    bool* FDestroyedInTick = nullptr;
    // Guarded by the clock's list lock.
    std::uint32_t FQueuedTicks = 0;
    bool FMessageQueued = false;
    std::uint32_t FClockInterval = 0;
    std::weak_ptr<platform::TMessageWindow> FCurrentWindow;
    bool FWindowValid = false;
};

} // namespace net
