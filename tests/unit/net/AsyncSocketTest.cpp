#include "net/TimeoutAsyncSocket.h"

#include "SocketTestKit.h"
#include "platform/Sockets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

using namespace net;
using nettest::RunFor;
using nettest::RunUntil;
using nettest::TTestServer;

namespace {

const char* StateName(TSocketState state)
{
    switch (state) {
    case wsOpened: return "opened";
    case wsConnecting: return "connecting";
    case wsConnected: return "connected";
    case wsClosed: return "closed";
    case wsDnsLookup: return "dnslookup";
    default: return "other";
    }
}

// A socket whose events are written to one log, in order.
struct TRecorder {
    TAsyncSocket Socket;
    std::vector<std::string> Log;
    std::string Data;
    int Closed = 0;
    int Sent = 0;
    bool Connected = false;

    TRecorder()
    {
        Socket.OnChangeState = [this](TCustomAsyncSocket&, TSocketState from, TSocketState to) {
            Log.push_back(std::string("state ") + StateName(from) + "->" + StateName(to));
        };
        Socket.OnSessionConnected = [this](TCustomAsyncSocket&, std::uint16_t err) {
            Log.push_back("connected " + std::to_string(err));
            Connected = err == 0;
        };
        Socket.OnSessionClosed = [this](TCustomAsyncSocket&, std::uint16_t err) {
            Log.push_back("closed " + std::to_string(err));
            ++Closed;
        };
        Socket.OnDataSent = [this](TCustomAsyncSocket&, std::uint16_t) { ++Sent; };
        Socket.OnDataAvailable = [this](TCustomAsyncSocket& s, std::uint16_t) {
            char buffer[4096];
            const int n = s.Receive(buffer, sizeof buffer);
            if (n > 0)
                Data.append(buffer, static_cast<std::size_t>(n));
        };
    }

    void Connect(const std::string& port, const std::string& addr = "127.0.0.1")
    {
        Socket.SetAddr(addr);
        Socket.SetPort(port);
        Socket.Connect();
    }

    bool ConnectAndWait(TTestServer& server)
    {
        server.Start();
        Connect(server.Port());
        return RunUntil([&] { return Connected; });
    }
};

// The call must raise ESocketException with this text.
ESocketException Raised(const std::function<void()>& call, const std::string& text)
{
    try {
        call();
    } catch (const ESocketException& e) {
        EXPECT_EQ(e.what(), text);
        return e;
    }
    ADD_FAILURE() << "no exception, expected: " << text;
    return ESocketException("");
}

} // namespace

TEST(SocketErrorTexts, DescriptionsAndNumbers)
{
    EXPECT_EQ(WSocketErrorText(10061), "Connection refused (#10061)");
    EXPECT_EQ(WSocketErrorText(10060), "Connection timed out (#10060)");
    EXPECT_EQ(WSocketErrorText(11001), "Host not found (#11001)");
    EXPECT_EQ(WSocketErrorText(0), "No Error (#0)");
    EXPECT_EQ(WSocketErrorDesc(10058), "Can't send after socket shutdown");
    EXPECT_EQ(WSocketErrorDesc(12345), "Not a Winsocket error");
    EXPECT_EQ(WSocketGeneralErrorText(10054), "Winsock - Connection reset by peer");
    EXPECT_EQ(WSocketGeneralErrorText(20001), "SOCKS - Not a Winsocket error");
}

TEST(AsyncSocket, RefusedConnectionReportsConnectedWithErrorThenClosed)
{
    TRecorder r;
    r.Connect(nettest::ClosedPort());
    EXPECT_EQ(r.Log, (std::vector<std::string> {"state closed->opened", "state opened->connecting"}));
    ASSERT_TRUE(RunUntil([&] { return r.Closed > 0; }));
    RunFor(50);
    const std::vector<std::string> expected {
        "state closed->opened", "state opened->connecting", "state connecting->connected",
        "connected 10061",      "state connected->closed", "closed 0",
    };
    EXPECT_EQ(r.Log, expected);
    EXPECT_EQ(r.Socket.State(), wsClosed);
}

