#include "net/KvTimer.h"
#include "net/KvWndControl.h"
#include "net/KvWndHandler.h"

#include "NetTestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

using namespace net;
using nettest::ErrorOf;
using nettest::OnFreshThread;
using nettest::TProbe;

namespace {

class TTooMany : public TKvWndControl {
public:
    int MessageCount() const override { return 101; }
};

} // namespace

TEST(KvWndControl, NumbersComeInBlocksOfOneHundredPerWindow)
{
    OnFreshThread([] {
        auto& pool = TKvWndHandlerPool::Instance();
        auto thread = std::this_thread::get_id();
        TProbe probe;
        probe.WindowHandle();
        EXPECT_EQ(probe.MsgData, 1026u); // after the release message, 1025
        EXPECT_EQ(probe.Handler()->MsgLow(), 1025u);

        std::vector<std::unique_ptr<TKvWndControl>> plain;
        for (int i = 0; i < 98; ++i) {
            plain.push_back(std::make_unique<TKvWndControl>());
            plain.back()->WindowHandle();
        }
        EXPECT_EQ(probe.Handler()->UsedCount(), 100);
        EXPECT_EQ(pool.HandlerCount(thread), 1u);

        // The 101st number: a second handler with its own window and the same numbers.
        TProbe second;
        second.WindowHandle();
        EXPECT_NE(second.Handler(), probe.Handler());
        EXPECT_NE(second.WindowHandle(), probe.WindowHandle());
        EXPECT_EQ(second.MsgData, 1026u);
        EXPECT_EQ(pool.HandlerCount(thread), 2u);

        // A freed slot is reused by the first handler again.
        plain.pop_back();
        TKvWndControl again;
        again.WindowHandle();
        EXPECT_EQ(again.Handler(), probe.Handler());

        second.ReleaseWindow();
        EXPECT_FALSE(second.HasWindow());
        EXPECT_EQ(pool.HandlerCount(thread), 1u);
    });
}

TEST(KvWndControl, LastNumberGivenBackEndsWindowAndHandlerList)
{
    OnFreshThread([] {
        auto thread = std::this_thread::get_id();
        {
            TProbe probe;
            std::weak_ptr<platform::TMessageWindow> window = probe.WindowRef();
            EXPECT_EQ(TKvWndHandlerPool::Instance().HandlerCount(thread), 1u);
            probe.ReleaseWindow();
            EXPECT_TRUE(window.expired());
            probe.WindowHandle(); // a component can take a window again
        }
        EXPECT_EQ(TKvWndHandlerPool::Instance().HandlerCount(thread), 0u);
    });
}

TEST(KvWndControl, MoreThanOneHundredNumbersPerClassIsRefused)
{
    TTooMany component;
    EXPECT_EQ(ErrorOf([&] { component.WindowHandle(); }), "KV message IDs out of bounds!");
    EXPECT_FALSE(component.HasWindow());
}

TEST(KvWndHandler, RefusesBadNumbersWithItsTexts)
{
    TKvWndControl owner;
    TKvWndHandler handler(nullptr);
    std::uint32_t taken = handler.AllocateMessage(&owner);
    ASSERT_EQ(taken, 1025u);

    struct TCase {
        std::uint32_t Msg;
        const char* Error;
    } cases[] = {
        { 0, "" },
        { 1024, "Msg value out of bound" },
        { 1125, "Msg value out of bound" },
        { 1026, "Msg not registered" },
    };
    for (const TCase& c : cases) {
        std::uint32_t msg = c.Msg;
        EXPECT_EQ(ErrorOf([&] { handler.FreeMessage(msg); }), c.Error) << c.Msg;
    }
    handler.FreeMessage(taken);
    EXPECT_EQ(taken, 0u);
    EXPECT_EQ(handler.Window(), nullptr);

    for (int i = 0; i < TKvWndHandler::BlockSize; ++i)
        handler.AllocateMessage(&owner);
    EXPECT_EQ(ErrorOf([&] { handler.AllocateMessage(&owner); }), "No more free message");

    TKvWndHandler undefined(nullptr, 1000);
    std::uint32_t msg = 1000;
    EXPECT_EQ(ErrorOf([&] { undefined.AllocateMessage(&owner); }), "MsgLow not defined");
    EXPECT_EQ(ErrorOf([&] { undefined.FreeMessage(msg); }), "MsgLow not defined");
}

