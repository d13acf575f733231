#pragma once
// The token request of OAuth 2.0 (RFC 6749): the form the program posts to
// the provider's token endpoint and what it reads from the reply.

#include "runner/Settings.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace runner {

// No token could be had; the text says why, without any secret.
class EOAuthError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TTokenGrant {
    std::string AccessToken;
    std::optional<std::int64_t> ExpiresIn;  // seconds; the reply need not say
};

// application/x-www-form-urlencoded: letters, digits and "-._~" as they
// are, a blank as "+", every other byte as %XX.
std::string FormEncode(std::string_view text);

// The refresh-token grant when a refresh token is set (Google), otherwise
// the client-credentials grant (Microsoft 365 app-only). The client shows
// itself with client_id and client_secret as form fields; the scope and
// the secret go only when set.
std::string TokenRequestBody(const TOAuthSettings& settings);

// The token of a reply, or EOAuthError naming the URL and the status with
// the endpoint's error and error_description.
TTokenGrant ReadTokenReply(const std::string& url, long status, const std::string& body);

} // namespace runner
