#include "runner/TokenCache.h"

#include "platform/Files.h"
#include "smtp/AuthCrypto.h"

#include <nlohmann/json.hpp>

#include <utility>

namespace runner {

namespace {

using TJson = nlohmann::json;

// Entries go under a digest of their key: any bytes may make up a key, and
// the file need not show which accounts it serves.
std::string EntryName(const std::string& key)
{
    return smtp::HexLower(smtp::TAuthCrypto().Digest("SHA256", key));
}

TJson Load(const std::string& path)
{
    std::string text;
    if (platform::ReadFileText(path, text))
        return TJson::object();
    TJson entries = TJson::parse(text, nullptr, false);
    return entries.is_object() ? entries : TJson::object();
}

std::optional<TCachedToken> EntryToken(const TJson& entry)
{
    if (!entry.is_object())
        return std::nullopt;
    const auto token = entry.find("access_token");
    const auto expires = entry.find("expires_at");
    if (token == entry.end() || !token->is_string() || expires == entry.end() || !expires->is_number_integer())
        return std::nullopt;
    TCachedToken cached {token->get<std::string>(), expires->get<std::int64_t>()};
    if (cached.AccessToken.empty())
        return std::nullopt;
    return cached;
}

std::optional<platform::SystemError> Save(const std::string& path, const TJson& entries)
{
    return platform::ReplaceOwnerOnlyFile(path, entries.dump(2, ' ', false, TJson::error_handler_t::replace) + "\n");
}

} // namespace

TTokenCache::TTokenCache(std::string path) : path_(std::move(path))
{
}

std::optional<TCachedToken> TTokenCache::Find(const std::string& key, std::int64_t now) const
{
    const TJson entries = Load(path_);
    const auto entry = entries.find(EntryName(key));
    if (entry == entries.end())
        return std::nullopt;
    auto token = EntryToken(*entry);
    if (!token || !Usable(token->ExpiresAt, now))
        return std::nullopt;
    return token;
}

std::optional<platform::SystemError> TTokenCache::Store(const std::string& key, const TCachedToken& token,
                                                        std::int64_t now)
{
    TJson entries = Load(path_);
    for (auto entry = entries.begin(); entry != entries.end();) {
        const auto stored = EntryToken(*entry);
        entry = stored && stored->ExpiresAt > now ? std::next(entry) : entries.erase(entry);
    }
    entries[EntryName(key)] = {{"access_token", token.AccessToken}, {"expires_at", token.ExpiresAt}};
    return Save(path_, entries);
}

std::optional<platform::SystemError> TTokenCache::Drop(const std::string& key)
{
    TJson entries = Load(path_);
    if (entries.erase(EntryName(key)) == 0)
        return std::nullopt;
    return Save(path_, entries);
}

} // namespace runner