TEST(KvWndControl, MessagePostedJustBeforeItsNumberIsFreedIsNeverDelivered)
{
    TProbe probe;
    probe.WindowHandle();
    std::uint32_t number = probe.MsgData;
    ASSERT_TRUE(probe.PostMessage(number, 1));
    ASSERT_TRUE(probe.PostMessage(number, 2));
    probe.FreeData();
    EXPECT_EQ(probe.MsgData, 0u);
    // The same number taken again must not see the old messages.
    probe.TakeData();
    ASSERT_EQ(probe.MsgData, number);
    probe.ProcessAllMessages();
    EXPECT_TRUE(probe.Got.empty());
}

TEST(KvWndControl, ReleaseInsideAHandlerDestroysOnlyAfterItReturned)
{
    bool destroyed = false;
    bool destroyedInHandler = true;
    auto owned = std::make_unique<TProbe>();
    TProbe* probe = owned.get();
    probe->DestroyedFlag = &destroyed;
    probe->OnData = [&](const platform::TMessage&) {
        TKvWndControl::Release(std::move(owned));
        destroyedInHandler = destroyed;
    };
    probe->PostData();
    // Pumping through the component itself: the pump must stop touching it once it is gone.
    probe->ProcessAllMessages();
    EXPECT_FALSE(destroyedInHandler);
    EXPECT_TRUE(destroyed);
}

TEST(KvWndControl, BackgroundExceptionPolicy)
{
    enum class EHandler { None, KeepsComponent, LeavesCanClose, Throws };
    struct TCase {
        EHandler Handler;
        int Aborts;
        bool Shown;
    } cases[] = {
        { EHandler::None, 1, true },
        { EHandler::KeepsComponent, 0, false },
        { EHandler::LeavesCanClose, 1, false },
        { EHandler::Throws, 1, false },
    };
    for (const TCase& c : cases) {
        nettest::TAppExceptions app;
        TProbe probe;
        std::vector<std::string> log;
        int hooks = 0;
        probe.KvLogger = [&](const std::string& line) { log.push_back(line); };
        probe.AbortHook = [&] { ++hooks; };
        probe.OnData = [](const platform::TMessage&) { throw std::runtime_error("boom"); };
        if (c.Handler != EHandler::None)
            probe.SetOnBgException([&](TKvWndControl&, const std::exception& e, bool& canClose) {
                EXPECT_STREQ(e.what(), "boom");
                if (c.Handler == EHandler::KeepsComponent)
                    canClose = false;
                if (c.Handler == EHandler::Throws)
                    throw std::logic_error("handler failed");
            });
        probe.PostData();
        probe.ProcessAllMessages();
        int handler = static_cast<int>(c.Handler);
        EXPECT_EQ(probe.Aborts, c.Aborts) << handler;
        EXPECT_EQ(hooks, c.Aborts) << handler;
        EXPECT_EQ(app.Shown, c.Shown ? std::vector<std::string> { "boom" } : std::vector<std::string> {}) << handler;
        EXPECT_EQ(log, std::vector<std::string> { "Handle Background Exception, source: TProbe.WndProc - boom" });
        EXPECT_TRUE(probe.HasWindow()) << handler;
    }
}

TEST(KvWndControl, FailingAbortHookStillAborts)
{
    nettest::TAppExceptions app;
    TProbe probe;
    probe.AbortHook = [] { throw std::runtime_error("hook failed"); };
    probe.HandleBgException(std::runtime_error("boom"), "test");
    EXPECT_EQ(probe.Aborts, 1);
    EXPECT_EQ(app.Shown, std::vector<std::string> { "boom" });
}

