// The AUTH request against a scripted server: the capabilities of the EHLO
// reply, each mechanism's exchange, the automatic choice with its 504
// fall-back, the engine's own refusals, and the OAuth error challenge.
#include "smtp/SmtpClient.h"

#include "ClientHarness.h"
#include "CryptoTestSupport.h"
#include "ScriptedServer.h"
#include "mime/Base64.h"
#include "smtp/AuthCrypto.h"

#include <gtest/gtest.h>

#include <ostream>

using namespace smtp;
using smtptest::TDone;
using smtptest::TScriptedServer;

namespace {

using TLines = std::vector<std::string>;

// Opens the capability reader, which is fed by EHLO replies otherwise.
class TCapabilityClient : public TCustomSmtpClient {
public:
    void Read(const TLines& lines)
    {
        for (const auto& line : lines)
            ReadAuthCapability(line);
    }
};

struct TCapabilityCase {
    const char* Name;
    TLines Lines;
    TLines Mechanisms;
};

void PrintTo(const TCapabilityCase& c, std::ostream* os)
{
    *os << c.Name;
}

class AuthCapabilityTest : public ::testing::TestWithParam<TCapabilityCase> {};

TEST_P(AuthCapabilityTest, CollectsEachMechanismOnce)
{
    TCapabilityClient client;
    client.Read(GetParam().Lines);
    EXPECT_EQ(client.AuthMechanisms(), GetParam().Mechanisms);
}

INSTANTIATE_TEST_SUITE_P(
    Auth, AuthCapabilityTest,
    ::testing::Values(
        TCapabilityCase {"EqualsFormThenSpaceForm", {"250-AUTH=LOGIN", "250-AUTH PLAIN LOGIN"}, {"LOGIN", "PLAIN"}},
        TCapabilityCase {"LowerCaseAndBlanks", {"  250-auth  cram-md5 ntlm \t"}, {"CRAM-MD5", "NTLM"}},
        TCapabilityCase {"EqualsBetweenNames", {"250 AUTH=PLAIN=LOGIN"}, {"PLAIN", "LOGIN"}},
        TCapabilityCase {"OtherLinesIgnored",
                         {"250-mail.example.com", "250-SIZE 1000", "250-AUTHX PLAIN", "250-AUTH", "250 AUTH "},
                         {}}),
    [](const auto& info) { return std::string(info.param.Name); });

// The RFC 2195 example.
const std::string kCramChallenge = "334 PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+";
const std::string kPlainTim = "AUTH PLAIN dGltAHRpbQB0YW5zdGFhZnRhbnN0YWFm";
// "user=tim", 0x01, "auth=Bearer ya29.token", 0x01, 0x01.
const std::string kXOAuth2Tim = "AUTH XOAUTH2 dXNlcj10aW0BYXV0aD1CZWFyZXIgeWEyOS50b2tlbgEB";
// Google's error: {"status":"401","schemes":"Bearer","scope":"https://mail.google.com/"}
const std::string kGoogleError =
    "334 eyJzdGF0dXMiOiI0MDEiLCJzY2hlbWVzIjoiQmVhcmVyIiwic2NvcGUiOiJodHRwczovL21haWwuZ29vZ2xlLmNvbS8ifQ==";

struct TAuthCase {
    const char* Name;
    TSmtpAuthType AuthType;
    TLines Ehlo;     // the EHLO reply
    TLines Replies;  // one per command after EHLO
    TLines Sent;     // the commands after EHLO
    std::uint16_t Code;
    std::string ErrorMessage;
    std::string FromName = {};
};

void PrintTo(const TAuthCase& c, std::ostream* os)
{
    *os << c.Name;
}

class SmtpAuthTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Events.Record(Client);
        Client.Host = "127.0.0.1";
        Client.SignOn = "tester";
        Client.Username = "tim";
        Client.Password = "tanstaaftanstaaf";
        Client.AccessToken = "ya29.token";
    }

    // Connects and says EHLO (answered with ehlo); the server answers the
    // commands after it with the replies.
    void Greet(const TLines& ehlo, const TLines& replies)
    {
        Server.Lines({"220 ready"}).Expect();
        for (const auto& line : ehlo)
            Server.Lines({line});
        for (const auto& reply : replies)
            Server.Expect().Lines({reply});
        Server.Start();
        Client.Port = Server.PortText();
        EXPECT_EQ(Run([&] { Client.Connect(); }), (TDone {smtpConnect, 0}));
        EXPECT_EQ(Run([&] { Client.Ehlo(); }), (TDone {smtpEhlo, 0}));
    }

    // Greets, then runs AUTH against the replies.
    TDone RunAuth(const TLines& ehlo, const TLines& replies)
    {
        Greet(ehlo, replies);
        const TDone done = Run([&] { Client.Auth(); });
        EXPECT_TRUE(Server.WaitDone());
        return done;
    }

    TDone Run(const std::function<void()>& request) { return smtptest::RunRequest(Events, request); }

    // The commands after EHLO, as the client reported them.
    TLines AfterEhlo() const { return TLines(Events.Commands.begin() + 1, Events.Commands.end()); }

    TScriptedServer Server;
    TCustomSmtpClient Client;
    smtptest::TClientEvents Events;
};

