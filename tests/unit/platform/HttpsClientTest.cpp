// The HTTPS request's own refusals and failures; the exchange with a real
// endpoint is shown end to end.
#include "platform/HttpsClient.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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
int ClosedPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t size = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size);
    ::close(fd);
    return ntohs(addr.sin_port);
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