TEST(KvWndControl, PostFromAnotherThreadWakesTheMessageLoop)
{
    TProbe probe;
    probe.OnData = [&](const platform::TMessage&) { probe.SetTerminated(true); };
    // Bounds the wait should the wake-up be lost.
    bool timedOut = false;
    TKvTimer guard(&probe);
    guard.SetInterval(10000);
    guard.SetOnTimer([&](TKvTimer&) {
        timedOut = true;
        probe.SetTerminated(true);
    });

    std::weak_ptr<platform::TMessageWindow> window = probe.WindowRef();
    std::uint32_t msg = probe.MsgData;
    platform::TEventLoop& loop = platform::TEventLoop::Current();
    std::thread poster([&loop, window, msg] {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!loop.Waiting() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        if (auto w = window.lock())
            w->Post(msg, 7);
    });
    probe.RunMessageLoop();
    poster.join();
    EXPECT_FALSE(timedOut);
    ASSERT_EQ(probe.Got.size(), 1u);
    EXPECT_EQ(probe.Got[0].WParam, 7u);
    EXPECT_TRUE(probe.Terminated());
}

TEST(KvWndControl, QuitMessageEndsTheLoopAndIsNotDispatched)
{
    TProbe probe;
    probe.PostData(1);
    platform::TEventLoop::Current().PostQuitMessage();
    probe.PostData(2);
    probe.RunMessageLoop();
    EXPECT_TRUE(probe.Terminated());
    ASSERT_EQ(probe.Got.size(), 1u);

    probe.SetTerminated(false);
    platform::TEventLoop::Current().PostQuitMessage();
    EXPECT_TRUE(probe.ProcessOneMessage()); // the earlier message 2
    EXPECT_FALSE(probe.Terminated());
    EXPECT_TRUE(probe.ProcessOneMessage());
    EXPECT_TRUE(probe.Terminated());
    EXPECT_FALSE(probe.ProcessOneMessage());
}

TEST(KvWndControl, PumpMessagesUsesTheHookOrTheThreadsQueue)
{
    TProbe probe;
    int hookCalls = 0;
    probe.SetMessagePumpHook([&](TKvWndControl&) { ++hookCalls; });
    probe.PostData();
    probe.PumpMessages();
    EXPECT_EQ(hookCalls, 1);
    EXPECT_TRUE(probe.Got.empty());
    probe.SetMessagePumpHook(nullptr);
    for (bool multiThreaded : { false, true }) {
        probe.SetMultiThreaded(multiThreaded);
        probe.PostData();
        probe.PumpMessages();
    }
    EXPECT_EQ(probe.Got.size(), 3u);
}

TEST(KvWndControl, DetachAndAttachMoveTheComponentBetweenThreads)
{
    TProbe probe;
    EXPECT_EQ(ErrorOf([&] { probe.DetachThread(); }), "Cannot detach from another thread");
    probe.WindowHandle();
    EXPECT_EQ(ErrorOf([&] { probe.AttachThread(); }), "Cannot attach when not detached");
    std::string fromOther;
    OnFreshThread([&] { fromOther = ErrorOf([&] { probe.DetachThread(); }); });
    EXPECT_EQ(fromOther, "Cannot detach from another thread");

    probe.DetachThread();
    EXPECT_FALSE(probe.HasWindow());
    OnFreshThread([&] {
        probe.AttachThread();
        EXPECT_EQ(probe.OwnerThread(), std::this_thread::get_id());
        EXPECT_EQ(probe.WindowHandle()->ThreadId(), std::this_thread::get_id());
        probe.DetachThread();
    });
    probe.AttachThread();
    EXPECT_EQ(probe.OwnerThread(), std::this_thread::get_id());
}
