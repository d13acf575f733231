#include "smtp/OAuthSasl.h"

#include "mime/Base64.h"
#include "platform/TextUtil.h"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace smtp {

namespace {

constexpr char kSep = '\x01';

// A SASL name in the GS2 header (RFC 5801): "=" and "," are escaped.
std::string GS2Name(const std::string& name)
{
    std::string out;
    for (char c : name) {
        if (c == '=')
            out += "=3D";
        else if (c == ',')
            out += "=2C";
        else
            out += c;
    }
    return out;
}

std::string WithoutControls(std::string text)
{
    std::replace_if(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < ' ' || c == 0x7f; },
                    ' ');
    return platform::Trim(text);
}

} // namespace

std::string XOAuth2Response(const std::string& user, const std::string& token)
{
    return "user=" + user + kSep + "auth=Bearer " + token + kSep + kSep;
}

std::string OAuthBearerResponse(const std::string& user, const std::string& host, const std::string& port,
                                const std::string& token)
{
    const std::string gs2 = user.empty() ? "n,," : "n,a=" + GS2Name(user) + ",";
    return gs2 + kSep + "host=" + host + kSep + "port=" + port + kSep + "auth=Bearer " + token + kSep + kSep;
}

std::string DescribeOAuthError(std::string_view base64)
{
    const std::string text = mime::Base64Decode(base64);
    const nlohmann::ordered_json error = nlohmann::ordered_json::parse(text, nullptr, false);
    if (!error.is_object())
        return WithoutControls(text);
    std::string line;
    for (const auto& [key, value] : error.items()) {
        if (!line.empty())
            line += ", ";
        line += key + " " + (value.is_string() ? value.get<std::string>() : value.dump());
    }
    return WithoutControls(line);
}

} // namespace smtp
