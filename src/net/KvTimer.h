#pragma once
// A window timer bound to the owner component's message window.

#include "platform/EventLoop.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>

namespace net {

class EKvTimerException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TKvWndControl;

// Milliseconds from start to now on the 32-bit tick counter; past the wrap
// (now < start) it is now - start - 1 in 32-bit arithmetic.
constexpr std::uint32_t TickDiff(std::uint32_t start, std::uint32_t now)
{
    return now >= start ? now - start : now - start - 1u;
}

class TKvTimer {
public:
    using TNotifyEvent = std::function<void(TKvTimer& sender)>;

    // EKvTimerException "Owner not assigned" without an owner.
    explicit TKvTimer(TKvWndControl* owner);
    virtual ~TKvTimer();
    TKvTimer(const TKvTimer&) = delete;
    TKvTimer& operator=(const TKvTimer&) = delete;

    // The timer runs while Interval is not 0, Enabled is true and OnTimer is
    // set. Changing one of them needs the owner's window ("No window
    // available") and re-arms the timer; setting the current value does nothing.
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool value);
    std::uint32_t Interval() const { return FInterval; }
    void SetInterval(std::uint32_t value);
    const TNotifyEvent& OnTimer() const { return FOnTimer; }
    void SetOnTimer(TNotifyEvent handler);

    TKvWndControl& Owner() const { return *FOwner; }
    // Tick count of the last arming.
    std::uint32_t StartTick() const { return FStartTick; }

    // A window-timer message of a handler's window (WParam = the timer).
    static void DeliverTick(const platform::TMessage& msg);

protected:
    virtual void UpdateTimer();
    virtual void Tick();
    bool Armable() const { return FInterval != 0 && FEnabled && FOnTimer; }
    void DisableQuietly() { FEnabled = false; }

private:
    void CheckOwnerWindow();
    void KillPlatformTimer();
    std::uintptr_t Identity() const { return reinterpret_cast<std::uintptr_t>(this); }

    TKvWndControl* FOwner;
    bool FEnabled = true;
    std::uint32_t FInterval = 1000;
    TNotifyEvent FOnTimer;
    std::uintptr_t FSelfMarker = 0;
    std::uint32_t FStartTick = 0;
    // Where the window timer runs; the owner may have changed windows since.
    std::weak_ptr<platform::TMessageWindow> FTimerWindow;
};

} // namespace net
