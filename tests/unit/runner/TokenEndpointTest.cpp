// The token request's form and the reading of the endpoint's replies.
#include "runner/TokenEndpoint.h"

#include <gtest/gtest.h>

#include <ostream>

using namespace runner;

namespace {

const std::string kUrl = "https://login.example/token";

TEST(TokenEndpoint, FormEncoding)
{
    EXPECT_EQ(FormEncode("AZaz09-._~"), "AZaz09-._~");
    EXPECT_EQ(FormEncode("a b+c&d=e/f:%"), "a+b%2Bc%26d%3De%2Ff%3A%25");
    EXPECT_EQ(FormEncode("\xc3\xa9\x01"), "%C3%A9%01");
}

TEST(TokenEndpoint, ClientCredentialsGrant)
{
    const TOAuthSettings s {.TokenUrl = kUrl, .ClientId = "app id", .ClientSecret = "s&cret=1",
                            .Scope = "https://outlook.office365.com/.default"};
    EXPECT_EQ(TokenRequestBody(s),
              "grant_type=client_credentials&client_id=app+id&client_secret=s%26cret%3D1"
              "&scope=https%3A%2F%2Foutlook.office365.com%2F.default");
}

TEST(TokenEndpoint, RefreshTokenGrantSendsOnlyWhatIsSet)
{
    TOAuthSettings s {.TokenUrl = kUrl, .ClientId = "app", .ClientSecret = "sec", .RefreshToken = "1//r+t"};
    EXPECT_EQ(TokenRequestBody(s), "grant_type=refresh_token&refresh_token=1%2F%2Fr%2Bt&client_id=app&client_secret=sec");
    s.ClientSecret.clear();
    s.Scope = "https://mail.google.com/";
    EXPECT_EQ(TokenRequestBody(s),
              "grant_type=refresh_token&refresh_token=1%2F%2Fr%2Bt&client_id=app&scope=https%3A%2F%2Fmail.google.com%2F");
}

struct TReplyCase {
    const char* Name;
    long Status;
    std::string Body;
    std::string Token;                    // expected token, or empty
    std::optional<std::int64_t> Lifetime;
    std::string Error;                    // expected error text, or empty
};

void PrintTo(const TReplyCase& c, std::ostream* os)
{
    *os << c.Name;
}

class TokenReplyTest : public ::testing::TestWithParam<TReplyCase> {};

TEST_P(TokenReplyTest, TokenOrReason)
{
    const TReplyCase& c = GetParam();
    if (c.Error.empty()) {
        const TTokenGrant grant = ReadTokenReply(kUrl, c.Status, c.Body);
        EXPECT_EQ(grant.AccessToken, c.Token);
        EXPECT_EQ(grant.ExpiresIn, c.Lifetime);
        return;
    }
    try {
        ReadTokenReply(kUrl, c.Status, c.Body);
        ADD_FAILURE() << "no error";
    } catch (const EOAuthError& e) {
        EXPECT_EQ(e.what(), c.Error);
    }
}

const std::string kFailed = "Token request to " + kUrl + " failed ";

INSTANTIATE_TEST_SUITE_P(
    TokenEndpoint, TokenReplyTest,
    ::testing::Values(
        TReplyCase {"Microsoft", 200, R"({"token_type":"Bearer","expires_in":3599,"ext_expires_in":3599,"access_token":"eyJ0"})",
                    "eyJ0", 3599, ""},
        TReplyCase {"Google", 200, R"({"access_token":"ya29.a0","expires_in":3599,"scope":"https://mail.google.com/","token_type":"Bearer"})",
                    "ya29.a0", 3599, ""},
        TReplyCase {"LifetimeAsText", 200, R"({"access_token":"t","expires_in":"3600"})", "t", 3600, ""},
        TReplyCase {"NoLifetime", 200, R"({"access_token":"t","token_type":"bearer"})", "t", std::nullopt, ""},
        TReplyCase {"LifetimeThatMakesNoSense", 200, R"({"access_token":"t","expires_in":-5})", "t", std::nullopt, ""},
        TReplyCase {"InvalidClient", 400,
                    R"({"error":"invalid_client","error_description":"AADSTS7000215: Invalid client secret provided.","error_codes":[7000215]})",
                    "", {}, kFailed + "(HTTP 400): invalid_client: AADSTS7000215: Invalid client secret provided."},
        TReplyCase {"ErrorWithoutDescription", 401, R"({"error":"invalid_grant"})", "", {},
                    kFailed + "(HTTP 401): invalid_grant"},
        TReplyCase {"DescriptionWithLineBreaks", 400, R"({"error":"invalid_scope","error_description":"AADSTS70011:\r\nThe scope is not valid."})",
                    "", {}, kFailed + "(HTTP 400): invalid_scope: AADSTS70011:  The scope is not valid."},
        // A page that is not the endpoint's could echo the request: not quoted.
        TReplyCase {"NotJson", 502, "<html>client_secret=s3cret</html>", "", {},
                    kFailed + "(HTTP 502): the reply is no JSON object (33 bytes)"},
        TReplyCase {"ErrorStatusWithoutError", 500, R"({"message":"busy"})", "", {},
                    kFailed + "(HTTP 500): the reply names no error"},
        TReplyCase {"NoToken", 200, R"({"token_type":"Bearer"})", "", {},
                    "Token request to " + kUrl + ": the reply holds no access_token"},
        TReplyCase {"NotBearer", 200, R"({"access_token":"t","token_type":"MAC"})", "", {},
                    "Token request to " + kUrl + ": token_type mac is not Bearer"}),
    [](const auto& info) { return std::string(info.param.Name); });

} // namespace
