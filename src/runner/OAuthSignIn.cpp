#include "runner/OAuthSignIn.h"

#include "platform/TextUtil.h"

#include <utility>

namespace runner {

namespace {

// A token is issued for the endpoint's client, scope and grant; with a
// refresh token it signs in one user.
std::string CacheKey(const TOAuthSettings& s, const std::string& username)
{
    const char* grant = s.RefreshToken.empty() ? "client_credentials" : "refresh_token";
    return s.TokenUrl + "\n" + s.ClientId + "\n" + s.Scope + "\n" + username + "\n" + grant;
}

std::string FirstLine(const std::string& text)
{
    return platform::Trim(text.substr(0, text.find_first_of("\r\n")));
}

// The command's own words on what went wrong: the first line of its errors.
std::string ErrorsPart(const platform::TCommandResult& result)
{
    const std::string line = FirstLine(result.Errors);
    return line.empty() ? std::string() : ": " + line;
}

std::string Seconds(std::int64_t seconds)
{
    return std::to_string(seconds) + " seconds";
}

} // namespace

TOAuthSignIn::TOAuthSignIn(const TOAuthSettings& settings, TOptions options, TLog log, TOAuthServices services)
    : FSettings(settings)
    , FOptions(std::move(options))
    , FLog(std::move(log))
    , FServices(std::move(services))
    , FCache(FOptions.CachePath)
    , FCacheKey(CacheKey(FSettings, FOptions.Username))
{
}

std::string TOAuthSignIn::Token()
{
    const std::int64_t now = FServices.Now();
    if (FHeld && (!FHeld->ExpiresAt || TTokenCache::Usable(*FHeld->ExpiresAt, now)))
        return FHeld->Value;
    FHeld = UsesEndpoint() ? FromEndpoint(now) : FromCommand();
    return FHeld->Value;
}

bool TOAuthSignIn::TokenRefused()
{
    if (!FHeld)
        return false;
    const bool retry = FHeld->FromCache && !FRenewed;
    FHeld.reset();
    if (UsesEndpoint())
        if (auto err = FCache.Drop(FCacheKey))
            FLog("The refused OAuth token cannot be removed from " + FCache.Path() + ": " + err->Message);
    FRenewed = FRenewed || retry;
    return retry;
}

TOAuthSignIn::THeldToken TOAuthSignIn::FromCommand()
{
    FLog("Getting the OAuth token from OAuthTokenCommand");
    platform::TCommandResult result;
    try {
        result = FServices.Run(FSettings.TokenCommand, FOptions.TimeoutMs);
    } catch (const platform::ECommandError& e) {
        throw EOAuthError(std::string("OAuthTokenCommand cannot be started: ") + e.what());
    }
    if (result.TimedOut)
        throw EOAuthError("OAuthTokenCommand did not finish within " + Seconds(FOptions.TimeoutMs / 1000) +
                          " and was stopped" + ErrorsPart(result));
    if (result.ExitCode != 0)
        throw EOAuthError("OAuthTokenCommand failed (" +
                          (result.ExitCode < 0 ? std::string("ended by a signal")
                                               : "exit code " + std::to_string(result.ExitCode)) +
                          ")" + ErrorsPart(result));
    std::string token = FirstLine(result.Output);
    if (token.empty())
        throw EOAuthError("OAuthTokenCommand printed no token" + ErrorsPart(result));
    return {std::move(token), std::nullopt, false};
}

TOAuthSignIn::THeldToken TOAuthSignIn::FromEndpoint(std::int64_t now)
{
    if (auto cached = FCache.Find(FCacheKey, now)) {
        FLog("OAuth token from the cache, valid for " + Seconds(cached->ExpiresAt - now) + " more");
        return {std::move(cached->AccessToken), cached->ExpiresAt, true};
    }
    return Fetch(now);
}

TOAuthSignIn::THeldToken TOAuthSignIn::Fetch(std::int64_t now)
{
    const std::string& url = FSettings.TokenUrl;
    FLog("Requesting an OAuth token from " + url);
    platform::THttpsPost post;
    post.Url = url;
    post.Body = TokenRequestBody(FSettings);
    post.CAFile = FOptions.CAFile;
    post.TimeoutMs = FOptions.TimeoutMs;
    post.UserAgent = FOptions.UserAgent;
    platform::THttpsReply reply;
    try {
        reply = FServices.Post(post);
    } catch (const platform::EHttpsError& e) {
        throw EOAuthError(std::string("Token request failed: ") + e.what());
    }
    TTokenGrant grant = ReadTokenReply(url, reply.Status, reply.Body);
    if (!grant.ExpiresIn) {
        FLog("OAuth token received, without a lifetime: it is used for this run only");
        return {std::move(grant.AccessToken), std::nullopt, false};
    }
    FLog("OAuth token received, valid for " + Seconds(*grant.ExpiresIn));
    // Its life is counted from before the request: it cannot be older.
    const TCachedToken cached {std::move(grant.AccessToken), now + *grant.ExpiresIn};
    if (auto err = FCache.Store(FCacheKey, cached, now))
        FLog("The OAuth token cannot be kept in " + FCache.Path() + ": " + err->Message);
    return {cached.AccessToken, cached.ExpiresAt, false};
}

} // namespace runner
