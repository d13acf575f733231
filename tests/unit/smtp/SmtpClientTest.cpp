#include "smtp/SmtpClient.h"

#include "ScriptedServer.h"
#include "platform/EventLoop.h"
#include "platform/TextUtil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

using namespace smtp;
using smtptest::TScriptedServer;

namespace {

struct TDone {
    TSmtpRequest Request;
    std::uint16_t Code;
    bool operator==(const TDone&) const = default;
};

std::ostream& operator<<(std::ostream& os, const TDone& done)
{
    return os << "{request " << done.Request << ", code " << done.Code << "}";
}

// The call must raise SmtpException with exactly this text.
void ExpectRaises(const std::function<void()>& call, const char* text)
{
    try {
        call();
        ADD_FAILURE() << "no exception, expected: " << text;
    } catch (const SmtpException& e) {
        EXPECT_STREQ(e.what(), text);
    }
}

// Opens the protected command routine for commands the requests do not send.
class TTestClient : public TCustomSmtpClient {
public:
    void Custom(const std::string& command, TSmtpAcceptedCodes accepted)
    {
        ExecAsync(smtpCustom, command, accepted);
    }
};

class SmtpClientTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Client.OnRequestDone = [this](TCustomSmtpClient&, TSmtpRequest rq, std::uint16_t code) {
            Dones.push_back({rq, code});
        };
        Client.OnDisplay = [this](TCustomSmtpClient&, const std::string& msg) { Display.push_back(msg); };
        Client.OnCommand = [this](TCustomSmtpClient&, const std::string& msg) { Commands.push_back(msg); };
        Client.OnResponse = [this](TCustomSmtpClient&, const std::string& msg) { Responses.push_back(msg); };
        Client.OnSessionConnected = [this](TCustomSmtpClient&, std::uint16_t code) {
            SessionConnected.push_back(code);
        };
        Client.OnSessionClosed = [this](TCustomSmtpClient&, std::uint16_t code) { SessionClosed.push_back(code); };
        Client.Host = "127.0.0.1";
        Client.SignOn = "tester";
    }

    // Pumps the message loop until pred holds or the bounded wait ends.
    bool RunUntil(const std::function<bool()>& pred, int timeoutMs = TScriptedServer::WaitMs)
    {
        platform::TEventLoop& loop = platform::TEventLoop::Current();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!pred()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return false;
            loop.WaitMessage(static_cast<int>(std::min<long long>(left.count(), 50)));
            DrainQueue();
        }
        return true;
    }

    // Dispatches everything queued now, without waiting.
    void DrainQueue()
    {
        platform::TEventLoop& loop = platform::TEventLoop::Current();
        platform::TQueuedMessage message;
        while (loop.PeekMessage(message))
            platform::TEventLoop::DispatchMessage(message);
    }

    bool WaitDones(std::size_t count)
    {
        return RunUntil([&] { return Dones.size() >= count; });
    }

    // Runs one request to its completion and returns the report.
    TDone Run(const std::function<void()>& request)
    {
        const std::size_t before = Dones.size();
        request();
        EXPECT_EQ(Dones.size(), before) << "reported from inside the call";
        EXPECT_TRUE(WaitDones(before + 1));
        return Dones.size() > before ? Dones[before] : TDone {smtpCustom, 0xFFFF};
    }

    // Starts the server and connects to it; the script must begin with a greeting.
    void Open(TScriptedServer& server)
    {
        server.Start();
        Client.Port = server.PortText();
        ASSERT_EQ(Run([&] { Client.Connect(); }), (TDone {smtpConnect, 0}));
        ASSERT_TRUE(Client.Connected());
    }

    TTestClient Client;
    std::vector<TDone> Dones;
    std::vector<std::string> Display, Commands, Responses;
    std::vector<std::uint16_t> SessionConnected, SessionClosed;
};

