#include "net/TimeoutAsyncSocket.h"

#include "SocketTestKit.h"

#include <gtest/gtest.h>

using namespace net;
using nettest::RunFor;
using nettest::RunUntil;
using nettest::TTestServer;

namespace {

using TLines = std::vector<std::string>;

// A line-mode socket connected to a scripted server; each OnDataAvailable
// reads with ReceiveText unless the test puts its own handler in.
class LineModeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Socket.SetLineMode(true);
        Socket.OnDataAvailable = [this](TCustomAsyncSocket& s, std::uint16_t) { Lines.push_back(s.ReceiveText()); };
        Socket.OnSessionConnected = [this](TCustomAsyncSocket&, std::uint16_t err) { Connected = err == 0; };
        Socket.OnSessionClosed = [this](TCustomAsyncSocket&, std::uint16_t) {
            ClosedAfter = Lines.size();
            ++Closed;
        };
    }

    void Open()
    {
        Server.Start();
        Socket.SetAddr("127.0.0.1");
        Socket.SetPort(Server.Port());
        Socket.Connect();
        ASSERT_TRUE(RunUntil([&] { return Connected; }));
    }

    bool WaitLines(std::size_t count)
    {
        return RunUntil([&] { return Lines.size() >= count; });
    }

    TTestServer Server;
    TAsyncSocket Socket;
    TLines Lines;
    bool Connected = false;
    int Closed = 0;
    std::size_t ClosedAfter = 0;
};

} // namespace

TEST_F(LineModeTest, LineEndSplitBetweenReads)
{
    Server.Send("250 first\r").WaitSignal(1).Send("\n250 second\r\n").WaitSignal(2);
    Open();
    ASSERT_TRUE(RunUntil([&] { return Socket.BufferedCount() == 10; }));
    EXPECT_TRUE(Lines.empty());
    Server.Signal(1);
    ASSERT_TRUE(WaitLines(2));
    EXPECT_EQ(Lines, (TLines {"250 first\r\n", "250 second\r\n"}));
    Server.Signal(2);
}

TEST_F(LineModeTest, TwoLinesInOneReadGiveTwoEvents)
{
    std::vector<int> offered;
    Socket.OnDataAvailable = [&](TCustomAsyncSocket& s, std::uint16_t) {
        offered.push_back(s.ReceivedCount());
        Lines.push_back(s.ReceiveText());
    };
    Server.Send("a\r\nbb\r\n").WaitSignal(1);
    Open();
    ASSERT_TRUE(WaitLines(2));
    EXPECT_EQ(Lines, (TLines {"a\r\n", "bb\r\n"}));
    EXPECT_EQ(offered, (std::vector<int> {3, 4}));
    Server.Signal(1);
}

TEST_F(LineModeTest, PartialReadsFinishTheLineBeforeTheNext)
{
    TLines chunks;
    Socket.OnDataAvailable = [&](TCustomAsyncSocket& s, std::uint16_t) {
        char buffer[3];
        const int n = s.Receive(buffer, sizeof buffer);
        chunks.emplace_back(buffer, static_cast<std::size_t>(std::max(n, 0)));
    };
    Server.Send("hello\r\nnext\r\n").WaitSignal(1);
    Open();
    ASSERT_TRUE(RunUntil([&] { return chunks.size() >= 5; }));
    RunFor(20);
    EXPECT_EQ(chunks, (TLines {"hel", "lo\r", "\n", "nex", "t\r\n"}));
    Server.Signal(1);
}

TEST_F(LineModeTest, LinesWithoutHandlerAreDropped)
{
    Socket.OnDataAvailable = nullptr;
    std::string many;
    for (int i = 0; i < 2000; ++i)
        many += "line " + std::to_string(i) + "\r\n";
    Server.Send(many + "partial").WaitSignal(1).Send(" end\r\n").WaitSignal(2);
    Open();
    ASSERT_TRUE(RunUntil([&] { return Socket.BufferedCount() == 7; }));
    Socket.OnDataAvailable = [this](TCustomAsyncSocket& s, std::uint16_t) { Lines.push_back(s.ReceiveText()); };
    Server.Signal(1);
    ASSERT_TRUE(WaitLines(1));
    EXPECT_EQ(Lines, (TLines {"partial end\r\n"}));
    Server.Signal(2);
}

