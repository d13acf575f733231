#pragma once
// What the crypto and NTLM tests share: published vectors from hexadecimal,
// and an OpenSSL that cannot load its provider modules.

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
    TNoProviderModules()
    {
        if (const char* old = std::getenv("OPENSSL_MODULES"))
            old_ = old;
        ::setenv("OPENSSL_MODULES", "/nonexistent/ossl-modules", 1);
    }
    ~TNoProviderModules()
    {
        if (old_)
            ::setenv("OPENSSL_MODULES", old_->c_str(), 1);
        else
            ::unsetenv("OPENSSL_MODULES");
    }
    TNoProviderModules(const TNoProviderModules&) = delete;
    TNoProviderModules& operator=(const TNoProviderModules&) = delete;

private:
    std::optional<std::string> old_;
};

} // namespace smtptest
