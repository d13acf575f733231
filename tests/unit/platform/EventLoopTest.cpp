#include "platform/EventLoop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

#include "../LoopbackListener.h"

using namespace platform;

namespace {

struct TReceived {
    std::uint32_t Msg;
    std::uintptr_t WParam;
    std::intptr_t LParam;
    bool operator==(const TReceived&) const = default;
};

// A window that records what it receives.
struct TRecorder {
    std::vector<TReceived> Got;
    std::function<void(const TMessage&)> Extra;
    std::shared_ptr<TMessageWindow> Window = TMessageWindow::Create([this](const TMessage& m) {
        Got.push_back({ m.Msg, m.WParam, m.LParam });
        if (Extra)
            Extra(m);
    });
};

int DrainAll()
{
    TEventLoop& loop = TEventLoop::Current();
    TQueuedMessage m;
    int n = 0;
    while (loop.PeekMessage(m)) {
        TEventLoop::DispatchMessage(m);
        ++n;
    }
    return n;
}

// Pumps the calling thread's loop until done() or the time limit.
bool PumpUntil(const std::function<bool()>& done, int limitMs = 5000)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!done()) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        TEventLoop::Current().WaitMessage(static_cast<int>(std::min<long>(left.count(), 50)));
        DrainAll();
    }
    return true;
}

int OpenDescriptors()
{
    return OpenDescriptorCount();
}

// Writes one byte on a blocking socket.
bool WriteByte(TSocketHandle socket)
{
    return SendAll(socket, "x");
}

} // namespace

TEST(EventLoop, DispatchesInPostingOrderAcrossWindows)
{
    TRecorder a, b;
    std::vector<char> order;
    a.Extra = [&](const TMessage&) { order.push_back('a'); };
    b.Extra = [&](const TMessage&) { order.push_back('b'); };
    ASSERT_TRUE(a.Window->Post(2000, 1, -1));
    ASSERT_TRUE(b.Window->Post(2000, 2, -2));
    ASSERT_TRUE(a.Window->Post(2001, 3, -3));
    EXPECT_EQ(DrainAll(), 3);
    EXPECT_EQ(order, (std::vector<char> { 'a', 'b', 'a' }));
    EXPECT_EQ(a.Got, (std::vector<TReceived> { { 2000, 1, -1 }, { 2001, 3, -3 } }));
    EXPECT_EQ(b.Got, (std::vector<TReceived> { { 2000, 2, -2 } }));
}

TEST(EventLoop, QueueGrowsAndKeepsOrder)
{
    TRecorder r;
    for (std::uintptr_t i = 0; i < 1000; ++i) {
        r.Window->Post(2000, i);
        if (i % 3 == 0) { // interleave takes so the ring wraps while it grows
            TQueuedMessage m;
            ASSERT_TRUE(TEventLoop::Current().PeekMessage(m));
            TEventLoop::DispatchMessage(m);
        }
    }
    DrainAll();
    ASSERT_EQ(r.Got.size(), 1000u);
    for (std::uintptr_t i = 0; i < 1000; ++i)
        ASSERT_EQ(r.Got[i].WParam, i);
}

TEST(EventLoop, RemoveMessagesDropsOnlyTheMatchingOnes)
{
    TRecorder r;
    r.Window->Post(2000, 1);
    r.Window->Post(2001, 1);
    r.Window->Post(2000, 2);
    r.Window->Post(2002, 7);
    r.Window->Post(2002, 8);
    r.Window->RemoveMessages(2000);
    r.Window->RemoveMessages(2002, 7);
    DrainAll();
    EXPECT_EQ(r.Got, (std::vector<TReceived> { { 2001, 1, 0 }, { 2002, 8, 0 } }));
}

TEST(EventLoop, QuitMessageEndsGetMessage)
{
    TRecorder r;
    r.Window->Post(2000);
    TEventLoop& loop = TEventLoop::Current();
    loop.PostQuitMessage();
    TQueuedMessage m;
    ASSERT_TRUE(loop.GetMessage(m));
    TEventLoop::DispatchMessage(m);
    EXPECT_FALSE(loop.GetMessage(m));
    EXPECT_FALSE(m.Window);
    EXPECT_EQ(r.Got.size(), 1u);
}