TEST_F(LineModeTest, LineLimitClearsTheBuffer)
{
    struct TCase {
        bool Clear;
    };
    for (const TCase c : {TCase {true}, TCase {false}}) {
        SCOPED_TRACE(c.Clear);
        TTestServer server;
        TAsyncSocket socket;
        socket.SetLineMode(true);
        TLines lines;
        std::vector<int> exceeded;
        bool connected = false;
        socket.OnSessionConnected = [&](TCustomAsyncSocket&, std::uint16_t err) { connected = err == 0; };
        socket.OnDataAvailable = [&](TCustomAsyncSocket& s, std::uint16_t) { lines.push_back(s.ReceiveText()); };
        socket.OnLineLimitExceeded = [&](TCustomAsyncSocket&, int length, bool& clearData) {
            exceeded.push_back(length);
            clearData = c.Clear;
        };
        server.Send(std::string(70000, 'a')).WaitSignal(1).Send("\r\n").WaitSignal(2);
        server.Start();
        socket.SetAddr("127.0.0.1");
        socket.SetPort(server.Port());
        socket.Connect();
        ASSERT_TRUE(RunUntil([&] { return connected && !exceeded.empty(); }));
        EXPECT_GT(exceeded.front(), 65536);
        server.Signal(1);
        ASSERT_TRUE(RunUntil([&] { return !lines.empty(); }));
        server.Signal(2);
        if (c.Clear) {
            ASSERT_EQ(exceeded.size(), 1u);
            // The bytes after the cut arrive as the rest of the line.
            EXPECT_EQ(static_cast<int>(lines.front().size()) - 2 + exceeded.front(), 70000);
        } else {
            EXPECT_EQ(lines.front(), std::string(70000, 'a') + "\r\n");
        }
    }
}

TEST_F(LineModeTest, SwitchingLineModeOffLosesAndDoublesNothing)
{
    struct TCase {
        const char* Name;
        int ReadFirst; // bytes of the first line read before switching off
    };
    for (const TCase c : {TCase {"after a line", 255}, TCase {"inside a line", 2}}) {
        SCOPED_TRACE(c.Name);
        TTestServer server;
        TAsyncSocket socket;
        socket.SetLineMode(true);
        std::string first;
        std::string plain;
        bool connected = false;
        socket.OnSessionConnected = [&](TCustomAsyncSocket&, std::uint16_t err) { connected = err == 0; };
        socket.OnDataAvailable = [&](TCustomAsyncSocket& s, std::uint16_t) {
            auto& socketRef = static_cast<TAsyncSocket&>(s);
            char buffer[512];
            if (socketRef.LineMode()) {
                const int n = s.Receive(buffer, c.ReadFirst);
                first.append(buffer, static_cast<std::size_t>(std::max(n, 0)));
                socketRef.SetLineMode(false);
                return;
            }
            const int n = s.Receive(buffer, 5);
            plain.append(buffer, static_cast<std::size_t>(std::max(n, 0)));
        };
        const std::string sent = "L1\r\nL2\r\nrest without end";
        server.Send(sent).WaitSignal(1);
        server.Start();
        socket.SetAddr("127.0.0.1");
        socket.SetPort(server.Port());
        socket.Connect();
        ASSERT_TRUE(RunUntil([&] { return first.size() + plain.size() >= sent.size(); }));
        RunFor(30);
        EXPECT_EQ(first + plain, sent);
        EXPECT_EQ(first, sent.substr(0, std::min<std::size_t>(4, static_cast<std::size_t>(c.ReadFirst))));
        server.Signal(1);
    }
}

TEST_F(LineModeTest, UnfinishedLastLineArrivesOnceBeforeClose)
{
    Server.Send("a\r\nlast").Close();
    Open();
    ASSERT_TRUE(RunUntil([&] { return Closed > 0; }));
    RunFor(30);
    EXPECT_EQ(Lines, (TLines {"a\r\n", "last"}));
    EXPECT_EQ(ClosedAfter, 2u);
    EXPECT_EQ(Closed, 1);
}