TEST(AsyncSocket, SendBeforeConnectingFailsWithNotConnected)
{
    TAsyncSocket socket;
    const ESocketException e = Raised([&] { socket.SendText("x"); }, "Socket is not connected (#10057 in Send)");
    EXPECT_EQ(e.ErrorCode, 10057);
    EXPECT_EQ(e.SocketFunction, "Send");
    EXPECT_EQ(socket.State(), wsClosed);

    // With OnError the call reports through LastError instead.
    int errors = 0;
    socket.OnError = [&](TCustomAsyncSocket&) { ++errors; };
    EXPECT_EQ(socket.SendText("x"), -1);
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(socket.LastError(), 10057);

    socket.OnError = nullptr;
    socket.SetSocketErrs(wsErrFriendly);
    Raised([&] { socket.SendText("x"); }, "Socket is not connected in Send");
}

TEST(AsyncSocket, SendOfNothingStillPostsDataSent)
{
    TTestServer server;
    server.WaitSignal(1);
    TRecorder r;
    ASSERT_TRUE(r.ConnectAndWait(server));
    RunFor(20);
    const int before = r.Sent;
    EXPECT_EQ(r.Socket.Send(nullptr, 0), 0);
    EXPECT_EQ(r.Sent, before) << "raised inside Send";
    ASSERT_TRUE(RunUntil([&] { return r.Sent == before + 1; }));
    // Data sent is reported from the loop as well, once the chain is empty.
    EXPECT_EQ(r.Socket.SendText("hello"), 5);
    EXPECT_EQ(r.Sent, before + 1);
    ASSERT_TRUE(RunUntil([&] { return r.Sent == before + 2; }));
    RunFor(30);
    EXPECT_EQ(r.Sent, before + 2);
    server.Signal(1);
}

TEST(AsyncSocket, EveryByteArrivesBeforeTheServersClose)
{
    std::string payload;
    for (int i = 0; i < 300000; ++i)
        payload.push_back(static_cast<char>('a' + i % 26));
    TTestServer server;
    server.Send(payload).Close();
    TRecorder r;
    ASSERT_TRUE(r.ConnectAndWait(server));
    std::size_t atClose = 0;
    r.Socket.OnSessionClosed = [&](TCustomAsyncSocket&, std::uint16_t err) {
        atClose = r.Data.size();
        EXPECT_EQ(err, 0);
        ++r.Closed;
    };
    ASSERT_TRUE(RunUntil([&] { return r.Closed > 0; }));
    EXPECT_EQ(atClose, payload.size());
    EXPECT_TRUE(r.Data == payload);
    RunFor(30);
    EXPECT_EQ(r.Closed, 1);
}

TEST(AsyncSocket, NoHandlerDiscardsData)
{
    TTestServer server;
    server.Send(std::string(5000, 'x')).Close();
    TRecorder r;
    r.Socket.OnDataAvailable = nullptr;
    ASSERT_TRUE(r.ConnectAndWait(server));
    ASSERT_TRUE(RunUntil([&] { return r.Closed > 0; }));
    EXPECT_EQ(r.Closed, 1);
}

