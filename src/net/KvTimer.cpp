#include "net/KvTimer.h"

#include "net/KvWndControl.h"
#include "platform/Clock.h"

namespace net {

TKvTimer::TKvTimer(TKvWndControl* owner)
    : FOwner(owner)
{
    if (!owner)
        throw EKvTimerException("Owner not assigned");
    FSelfMarker = Identity();
}

TKvTimer::~TKvTimer()
{
    FSelfMarker = 0;
    FEnabled = false;
    KillPlatformTimer();
}

void TKvTimer::CheckOwnerWindow()
{
    if (!FOwner->WindowHandle())
        throw EKvTimerException("No window available");
}

void TKvTimer::SetEnabled(bool value)
{
    if (value == FEnabled)
        return;
    CheckOwnerWindow();
    FEnabled = value;
    UpdateTimer();
}

void TKvTimer::SetInterval(std::uint32_t value)
{
    if (value == FInterval)
        return;
    CheckOwnerWindow();
    FInterval = value;
    UpdateTimer();
}

void TKvTimer::SetOnTimer(TNotifyEvent handler)
{
    if (!handler && !FOnTimer)
        return;
    CheckOwnerWindow();
    FOnTimer = std::move(handler);
    UpdateTimer();
}

void TKvTimer::KillPlatformTimer()
{
    if (auto window = FTimerWindow.lock())
        window->KillTimer(Identity());
    FTimerWindow.reset();
}

void TKvTimer::UpdateTimer()
{
    KillPlatformTimer();
    if (!Armable())
        return;
    platform::TMessageWindow* window = FOwner->WindowHandle();
    if (!window || !window->SetTimer(Identity(), FInterval)) {
        FEnabled = false;
        throw EKvTimerException("No more timers");
    }
    FTimerWindow = window->weak_from_this();
    FStartTick = platform::TickCount();
}

void TKvTimer::Tick()
{
    // A copy, so the handler may replace OnTimer while it runs.
    if (TNotifyEvent handler = FOnTimer)
        handler(*this);
}

void TKvTimer::DeliverTick(const platform::TMessage& msg)
{
    // A timer's ticks leave the queue when it is killed, so the marker of a
    // queued tick belongs to a live timer.
    auto* timer = reinterpret_cast<TKvTimer*>(msg.WParam);
    if (timer && timer->FSelfMarker == msg.WParam)
        timer->Tick();
}

} // namespace net