TEST_F(SmtpClientTest, ThreeLineReplyCompletesOnceWithEveryLineReported)
{
    TScriptedServer server;
    server.Lines({"220 ready"}).Expect().Lines({"250-mail.example.com", "250-SIZE 1024", "250 HELP"});
    Open(server);
    EXPECT_EQ(Run([&] { Client.Ehlo(); }), (TDone {smtpEhlo, 0}));
    DrainQueue();
    EXPECT_EQ(Dones.size(), 2u);
    const std::vector<std::string> replies {"220 ready", "250-mail.example.com", "250-SIZE 1024", "250 HELP"};
    EXPECT_EQ(Responses, replies);
    const std::vector<std::string> display {
        "< 220 ready", "> EHLO tester", "< 250-mail.example.com", "< 250-SIZE 1024", "< 250 HELP"};
    EXPECT_EQ(Display, display);
    EXPECT_EQ(Commands, std::vector<std::string> {"EHLO tester"});
    EXPECT_EQ(server.Received(), std::vector<std::string> {"EHLO tester"});
    EXPECT_TRUE(Client.ExtendedSmtp());
    EXPECT_TRUE(Client.SizeAdvertised());
    EXPECT_EQ(Client.MaxMessageSize(), 1024);
    EXPECT_EQ(Client.LastResponse(), "250 HELP");
    EXPECT_EQ(Client.State(), smtpReady);
}

TEST_F(SmtpClientTest, GreetingWithHyphenWaitsForTheFinalLine)
{
    TScriptedServer server;
    server.Lines({"220-first", "220-second", "220 ready"});
    Open(server);
    EXPECT_EQ(Dones.size(), 1u);
    EXPECT_EQ(SessionConnected, std::vector<std::uint16_t> {0});
    EXPECT_EQ(Responses.size(), 3u);
    EXPECT_EQ(Client.LastResponse(), "220 ready");
}

TEST_F(SmtpClientTest, RefusedGreetingIsHandledOnce)
{
    TScriptedServer server;
    server.Lines({"554 no service here"}).WaitClose();
    server.Start();
    Client.Port = server.PortText();
    EXPECT_EQ(Run([&] { Client.Connect(); }), (TDone {smtpConnect, 10004}));
    DrainQueue();
    EXPECT_EQ(Dones.size(), 1u);
    EXPECT_EQ(Responses, std::vector<std::string> {"554 no service here"});
    EXPECT_EQ(Display, std::vector<std::string> {"< 554 no service here"});
    EXPECT_EQ(Client.ErrorMessage(), "554 no service here");
    EXPECT_FALSE(Client.Connected());
}

TEST_F(SmtpClientTest, ReplyWithoutNumberIsProtocolError)
{
    TScriptedServer server;
    server.Lines({"220 ready"}).Expect().Lines({"hello there"});
    Open(server);
    EXPECT_EQ(Run([&] { Client.Helo(); }), (TDone {smtpHelo, 20600}));
    EXPECT_EQ(Client.StatusCode(), 20600);
    EXPECT_EQ(Client.ErrorMessage(), "hello there");
    EXPECT_TRUE(Client.Connected());
}

TEST_F(SmtpClientTest, ReplyWithNulBytesIsProtocolError)
{
    TScriptedServer server;
    server.Lines({"220 ready"}).Expect().Send(std::string(2, '\0') + "250 ok\r\n");
    Open(server);
    EXPECT_EQ(Run([&] { Client.Helo(); }), (TDone {smtpHelo, 20600}));
    EXPECT_EQ(Client.LastResponse(), std::string(2, '\0') + "250 ok");
}

TEST_F(SmtpClientTest, EmptyAcceptedListTakesBelow500)
{
    TScriptedServer server;
    server.Lines({"220 ready"}).Expect().Lines({"499 fine"}).Expect().Lines({"500 refused"});
    Open(server);
    EXPECT_EQ(Run([&] { Client.Custom("XONE", {}); }), (TDone {smtpCustom, 0}));
    EXPECT_EQ(Run([&] { Client.Custom("XTWO", {}); }), (TDone {smtpCustom, 500}));
    EXPECT_EQ(Client.ErrorMessage(), "500 refused");
}