// OnSessionClosed comes exactly once, whatever ends the connection first.
TEST(AsyncSocket, SessionClosedExactlyOnce)
{
    struct TCase {
        const char* Name;
        std::function<void(TTestServer&)> Script;
        std::function<void(TRecorder&, TTestServer&)> Act;
        int Code;
    };
    const std::vector<TCase> cases = {
        {"server closes", [](TTestServer& s) { s.Send("bye").Close(); }, [](TRecorder&, TTestServer&) {}, 0},
        {"server resets", [](TTestServer& s) { s.WaitSignal(1).Reset(); },
         [](TRecorder&, TTestServer& s) { s.Signal(1); }, 10054},
        {"Close", [](TTestServer& s) { s.WaitSignal(1); }, [](TRecorder& r, TTestServer&) { r.Socket.Close(); }, 0},
        {"Abort", [](TTestServer& s) { s.WaitSignal(1); }, [](TRecorder& r, TTestServer&) { r.Socket.Abort(); }, 0},
        {"Close inside OnSessionClosed", [](TTestServer& s) { s.Close(); },
         [](TRecorder& r, TTestServer&) {
             r.Socket.OnSessionClosed = [&r](TCustomAsyncSocket& s, std::uint16_t err) {
                 r.Log.push_back("closed " + std::to_string(err));
                 ++r.Closed;
                 s.Close();
             };
         },
         0},
        {"Close inside the last OnDataAvailable", [](TTestServer& s) { s.Send("last").Close(); },
         [](TRecorder& r, TTestServer&) {
             r.Socket.OnDataAvailable = [](TCustomAsyncSocket& s, std::uint16_t) {
                 s.ReceiveText();
                 s.Close();
             };
         },
         0},
    };
    const bool resetsReported = nettest::ResetsAreReported();
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        if (c.Code == 10054 && !resetsReported)
            continue;
        TTestServer server;
        c.Script(server);
        TRecorder r;
        ASSERT_TRUE(r.ConnectAndWait(server));
        c.Act(r, server);
        ASSERT_TRUE(RunUntil([&] { return r.Closed > 0; }));
        RunFor(50);
        server.Signal(1);
        EXPECT_EQ(r.Closed, 1);
        const auto closed = std::find_if(r.Log.begin(), r.Log.end(), [](const std::string& e) { return e.starts_with("closed"); });
        ASSERT_NE(closed, r.Log.end());
        EXPECT_EQ(*closed, "closed " + std::to_string(c.Code));
        EXPECT_EQ(r.Socket.State(), wsClosed);
    }
}

TEST(AsyncSocket, SendErrorClosesOnce)
{
    TTestServer server;
    server.WaitSignal(1).Reset();
    TRecorder r;
    ASSERT_TRUE(r.ConnectAndWait(server));
    server.Signal(1);
    ASSERT_TRUE(RunUntil([&] { return server.Done(); }));
    // Keep sending until the reset is noticed, by the send or by the close notification.
    const std::string chunk(65536, 'z');
    for (int i = 0; i < 200 && r.Closed == 0; ++i) {
        if (r.Socket.State() == wsConnected)
            r.Socket.SendText(chunk);
        RunFor(5);
    }
    RunFor(50);
    EXPECT_EQ(r.Closed, 1);
    EXPECT_EQ(r.Socket.State(), wsClosed);
}

TEST(AsyncSocket, LargeSendArrivesWholeAndReusesItsBuffers)
{
    constexpr int chunk = 14600;
    constexpr int rounds = 50;
    TTestServer server;
    server.Read(static_cast<std::size_t>(chunk) * rounds);
    TRecorder r;
    ASSERT_TRUE(r.ConnectAndWait(server));
    int created = 0;
    std::string expected;
    for (int i = 0; i < rounds; ++i) {
        const std::string data(chunk, static_cast<char>('A' + i % 26));
        expected += data;
        const int sent = r.Sent;
        ASSERT_EQ(r.Socket.SendText(data), chunk);
        ASSERT_TRUE(RunUntil([&] { return r.Sent > sent; }));
        if (i == 0)
            created = r.Socket.SendBuffersCreated();
    }
    EXPECT_EQ(r.Socket.SendBuffersCreated(), created) << "steady sending made new buffers";
    ASSERT_TRUE(RunUntil([&] { return server.Done(); }));
    EXPECT_TRUE(server.Received() == expected);
    EXPECT_EQ(r.Socket.PendingSendBytes(), 0);
    EXPECT_EQ(r.Socket.BytesSent(), static_cast<std::int64_t>(expected.size()));
}