class AuthExchangeTest : public SmtpAuthTest, public ::testing::WithParamInterface<TAuthCase> {};

TEST_P(AuthExchangeTest, CommandsCodeAndErrorText)
{
    const TAuthCase& c = GetParam();
    Client.AuthType = c.AuthType;
    Client.FromName = c.FromName;
    EXPECT_EQ(RunAuth(c.Ehlo, c.Replies), (TDone {smtpAuth, c.Code}));
    EXPECT_EQ(AfterEhlo(), c.Sent);
    // What the server got is what the events showed: nothing is hidden there.
    EXPECT_EQ(Server.Received(), TLines(Events.Commands.begin(), Events.Commands.end()));
    EXPECT_EQ(Client.ErrorMessage(), c.ErrorMessage);
    EXPECT_EQ(Client.State(), smtpReady);
    EXPECT_TRUE(Client.Connected());
}

INSTANTIATE_TEST_SUITE_P(
    Auth, AuthExchangeTest,
    ::testing::Values(
        // PLAIN sends the user name twice around the first NUL when FromName is empty.
        TAuthCase {"Plain", smtpAuthPlain, {"250 AUTH PLAIN"}, {"235 ok"}, {kPlainTim}, 0, ""},
        TAuthCase {"PlainWithFromName", smtpAuthPlain, {"250 AUTH PLAIN"}, {"235 ok"},
                   {"AUTH PLAIN dGltAGFAYi5vcmcAdGFuc3RhYWZ0YW5zdGFhZg=="}, 0, "", "a@b.org"},
        TAuthCase {"Login", smtpAuthLogin, {"250 AUTH LOGIN"}, {"334 VXNlcm5hbWU6", "334 UGFzc3dvcmQ6", "235 ok"},
                   {"AUTH LOGIN", "dGlt", "dGFuc3RhYWZ0YW5zdGFhZg=="}, 0, ""},
        TAuthCase {"LoginPasswordRefused", smtpAuthLogin, {"250 AUTH LOGIN"}, {"334 x", "334 y", "535 bad"},
                   {"AUTH LOGIN", "dGlt", "dGFuc3RhYWZ0YW5zdGFhZg=="}, 535, "535 bad"},
        TAuthCase {"LoginUserRefused", smtpAuthLogin, {"250 AUTH LOGIN"}, {"334 x", "535 who"},
                   {"AUTH LOGIN", "dGlt"}, 535, "535 who"},
        TAuthCase {"CramMd5Rfc2195", smtpAuthCramMD5, {"250 AUTH CRAM-MD5"}, {kCramChallenge, "235 ok"},
                   {"AUTH CRAM-MD5", "dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw"}, 0, ""},
        TAuthCase {"CramSha1", smtpAuthCramSha1, {"250 AUTH CRAM-SHA1"}, {kCramChallenge, "235 ok"},
                   {"AUTH CRAM-SHA1", "dGltIDhjYjEwZWQwYThiNzY0YWIwZTA1MTI1ZGQ2ZWFhMjk1ZjE5YjU5NDM="}, 0, ""},
        TAuthCase {"CramDigestRefused", smtpAuthCramMD5, {"250 AUTH CRAM-MD5"}, {kCramChallenge, "535 no"},
                   {"AUTH CRAM-MD5", "dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw"}, 535, "535 no"},
        TAuthCase {"CramMd5WithoutChallenge", smtpAuthCramMD5, {"250 AUTH CRAM-MD5"}, {"334"}, {"AUTH CRAM-MD5"},
                   500, "500 Malformed MD5 Challenge: 334"},
        TAuthCase {"CramSha1WithoutChallenge", smtpAuthCramSha1, {"250 AUTH CRAM-SHA1"}, {"334 "},
                   {"AUTH CRAM-SHA1"}, 500, "500 Malformed SHA1 Challenge: 334 "},
        TAuthCase {"NtlmWithoutChallenge", smtpAuthNtlm, {"250 AUTH NTLM"}, {"334"},
                   {"AUTH NTLM TlRMTVNTUAABAAAAB4IAAAAAAAAgAAAAAAAAACAAAAA="}, 500, "500 Malformed NtlmMsg2: 334"},
        // A chosen mechanism is not changed on 504, listed or not.
        TAuthCase {"ChosenMechanismRefused", smtpAuthLogin, {"250 AUTH PLAIN"}, {"504 unknown"}, {"AUTH LOGIN"},
                   504, "504 unknown"},
        // Automatic choice: NTLM, CRAM-MD5, CRAM-SHA1, LOGIN, PLAIN.
        TAuthCase {"AutoPrefersCramMd5", smtpAuthAutoSelect, {"250 AUTH PLAIN LOGIN CRAM-MD5"},
                   {kCramChallenge, "235 ok"},
                   {"AUTH CRAM-MD5", "dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw"}, 0, ""},
        TAuthCase {"AutoWithNothingListedTriesCramMd5", smtpAuthAutoSelect, {"250 HELP"}, {"504 no", "454 busy"},
                   {"AUTH CRAM-MD5", "AUTH CRAM-SHA1"}, 454, "500 Authentication Type could not be determined."},
        TAuthCase {"AutoPicksLoginOverPlain", smtpAuthAutoSelect, {"250-AUTH=PLAIN", "250 AUTH LOGIN"},
                   {"334 a", "334 b", "235 ok"}, {"AUTH LOGIN", "dGlt", "dGFuc3RhYWZ0YW5zdGFhZg=="}, 0, ""},
        // Each 504 moves one place down; a 504 to PLAIN ends the request.
        TAuthCase {"AutoWalksDownOn504",
                   smtpAuthAutoSelect,
                   {"250 AUTH PLAIN NTLM"},
                   {"504 a", "504 b", "504 c", "504 d", "504 e"},
                   {"AUTH NTLM TlRMTVNTUAABAAAAB4IAAAAAAAAgAAAAAAAAACAAAAA=", "AUTH CRAM-MD5", "AUTH CRAM-SHA1",
                    "AUTH LOGIN", kPlainTim},
                   504,
                   "504 a"},
        TAuthCase {"AutoFallsBackToLogin", smtpAuthAutoSelect, {"250 AUTH CRAM-SHA1 LOGIN"},
                   {"504 a", "334 u", "334 p", "235 ok"},
                   {"AUTH CRAM-SHA1", "AUTH LOGIN", "dGlt", "dGFuc3RhYWZ0YW5zdGFhZg=="}, 0, "504 a"},
        // With automatic choice a first command refused otherwise than with
        // 504 ends the request with its code and the engine's text.
        TAuthCase {"AutoRefusedOtherwise", smtpAuthAutoSelect, {"250 AUTH CRAM-MD5"}, {"454 busy"},
                   {"AUTH CRAM-MD5"}, 454, "500 Authentication Type could not be determined."},
        TAuthCase {"AutoPlainRefused", smtpAuthAutoSelect, {"250 AUTH PLAIN"}, {"535 bad"}, {kPlainTim}, 535,
                   "500 Authentication Type could not be determined."},
        TAuthCase {"AutoLaterCommandRefused", smtpAuthAutoSelect, {"250 AUTH LOGIN"}, {"334 u", "334 p", "535 bad"},
                   {"AUTH LOGIN", "dGlt", "dGFuc3RhYWZ0YW5zdGFhZg=="}, 535, "535 bad"},
        // OAuth: the token goes with the first command; an error challenge
        // is answered with an empty line, and the final reply ends the request.
        TAuthCase {"XOAuth2", smtpAuthXOAuth2, {"250 AUTH XOAUTH2"}, {"235 ok"}, {kXOAuth2Tim}, 0, ""},
        TAuthCase {"XOAuth2ErrorChallenge", smtpAuthXOAuth2, {"250 AUTH XOAUTH2"},
                   {kGoogleError, "535 5.7.8 Username and Password not accepted"}, {kXOAuth2Tim, ""}, 535,
                   "535 5.7.8 Username and Password not accepted"},
        TAuthCase {"XOAuth2RefusedAtOnce", smtpAuthXOAuth2, {"250 AUTH XOAUTH2"},
                   {"535 5.7.3 Authentication unsuccessful"}, {kXOAuth2Tim}, 535, "535 5.7.3 Authentication unsuccessful"},
        TAuthCase {"XOAuth2NotKnown", smtpAuthXOAuth2, {"250 AUTH PLAIN"}, {"504 unknown"}, {kXOAuth2Tim}, 504,
                   "504 unknown"},
        // The automatic choice never takes them, listed or not.
        TAuthCase {"AutoPassesOAuthBy", smtpAuthAutoSelect, {"250 AUTH XOAUTH2 OAUTHBEARER"},
                   {"504 a", "504 b", "504 c", "504 d"}, {"AUTH CRAM-MD5", "AUTH CRAM-SHA1", "AUTH LOGIN", kPlainTim},
                   504, "504 a"},
        TAuthCase {"NoneSelected", smtpAuthNone, {"250 AUTH PLAIN"}, {}, {}, 500,
                   "500 No Authentication Type Selected."}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(SmtpAuthTest, AuthWithoutASuccessfulEhloSendsNothing)
{
    Client.AuthType = smtpAuthPlain;
    Server.Lines({"220 ready"}).Expect().Lines({"250 hello"});
    Server.Start();
    Client.Port = Server.PortText();
    ASSERT_EQ(Run([&] { Client.Connect(); }), (TDone {smtpConnect, 0}));
    ASSERT_EQ(Run([&] { Client.Helo(); }), (TDone {smtpHelo, 0}));
    EXPECT_EQ(Run([&] { Client.Auth(); }), (TDone {smtpAuth, 500}));
    EXPECT_EQ(Client.LastResponse(), "500 ESMTP not supported.");
    EXPECT_EQ(Client.ErrorMessage(), "500 ESMTP not supported.");
    EXPECT_EQ(Events.Commands, TLines {"HELO tester"});
    EXPECT_EQ(Client.State(), smtpReady);
}

// The type-3 answer carries the MS-NLMP example's NTLMv1 responses.
TEST_F(SmtpAuthTest, NtlmAnswersTheChallenge)
{
    Client.AuthType = smtpAuthNtlm;
    Client.Username = "User";
    Client.Password = "Password";
    const std::string type2 = mime::Base64Encode(std::string("NTLMSSP\0\2\0\0\0\0\0\0\0\x30\0\0\0\x05\x82\0\0", 24) +
                                                 smtptest::Unhex("0123456789abcdef") + std::string(16, '\0'));
    EXPECT_EQ(RunAuth({"250 AUTH NTLM"}, {"334 " + type2, "235 ok"}), (TDone {smtpAuth, 0}));
    ASSERT_EQ(AfterEhlo().size(), 2u);
    const std::string type3 = mime::Base64Decode(AfterEhlo()[1]);
    ASSERT_EQ(type3.size(), 64u + 8 + 48);
    EXPECT_EQ(type3.substr(64, 8), std::string("U\0s\0e\0r\0", 8));
    EXPECT_EQ(HexLower(type3.substr(72)),
              "98def7b87f88aa5dafe2df779688a172def11c7d5ccdef13"
              "67c43011f30298a2ad35ece64f16331c44bdbed927841f94");
}

// Without OpenSSL's legacy provider NTLM cannot run: chosen, it fails
// before anything is sent; chosen automatically, the next mechanism is tried.
TEST_F(SmtpAuthTest, ChosenNtlmWithoutMd4AndDesFails)
{
    if (smtptest::TNoProviderModules::LegacyIsBuiltIn())
        GTEST_SKIP() << "the legacy provider is built into the library here";
    smtptest::TNoProviderModules noModules;
    Client.AuthType = smtpAuthNtlm;
    EXPECT_EQ(RunAuth({"250 AUTH NTLM CRAM-MD5"}, {}), (TDone {smtpAuth, 500}));
    EXPECT_TRUE(AfterEhlo().empty());
    EXPECT_TRUE(Client.ErrorMessage().starts_with("500 NTLM is not available: OpenSSL's legacy provider"))
        << Client.ErrorMessage();
}

TEST_F(SmtpAuthTest, AutomaticNtlmWithoutMd4AndDesMovesOn)
{
    if (smtptest::TNoProviderModules::LegacyIsBuiltIn())
        GTEST_SKIP() << "the legacy provider is built into the library here";
    smtptest::TNoProviderModules noModules;
    Client.AuthType = smtpAuthAutoSelect;
    EXPECT_EQ(RunAuth({"250 AUTH NTLM CRAM-MD5"}, {"504 no", "454 busy"}), (TDone {smtpAuth, 454}));
    EXPECT_EQ(AfterEhlo(), (TLines {"AUTH CRAM-MD5", "AUTH CRAM-SHA1"}));
}

// The server's error is decoded for the log; the next AUTH starts afresh.
TEST_F(SmtpAuthTest, XOAuth2KeepsTheServersErrorOfThisAuthOnly)
{
    Client.AuthType = smtpAuthXOAuth2;
    Greet({"250 AUTH XOAUTH2"}, {kGoogleError, "535 no", "235 ok"});
    EXPECT_EQ(Run([&] { Client.Auth(); }), (TDone {smtpAuth, 535}));
    EXPECT_EQ(Client.OAuthError(), "status 401, schemes Bearer, scope https://mail.google.com/");
    Client.AccessToken = "ya29.new";
    EXPECT_EQ(Run([&] { Client.Auth(); }), (TDone {smtpAuth, 0}));
    EXPECT_TRUE(Server.WaitDone());
    EXPECT_EQ(Client.OAuthError(), "");
    EXPECT_EQ(AfterEhlo().back(), "AUTH XOAUTH2 " + mime::Base64Encode("user=tim\x01" "auth=Bearer ya29.new\x01\x01"));
}

// RFC 7628: the user in the GS2 header, the host and the port the client
// connected to, the token; an error challenge is answered with 0x01.
TEST_F(SmtpAuthTest, OAuthBearerNamesHostAndPortAndAnswersAnErrorWithOneByte)
{
    Client.AuthType = smtpAuthOAuthBearer;
    // {"status":"invalid_token","scope":"example_scope","openid-configuration":"https://example.com/..."}
    const std::string error = "334 eyJzdGF0dXMiOiAiaW52YWxpZF90b2tlbiIsICJzY29wZSI6ICJleGFtcGxlX3Njb3BlIiwgIm9wZW5pZC1j"
                              "b25maWd1cmF0aW9uIjogImh0dHBzOi8vZXhhbXBsZS5jb20vLndlbGwta25vd24vb3BlbmlkLWNvbmZpZ3VyYXRp"
                              "b24ifQ==";
    EXPECT_EQ(RunAuth({"250 AUTH OAUTHBEARER"}, {error, "535 5.7.8 no"}), (TDone {smtpAuth, 535}));
    const std::string response = "n,a=tim,\x01host=127.0.0.1\x01port=" + Server.PortText() +
                                 "\x01" "auth=Bearer ya29.token\x01\x01";
    EXPECT_EQ(AfterEhlo(), (TLines {"AUTH OAUTHBEARER " + mime::Base64Encode(response), "AQ=="}));
    EXPECT_EQ(Client.OAuthError(), "status invalid_token, scope example_scope, "
                                   "openid-configuration https://example.com/.well-known/openid-configuration");
    EXPECT_EQ(Client.ErrorMessage(), "535 5.7.8 no");
    EXPECT_TRUE(Client.Connected());
}

} // namespace
