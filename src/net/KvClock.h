#pragma once
// Clocks of the thread timers: a clock walks its timer list on its own thread
// every MinTimerResolution milliseconds and posts due ticks; the pool shares
// clocks between up to MaxTimersPerClock timers.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace net {

class TKvThreadTimer;
class TKvClock;

class TKvClockThread {
public:
    static constexpr std::uint32_t Infinite = 0xFFFFFFFFu;

    explicit TKvClockThread(TKvClock& clock);
    // Terminates, wakes and joins the thread.
    ~TKvClockThread();
    TKvClockThread(const TKvClockThread&) = delete;
    TKvClockThread& operator=(const TKvClockThread&) = delete;

    // Stores max(value, MinTimerResolution) (Infinite stays) and wakes the thread.
    void SetInterval(std::uint32_t value);
    std::uint32_t Interval() const;
    bool Terminating() const { return FTerminated.load(); }
    bool Finished() const { return FFinished.load(); }

private:
    void Execute();
    void Signal();

    TKvClock& FClock;
    mutable std::mutex FLock;
    std::condition_variable FWake;
    bool FSignalled = false;
    std::uint32_t FInterval;
    std::atomic<bool> FTerminated { false };
    std::atomic<bool> FFinished { false };
    std::thread FThread;
};

class TKvClock {
public:
    TKvClock() = default;
    ~TKvClock();
    TKvClock(const TKvClock&) = delete;
    TKvClock& operator=(const TKvClock&) = delete;

    // EKvTimerException "Timer already exists" for a timer in the list.
    void AddTimer(TKvThreadTimer& timer);
    void RemoveTimer(TKvThreadTimer& timer);
    // The owner handled a tick: the next one is due one interval from now.
    void RearmTimer(TKvThreadTimer& timer);

    bool KeepClockThread() const { return FKeepClockThread.load(); }
    // Clearing it on a clock without timers ends the sleeping thread.
    void SetKeepClockThread(bool value);

    bool HasThread();
    std::uint32_t ThreadInterval();
    std::size_t TimerCount();

private:
    friend class TKvClockThread;
    void Pass(const TKvClockThread& thread);

    std::mutex FClockLock; // before FListLock
    std::mutex FListLock;
    std::vector<TKvThreadTimer*> FTimers;
    std::unique_ptr<TKvClockThread> FThread;
    std::atomic<bool> FKeepClockThread { false };
};

class TKvClockPool {
public:
    static constexpr std::size_t MaxTimersPerClock = 1000;
    static constexpr std::uint32_t MinTimerResolution = 100;

    // A clock with room for one more timer.
    static TKvClock& GetClock();
    static void ReleaseClock(TKvClock& clock);
    static std::size_t ClockCount();
};

} // namespace net
