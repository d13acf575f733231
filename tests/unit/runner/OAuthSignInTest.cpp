// Where the sign-in's token comes from, with the clock, the endpoint and the
// command replaced: the cache across runs, the renewal of a refused token,
// and the failures of each source.
#include "runner/OAuthSignIn.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <ostream>

using namespace runner;

namespace {

constexpr std::int64_t kStart = 1'800'000'000;
const std::string kUrl = "https://login.example/token";

class OAuthSignInTest : public ::testing::Test {
protected:
    // One run of the program: a sign-in of its own on the shared cache file.
    std::unique_ptr<TOAuthSignIn> Run(const TOAuthSettings& settings)
    {
        TOAuthServices services;
        services.Now = [this] { return Now; };
        services.Post = [this](const platform::THttpsPost& post) {
            Posts.push_back(post);
            if (PostError)
                throw platform::EHttpsError(*PostError);
            const std::string token = "token-" + std::to_string(Posts.size());
            return platform::THttpsReply {200, R"({"access_token":")" + token + R"(","expires_in":3600})"};
        };
        services.Run = [this](const std::string& command, std::uint32_t timeoutMs) {
            Commands.push_back(command + " / " + std::to_string(timeoutMs));
            return Command;
        };
        TOAuthSignIn::TOptions options {"mailer@example.org", Dir.File("plonEmail.tokens"), "/etc/ca.pem", 15000,
                                        "plonemail/test"};
        return std::make_unique<TOAuthSignIn>(settings, options, [this](const std::string& l) { Log.push_back(l); },
                                              services);
    }

    std::string LogText() const
    {
        std::string all;
        for (const auto& line : Log)
            all += line + "\n";
        return all;
    }