TEST(EventLoop, DestroyedWindowRefusesPostsAndLosesQueuedMessages)
{
    TRecorder r;
    r.Window->Post(2000);
    r.Window->SetTimer(1, 1);
    r.Window->Destroy();
    EXPECT_FALSE(r.Window->Alive());
    EXPECT_FALSE(r.Window->Post(2001));
    EXPECT_FALSE(r.Window->SetTimer(2, 10));
    EXPECT_EQ(r.Window->TimerCount(), 0u);
    EXPECT_EQ(DrainAll(), 0);
    EXPECT_TRUE(r.Got.empty());
}

TEST(EventLoop, WindowMayDestroyItselfInsideItsOwnDispatch)
{
    std::shared_ptr<TMessageWindow> window;
    int calls = 0;
    window = TMessageWindow::Create([&](const TMessage&) {
        ++calls;
        window->Destroy();
        window.reset(); // the last owner lets go while its procedure runs
    });
    window->Post(2000);
    window->Post(2000);
    DrainAll();
    EXPECT_EQ(calls, 1);
}

TEST(EventLoop, NestedPumpInsideAHandlerTakesTheFollowingMessages)
{
    TRecorder r;
    r.Extra = [&](const TMessage& m) {
        if (m.Msg == 2000)
            DrainAll();
    };
    r.Window->Post(2000);
    r.Window->Post(2001);
    r.Window->Post(2002);
    DrainAll();
    EXPECT_EQ(r.Got, (std::vector<TReceived> { { 2000, 0, 0 }, { 2001, 0, 0 }, { 2002, 0, 0 } }));
}

TEST(EventLoop, PostFromAnotherThreadWakesTheSleepingLoop)
{
    TRecorder r;
    TEventLoop& loop = TEventLoop::Current();
    std::weak_ptr<TMessageWindow> target = r.Window;
    std::thread poster([&loop, target] {
        // Post only once the loop sleeps in the system, so the wake-up is what ends the wait.
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!loop.Waiting() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        if (auto w = target.lock())
            w->Post(2000, 42);
    });
    auto start = std::chrono::steady_clock::now();
    loop.WaitMessage(10000);
    auto waited = std::chrono::steady_clock::now() - start;
    poster.join();
    DrainAll();
    EXPECT_EQ(r.Got, (std::vector<TReceived> { { 2000, 42, 0 } }));
    EXPECT_LT(waited, std::chrono::seconds(9)) << "the post did not wake the loop";
}

TEST(EventLoop, PostsFromManyThreadsAllArriveInEachPostersOrder)
{
    TRecorder r;
    constexpr int threads = 4, each = 2000;
    std::vector<std::thread> posters;
    for (int t = 0; t < threads; ++t)
        posters.emplace_back([w = r.Window, t] {
            for (int i = 0; i < each; ++i)
                w->Post(2000 + t, i);
        });
    ASSERT_TRUE(PumpUntil([&] { return r.Got.size() == threads * each; }));
    for (auto& p : posters)
        p.join();
    std::vector<std::uintptr_t> next(threads, 0);
    for (const auto& got : r.Got)
        ASSERT_EQ(got.WParam, next[got.Msg - 2000]++);
}

TEST(EventLoop, WindowTimerTicksAndNeverQueuesTwoTicks)
{
    TRecorder r;
    ASSERT_TRUE(r.Window->SetTimer(7, 5));
    ASSERT_TRUE(PumpUntil([&] { return r.Got.size() >= 2; }));
    EXPECT_EQ(r.Got[0], (TReceived { MsgTimer, 7, 0 }));
    // Not pumped for many intervals: still one tick waiting.
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    TEventLoop::Current().WaitMessage(0);
    EXPECT_EQ(TEventLoop::Current().QueuedCount(), 1u);
    // Killing it takes the waiting tick away too.
    EXPECT_TRUE(r.Window->KillTimer(7));
    EXPECT_FALSE(r.Window->KillTimer(7));
    r.Got.clear();
    DrainAll();
    EXPECT_TRUE(r.Got.empty());
    EXPECT_EQ(r.Window->TimerCount(), 0u);
}