TEST(AsyncSocket, DnsLookupOfLiteralCompletesInsideTheCall)
{
    TAsyncSocket socket;
    std::vector<std::uint16_t> done;
    socket.OnDnsLookupDone = [&](TCustomAsyncSocket&, std::uint16_t err) { done.push_back(err); };

    socket.DnsLookup(" 127.0.0.1 ");
    EXPECT_EQ(done, std::vector<std::uint16_t> {0});
    EXPECT_EQ(socket.LookupResult(), "127.0.0.1");
    EXPECT_EQ(socket.LookupResultList(), std::vector<std::string> {"127.0.0.1"});

    // Three parts are no literal: the system answers, from the loop.
    done.clear();
    socket.DnsLookup("127.0.1");
    EXPECT_TRUE(done.empty());
    ASSERT_TRUE(RunUntil([&] { return !done.empty(); }));
    EXPECT_EQ(done, std::vector<std::uint16_t> {0});
    EXPECT_EQ(socket.LookupResult(), "127.0.0.1");

    done.clear();
    socket.DnsLookup("localhost");
    EXPECT_TRUE(done.empty());
    ASSERT_TRUE(RunUntil([&] { return !done.empty(); }));
    EXPECT_EQ(done, std::vector<std::uint16_t> {0});
    EXPECT_EQ(socket.LookupResult(), "127.0.0.1");

    done.clear();
    socket.SetSocketFamily(sfIPv6);
    socket.DnsLookup("::1");
    EXPECT_EQ(done, std::vector<std::uint16_t> {0});
    EXPECT_EQ(socket.LookupResult(), "::1");
}

TEST(AsyncSocket, DnsLookupRefusesAnEmptyNameAndCanBeCancelled)
{
    TAsyncSocket socket;
    std::vector<std::uint16_t> done;
    socket.OnDnsLookupDone = [&](TCustomAsyncSocket&, std::uint16_t err) { done.push_back(err); };
    Raised([&] { socket.DnsLookup("  "); }, "DNS lookup: invalid host name.");
    socket.OnError = [](TCustomAsyncSocket&) {};
    socket.DnsLookup("");
    EXPECT_EQ(done, std::vector<std::uint16_t> {10022});

    done.clear();
    socket.DnsLookup("localhost");
    socket.CancelDnsLookup();
    EXPECT_EQ(done, std::vector<std::uint16_t> {10004});
    RunFor(200);
    EXPECT_EQ(done, std::vector<std::uint16_t> {10004}) << "a cancelled lookup completed";
}

TEST(AsyncSocket, ConnectByNameWithAsyncLookup)
{
    TTestServer server;
    server.Send("hi").WaitSignal(1);
    TRecorder r;
    r.Socket.ComponentOptions.Include(wsoAsyncDnsLookup);
    server.Start();
    r.Connect(server.Port(), "localhost");
    EXPECT_EQ(r.Socket.State(), wsDnsLookup);
    ASSERT_TRUE(RunUntil([&] { return r.Data == "hi"; }));
    EXPECT_EQ(r.Socket.GetPeerAddr(), "127.0.0.1");
    EXPECT_EQ(r.Socket.GetPeerPort(), server.Port());
    server.Signal(1);
}

TEST(AsyncSocket, PortRules)
{
    TTestServer server;
    server.WaitSignal(1);
    TRecorder r;
    ASSERT_TRUE(r.ConnectAndWait(server));
    r.Socket.SetPort(server.Port()); // the same value: accepted
    Raised([&] { r.Socket.SetPort("25"); }, "Cannot change Port if not closed");
    Raised([&] { r.Socket.SetAddr("127.0.0.2"); }, "Cannot change Addr if not closed");
    r.Socket.Close();
    EXPECT_EQ(r.Socket.State(), wsClosed);
    r.Socket.SetAddr("127.0.0.1");
    Raised([&] { r.Socket.Connect(); }, "Connect: No Port Specified");
    server.Signal(1);

    TAsyncSocket fresh;
    fresh.SetPort("25");
    Raised([&] { fresh.Connect(); }, "Connect: No IP Address Specified");
    fresh.SetAddr("127.0.0.1");
    fresh.SetPort("no-such-service");
    Raised([&] { fresh.Connect(); },
           "connect: Winsock Resolve Port: Cannot convert port 'no-such-service' - Service not found (#10108)");
}

