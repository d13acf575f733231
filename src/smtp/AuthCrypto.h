#pragma once
// The digests, HMAC and single DES that the AUTH mechanisms need, all taken
// from OpenSSL's libcrypto.

#include <openssl/types.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace smtp {

// The crypto library cannot do what was asked (an algorithm it lacks, a
// provider it cannot load); the text says which.
class EAuthCryptoError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TAuthCrypto {
public:
    // The library's own algorithms (MD5, SHA-1, HMAC): nothing extra is loaded.
    TAuthCrypto();
    ~TAuthCrypto();
    TAuthCrypto(const TAuthCrypto&) = delete;
    TAuthCrypto& operator=(const TAuthCrypto&) = delete;

    // A library context of its own that adds OpenSSL 3's "legacy" algorithms
    // (MD4, DES) to the default ones. It is made only for NTLM, so no other
    // run loads the legacy provider. Raises EAuthCryptoError when MD4 or DES
    // cannot be had.
    static std::unique_ptr<TAuthCrypto> WithLegacy();

    // Digest names as OpenSSL knows them: "MD4", "MD5", "SHA1".
    std::string Digest(const char* name, std::string_view data) const;
    std::string Hmac(const char* digestName, std::string_view key, std::string_view data) const;
    // Encrypts one 8-byte block with a 7-byte key, spread to the 8-byte DES
    // key with parity bits.
    std::string DesEncrypt(std::string_view key7, std::string_view block8) const;

private:
    struct TProviders;
    explicit TAuthCrypto(std::unique_ptr<TProviders> providers);

    // Null: the library's default context.
    std::unique_ptr<TProviders> providers_;
    OSSL_LIB_CTX* context_ = nullptr;
};

// Bytes as lower-case hexadecimal, the form digests are written in.
std::string HexLower(std::string_view bytes);

} // namespace smtp
