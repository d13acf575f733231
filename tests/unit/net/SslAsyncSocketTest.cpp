#include "net/TimeoutAsyncSocket.h"

#include "../TlsTestServer.h"
#include "SocketTestKit.h"

#include <gtest/gtest.h>

#include <ostream>

using namespace net;
using nettest::RunFor;
using nettest::RunUntil;
using nettest::TTestServer;
using tlstest::TTlsTestServer;

namespace {

// A TLS client socket whose events are written to one log, in order.
struct TTlsClient {
    TSslContext Context;
    TSslAsyncSocket Socket;
    std::vector<std::string> Log;
    std::string Data;
    std::size_t DataAtClose = 0;
    int Closed = 0;
    int Sent = 0;
    int Handshakes = 0;
    std::uint16_t HandshakeCode = 0;
    int Verified = 0;
    bool Connected = false;

    TTlsClient()
    {
        Socket.SetSslContext(&Context);
        Socket.OnSessionConnected = [this](TCustomAsyncSocket&, std::uint16_t err) {
            Log.push_back("connected " + std::to_string(err));
            Connected = err == 0;
        };
        Socket.OnSslHandshakeDone = [this](TCustomAsyncSocket&, std::uint16_t err, TX509Certificate&, bool&) {
            Log.push_back("handshake " + std::to_string(err));
            HandshakeCode = err;
            ++Handshakes;
        };
        Socket.OnSslVerifyPeer = [this](TCustomAsyncSocket&, int&, TX509Certificate&) { ++Verified; };
        Socket.OnSessionClosed = [this](TCustomAsyncSocket&, std::uint16_t err) {
            Log.push_back("closed " + std::to_string(err));
            DataAtClose = Data.size();
            ++Closed;
        };
        Socket.OnDataSent = [this](TCustomAsyncSocket&, std::uint16_t) {
            if (Sent++ == 0)
                Log.push_back("sent");
        };
        Socket.OnDataAvailable = [this](TCustomAsyncSocket& s, std::uint16_t) {
            char buffer[8192];
            const int n = s.Receive(buffer, sizeof buffer);
            if (n > 0)
                Data.append(buffer, static_cast<std::size_t>(n));
        };
    }

    void Connect(const std::string& port, bool tls = true, const std::string& serverName = "127.0.0.1")
    {
        Socket.SetSslEnable(tls);
        Socket.SslServerName = serverName;
        Socket.SetAddr("127.0.0.1");
        Socket.SetPort(port);
        Socket.Connect();
    }

    bool Handshaken() const { return Handshakes > 0; }
};

struct TCloseCase {
    const char* Name;
    int MaxVersion;
    bool CloseNotify;
    bool LineMode;
};

std::ostream& operator<<(std::ostream& os, const TCloseCase& c)
{
    return os << c.Name;
}

std::string Payload(std::size_t lines)
{
    std::string text;
    for (std::size_t i = 0; i < lines; ++i)
        text += "line " + std::to_string(i) + " of the server's last words\r\n";
    return text;
}

} // namespace

class SslServerCloses : public ::testing::TestWithParam<TCloseCase> {};

// Every decrypted byte reaches the owner before OnSessionClosed, whether the
// server ends with its close alert or just goes.
TEST_P(SslServerCloses, RightAfterItsLastRecord)
{
    const TCloseCase& c = GetParam();
    const std::string payload = Payload(4000);
    TTlsTestServer server(c.MaxVersion);
    server.Send("first\r\n").Send(payload).Close(c.CloseNotify);
    server.Start();
    TTlsClient client;
    std::vector<std::string> lines;
    if (c.LineMode) {
        client.Socket.SetLineMode(true);
        client.Socket.OnDataAvailable = [&](TCustomAsyncSocket& s, std::uint16_t) {
            lines.push_back(s.ReceiveText());
            client.Data += lines.back();
        };
    }
    client.Connect(server.Port());
    ASSERT_TRUE(RunUntil([&] { return client.Closed > 0; }));
    RunFor(30);
    EXPECT_EQ(client.Closed, 1);
    EXPECT_EQ(client.HandshakeCode, 0);
    EXPECT_EQ(client.DataAtClose, payload.size() + 7);
    EXPECT_TRUE(client.Data == "first\r\n" + payload);
    if (c.LineMode) {
        ASSERT_EQ(lines.size(), 4001u);
        EXPECT_EQ(lines[1], "line 0 of the server's last words\r\n");
    }
    EXPECT_EQ(client.Log.front(), "connected 0");
    EXPECT_EQ(client.Log[1], "handshake 0");
    EXPECT_TRUE(client.Socket.HandshakeResultText().starts_with("SSL Connected OK with TLSv1."))
        << client.Socket.HandshakeResultText();
    EXPECT_FALSE(client.Socket.SslEnable());
    EXPECT_EQ(client.Socket.State(), wsClosed);
}

