#include "net/KvClock.h"
#include "net/KvThreadTimer.h"
#include "net/KvTimer.h"
#include "platform/Clock.h"

#include "NetTestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

using namespace net;
using nettest::ErrorOf;
using nettest::PumpUntil;
using nettest::TProbe;

namespace {

// Settings that leave a timer unarmed, each applied to a timer that would run.
struct TUnarmed {
    const char* Name;
    std::function<void(TKvTimer&)> Apply;
};

const TUnarmed unarmedCases[] = {
    { "Interval 0", [](TKvTimer& t) { t.SetInterval(0); } },
    { "Enabled false", [](TKvTimer& t) { t.SetEnabled(false); } },
    { "no OnTimer", [](TKvTimer& t) { t.SetOnTimer(nullptr); } },
};

void MakeRunnable(TKvTimer& timer, int& ticks)
{
    timer.SetInterval(50);
    timer.SetOnTimer([&ticks](TKvTimer&) { ++ticks; });
}

// A tick waits in the queue when its timer is destroyed: it must not arrive.
template <class TTimer>
void ExpectNoTickAfterDestruction()
{
    TProbe owner;
    int ticks = 0;
    auto timer = std::make_unique<TTimer>(&owner);
    MakeRunnable(*timer, ticks);
    timer->SetInterval(1);
    platform::TEventLoop& loop = platform::TEventLoop::Current();
    ASSERT_TRUE(PumpUntil([&] {
        loop.WaitMessage(0);
        return loop.QueuedCount() > 0;
    }));
    timer.reset();
    owner.ProcessAllMessages();
    EXPECT_EQ(ticks, 0);
    EXPECT_EQ(owner.WindowHandle()->TimerCount(), 0u);
}

} // namespace

TEST(KvTicks, DifferenceAcrossTheWrap)
{
    struct TCase {
        std::uint32_t Start, Now, Diff;
    } cases[] = {
        { 0, 0, 0 },
        { 100, 350, 250 },
        { 0xFFFFFFF0u, 0xFFFFFFFFu, 0x0F },
        { 0xFFFFFFFFu, 0, 0 },            // wrapped by one tick
        { 0xFFFFFFF0u, 0x10, 0x1F },      // now - start - 1 past the wrap
        { 1, 0, 0xFFFFFFFEu },
    };
    for (const TCase& c : cases)
        EXPECT_EQ(TickDiff(c.Start, c.Now), c.Diff) << c.Start << " " << c.Now;
}

TEST(KvTimer, NeedsAnOwner)
{
    EXPECT_EQ(ErrorOf([] { TKvTimer t(nullptr); }), "Owner not assigned");
    EXPECT_EQ(ErrorOf([] { TKvThreadTimer t(nullptr); }), "Owner not assigned");
}

TEST(KvTimer, TicksOnTheOwnersWindowUntilDisabled)
{
    TProbe owner;
    TKvTimer timer(&owner);
    int ticks = 0;
    MakeRunnable(timer, ticks);
    timer.SetInterval(10);
    EXPECT_EQ(owner.WindowHandle()->TimerCount(), 1u);
    ASSERT_TRUE(PumpUntil([&] { return ticks >= 3; }));
    timer.SetEnabled(false);
    EXPECT_EQ(owner.WindowHandle()->TimerCount(), 0u);
}

TEST(KvTimers, UnarmedSettingsArmNothing)
{
    for (const TUnarmed& c : unarmedCases) {
        TProbe owner;
        TKvTimer timer(&owner);
        TKvThreadTimer threadTimer(&owner);
        int ticks = 0;
        MakeRunnable(timer, ticks);
        MakeRunnable(threadTimer, ticks);
        ASSERT_TRUE(threadTimer.Clock().HasThread());
        c.Apply(timer);
        c.Apply(threadTimer);
        EXPECT_EQ(owner.WindowHandle()->TimerCount(), 0u) << c.Name;
        EXPECT_EQ(threadTimer.Clock().TimerCount(), 0u) << c.Name;
        EXPECT_FALSE(threadTimer.Clock().HasThread()) << c.Name;
    }
    EXPECT_EQ(TKvClockPool::ClockCount(), 0u);
}

TEST(KvTimer, DestroyedTimerGetsNoQueuedTick)
{
    ExpectNoTickAfterDestruction<TKvTimer>();
}

