#pragma once
// One HTTPS POST and its reply, for the few requests the program makes
// besides mail (a sign-in token). Here through libcurl, loaded only when a
// request is made; a Windows build uses WinHTTP.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace platform {

struct THttpsPost {
    std::string Url {};
    std::string Body {};
    std::string ContentType = "application/x-www-form-urlencoded";
    std::string Accept = "application/json";
    std::string UserAgent {};
    // Certificates (PEM) the server's chain must lead to; empty: the
    // system's trust store.
    std::string CAFile {};
    // The whole exchange, from the name lookup to the last byte of the reply.
    std::uint32_t TimeoutMs = 60000;
};

struct THttpsReply {
    long Status = 0;
    std::string Body;
};

// Replies longer than this are refused.
inline constexpr std::size_t MaxHttpsReply = 1024 * 1024;

// No reply came: the message names the URL and the reason.
class EHttpsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Posts the body and returns the server's reply, whatever its status. The
// server's certificate chain and host name are always verified; only https
// URLs are taken and redirections are not followed. Raises EHttpsError when
// no reply comes: no connection, a certificate that does not verify, the
// time is up, a reply too long, or no HTTPS library on this system.
THttpsReply HttpsPost(const THttpsPost& request);

} // namespace platform