INSTANTIATE_TEST_SUITE_P(
    Ways, SslServerCloses,
    ::testing::Values(TCloseCase {"Tls12WithCloseAlert", TLS1_2_VERSION, true, false},
                      TCloseCase {"Tls13WithoutCloseAlert", TLS1_3_VERSION, false, false},
                      TCloseCase {"Tls13LineMode", TLS1_3_VERSION, true, true}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(SslAsyncSocket, PlaintextServerFailsTheHandshake)
{
    TTestServer server;
    server.Send("220 plain.example ESMTP ready\r\n").WaitSignal(1);
    server.Start();
    TTlsClient client;
    client.Connect(server.Port());
    ASSERT_TRUE(RunUntil([&] { return client.Closed > 0; }));
    RunFor(30);
    server.Signal(1);
    EXPECT_NE(client.HandshakeCode, 0);
    const std::string& text = client.Socket.HandshakeResultText();
    EXPECT_TRUE(text.starts_with("Error, ") || text.starts_with("error:")) << text;
    EXPECT_EQ(client.Data, "") << "nothing of the plain text may pass as data";
    EXPECT_EQ(client.Closed, 1);
    EXPECT_EQ(client.Log, (std::vector<std::string> {"connected 0", "handshake " + std::to_string(client.HandshakeCode),
                                                     client.Log.back()}));
    EXPECT_FALSE(client.Socket.SslEnable());
}

// Plaintext sent before the handshake ends waits for it, then goes
// encrypted, and OnDataSent follows.
TEST(SslAsyncSocket, SendDuringTheHandshakeIsQueued)
{
    TTlsTestServer server;
    server.Read(11).WaitSignal(1);
    server.Start();
    TTlsClient client;
    client.Socket.OnSessionConnected = [&](TCustomAsyncSocket& s, std::uint16_t err) {
        client.Log.push_back("connected " + std::to_string(err));
        EXPECT_EQ(s.SendText("hello world"), 11);
    };
    client.Connect(server.Port());
    ASSERT_TRUE(RunUntil([&] { return client.Sent > 0 && server.Received().size() == 11; }));
    server.Signal(1);
    EXPECT_EQ(server.Received(), "hello world");
    EXPECT_EQ(client.Log, (std::vector<std::string> {"connected 0", "handshake 0", "sent"}));
    EXPECT_EQ(client.Socket.BytesSent(), 11);
}

// A large send through a slow reader: every byte arrives once and in order
// (writes the engine could not finish are repeated as they were).
TEST(SslAsyncSocket, LargeSendThroughASlowReader)
{
    std::string data;
    for (int i = 0; data.size() < 1500000; ++i)
        data += std::to_string(i) + ",";
    TTlsTestServer server;
    server.ReadSlowly(data.size(), 1).WaitSignal(1);
    server.Start();
    TTlsClient client;
    client.Connect(server.Port());
    ASSERT_TRUE(RunUntil([&] { return client.Handshaken(); }));
    const std::size_t half = data.size() / 2;
    client.Socket.SendText(data.substr(0, half));
    client.Socket.SendText(data.substr(half));
    ASSERT_TRUE(RunUntil([&] { return server.Received().size() >= data.size(); }, 30000));
    ASSERT_TRUE(RunUntil([&] { return client.Sent > 0; }));
    server.Signal(1);
    EXPECT_EQ(server.Received().size(), data.size());
    EXPECT_TRUE(server.Received() == data);
}

// Close ends TLS with the close alert and closes at once, once.
TEST(SslAsyncSocket, CloseSendsTheCloseAlert)
{
    TTlsTestServer server;
    server.ReadToEnd();
    server.Start();
    TTlsClient client;
    client.Connect(server.Port());
    ASSERT_TRUE(RunUntil([&] { return client.Handshaken(); }));
    client.Socket.SendText("bye");
    ASSERT_TRUE(RunUntil([&] { return client.Sent > 0; }));
    client.Socket.Close();
    EXPECT_EQ(client.Closed, 1);
    EXPECT_EQ(client.Socket.State(), wsClosed);
    ASSERT_TRUE(RunUntil([&] { return server.Done(); }));
    EXPECT_TRUE(server.CleanEnd());
    EXPECT_EQ(server.Received(), "bye");
    RunFor(30);
    EXPECT_EQ(client.Closed, 1);
    EXPECT_EQ(client.Log.back(), "closed 0");
}

// TLS is for one connection: the next one is plain unless asked again.
TEST(SslAsyncSocket, NextConnectionIsPlainUnlessAskedAgain)
{
    TTlsClient client;
    {
        TTlsTestServer server;
        server.Send("tls\r\n").Close(true);
        server.Start();
        client.Connect(server.Port());
        ASSERT_TRUE(RunUntil([&] { return client.Closed > 0; }));
        EXPECT_EQ(client.Data, "tls\r\n");
    }
    EXPECT_FALSE(client.Socket.SslEnable());
    TTestServer plain;
    plain.Read(5).WaitSignal(1);
    plain.Start();
    client.Connected = false;
    client.Socket.SetAddr("127.0.0.1");
    client.Socket.SetPort(plain.Port());
    client.Socket.Connect();
    ASSERT_TRUE(RunUntil([&] { return client.Connected; }));
    client.Socket.SendText("hello");
    ASSERT_TRUE(RunUntil([&] { return plain.Received().size() == 5; }));
    EXPECT_EQ(plain.Received(), "hello");
    EXPECT_EQ(client.Handshakes, 1);
    plain.Signal(1);
}

// Peer verification: the chain must lead to a trusted certificate, and the
// certificate must carry the name (or address) in use; failures say why.
TEST(SslAsyncSocket, PeerVerification)
{
    struct TCase {
        const char* Name;
        bool TrustTestCert;
        std::string ServerName;
        bool Ok;
        std::string Reason;
        std::string Sni;
    };
    const std::vector<TCase> cases = {
        {"trusted, address", true, "127.0.0.1", true, "", ""},
        {"trusted, name", true, "localhost", true, "", "localhost"},
        {"untrusted", false, "127.0.0.1", false, "certificate verify failed", ""},
        {"wrong name", true, "mail.example.org", false, "hostname mismatch", "mail.example.org"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TTlsTestServer server;
        server.Send("ok\r\n").WaitSignal(1);
        server.Start();
        TTlsClient client;
        client.Context.SetSslVerifyPeer(true);
        if (c.TrustTestCert)
            client.Context.SslCAFile = tlstest::TTestCertificate::Instance().PemFile();
        client.Connect(server.Port(), true, c.ServerName);
        ASSERT_TRUE(RunUntil([&] { return client.Handshaken(); }));
        EXPECT_EQ(client.HandshakeCode == 0, c.Ok) << client.Socket.HandshakeResultText();
        EXPECT_GE(client.Verified, 1);
        if (c.Ok) {
            ASSERT_TRUE(RunUntil([&] { return client.Data == "ok\r\n"; }));
            EXPECT_FALSE(client.Socket.PeerCert().IsEmpty());
            EXPECT_EQ(client.Socket.PeerCert().SubjectOneLine(), "/CN=localhost");
        } else {
            EXPECT_NE(client.Socket.HandshakeResultText().find(c.Reason), std::string::npos)
                << client.Socket.HandshakeResultText();
            ASSERT_TRUE(RunUntil([&] { return client.Closed > 0; }));
        }
        server.Signal(1);
        ASSERT_TRUE(RunUntil([&] { return server.Done(); }));
        EXPECT_EQ(server.ServerName(), c.Sni);
        client.Socket.Abort();
    }
}

// Abort in the middle of a handshake: no report, no leftovers, reusable.
TEST(SslAsyncSocket, AbortDuringTheHandshake)
{
    TTestServer silent;
    silent.WaitSignal(1);
    silent.Start();
    TTlsClient client;
    client.Connect(silent.Port());
    ASSERT_TRUE(RunUntil([&] { return client.Connected; }));
    RunFor(20);
    client.Socket.Abort();
    RunFor(30);
    silent.Signal(1);
    EXPECT_EQ(client.Handshakes, 0);
    EXPECT_EQ(client.Closed, 1);
    EXPECT_FALSE(client.Socket.SslEnable());
    EXPECT_EQ(client.Socket.State(), wsClosed);
}
