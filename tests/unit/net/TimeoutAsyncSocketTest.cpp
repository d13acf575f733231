#include "net/TimeoutAsyncSocket.h"

#include "SocketTestKit.h"
#include "platform/Clock.h"

#include <gtest/gtest.h>


using namespace net;
using nettest::RunFor;
using nettest::RunUntil;
using nettest::TTestServer;

namespace {

struct TExpiry {
    TTimeoutReason Reason;
    std::uint32_t Tick;
};

// A socket with short limits and checks every 100 ms.
struct TWatched {
    TAsyncSocket Socket;
    std::vector<TExpiry> Expired;
    bool Connected = false;
    int ConnectErrors = 0;
    std::uint32_t LastData = 0;

    TWatched()
    {
        Socket.TimeoutCheckInterval = 100;
        // A kept clock would serve the timers of later tests in this process.
        Socket.KeepTimerThreadAlive = false;
        Socket.SetLineMode(true);
        Socket.OnTimeoutExpired = [this](TCustomAsyncSocket&, TTimeoutReason reason) {
            Expired.push_back({reason, platform::TickCount()});
        };
        Socket.OnSessionConnected = [this](TCustomAsyncSocket&, std::uint16_t err) {
            Connected = err == 0;
            ConnectErrors += err != 0;
        };
        Socket.OnDataAvailable = [this](TCustomAsyncSocket& s, std::uint16_t) {
            s.ReceiveText();
            LastData = platform::TickCount();
        };
    }

    void Connect(const std::string& port)
    {
        Socket.SetAddr("127.0.0.1");
        Socket.SetPort(port);
        Socket.Connect();
    }
};

} // namespace

TEST(TimeoutSocket, WithoutLimitsNoTimerIsMade)
{
    TTestServer server;
    server.Send("x\r\n").Close();
    server.Start();
    TWatched w;
    w.Connect(server.Port());
    ASSERT_TRUE(RunUntil([&] { return w.Socket.State() == wsClosed; }));
    EXPECT_EQ(w.Socket.TimeoutTimer(), nullptr);
    EXPECT_TRUE(w.Expired.empty());
}

TEST(TimeoutSocket, IdleLimitFiresOnceAfterTheLastTraffic)
{
    TTestServer server;
    for (int i = 0; i < 5; ++i)
        server.Send("tick\r\n").Pause(100);
    server.WaitSignal(1);
    server.Start();
    TWatched w;
    w.Socket.IdleTimeout = 300;
    w.Connect(server.Port());
    ASSERT_TRUE(RunUntil([&] { return !w.Expired.empty(); }));
    RunFor(500);
    ASSERT_EQ(w.Expired.size(), 1u);
    EXPECT_EQ(w.Expired[0].Reason, tcIdle);
    // Traffic moved the deadline: nothing fired while the lines came.
    EXPECT_GT(TickDiff(w.LastData, w.Expired[0].Tick), 300u);
    server.Signal(1);
}

TEST(TimeoutSocket, ConnectLimitFiresOnceForAConnectThatHangs)
{
    // A listener with a full backlog leaves further connects unanswered.
    TTestServer server(0);
    const platform::TSocketHandle filler = ConnectLoopback(static_cast<std::uint16_t>(std::stoi(server.Port())));
    ASSERT_NE(filler, platform::InvalidSocket);
    TWatched w;
    w.Socket.ConnectTimeout = 300;
    w.Socket.OnTimeoutExpired = [&](TCustomAsyncSocket& s, TTimeoutReason reason) {
        w.Expired.push_back({reason, platform::TickCount()});
        s.Abort();
    };
    w.Connect(server.Port());
    ASSERT_TRUE(RunUntil([&] { return !w.Expired.empty(); }));
    RunFor(400);
    platform::SocketClose(filler);
    if (w.Connected)
        GTEST_SKIP() << "the system answered the connect despite the full backlog";
    ASSERT_EQ(w.Expired.size(), 1u);
    EXPECT_EQ(w.Expired[0].Reason, tcConnect);
    EXPECT_EQ(w.Socket.State(), wsClosed);
}

TEST(TimeoutSocket, FailedConnectStopsTheWatch)
{
    TWatched w;
    w.Socket.ConnectTimeout = 200;
    w.Socket.IdleTimeout = 200;
    w.Connect(nettest::ClosedPort());
    ASSERT_TRUE(RunUntil([&] { return w.ConnectErrors > 0; }));
    RunFor(500);
    EXPECT_TRUE(w.Expired.empty());
    ASSERT_NE(w.Socket.TimeoutTimer(), nullptr);
    EXPECT_FALSE(w.Socket.TimeoutTimer()->Enabled());
}