TEST(AsyncSocket, NoDescriptorIsLeftOpen)
{
    TAsyncSocket warmUp; // the loop's own descriptors exist from here on
    const int before = platform::OpenDescriptorCount();
    {
        TRecorder refused;
        refused.Connect(nettest::ClosedPort());
        ASSERT_TRUE(RunUntil([&] { return refused.Closed > 0; }));
    }
    for (int kind = 0; kind < 3; ++kind) {
        TTestServer server;
        server.Send("x").WaitSignal(1);
        auto r = std::make_unique<TRecorder>();
        ASSERT_TRUE(r->ConnectAndWait(server));
        if (kind == 0)
            r->Socket.Close();
        else if (kind == 1)
            r->Socket.Abort();
        r.reset(); // kind 2: destroyed while connected
        server.Signal(1);
    }
    {
        TRecorder served;
        TTestServer server;
        server.Close();
        ASSERT_TRUE(served.ConnectAndWait(server));
        ASSERT_TRUE(RunUntil([&] { return served.Closed > 0; }));
    }
    {
        TAsyncSocket lookup; // destroyed with its lookup still running
        lookup.DnsLookup("localhost");
    }
    RunFor(100);
    EXPECT_EQ(platform::OpenDescriptorCount(), before);
}

// A handler of OnSendData may send more: the chain is not locked while the
// event runs.
TEST(AsyncSocket, SendFromInsideOnSendData)
{
    TTestServer server;
    server.Read(11);
    TRecorder r;
    ASSERT_TRUE(r.ConnectAndWait(server));
    int events = 0;
    r.Socket.OnSendData = [&](TCustomAsyncSocket& s, int) {
        if (++events == 1)
            s.SendText(" world");
    };
    r.Socket.SendText("hello");
    ASSERT_TRUE(RunUntil([&] { return server.Done(); }));
    EXPECT_EQ(server.Received(), "hello world");
    EXPECT_GE(events, 2);
}

// A socket object used again at once must not take a notice posted for its
// previous connection (a write-ready notice after Send) as the new
// connection's connect: the new one stays connecting while the server has
// not taken it.
TEST(AsyncSocket, NoticesOfAnEarlierConnectionDoNotReachTheNext)
{
    // A listener whose queue is full: further connects stay in progress.
    std::uint16_t stuckPort = 0;
    const platform::TSocketHandle stuck = OpenLoopbackListener(0, stuckPort);
    const platform::TSocketHandle filler = ConnectLoopback(stuckPort);
    ASSERT_NE(filler, platform::InvalidSocket);

    TRecorder r;
    // Two rounds, the second one connection later: pairs of consecutive
    // connections of either parity.
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        TTestServer server;
        server.WaitSignal(1);
        r.Connected = false;
        ASSERT_TRUE(r.ConnectAndWait(server));
        if (round == 1) {
            r.Socket.Close();
            r.Connected = false;
            r.Connect(server.Port());
            ASSERT_TRUE(RunUntil([&] { return r.Connected; }));
        }
        r.Socket.SendText("x"); // posts its write-ready notice
        r.Socket.Close();
        r.Connected = false;
        r.Log.clear();
        r.Connect(std::to_string(stuckPort));
        RunFor(300);
        EXPECT_EQ(r.Socket.State(), wsConnecting);
        EXPECT_FALSE(r.Connected);
        r.Socket.Abort();
        server.Signal(1);
    }
    platform::SocketClose(filler);
    platform::SocketClose(stuck);
}