TEST(EventLoop, ReadinessOfADescriptorArrivesAsItsMessage)
{
    TSocketHandle pair[2];
    ASSERT_TRUE(LoopbackPair(pair));
    TRecorder r;
    ASSERT_EQ(r.Window->AsyncSelect(pair[0], 3000, FdRead), 0);
    EXPECT_EQ(DrainAll(), 0);

    ASSERT_TRUE(WriteByte(pair[1]));
    ASSERT_TRUE(PumpUntil([&] { return !r.Got.empty(); }));
    EXPECT_EQ(r.Got[0], (TReceived { 3000, pair[0], FdRead }));

    // Unread data is not reported again until reading is re-enabled.
    r.Got.clear();
    TEventLoop::Current().WaitMessage(0);
    EXPECT_EQ(TEventLoop::Current().QueuedCount(), 0u);
    ASSERT_EQ(r.Window->ReenableSelect(pair[0], FdRead), 0);
    TEventLoop::Current().WaitMessage(0);
    EXPECT_EQ(TEventLoop::Current().QueuedCount(), 1u);
    // Cancelling drops the queued one and stops further messages.
    EXPECT_EQ(r.Window->AsyncSelect(pair[0], 3000, 0), 0);
    EXPECT_EQ(DrainAll(), 0);
    EXPECT_EQ(r.Window->ReenableSelect(pair[0], FdRead), WsaEINVAL);

    // Write readiness, then the peer's hang-up, reported once also while
    // reading rests. (Behind unread data some systems see it only once the
    // data has been read.)
    ASSERT_EQ(r.Window->AsyncSelect(pair[0], 3001, FdRead | FdWrite), 0);
    ASSERT_TRUE(PumpUntil([&] { return !r.Got.empty(); }));
    EXPECT_EQ(r.Got[0], (TReceived { 3001, pair[0], FdRead | FdWrite }));
    char byte = 0;
    int err = 0;
    ASSERT_EQ(SocketRecv(pair[0], &byte, 1, err), 1);
    SocketClose(pair[1]);
    ASSERT_TRUE(PumpUntil([&] { return r.Got.size() == 2; }));
    EXPECT_EQ(r.Got[1].Msg, 3001u);
    EXPECT_EQ(r.Got[1].LParam, FdHangUp);
    TEventLoop::Current().WaitMessage(0);
    EXPECT_EQ(DrainAll(), 0);
    r.Window->AsyncSelect(pair[0], 3001, 0);
    SocketClose(pair[0]);
}

TEST(EventLoop, DestroyingAWindowCancelsItsSelections)
{
    TSocketHandle pair[2];
    ASSERT_TRUE(LoopbackPair(pair));
    {
        TRecorder r;
        ASSERT_EQ(r.Window->AsyncSelect(pair[0], 3000, FdRead), 0);
        r.Window->Destroy();
        EXPECT_EQ(r.Window->AsyncSelect(pair[0], 3000, FdRead), WsaEBADF);
    }
    ASSERT_TRUE(WriteByte(pair[1]));
    TEventLoop::Current().WaitMessage(0);
    EXPECT_EQ(TEventLoop::Current().QueuedCount(), 0u);
    SocketClose(pair[0]);
    SocketClose(pair[1]);
}

TEST(EventLoop, AThreadsLoopLeavesNoDescriptorsBehind)
{
    const int before = OpenDescriptors();
    std::thread([] {
        TRecorder r;
        r.Window->Post(2000);
        DrainAll();
    }).join();
    EXPECT_EQ(OpenDescriptors(), before);
}

TEST(EventLoop, RegisteredMessagesAreStablePerName)
{
    std::uint32_t a = RegisterWindowMessage("EventLoopTest.A");
    std::uint32_t b = RegisterWindowMessage("EventLoopTest.B");
    EXPECT_GE(a, 0xC000u);
    EXPECT_NE(a, b);
    EXPECT_EQ(RegisterWindowMessage("EventLoopTest.A"), a);
}
