// The texts of XOAUTH2 and OAUTHBEARER against the providers' published
// examples, and the server's error challenge as the log shows it.
#include "smtp/OAuthSasl.h"

#include "mime/Base64.h"

#include <gtest/gtest.h>

using namespace smtp;

namespace {

// Google's XOAUTH2 documentation.
TEST(OAuthSasl, XOAuth2AsGoogleDocumentsIt)
{
    EXPECT_EQ(mime::Base64Encode(XOAuth2Response("someuser@example.com", "ya29.vF9dft4qmTc2Nvb3RlckBhdHRhdmlzdGEuY29tCg")),
              "dXNlcj1zb21ldXNlckBleGFtcGxlLmNvbQFhdXRoPUJlYXJlciB5YTI5LnZGOWRmdDRxbVRjMk52YjNSbGNrQmhkSFJoZG1semRHRXVZ"
              "Mjl0Q2cBAQ==");
}

// RFC 7628, section 4.1.
TEST(OAuthSasl, OAuthBearerAsRfc7628ShowsIt)
{
    EXPECT_EQ(mime::Base64Encode(OAuthBearerResponse("user@example.com", "server.example.com", "143",
                                                     "vF9dft4qmTc2Nvb3RlckBhbHRhdmlzdGEuY29tCg==")),
              "bixhPXVzZXJAZXhhbXBsZS5jb20sAWhvc3Q9c2VydmVyLmV4YW1wbGUuY29tAXBvcnQ9MTQzAWF1dGg9QmVhcmVyIHZGOWRmdDRxbVRj"
              "Mk52YjNSbGNrQmhiSFJoZG1semRHRXVZMjl0Q2c9PQEB");
}

// "," and "=" in the authorization identity are escaped (RFC 5801); without
// a user the header has no identity at all.
TEST(OAuthSasl, OAuthBearerUserInTheGs2Header)
{
    EXPECT_EQ(OAuthBearerResponse("a=b,c", "h", "587", "t"), "n,a=a=3Db=2Cc,\x01host=h\x01port=587\x01" "auth=Bearer t\x01\x01");
    EXPECT_EQ(OAuthBearerResponse("", "h", "587", "t"), "n,,\x01host=h\x01port=587\x01" "auth=Bearer t\x01\x01");
}

TEST(OAuthSasl, ErrorChallengeForTheLog)
{
    const auto describe = [](const std::string& text) { return DescribeOAuthError(mime::Base64Encode(text)); };
    EXPECT_EQ(describe(R"({"status":"401","schemes":"Bearer","scope":"https://mail.google.com/"})"),
              "status 401, schemes Bearer, scope https://mail.google.com/");
    EXPECT_EQ(describe(R"({"status":"invalid_token","code":7,"detail":{"a":1}})"),
              R"(status invalid_token, code 7, detail {"a":1})");
    EXPECT_EQ(describe("{\"message\":\"bad\\r\\ntoken\"}"), "message bad  token");
    // Not JSON: the text itself, without control characters.
    EXPECT_EQ(describe("token expired\r\n"), "token expired");
    EXPECT_EQ(describe("[1,2]"), "[1,2]");
    EXPECT_EQ(DescribeOAuthError(""), "");
}

} // namespace
