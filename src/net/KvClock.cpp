#include "net/KvClock.h"

#include "net/KvThreadTimer.h"
#include "net/KvWndControl.h"
#include "platform/Clock.h"

#include <algorithm>
#include <chrono>

namespace net {

// ------------------------------------------------------------ TKvClockThread

TKvClockThread::TKvClockThread(TKvClock& clock)
    : FClock(clock)
    , FInterval(TKvClockPool::MinTimerResolution)
    , FThread([this] { Execute(); })
{
}

TKvClockThread::~TKvClockThread()
{
    FTerminated = true;
    Signal();
    FThread.join();
}

void TKvClockThread::Signal()
{
    {
        std::lock_guard lock(FLock);
        FSignalled = true;
    }
    FWake.notify_one();
}

void TKvClockThread::SetInterval(std::uint32_t value)
{
    {
        std::lock_guard lock(FLock);
        FInterval = std::max(value, TKvClockPool::MinTimerResolution);
    }
    Signal();
}

std::uint32_t TKvClockThread::Interval() const
{
    std::lock_guard lock(FLock);
    return FInterval;
}

void TKvClockThread::Execute()
{
    try {
        for (;;) {
            bool signalled = false;
            {
                std::unique_lock lock(FLock);
                auto woken = [this] { return FSignalled; };
                if (FInterval == Infinite)
                    FWake.wait(lock, woken);
                else
                    FWake.wait_for(lock, std::chrono::milliseconds(FInterval), woken);
                signalled = FSignalled;
                FSignalled = false;
            }
            if (signalled && FTerminated)
                break;
            if (!signalled)
                FClock.Pass(*this);
            std::this_thread::yield();
        }
    } catch (...) {
        // A clock whose thread failed gets a new one with its next timer.
    }
    FFinished = true;
}

// ------------------------------------------------------------------ TKvClock

TKvClock::~TKvClock()
{
    std::lock_guard lock(FClockLock);
    FThread.reset();
}

void TKvClock::AddTimer(TKvThreadTimer& timer)
{
    std::lock_guard clockLock(FClockLock);
    if (FThread && FThread->Finished())
        FThread.reset();
    platform::TMessageWindow* window = timer.Owner().WindowHandle();
    std::lock_guard listLock(FListLock);
    if (std::find(FTimers.begin(), FTimers.end(), &timer) != FTimers.end())
        throw EKvTimerException("Timer already exists");
    if (!FThread)
        FThread = std::make_unique<TKvClockThread>(*this);
    timer.FQueuedTicks = platform::TickCount();
    timer.FMessageQueued = false;
    timer.FClockInterval = timer.Interval();
    timer.FCurrentWindow = window->weak_from_this();
    timer.FWindowValid = true;
    FTimers.push_back(&timer);
    if (FThread->Interval() == TKvClockThread::Infinite)
        FThread->SetInterval(TKvClockPool::MinTimerResolution);
}

void TKvClock::RemoveTimer(TKvThreadTimer& timer)
{
    std::lock_guard clockLock(FClockLock);
    bool empty = false;
    {
        std::lock_guard listLock(FListLock);
        std::erase(FTimers, &timer);
        empty = FTimers.empty();
    }
    if (!empty || !FThread)
        return;
    if (FKeepClockThread)
        FThread->SetInterval(TKvClockThread::Infinite);
    else
        FThread.reset();
}

void TKvClock::RearmTimer(TKvThreadTimer& timer)
{
    std::lock_guard listLock(FListLock);
    timer.FMessageQueued = false;
    timer.FQueuedTicks = platform::TickCount();
}

void TKvClock::SetKeepClockThread(bool value)
{
    FKeepClockThread = value;
    if (value)
        return;
    std::lock_guard clockLock(FClockLock);
    bool empty = false;
    {
        std::lock_guard listLock(FListLock);
        empty = FTimers.empty();
    }
    if (empty)
        FThread.reset();
}

bool TKvClock::HasThread()
{
    std::lock_guard clockLock(FClockLock);
    return FThread && !FThread->Finished();
}

std::uint32_t TKvClock::ThreadInterval()
{
    std::lock_guard clockLock(FClockLock);
    return FThread ? FThread->Interval() : TKvClockThread::Infinite;
}

std::size_t TKvClock::TimerCount()
{
    std::lock_guard listLock(FListLock);
    return FTimers.size();
}

// Runs on the clock thread: posts the ticks that are due.
void TKvClock::Pass(const TKvClockThread& thread)
{
    std::uint32_t now = platform::TickCount();
    std::uint32_t msg = ThreadTimerMessage();
    std::lock_guard listLock(FListLock);
    for (TKvThreadTimer* timer : FTimers) {
        if (thread.Terminating())
            return;
        if (!timer->FWindowValid)
            continue;
        if (timer->FMessageQueued) {
            // The interval restarts until the owner has handled its tick.
            timer->FQueuedTicks = now;
            continue;
        }
        if (TickDiff(timer->FQueuedTicks, now) < timer->FClockInterval)
            continue;
        auto window = timer->FCurrentWindow.lock();
        if (window && window->Post(msg, reinterpret_cast<std::uintptr_t>(timer), static_cast<std::intptr_t>(timer->FTimerId))) {
            timer->FQueuedTicks = now;
            timer->FMessageQueued = true;
        } else {
            timer->FWindowValid = false;
        }
    }
}

// -------------------------------------------------------------- TKvClockPool

namespace {

struct TPoolEntry {
    std::unique_ptr<TKvClock> Clock;
    std::size_t Uses = 0;
};

struct TClockPoolState {
    std::mutex Lock;
    std::unique_ptr<std::vector<TPoolEntry>> Entries; // the pool, while it has clocks
};

TClockPoolState& PoolState()
{
    static TClockPoolState state;
    return state;
}

} // namespace

TKvClock& TKvClockPool::GetClock()
{
    TClockPoolState& state = PoolState();
    std::lock_guard lock(state.Lock);
    if (!state.Entries)
        state.Entries = std::make_unique<std::vector<TPoolEntry>>();
    for (TPoolEntry& entry : *state.Entries) {
        if (entry.Uses < MaxTimersPerClock) {
            ++entry.Uses;
            return *entry.Clock;
        }
    }
    state.Entries->push_back(TPoolEntry { std::make_unique<TKvClock>(), 1 });
    return *state.Entries->back().Clock;
}

void TKvClockPool::ReleaseClock(TKvClock& clock)
{
    TClockPoolState& state = PoolState();
    std::unique_ptr<TKvClock> gone;
    {
        std::lock_guard lock(state.Lock);
        if (!state.Entries)
            return;
        auto& entries = *state.Entries;
        auto it = std::find_if(entries.begin(), entries.end(), [&](const TPoolEntry& e) { return e.Clock.get() == &clock; });
        if (it == entries.end())
            return;
        if (!(clock.KeepClockThread() && it->Uses == 1))
            --it->Uses;
        if (it->Uses == 0) {
            gone = std::move(it->Clock);
            entries.erase(it);
        }
        if (entries.empty())
            state.Entries.reset();
    }
    // Joining the clock thread needs no pool lock.
}

std::size_t TKvClockPool::ClockCount()
{
    TClockPoolState& state = PoolState();
    std::lock_guard lock(state.Lock);
    return state.Entries ? state.Entries->size() : 0;
}

} // namespace net
