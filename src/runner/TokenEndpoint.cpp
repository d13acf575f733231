#include "runner/TokenEndpoint.h"

#include "platform/TextUtil.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <utility>
#include <vector>

namespace runner {

namespace {

using TJson = nlohmann::json;

// At most this much of the endpoint's error text goes into the log.
constexpr std::size_t kQuotedError = 500;

std::string Printable(std::string text)
{
    if (text.size() > kQuotedError)
        text = text.substr(0, kQuotedError) + "...";
    std::replace_if(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < ' '; }, ' ');
    return platform::Trim(text);
}

std::string Member(const TJson& reply, const char* name)
{
    const auto it = reply.find(name);
    return it != reply.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// expires_in is a number, though some providers send it as a text; a
// lifetime that makes no sense counts as unknown.
std::optional<std::int64_t> Lifetime(const TJson& reply)
{
    const auto it = reply.find("expires_in");
    std::int64_t seconds = 0;
    if (it == reply.end())
        return std::nullopt;
    if (it->is_number())
        seconds = it->get<std::int64_t>();
    else if (it->is_string()) {
        const std::string text = it->get<std::string>();
        if (!text.empty() && text.size() < 12 && text.find_first_not_of("0123456789") == std::string::npos)
            seconds = std::stoll(text);
    }
    return seconds > 0 ? std::optional(seconds) : std::nullopt;
}

[[noreturn]] void Failed(const std::string& url, long status, const std::string& why)
{
    throw EOAuthError("Token request to " + url + " failed (HTTP " + std::to_string(status) + "): " + Printable(why));
}

} // namespace

std::string FormEncode(std::string_view text)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
            c == '_' || c == '~')
            out += ch;
        else if (c == ' ')
            out += '+';
        else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::string TokenRequestBody(const TOAuthSettings& s)
{
    std::vector<std::pair<const char*, std::string>> fields;
    if (!s.RefreshToken.empty())
        fields = {{"grant_type", "refresh_token"}, {"refresh_token", s.RefreshToken}};
    else
        fields = {{"grant_type", "client_credentials"}};
    fields.emplace_back("client_id", s.ClientId);
    if (!s.ClientSecret.empty())
        fields.emplace_back("client_secret", s.ClientSecret);
    if (!s.Scope.empty())
        fields.emplace_back("scope", s.Scope);
    std::string body;
    for (const auto& [name, value] : fields)
        body += (body.empty() ? "" : "&") + std::string(name) + "=" + FormEncode(value);
    return body;
}

TTokenGrant ReadTokenReply(const std::string& url, long status, const std::string& body)
{
    const TJson reply = TJson::parse(body, nullptr, false);
    // A reply that is not the endpoint's own (a proxy's page, say) is not
    // quoted: it could echo the request, secrets and all.
    if (!reply.is_object())
        Failed(url, status, "the reply is no JSON object (" + std::to_string(body.size()) + " bytes)");
    const std::string error = Member(reply, "error");
    if (!error.empty()) {
        const std::string description = Member(reply, "error_description");
        Failed(url, status, description.empty() ? error : error + ": " + description);
    }
    if (status != 200)
        Failed(url, status, "the reply names no error");
    TTokenGrant grant {Member(reply, "access_token"), Lifetime(reply)};
    if (grant.AccessToken.empty())
        throw EOAuthError("Token request to " + url + ": the reply holds no access_token");
    const std::string type = platform::LowerAscii(Member(reply, "token_type"));
    if (!type.empty() && type != "bearer")
        throw EOAuthError("Token request to " + url + ": token_type " + Printable(type) + " is not Bearer");
    return grant;
}

} // namespace runner
