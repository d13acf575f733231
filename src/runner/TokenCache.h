#pragma once
// OAuth access tokens kept between runs, so that a run within a token's
// lifetime asks the provider for nothing.

#include "platform/SystemError.h"

#include <cstdint>
#include <optional>
#include <string>

namespace runner {

struct TCachedToken {
    std::string AccessToken;
    std::int64_t ExpiresAt = 0;  // seconds since 1970-01-01 UTC
};

// A file of tokens by key (the account they sign in), readable by its owner
// only. A file that cannot be read or makes no sense counts as empty and is
// replaced by the next token stored.
class TTokenCache {
public:
    // A token is given up this many seconds before it expires, so that it
    // cannot run out between the look-up and the sign-in.
    static constexpr std::int64_t MarginSeconds = 60;

    explicit TTokenCache(std::string path);

    // True while a token that expires at expiresAt may still be used at now.
    static bool Usable(std::int64_t expiresAt, std::int64_t now) { return now < expiresAt - MarginSeconds; }

    // The token stored under key, when it is still usable at now.
    std::optional<TCachedToken> Find(const std::string& key, std::int64_t now) const;
    // Stores the token under key; tokens that have expired by now go.
    std::optional<platform::SystemError> Store(const std::string& key, const TCachedToken& token, std::int64_t now);
    // Removes the token of key, if there is one.
    std::optional<platform::SystemError> Drop(const std::string& key);

    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

} // namespace runner
