#include "smtp/CustomSslSmtpSender.h"

#include "../TlsTestServer.h"
#include "ClientHarness.h"
#include "ScriptedServer.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace smtp;
using smtptest::RunRequest;
using smtptest::RunUntil;
using smtptest::TClientEvents;
using smtptest::TDone;
using smtptest::TScriptedServer;
using tlstest::TTlsTestServer;

namespace {

using TLines = std::vector<std::string>;

struct TSslClient {
    net::TSslContext Context;
    TCustomSslSmtpSender Client;
    TClientEvents Events;

    TSslClient()
    {
        Events.Record(Client);
        Client.Host = "127.0.0.1";
        Client.SignOn = "tester";
        Client.SetSslContext(&Context);
    }

    TDone Run(const std::function<void()>& request) { return RunRequest(Events, request); }

    bool Displayed(const std::string& prefix) const
    {
        return std::any_of(Events.Display.begin(), Events.Display.end(),
                           [&](const std::string& line) { return line.starts_with(prefix); });
    }

    // The index of the first display line with this start.
    std::ptrdiff_t DisplayIndex(const std::string& prefix) const
    {
        const auto it = std::find_if(Events.Display.begin(), Events.Display.end(),
                                     [&](const std::string& line) { return line.starts_with(prefix); });
        return it - Events.Display.begin();
    }
    // Opens with STARTTLS against a server whose second EHLO reply offers SIZE 5000.
    void OpenExplicit(const std::string& port)
    {
        Client.Port = port;
        Client.SslType = smtpTlsExplicit;
        ASSERT_EQ(Run([&] { Client.Open(); }), (TDone {smtpOpen, 0}));
        EXPECT_TRUE(Client.SslActive());
        EXPECT_EQ(Client.MaxMessageSize(), 5000);
    }
};

} // namespace

