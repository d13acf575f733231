#pragma once
// What the crypto and NTLM tests share: published vectors from hexadecimal,
// and an OpenSSL that cannot load its provider modules.

#include "platform/Environment.h"

#include <openssl/err.h>
#include <openssl/provider.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace smtptest {

inline std::string Unhex(std::string_view hex)
{
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    return bytes;
}

// Points OpenSSL at a folder without provider modules while it lives.
class TNoProviderModules {
public:
    TNoProviderModules() : old_(platform::EnvironmentValue("OPENSSL_MODULES"))
    {
        platform::SetEnvironmentValue("OPENSSL_MODULES", "/nonexistent/ossl-modules");
    }
    ~TNoProviderModules() { platform::SetEnvironmentValue("OPENSSL_MODULES", old_); }
    TNoProviderModules(const TNoProviderModules&) = delete;
    TNoProviderModules& operator=(const TNoProviderModules&) = delete;

    // A library with the legacy provider built in (the Windows build's)
    // loads it without a module file: it cannot be taken away.
    static bool LegacyIsBuiltIn()
    {
        TNoProviderModules noModules;
        OSSL_LIB_CTX* context = OSSL_LIB_CTX_new();
        OSSL_PROVIDER* legacy = context ? OSSL_PROVIDER_load(context, "legacy") : nullptr;
        const bool builtIn = legacy != nullptr;
        if (legacy)
            OSSL_PROVIDER_unload(legacy);
        OSSL_LIB_CTX_free(context);
        ERR_clear_error();
        return builtIn;
    }

private:
    std::optional<std::string> old_;
};

} // namespace smtptest