TEST(KvThreadTimer, TicksComeNoMoreOftenThanEveryHundredMilliseconds)
{
    TProbe owner;
    TKvThreadTimer timer(&owner);
    int ticks = 0;
    timer.SetInterval(1);
    timer.SetOnTimer([&](TKvTimer&) { ++ticks; });
    std::uint32_t start = platform::TickCount();
    ASSERT_TRUE(PumpUntil([&] { return ticks >= 6; }));
    std::uint32_t elapsed = TickDiff(start, platform::TickCount());
    EXPECT_GE(elapsed, 5u * TKvClockPool::MinTimerResolution - 5);
}

TEST(KvThreadTimer, SlowOwnerGetsNoSecondTickAndTheNextOneIntervalAfterHandling)
{
    TProbe owner;
    TKvThreadTimer timer(&owner);
    constexpr std::uint32_t interval = 150;
    platform::TEventLoop& loop = platform::TEventLoop::Current();
    std::vector<std::uint32_t> arrived;
    std::uint32_t handled = 0;
    std::size_t queuedAfterSlowTick = 99;
    timer.SetInterval(interval);
    timer.SetOnTimer([&](TKvTimer&) {
        arrived.push_back(platform::TickCount());
        if (arrived.size() == 1) {
            // The owner is busy for several clock passes.
            std::this_thread::sleep_for(std::chrono::milliseconds(4 * interval));
            queuedAfterSlowTick = loop.QueuedCount();
            handled = platform::TickCount();
        }
    });
    ASSERT_TRUE(PumpUntil([&] { return arrived.size() >= 2; }));
    EXPECT_EQ(queuedAfterSlowTick, 0u);
    EXPECT_GE(TickDiff(handled, arrived[1]), interval - 1);
}

TEST(KvThreadTimer, OnTimerThatRaisesStillGetsItsNextTick)
{
    nettest::TAppExceptions app;
    TProbe owner;
    TKvThreadTimer timer(&owner);
    int ticks = 0;
    timer.SetInterval(100);
    timer.SetOnTimer([&](TKvTimer&) {
        ++ticks;
        throw std::runtime_error("tick failed");
    });
    ASSERT_TRUE(PumpUntil([&] { return ticks >= 2; }));
    EXPECT_GE(app.Shown.size(), 1u);
    EXPECT_EQ(app.Shown[0], "tick failed");
}

TEST(KvThreadTimer, DestroyedTimerGetsNoQueuedTick)
{
    ExpectNoTickAfterDestruction<TKvThreadTimer>();
    EXPECT_EQ(TKvClockPool::ClockCount(), 0u);
}

TEST(KvThreadTimer, KeptAliveClockThreadSleepsWithoutTimers)
{
    TProbe owner;
    TKvThreadTimer timer(&owner);
    timer.SetKeepThreadAlive(true);
    int ticks = 0;
    MakeRunnable(timer, ticks);
    timer.SetEnabled(false);
    EXPECT_TRUE(timer.Clock().HasThread());
    EXPECT_EQ(timer.Clock().ThreadInterval(), TKvClockThread::Infinite);
    timer.SetEnabled(true);
    EXPECT_EQ(timer.Clock().ThreadInterval(), TKvClockPool::MinTimerResolution);
    ASSERT_TRUE(PumpUntil([&] { return ticks >= 1; }));
    timer.SetEnabled(false);
    timer.SetKeepThreadAlive(false);
    EXPECT_FALSE(timer.Clock().HasThread());
}

TEST(KvThreadTimer, ArmingTwiceOnOneClockIsRefused)
{
    TProbe owner;
    TKvThreadTimer timer(&owner);
    int ticks = 0;
    MakeRunnable(timer, ticks);
    EXPECT_EQ(ErrorOf([&] { timer.Clock().AddTimer(timer); }), "Timer already exists");
}

TEST(KvClockPool, OneClockServesAThousandTimers)
{
    TProbe owner;
    std::vector<std::unique_ptr<TKvThreadTimer>> timers;
    for (std::size_t i = 0; i < TKvClockPool::MaxTimersPerClock; ++i)
        timers.push_back(std::make_unique<TKvThreadTimer>(&owner));
    EXPECT_EQ(TKvClockPool::ClockCount(), 1u);
    EXPECT_EQ(&timers.back()->Clock(), &timers.front()->Clock());
    TKvThreadTimer extra(&owner);
    EXPECT_NE(&extra.Clock(), &timers.front()->Clock());
    EXPECT_EQ(TKvClockPool::ClockCount(), 2u);
    EXPECT_NE(extra.TimerId(), timers.back()->TimerId());
    timers.clear();
    EXPECT_EQ(TKvClockPool::ClockCount(), 1u);
}