// Only a line that carries STARTTLS alone after the code is an offer.
TEST(SslSmtpSender, StartTlsOfferInTheEhloReply)
{
    struct TCase {
        const char* Name;
        std::string Reply;
        bool Offered;
    };
    const std::vector<TCase> cases = {
        {"last line", "250-mail.example\r\n250 STARTTLS\r\n", true},
        {"inner line, lower case", "250-mail.example\r\n250-starttls\r\n250 SIZE 1000\r\n", true},
        {"with further words", "250-mail.example\r\n250-STARTTLS REQUIRED\r\n250 OK\r\n", false},
        {"inside another word", "250-mail.example\r\n250-XSTARTTLS\r\n250 OK\r\n", false},
        {"not offered", "250-mail.example\r\n250 SIZE 1000\r\n", false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TScriptedServer server;
        server.Lines({"220 mail.example ESMTP"}).Expect().Send(c.Reply).Hold();
        server.Start();
        TSslClient s;
        s.Client.Port = server.PortText();
        ASSERT_EQ(s.Run([&] { s.Client.Connect(); }), (TDone {smtpConnect, 0}));
        ASSERT_EQ(s.Run([&] { s.Client.Ehlo(); }), (TDone {smtpEhlo, 0}));
        EXPECT_EQ(s.Client.StartTlsOffered(), c.Offered);
        server.Release();
    }
}

// A server that does not offer STARTTLS ends the explicit Open with 500 and
// nothing is sent after EHLO; the connection stays.
TEST(SslSmtpSender, OpenWithoutOfferIsRefused)
{
    TScriptedServer server;
    server.Lines({"220 mail.example ESMTP", }).Expect().Lines({"250-mail.example", "250 SIZE 1000"}).Hold();
    server.Start();
    TSslClient s;
    s.Client.Port = server.PortText();
    s.Client.SslType = smtpTlsExplicit;
    EXPECT_EQ(s.Run([&] { s.Client.Open(); }), (TDone {smtpOpen, 500}));
    EXPECT_EQ(s.Client.ErrorMessage(), "500 STARTTLS is not available.");
    EXPECT_EQ(s.Client.LastResponse(), "500 STARTTLS is not available.");
    EXPECT_TRUE(s.Client.Connected());
    EXPECT_EQ(s.Events.Commands, (TLines {"EHLO tester"}));
    server.Release();
    ASSERT_TRUE(server.WaitDone());
    EXPECT_EQ(server.Received(), (TLines {"EHLO tester"}));
}

// Refusals of the client itself send nothing; a refusal of the server ends
// the request with its reply.
TEST(SslSmtpSender, StartTlsRefusals)
{
    struct TCase {
        const char* Name;
        bool Ehlo;
        std::string StartTlsReply;
        TDone Done;
        std::string Text;
        TLines Sent;
    };
    const std::vector<TCase> cases = {
        {"after HELO", false, "", {smtpStartTls, 500}, "500 ESMTP not supported.", {"HELO tester"}},
        {"server refuses", true, "454 4.7.0 TLS not available", {smtpStartTls, 454}, "454 4.7.0 TLS not available",
         {"EHLO tester", "STARTTLS"}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TScriptedServer server;
        server.Lines({"220 mail.example ESMTP"}).Expect().Lines({"250-mail.example", "250 STARTTLS"});
        if (!c.StartTlsReply.empty())
            server.Expect().Lines({c.StartTlsReply});
        server.Hold();
        server.Start();
        TSslClient s;
        s.Client.Port = server.PortText();
        s.Client.SslType = smtpTlsExplicit;
        ASSERT_EQ(s.Run([&] { s.Client.Connect(); }), (TDone {smtpConnect, 0}));
        if (c.Ehlo)
            ASSERT_EQ(s.Run([&] { s.Client.Ehlo(); }), (TDone {smtpEhlo, 0}));
        else
            ASSERT_EQ(s.Run([&] { s.Client.Helo(); }), (TDone {smtpHelo, 0}));
        EXPECT_EQ(s.Run([&] { s.Client.StartTls(); }), c.Done);
        EXPECT_EQ(s.Client.ErrorMessage(), c.Text);
        EXPECT_EQ(s.Events.Commands, c.Sent);
        EXPECT_FALSE(s.Client.SslActive());
        server.Release();
    }
}

// Open with explicit TLS: EHLO, STARTTLS, the handshake, EHLO again over
// TLS (whose reply now counts), and the session goes on encrypted.
TEST(SslSmtpSender, OpenWithStartTls)
{
    TTlsTestServer server(0, false);
    server.SendPlain("220 mail.example ESMTP\r\n")
        .ReadLine()
        .SendPlain("250-mail.example\r\n250-SIZE 1000\r\n250 STARTTLS\r\n")
        .ReadLine()
        .SendPlain("220 2.0.0 Ready to start TLS\r\n")
        .AcceptTls()
        .ReadLine()
        .Send("250-mail.example\r\n250 SIZE 5000\r\n")
        .ReadLine()
        .Send("221 bye\r\n")
        .Close(true);
    server.Start();
    TSslClient s;
    s.OpenExplicit(server.Port());
    if (HasFatalFailure())
        return;
    EXPECT_LT(s.DisplayIndex("Starting SSL handshake"), s.DisplayIndex("SSL Connected OK with TLSv1."));
    EXPECT_EQ(s.Run([&] { s.Client.Quit(); }), (TDone {smtpQuit, 0}));
    ASSERT_TRUE(RunUntil([&] { return server.Done(); }));
    EXPECT_EQ(server.Lines(), (TLines {"EHLO tester", "STARTTLS", "EHLO tester", "QUIT"}));
    EXPECT_EQ(server.ServerName(), "") << "no server name for an address";
}

// Lines slipped in after the STARTTLS reply, in the clear, are never read:
// the handshake goes on and only what comes over TLS counts.
TEST(SslSmtpSender, CleartextAfterTheStartTlsReplyIsNotRead)
{
    TTlsTestServer server(0, false);
    server.SendPlain("220 mail.example ESMTP\r\n")
        .ReadLine()
        .SendPlain("250-mail.example\r\n250 STARTTLS\r\n")
        .ReadLine()
        .SendPlain("220 2.0.0 Ready to start TLS\r\n250-injected\r\n554 injected\r\nand a rest")
        .AcceptTls()
        .ReadLine()
        .Send("250-mail.example\r\n250 SIZE 5000\r\n")
        .WaitSignal(1);
    server.Start();
    TSslClient s;
    s.OpenExplicit(server.Port());
    if (HasFatalFailure())
        return;
    for (const std::string& line : s.Events.Responses)
        EXPECT_EQ(line.find("injected"), std::string::npos) << line;
    EXPECT_FALSE(s.Displayed("< and a rest"));
    server.Signal(1);
}

// Implicit TLS: the greeting is read only after the handshake; STARTTLS on
// such a connection is refused without sending anything.
TEST(SslSmtpSender, ImplicitTls)
{
    TTlsTestServer server;
    server.Send("220 tls.example ESMTP\r\n").ReadLine().Send("250-tls.example\r\n250 STARTTLS\r\n").WaitSignal(1);
    server.Start();
    TSslClient s;
    s.Client.Port = server.Port();
    s.Client.SslType = smtpTlsImplicit;
    ASSERT_EQ(s.Run([&] { s.Client.Connect(); }), (TDone {smtpConnect, 0}));
    const auto start = s.DisplayIndex("! Starting SSL handshake");
    const auto done = s.DisplayIndex("SSL Connected OK with TLSv1.");
    const auto greeting = s.DisplayIndex("< 220 tls.example ESMTP");
    EXPECT_LT(start, done);
    EXPECT_LT(done, greeting);
    EXPECT_LT(greeting, static_cast<std::ptrdiff_t>(s.Events.Display.size()));
    ASSERT_EQ(s.Run([&] { s.Client.Ehlo(); }), (TDone {smtpEhlo, 0}));
    EXPECT_TRUE(s.Client.StartTlsOffered());
    EXPECT_EQ(s.Run([&] { s.Client.StartTls(); }), (TDone {smtpStartTls, 500}));
    EXPECT_EQ(s.Client.ErrorMessage(), "500 STARTTLS is not supported with a implicite SSL connection");
    EXPECT_EQ(s.Events.Commands, (TLines {"EHLO tester"}));
    server.Signal(1);
}

// A handshake that fails, cannot start, or is refused by the handler ends
// the request with 500 and the reason; the connection is closed once.
TEST(SslSmtpSender, HandshakeFailures)
{
    struct TCase {
        const char* Name;
        bool TlsServer;
        bool Disconnect;
        bool NoContext;
        std::string Text;
    };
    const std::vector<TCase> cases = {
        {"plain server", false, false, false, "SSL handshake failed - Error, wrong SSL version"},
        {"handler disconnects", true, true, false, "SSL handshake failed - SSL Connected OK with TLSv1."},
        {"no context", false, false, true, "SSL Handshake failed ESslContextException SSL requires a context object"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TScriptedServer plain;
        plain.Lines({"220 plain.example ESMTP"}).Hold();
        TTlsTestServer tls;
        tls.Send("220 tls.example ESMTP\r\n").WaitSignal(1);
        TSslClient s;
        if (c.TlsServer) {
            tls.Start();
            s.Client.Port = tls.Port();
        } else {
            plain.Start();
            s.Client.Port = plain.PortText();
        }
        if (c.NoContext)
            s.Client.SetSslContext(nullptr);
        std::vector<std::uint16_t> reported;
        s.Client.OnSslHandshakeDone = [&](net::TCustomAsyncSocket&, std::uint16_t code, net::TX509Certificate&,
                                          bool& disconnect) {
            reported.push_back(code);
            disconnect = c.Disconnect;
        };
        std::vector<std::uint16_t> closed;
        s.Client.OnSessionClosed = [&](TCustomSmtpClient&, std::uint16_t code) { closed.push_back(code); };
        s.Client.SslType = smtpTlsImplicit;
        EXPECT_EQ(s.Run([&] { s.Client.Connect(); }), (TDone {smtpConnect, 500}));
        EXPECT_TRUE(s.Client.ErrorMessage().starts_with(c.Text)) << s.Client.ErrorMessage();
        EXPECT_EQ(reported.size(), 1u);
        EXPECT_EQ(closed.size(), 1u);
        EXPECT_FALSE(s.Client.Connected());
        EXPECT_FALSE(s.Client.SslActive());
        EXPECT_FALSE(s.Displayed("< 220")) << "no greeting may be read";
        plain.Release();
        tls.Signal(1);
    }
}
