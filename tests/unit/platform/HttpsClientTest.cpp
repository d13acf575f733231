// The HTTPS request's own refusals and failures; the exchange with a real
// endpoint is shown end to end.
#include "platform/HttpsClient.h"

#include "../LoopbackListener.h"

#include <gtest/gtest.h>

using platform::EHttpsError;
using platform::HttpsPost;
using platform::THttpsPost;

namespace {

std::string Failure(const THttpsPost& post)
{
    try {
        HttpsPost(post);
    } catch (const EHttpsError& e) {
        return e.what();
    }
    return "no error";
}

// A port of 127.0.0.1 that nothing listens on.
std::uint16_t ClosedPort()
{
    std::uint16_t port = 0;
    platform::SocketClose(OpenLoopbackListener(-1, port));
    return port;
}

TEST(HttpsClient, OnlyHttpsUrls)
{
    for (const char* url : {"http://127.0.0.1/token", "ftp://x/y", "127.0.0.1/token", ""})
        EXPECT_EQ(Failure({.Url = url}), std::string(url) + ": not an https URL");
}

TEST(HttpsClient, MissingCaFileIsNamed)
{
    EXPECT_EQ(Failure({.Url = "https://127.0.0.1/t", .CAFile = "/no/such/ca.pem"}),
              "https://127.0.0.1/t: CA file /no/such/ca.pem not found");
}

TEST(HttpsClient, NoServerIsAnErrorNamingTheUrl)
{
    const std::string url = "https://127.0.0.1:" + std::to_string(ClosedPort()) + "/token";
    const std::string failure = Failure({.Url = url, .TimeoutMs = 5000});
    EXPECT_TRUE(failure.starts_with(url + ": ")) << failure;
    EXPECT_NE(failure.find("127.0.0.1"), std::string::npos) << failure;
}

} // namespace