TEST_F(LineModeTest, CloseFromTheHandlerOffersNoLineTwice)
{
    struct TCase {
        const char* Name;
        const char* Sent;
        int Read;      // bytes the handler reads before it closes
        TLines Offered; // everything the handler is given, in order
    };
    const TCase cases[] = {
        {"whole line read", "554 busy\r\n", 255, {"554 busy\r\n"}},
        {"a line follows", "421 a\r\n421 b\r\n", 255, {"421 a\r\n", "421 b\r\n"}},
        {"part read", "554 busy\r\n", 4, {"554 ", "busy\r\n"}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TTestServer server;
        TAsyncSocket socket;
        socket.SetLineMode(true);
        TLines offered;
        bool connected = false;
        int closed = 0;
        socket.OnSessionConnected = [&](TCustomAsyncSocket&, std::uint16_t err) { connected = err == 0; };
        socket.OnSessionClosed = [&](TCustomAsyncSocket&, std::uint16_t) { ++closed; };
        socket.OnDataAvailable = [&](TCustomAsyncSocket& s, std::uint16_t) {
            char buffer[256];
            const int n = s.Receive(buffer, offered.empty() ? c.Read : 255);
            offered.emplace_back(buffer, static_cast<std::size_t>(std::max(n, 0)));
            if (offered.size() == 1)
                s.Close();
        };
        server.Send(c.Sent).WaitSignal(1);
        server.Start();
        socket.SetAddr("127.0.0.1");
        socket.SetPort(server.Port());
        socket.Connect();
        ASSERT_TRUE(RunUntil([&] { return connected && closed > 0; }));
        RunFor(30);
        EXPECT_EQ(offered, c.Offered);
        EXPECT_EQ(closed, 1);
        server.Signal(1);
    }
}

// The handler of the last line sends (as a client answers a reply), and the
// send fails on the reset connection: the close is still reported once, and
// the line is not offered again.
TEST_F(LineModeTest, FailedSendInTheLastLineHandlerReportsOneClose)
{
    Socket.OnDataAvailable = [this](TCustomAsyncSocket& s, std::uint16_t) {
        Lines.push_back(s.ReceiveText());
        s.SendText("next command\r\n");
    };
    Server.Send("354 go ahead").Pause(50).Reset();
    Open();
    ASSERT_TRUE(RunUntil([&] { return Closed > 0; }));
    RunFor(30);
    EXPECT_EQ(Lines, (TLines {"354 go ahead"}));
    EXPECT_EQ(Closed, 1);
}

TEST_F(LineModeTest, AbortDropsTheUnfinishedLine)
{
    Server.Send("partial").WaitSignal(1);
    Open();
    ASSERT_TRUE(RunUntil([&] { return Socket.BufferedCount() == 7; }));
    Socket.Abort();
    RunFor(30);
    EXPECT_TRUE(Lines.empty());
    EXPECT_EQ(Closed, 1);
    Server.Signal(1);
}

TEST_F(LineModeTest, LineLeftUnreadIsOfferedAgainWithTheNextData)
{
    int calls = 0;
    Socket.OnDataAvailable = [&](TCustomAsyncSocket& s, std::uint16_t) {
        if (++calls > 1)
            Lines.push_back(s.ReceiveText());
    };
    Server.Send("a\r\n").WaitSignal(1).Send("b\r\n").WaitSignal(2);
    Open();
    ASSERT_TRUE(RunUntil([&] { return calls == 1; }));
    RunFor(30);
    EXPECT_EQ(calls, 1) << "an unread line must not spin";
    Server.Signal(1);
    ASSERT_TRUE(WaitLines(2));
    EXPECT_EQ(Lines, (TLines {"a\r\n", "b\r\n"}));
    Server.Signal(2);
}

TEST_F(LineModeTest, SendLineAndOtherLineEnds)
{
    Socket.SetLineEnd("\n");
    Server.Read(9).Send("x\ny\n").WaitSignal(1);
    Open();
    EXPECT_EQ(Socket.SendLine("hello"), 6);
    EXPECT_EQ(Socket.SendLine(""), 0);
    Socket.SetLineEnd("\r\n");
    EXPECT_EQ(Socket.SendLine("ab"), 4);
    Socket.SetLineEnd("\n");
    ASSERT_TRUE(WaitLines(2));
    EXPECT_EQ(Lines, (TLines {"x\n", "y\n"}));
    EXPECT_EQ(Server.Received(), "hello\nab\r\n");
    Server.Signal(1);
}

TEST_F(LineModeTest, LineEditAppliesBackspaceAndTab)
{
    Socket.LineEdit = true;
    Server.Send("abX\bc\td\r\n").WaitSignal(1);
    Open();
    ASSERT_TRUE(WaitLines(1));
    EXPECT_EQ(Lines, (TLines {"abc     d\r\n"}));
    Server.Signal(1);
}

// Lines already buffered when the mode or the line end changes are found one
// by one, not merged into one line at the next line end.
TEST_F(LineModeTest, BufferedLinesAreFoundAfterAChangeOfModeOrLineEnd)
{
    struct TCase {
        const char* Name;
        bool ChangeLineEnd; // else line mode goes off and on again
    };
    for (const TCase c : {TCase {"line end changed", true}, TCase {"line mode switched on", false}}) {
        SCOPED_TRACE(c.Name);
        TTestServer server;
        TAsyncSocket socket;
        socket.SetLineMode(true);
        if (c.ChangeLineEnd)
            socket.SetLineEnd("#");
        TLines lines;
        bool connected = false;
        bool offWithData = false;
        socket.OnSessionConnected = [&](TCustomAsyncSocket&, std::uint16_t err) { connected = err == 0; };
        socket.OnDataAvailable = [&](TCustomAsyncSocket& s, std::uint16_t) {
            auto& line = static_cast<TAsyncSocket&>(s);
            if (!line.LineMode()) {
                offWithData = true; // leaves the bytes in the buffer
                return;
            }
            lines.push_back(s.ReceiveText());
            if (!c.ChangeLineEnd && lines.size() == 1)
                line.SetLineMode(false);
        };
        server.Send("zero\r\none\r\ntwo\r\nthr").WaitSignal(1).Send("ee\r\n").WaitSignal(2);
        server.Start();
        socket.SetAddr("127.0.0.1");
        socket.SetPort(server.Port());
        socket.Connect();
        if (c.ChangeLineEnd) {
            ASSERT_TRUE(RunUntil([&] { return socket.BufferedCount() == 19; }));
            socket.SetLineEnd("\r\n");
        } else {
            ASSERT_TRUE(RunUntil([&] { return offWithData; }));
            socket.SetLineMode(true);
        }
        ASSERT_TRUE(RunUntil([&] { return lines.size() >= 3; }));
        server.Signal(1);
        ASSERT_TRUE(RunUntil([&] { return lines.size() >= 4; }));
        EXPECT_EQ(lines, (TLines {"zero\r\n", "one\r\n", "two\r\n", "three\r\n"}));
        server.Signal(2);
    }
}