struct TRcptCase {
    const char* Name;
    bool WithHandler;
    TSmtpRcptToErrorAction Action;
    std::vector<std::string> Replies; // after the greeting, one per RCPT sent
    std::string Sent;                 // the recipients sent, in order: "abc"
    std::uint16_t Result;
};

void PrintTo(const TRcptCase& c, std::ostream* os)
{
    *os << c.Name;
}

class SmtpRcptToTest : public SmtpClientTest, public ::testing::WithParamInterface<TRcptCase> {};

TEST_P(SmtpRcptToTest, SecondOfThreeRefused)
{
    const TRcptCase& c = GetParam();
    TScriptedServer server;
    server.Lines({"220 ready"});
    for (const auto& reply : c.Replies)
        server.Expect().Lines({reply});
    Open(server);
    std::vector<std::pair<std::uint16_t, int>> asked;
    if (c.WithHandler) {
        Client.OnRcptToError = [&](TCustomSmtpClient&, std::uint16_t code, int idx, TSmtpRcptToErrorAction& action) {
            EXPECT_EQ(action, srteAbort);
            asked.emplace_back(code, idx);
            action = c.Action;
        };
    }
    Client.RcptName = {"a@example.com", "\"Bee, B\" <b@example.com>", "c@example.com"};
    EXPECT_EQ(Run([&] { Client.RcptTo(); }), (TDone {smtpRcptTo, c.Result}));
    std::vector<std::string> expected;
    for (char letter : c.Sent)
        expected.push_back(std::string("RCPT TO:<") + letter + "@example.com>");
    EXPECT_EQ(server.Received(), expected);
    if (c.WithHandler) {
        EXPECT_EQ(asked, (std::vector<std::pair<std::uint16_t, int>> {{550, 1}}));
    }
    EXPECT_EQ(Client.ErrorMessage(), "550 no such user");
}

