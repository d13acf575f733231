#include "net/KvThreadTimer.h"

#include "net/KvClock.h"
#include "platform/EventLoop.h"

#include <atomic>

namespace net {

namespace {

std::atomic<std::uint32_t> nextTimerId { 0 };

} // namespace

std::uint32_t ThreadTimerMessage()
{
    static const std::uint32_t number = platform::RegisterWindowMessage("KORVANEL_KV_THREAD_TIMER");
    if (number == 0)
        throw EKvTimerException("Unable to register the thread timer message: no message numbers left");
    return number;
}

TKvThreadTimer::TKvThreadTimer(TKvWndControl* owner)
    : TKvTimer(owner)
    , FTimerId(++nextTimerId)
    , FClock(nullptr)
{
    ThreadTimerMessage();
    FClock = &TKvClockPool::GetClock();
}

TKvThreadTimer::~TKvThreadTimer()
{
    if (FDestroyedInTick)
        *FDestroyedInTick = true;
    DisableQuietly();
    FClock->RemoveTimer(*this);
    // The clock posts no more; a tick already queued must not reach a dead timer.
    if (auto window = FCurrentWindow.lock())
        window->RemoveMessages(ThreadTimerMessage(), reinterpret_cast<std::uintptr_t>(this));
    TKvClockPool::ReleaseClock(*FClock);
}

bool TKvThreadTimer::KeepThreadAlive() const
{
    return FClock->KeepClockThread();
}

void TKvThreadTimer::SetKeepThreadAlive(bool value)
{
    FClock->SetKeepClockThread(value);
}

void TKvThreadTimer::UpdateTimer()
{
    FClock->RemoveTimer(*this);
    if (!Armable())
        return;
    try {
        FClock->AddTimer(*this);
    } catch (...) {
        DisableQuietly();
        throw;
    }
}

void TKvThreadTimer::Tick()
{
    bool destroyed = false;
    FDestroyedInTick = &destroyed;
    auto rearm = [&] {
        if (destroyed)
            return;
        FDestroyedInTick = nullptr;
        FClock->RearmTimer(*this);
    };
    try {
        // A copy, so the handler may replace OnTimer while it runs.
        if (TNotifyEvent handler = Enabled() ? OnTimer() : nullptr)
            handler(*this);
    } catch (...) {
        rearm();
        throw;
    }
    rearm();
}

void TKvThreadTimer::DeliverTick(const platform::TMessage& msg)
{
    // Queued ticks are removed when their timer goes, so the pointer is live.
    auto* timer = reinterpret_cast<TKvThreadTimer*>(msg.WParam);
    if (timer && timer->FTimerId == static_cast<std::uint32_t>(msg.LParam))
        timer->Tick();
}

} // namespace net