    TTempDir Dir;
    std::int64_t Now = kStart;
    std::vector<platform::THttpsPost> Posts;
    std::optional<std::string> PostError;
    std::vector<std::string> Commands;
    platform::TCommandResult Command;
    std::vector<std::string> Log;
    const TOAuthSettings Endpoint {.TokenUrl = kUrl, .ClientId = "app", .ClientSecret = "secret", .Scope = "s"};
};

TEST_F(OAuthSignInTest, EndpointTokenServesTheRunAndLaterRunsUntilItsLastMinute)
{
    auto first = Run(Endpoint);
    EXPECT_EQ(first->Token(), "token-1");
    EXPECT_EQ(first->Token(), "token-1");  // the error report of the same run
    ASSERT_EQ(Posts.size(), 1u);
    EXPECT_EQ(Posts[0].Url, kUrl);
    EXPECT_EQ(Posts[0].Body, "grant_type=client_credentials&client_id=app&client_secret=secret&scope=s");
    EXPECT_EQ(Posts[0].CAFile, "/etc/ca.pem");
    EXPECT_EQ(Posts[0].TimeoutMs, 15000u);
    EXPECT_EQ(Posts[0].UserAgent, "plonemail/test");

    Now = kStart + 3539;
    EXPECT_EQ(Run(Endpoint)->Token(), "token-1");
    EXPECT_EQ(Posts.size(), 1u);
    Now = kStart + 3540;
    EXPECT_EQ(Run(Endpoint)->Token(), "token-2");
    EXPECT_EQ(Posts.size(), 2u);
    EXPECT_EQ(LogText().find("token-"), std::string::npos) << LogText();
    EXPECT_EQ(LogText().find("secret"), std::string::npos) << LogText();
}

TEST_F(OAuthSignInTest, TokenHeldByARunIsRenewedWhenItRunsOut)
{
    auto run = Run(Endpoint);
    EXPECT_EQ(run->Token(), "token-1");
    Now = kStart + 3550;
    EXPECT_EQ(run->Token(), "token-2");
}

TEST_F(OAuthSignInTest, EachAccountHasItsOwnToken)
{
    EXPECT_EQ(Run(Endpoint)->Token(), "token-1");
    TOAuthSettings other = Endpoint;
    other.Scope = "https://mail.google.com/";
    EXPECT_EQ(Run(other)->Token(), "token-2");
    other.RefreshToken = "r";
    EXPECT_EQ(Run(other)->Token(), "token-3");
    EXPECT_EQ(Run(Endpoint)->Token(), "token-1");
}

TEST_F(OAuthSignInTest, RefusedCachedTokenIsRenewedOnce)
{
    Run(Endpoint)->Token();
    auto run = Run(Endpoint);
    EXPECT_EQ(run->Token(), "token-1");
    EXPECT_TRUE(run->TokenRefused());
    EXPECT_EQ(run->Token(), "token-2");
    // A new token the server refuses as well is not renewed again.
    EXPECT_FALSE(run->TokenRefused());
    EXPECT_EQ(Posts.size(), 2u);
    // Nor is it offered to the next run.
    EXPECT_EQ(Run(Endpoint)->Token(), "token-3");
}

TEST_F(OAuthSignInTest, RefusedNewTokenIsNotRenewed)
{
    auto run = Run(Endpoint);
    EXPECT_EQ(run->Token(), "token-1");
    EXPECT_FALSE(run->TokenRefused());
    EXPECT_FALSE(run->TokenRefused());
    EXPECT_EQ(Posts.size(), 1u);
}

TEST_F(OAuthSignInTest, EndpointThatCannotBeReached)
{
    PostError = kUrl + ": Couldn't connect to server";
    try {
        Run(Endpoint)->Token();
        FAIL() << "no error";
    } catch (const EOAuthError& e) {
        EXPECT_EQ(std::string(e.what()), "Token request failed: " + kUrl + ": Couldn't connect to server");
    }
}

TEST_F(OAuthSignInTest, CommandTokenIsItsFirstLineAndIsNotCached)
{
    Command = {0, false, "  cmd-token \r\nsecond line\n", "a warning\n"};
    const TOAuthSettings settings {.TokenCommand = "helper --print"};
    auto run = Run(settings);
    EXPECT_EQ(run->Token(), "cmd-token");
    EXPECT_EQ(run->Token(), "cmd-token");
    EXPECT_EQ(Commands, (std::vector<std::string> {"helper --print / 15000"}));
    EXPECT_FALSE(run->TokenRefused());
    EXPECT_EQ(Run(settings)->Token(), "cmd-token");
    EXPECT_EQ(Commands.size(), 2u);
    EXPECT_FALSE(std::ifstream(Dir.File("plonEmail.tokens")));
    EXPECT_EQ(LogText().find("cmd-token"), std::string::npos);
}

struct TCommandCase {
    const char* Name;
    platform::TCommandResult Result;
    std::string Error;
};

void PrintTo(const TCommandCase& c, std::ostream* os)
{
    *os << c.Name;
}

class OAuthCommandFailureTest : public OAuthSignInTest, public ::testing::WithParamInterface<TCommandCase> {};

TEST_P(OAuthCommandFailureTest, FailsWithTheCommandsWords)
{
    Command = GetParam().Result;
    try {
        Run({.TokenCommand = "helper"})->Token();
        FAIL() << "no error";
    } catch (const EOAuthError& e) {
        EXPECT_EQ(std::string(e.what()), GetParam().Error);
    }
}

INSTANTIATE_TEST_SUITE_P(
    OAuthSignIn, OAuthCommandFailureTest,
    ::testing::Values(
        TCommandCase {"ExitCode", {3, false, "token-anyway\n", "helper: no account\nusage: ...\n"},
                      "OAuthTokenCommand failed (exit code 3): helper: no account"},
        TCommandCase {"Signal", {-1, false, "", ""}, "OAuthTokenCommand failed (ended by a signal)"},
        TCommandCase {"EmptyFirstLine", {0, false, "\nsecond\n", ""}, "OAuthTokenCommand printed no token"},
        TCommandCase {"NoOutput", {0, false, "", "not signed in\n"}, "OAuthTokenCommand printed no token: not signed in"},
        TCommandCase {"TimedOut", {-1, true, "", ""},
                      "OAuthTokenCommand did not finish within 15 seconds and was stopped"}),
    [](const auto& info) { return std::string(info.param.Name); });

} // namespace
