#pragma once
// The texts of the two OAuth 2.0 sign-in mechanisms, before Base64: the
// client's initial responses and the server's error challenge.

#include <string>
#include <string_view>

namespace smtp {

// XOAUTH2 (Google, Microsoft): "user=" U, 0x01, "auth=Bearer " T, 0x01, 0x01.
std::string XOAuth2Response(const std::string& user, const std::string& token);

// OAUTHBEARER (RFC 7628): the GS2 header with the user as authorization
// identity, then the host and port the client connected to and the token,
// each pair ended by 0x01, and a closing 0x01.
std::string OAuthBearerResponse(const std::string& user, const std::string& host, const std::string& port,
                                const std::string& token);

// The error a server sends as a 334 challenge when it refuses a token (a
// JSON object in Base64, RFC 7628), as one line for the log: its members in
// order, "status 401, scope https://mail.google.com/"; the decoded text
// itself when it is not a JSON object. Control characters become blanks.
std::string DescribeOAuthError(std::string_view base64);

} // namespace smtp