INSTANTIATE_TEST_SUITE_P(Actions, SmtpRcptToTest,
    ::testing::Values(
        TRcptCase {"NoHandlerAborts", false, srteAbort, {"250 ok", "550 no such user"}, "ab", 550},
        TRcptCase {"Abort", true, srteAbort, {"250 ok", "550 no such user"}, "ab", 550},
        TRcptCase {"Ignore", true, srteIgnore, {"250 ok", "550 no such user", "251 forwarded"}, "abc", 0},
        TRcptCase {"Retry", true, srteRetry, {"250 ok", "550 no such user", "250 ok", "250 ok"}, "abbc", 0}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(SmtpClientTest, RefusedLastRecipientEndsWithoutAsking)
{
    TScriptedServer server;
    server.Lines({"220 ready"}).Expect().Lines({"250 ok"}).Expect().Lines({"553 bad"});
    Open(server);
    bool asked = false;
    Client.OnRcptToError = [&](TCustomSmtpClient&, std::uint16_t, int, TSmtpRcptToErrorAction&) { asked = true; };
    Client.RcptName = {"a@example.com", "b@example.com"};
    EXPECT_EQ(Run([&] { Client.RcptTo(); }), (TDone {smtpRcptTo, 553}));
    EXPECT_FALSE(asked);
}

TEST_F(SmtpClientTest, QuitIsReportedOnlyWhenTheServerCloses)
{
    TScriptedServer server;
    server.Lines({"220 ready"}).Expect().Lines({"221 bye"}).Hold().Close();
    Open(server);
    Client.Quit();
    ASSERT_TRUE(RunUntil([&] { return Client.LastResponse() == "221 bye"; }));
    DrainQueue();
    EXPECT_EQ(Dones.size(), 1u) << "QUIT reported before the close";
    EXPECT_TRUE(Client.Connected());
    server.Release();
    ASSERT_TRUE(WaitDones(2));
    EXPECT_EQ(Dones[1], (TDone {smtpQuit, 0}));
    EXPECT_EQ(SessionClosed.size(), 1u);
    EXPECT_FALSE(Client.Connected());
    EXPECT_EQ(Client.State(), smtpReady);
}

TEST_F(SmtpClientTest, RefusedQuitIsReportedAtOnce)
{
    TScriptedServer server;
    server.Lines({"220 ready"}).Expect().Lines({"500 not now"});
    Open(server);
    EXPECT_EQ(Run([&] { Client.Quit(); }), (TDone {smtpQuit, 500}));
}

TEST_F(SmtpClientTest, QuitWhileNotConnectedIsReportedFromTheLoop)
{
    EXPECT_EQ(Run([&] { Client.Quit(); }), (TDone {smtpQuit, 0}));
    EXPECT_TRUE(Commands.empty());
}

TEST_F(SmtpClientTest, ServerClosingInTheMiddleOfARequestGives10004)
{
    TScriptedServer server;
    server.Lines({"220 ready"}).Expect().Lines({"250-partial"}).Close();
    Open(server);
    EXPECT_EQ(Run([&] { Client.Ehlo(); }), (TDone {smtpEhlo, 10004}));
    EXPECT_EQ(SessionClosed.size(), 1u);
    EXPECT_FALSE(Client.Connected());
    DrainQueue();
    EXPECT_EQ(Dones.size(), 2u);
}

TEST_F(SmtpClientTest, ServerClosingBeforeTheGreetingGives10004)
{
    TScriptedServer server;
    server.Close().Start();
    Client.Port = server.PortText();
    EXPECT_EQ(Run([&] { Client.Connect(); }), (TDone {smtpConnect, 10004}));
    EXPECT_TRUE(SessionConnected.empty());
}

TEST_F(SmtpClientTest, UnfinishedLastLineBeforeCloseIsStillRead)
{
    TScriptedServer server;
    server.Lines({"220 ready"}).Expect().Send("250 ok without line end").Close();
    Open(server);
    EXPECT_EQ(Run([&] { Client.Helo(); }), (TDone {smtpHelo, 0}));
    EXPECT_EQ(Client.LastResponse(), "250 ok without line end");
    ASSERT_TRUE(RunUntil([&] { return !Client.Connected(); }));
    DrainQueue();
    EXPECT_EQ(Dones.size(), 2u);
}

TEST_F(SmtpClientTest, GreetingOtherThan220FailsTheConnect)
{
    TScriptedServer server;
    server.Lines({"554 go away"}).WaitClose();
    server.Start();
    Client.Port = server.PortText();
    EXPECT_EQ(Run([&] { Client.Connect(); }), (TDone {smtpConnect, 10004}));
    EXPECT_EQ(Client.ErrorMessage(), "554 go away");
    EXPECT_FALSE(Client.Connected());
}

TEST_F(SmtpClientTest, OverlongReplyLineEndsTheRequestWithAnError)
{
    TScriptedServer server;
    // No line end within the line limit: the reply can never complete.
    server.Lines({"220 ready"}).Expect().Send("250 " + std::string(70000, 'x')).WaitClose();
    Open(server);
    const TDone done = Run([&] { Client.Helo(); });
    EXPECT_EQ(done.Request, smtpHelo);
    EXPECT_NE(done.Code, 0);
    ASSERT_TRUE(RunUntil([&] { return !Client.Connected(); }));
    DrainQueue();
    EXPECT_EQ(Dones.size(), 2u);
}

TEST_F(SmtpClientTest, ConnectWhileConnectedAndHeloAfterCloseRaise)
{
    TScriptedServer server;
    server.Lines({"220 ready"}).Hold().Close();
    Open(server);
    ExpectRaises([&] { Client.Connect(); }, "SMTP component already connected");
    server.Release();
    ASSERT_TRUE(RunUntil([&] { return !Client.Connected(); }));
    ExpectRaises([&] { Client.Helo(); }, "SMTP component not connected");
    DrainQueue();
    EXPECT_EQ(Dones.size(), 1u);
}

TEST_F(SmtpClientTest, RequestWhileBusyRaisesNotReady)
{
    TScriptedServer server;
    server.Lines({"220 ready"}).Expect();
    Open(server);
    Client.Helo();
    EXPECT_THROW(Client.Helo(), SmtpException);
    ExpectRaises([&] { Client.Quit(); }, "SMTP component not ready");
    Client.RcptName.clear();
    EXPECT_THROW(Client.RcptTo(), SmtpException);
    Client.Abort();
}

TEST_F(SmtpClientTest, EmptyRecipientListRaises)
{
    TScriptedServer server;
    server.Lines({"220 ready"});
    Open(server);
    ExpectRaises([&] { Client.RcptTo(); }, "RcptName list is empty");
}

TEST_F(SmtpClientTest, UnresolvableHostReportsTheLookupError)
{
    Client.Host = "no-such-host.invalid";
    const TDone done = Run([&] { Client.Connect(); });
    EXPECT_EQ(done.Request, smtpConnect);
    ASSERT_NE(done.Code, 0);
    EXPECT_EQ(SessionConnected, std::vector<std::uint16_t> {done.Code});
    EXPECT_EQ(SessionClosed, std::vector<std::uint16_t> {done.Code});
    const std::string suffix = " (Winsock error #" + std::to_string(done.Code) + ")";
    EXPECT_EQ(Client.LastResponse().rfind("500 ", 0), 0u) << Client.LastResponse();
    EXPECT_TRUE(Client.LastResponse().ends_with(suffix)) << Client.LastResponse();
    EXPECT_EQ(Client.ErrorMessage(), Client.LastResponse());
    EXPECT_EQ(Client.State(), smtpReady);
}

TEST_F(SmtpClientTest, RefusedConnectionReportsTheSocketError)
{
    unsigned short port = 0;
    {
        TScriptedServer closed; // bound, then released: nobody listens there any more
        port = static_cast<unsigned short>(std::stoi(closed.PortText()));
    }
    Client.Port = std::to_string(port);
    const TDone done = Run([&] { Client.Connect(); });
    EXPECT_EQ(done.Request, smtpConnect);
    ASSERT_NE(done.Code, 0);
    EXPECT_EQ(Client.LastResponse().rfind("500 Connect error - ", 0), 0u) << Client.LastResponse();
    EXPECT_FALSE(Client.Connected());
    DrainQueue();
    EXPECT_EQ(Dones.size(), 1u);
    EXPECT_EQ(Client.State(), smtpReady);
}

TEST_F(SmtpClientTest, SilentServerLeavesTheRequestPendingUntilAbort)
{
    TScriptedServer server;
    server.Lines({"220 ready"}).Expect().WaitClose();
    Open(server);
    Client.Helo();
    ASSERT_TRUE(RunUntil([&] { return server.Received().size() == 1; }));
    DrainQueue();
    EXPECT_EQ(Dones.size(), 1u);
    EXPECT_EQ(Client.State(), smtpWaitingResponse);
    Client.Abort();
    EXPECT_EQ(Client.State(), smtpReady);
    ASSERT_TRUE(WaitDones(2));
    EXPECT_EQ(Dones[1], (TDone {smtpHelo, 10004}));
    DrainQueue();
    EXPECT_EQ(Dones.size(), 2u);
    EXPECT_FALSE(Client.Connected());
}

TEST_F(SmtpClientTest, AbortWithoutRequestReportsNothing)
{
    Client.Abort();
    DrainQueue();
    EXPECT_TRUE(Dones.empty());
    EXPECT_EQ(Client.State(), smtpReady);
}

TEST_F(SmtpClientTest, CommandsCarryTheParsedAddressesAndSignOn)
{
    TScriptedServer server;
    server.Lines({"220 ready"});
    for (int i = 0; i < 5; ++i)
        server.Expect().Lines({"250 ok"});
    Open(server);
    Client.SignOn = "my host";
    Client.FromName = "\"Sender, The\" <from@example.com>";
    Client.HdrTo = "someone";
    EXPECT_EQ(Run([&] { Client.Helo(); }), (TDone {smtpHelo, 0}));
    EXPECT_EQ(Run([&] { Client.MailFrom(); }), (TDone {smtpMailFrom, 0}));
    Client.RcptName.clear();
    Client.ParseRecipients("to@example.com", "Person cc@example.com", "");
    EXPECT_EQ(Run([&] { Client.RcptTo(); }), (TDone {smtpRcptTo, 0}));
    EXPECT_EQ(Run([&] { Client.Vrfy(); }), (TDone {smtpVrfy, 0}));
    const std::vector<std::string> sent {
        "HELO my_host", "MAIL FROM:<from@example.com>", "RCPT TO:<to@example.com>",
        "RCPT TO:<cc@example.com>", "VRFY someone"};
    EXPECT_EQ(server.Received(), sent);
    EXPECT_FALSE(Client.ExtendedSmtp());
}

TEST_F(SmtpClientTest, ErrorMessageKeepsTheFirstErrorOfTheRequest)
{
    TScriptedServer server;
    server.Lines({"220 ready"}).Expect().Lines({"550 first"}).Expect().Lines({"551 second"});
    server.Expect().Lines({"250 ok"});
    Open(server);
    Client.OnRcptToError = [](TCustomSmtpClient&, std::uint16_t, int, TSmtpRcptToErrorAction& action) {
        action = srteIgnore;
    };
    Client.RcptName = {"a@x", "b@x", "c@x"};
    EXPECT_EQ(Run([&] { Client.RcptTo(); }), (TDone {smtpRcptTo, 0}));
    EXPECT_EQ(Client.ErrorMessage(), "550 first");
    EXPECT_EQ(Client.LastResponse(), "250 ok");
}

TEST_F(SmtpClientTest, ParseRecipientsAppendsToAndCcAndBcc)
{
    Client.RcptName = {"kept@example.com"};
    Client.ParseRecipients("a@example.com; \"Doe, John\" <john@example.com>,, c@example.com", "", "bcc@example.com");
    const std::vector<std::string> expected {
        "kept@example.com", "a@example.com", "\"Doe, John\" <john@example.com>", "c@example.com",
        "bcc@example.com"};
    EXPECT_EQ(Client.RcptName, expected);
}

TEST_F(SmtpClientTest, PropertyDefaultsAndSetters)
{
    EXPECT_EQ(Client.Port, "smtp");
    EXPECT_EQ(Client.LocalAddr, "0.0.0.0");
    EXPECT_EQ(Client.LocalAddr6, "::");
    EXPECT_EQ(Client.State(), smtpReady);
    EXPECT_EQ(Client.WrapMsgMaxLineLen(), 76);
    Client.SetWrapMsgMaxLineLen(5000);
    EXPECT_EQ(Client.WrapMsgMaxLineLen(), 1022);
    Client.SetWrapMsgMaxLineLen(3);
    EXPECT_EQ(Client.WrapMsgMaxLineLen(), 16);
    EXPECT_EQ(Client.ContentTypeText(), "text/plain");
    Client.SetContentType(smtpHtml);
    EXPECT_EQ(Client.ContentTypeText(), "text/html");
    EXPECT_EQ(Client.ShareMode(), smtpShareDenyWrite);
    const TSmtpShareMode modes[] = {
        smtpShareCompat, smtpShareExclusive, smtpShareDenyWrite, smtpShareDenyRead, smtpShareDenyNone};
    for (TSmtpShareMode mode : modes) {
        Client.SetShareMode(mode);
        EXPECT_EQ(Client.ShareMode(), mode);
        EXPECT_EQ(Client.ShareFlags(), static_cast<unsigned>(mode) * 16);
    }
    EXPECT_TRUE(Client.XMailer.ends_with("V%VER%"));
}

} // namespace
