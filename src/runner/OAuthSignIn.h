#pragma once
// The access token of an OAuth 2.0 sign-in, for every client of the run:
// from OAuthTokenCommand, or from the cache of tokens, or from the
// provider's token endpoint.

#include "platform/Clock.h"
#include "platform/HttpsClient.h"
#include "platform/ShellCommand.h"
#include "runner/Settings.h"
#include "runner/TokenCache.h"
#include "runner/TokenEndpoint.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace runner {

// What the sign-in reaches outside the program; tests replace them.
struct TOAuthServices {
    std::function<std::int64_t()> Now = platform::UnixTimeNow;
    std::function<platform::THttpsReply(const platform::THttpsPost&)> Post = platform::HttpsPost;
    std::function<platform::TCommandResult(const std::string&, std::uint32_t)> Run = platform::RunShellCommand;
};

class TOAuthSignIn {
public:
    using TLog = std::function<void(const std::string&)>;

    struct TOptions {
        std::string Username;   // the account, part of the cache key
        std::string CachePath;  // the token cache file
        std::string CAFile;     // empty: the system's trust store
        std::uint32_t TimeoutMs = 60000;
        std::string UserAgent;
    };

    // `log` receives what the sign-in does, never a token or a secret.
    TOAuthSignIn(const TOAuthSettings& settings, TOptions options, TLog log, TOAuthServices services = {});

    // The token to sign in with: the one this run has while it is usable,
    // else the cache's, else a new one. Raises EOAuthError with the reason.
    std::string Token();

    // The server refused the token Token() gave: it is forgotten, also in
    // the cache. True when a new one is worth a try, which is when the
    // refused one came from the cache (once in a run).
    bool TokenRefused();

private:
    struct THeldToken {
        std::string Value;
        std::optional<std::int64_t> ExpiresAt;
        bool FromCache = false;
    };

    THeldToken FromCommand();
    THeldToken FromEndpoint(std::int64_t now);
    THeldToken Fetch(std::int64_t now);
    bool UsesEndpoint() const { return FSettings.TokenCommand.empty(); }

    TOAuthSettings FSettings;
    TOptions FOptions;
    TLog FLog;
    TOAuthServices FServices;
    TTokenCache FCache;
    std::string FCacheKey;
    std::optional<THeldToken> FHeld;
    bool FRenewed = false;
};

} // namespace runner
