#include "smtp/AuthCrypto.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <bit>
#include <utility>

namespace smtp {

namespace {

struct TMdFree {
    void operator()(EVP_MD* md) const { EVP_MD_free(md); }
};
struct TCipherFree {
    void operator()(EVP_CIPHER* cipher) const { EVP_CIPHER_free(cipher); }
};
struct TCipherCtxFree {
    void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using TMd = std::unique_ptr<EVP_MD, TMdFree>;
using TCipher = std::unique_ptr<EVP_CIPHER, TCipherFree>;
using TCipherCtx = std::unique_ptr<EVP_CIPHER_CTX, TCipherCtxFree>;

// The oldest error OpenSSL queued for this thread, and the queue cleared.
std::string TakeOpenSslError()
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return "no reason given";
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

[[noreturn]] void Fail(const std::string& what)
{
    throw EAuthCryptoError(what + " (" + TakeOpenSslError() + ")");
}

const unsigned char* Bytes(std::string_view data)
{
    // OpenSSL wants a pointer even for no bytes.
    static const unsigned char kNothing = 0;
    return data.empty() ? &kNothing : reinterpret_cast<const unsigned char*>(data.data());
}

TMd FetchDigest(OSSL_LIB_CTX* context, const char* name)
{
    TMd md(EVP_MD_fetch(context, name, nullptr));
    if (!md)
        Fail(std::string(name) + " is not available in this OpenSSL");
    return md;
}

TCipher FetchDes(OSSL_LIB_CTX* context)
{
    TCipher cipher(EVP_CIPHER_fetch(context, "DES-ECB", nullptr));
    if (!cipher)
        Fail("DES is not available in this OpenSSL");
    return cipher;
}

// Seven key bytes spread over eight, each with an odd-parity low bit.
std::string DesKeyWithParity(std::string_view key7)
{
    const auto k = [&](std::size_t i) { return static_cast<unsigned>(static_cast<unsigned char>(key7[i])); };
    const unsigned spread[8] = {
        k(0),
        (k(0) << 7) | (k(1) >> 1),
        (k(1) << 6) | (k(2) >> 2),
        (k(2) << 5) | (k(3) >> 3),
        (k(3) << 4) | (k(4) >> 4),
        (k(4) << 3) | (k(5) >> 5),
        (k(5) << 2) | (k(6) >> 6),
        k(6) << 1,
    };
    std::string key(8, '\0');
    for (std::size_t i = 0; i < 8; ++i) {
        const unsigned byte = spread[i] & 0xFEu;
        const bool evenOnes = std::popcount(byte) % 2 == 0;
        key[i] = static_cast<char>(byte | (evenOnes ? 1u : 0u));
    }
    return key;
}

} // namespace

// A private library context with the default and legacy providers loaded.
struct TAuthCrypto::TProviders {
    OSSL_LIB_CTX* Context = nullptr;
    OSSL_PROVIDER* Default = nullptr;
    OSSL_PROVIDER* Legacy = nullptr;

    ~TProviders()
    {
        if (Legacy)
            OSSL_PROVIDER_unload(Legacy);
        if (Default)
            OSSL_PROVIDER_unload(Default);
        OSSL_LIB_CTX_free(Context);
    }
};

TAuthCrypto::TAuthCrypto() = default;

TAuthCrypto::TAuthCrypto(std::unique_ptr<TProviders> providers)
    : providers_(std::move(providers)), context_(providers_->Context)
{
}

TAuthCrypto::~TAuthCrypto() = default;

std::unique_ptr<TAuthCrypto> TAuthCrypto::WithLegacy()
{
    auto providers = std::make_unique<TProviders>();
    providers->Context = OSSL_LIB_CTX_new();
    if (!providers->Context)
        Fail("No OpenSSL library context for MD4 and DES");
    providers->Default = OSSL_PROVIDER_load(providers->Context, "default");
    if (!providers->Default)
        Fail("OpenSSL's default provider cannot be loaded");
    providers->Legacy = OSSL_PROVIDER_load(providers->Context, "legacy");
    if (!providers->Legacy)
        Fail("OpenSSL's legacy provider (MD4, DES) cannot be loaded");
    // Both algorithms are checked now, so that a missing one is known
    // before anything is sent.
    FetchDigest(providers->Context, "MD4");
    FetchDes(providers->Context);
    return std::unique_ptr<TAuthCrypto>(new TAuthCrypto(std::move(providers)));
}

std::string TAuthCrypto::Digest(const char* name, std::string_view data) const
{
    const TMd md = FetchDigest(context_, name);
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(Bytes(data), data.size(), out, &size, md.get(), nullptr) != 1)
        Fail(std::string(name) + " digest failed");
    return std::string(reinterpret_cast<const char*>(out), size);
}

std::string TAuthCrypto::Hmac(const char* digestName, std::string_view key, std::string_view data) const
{
    unsigned char out[EVP_MAX_MD_SIZE];
    std::size_t size = 0;
    if (!EVP_Q_mac(context_, "HMAC", nullptr, digestName, nullptr, Bytes(key), key.size(), Bytes(data),
                   data.size(), out, sizeof out, &size))
        Fail(std::string("HMAC-") + digestName + " failed");
    return std::string(reinterpret_cast<const char*>(out), size);
}

std::string TAuthCrypto::DesEncrypt(std::string_view key7, std::string_view block8) const
{
    if (key7.size() != 7 || block8.size() != 8)
        throw EAuthCryptoError("DES needs a 7-byte key and an 8-byte block");
    const TCipher cipher = FetchDes(context_);
    const TCipherCtx ctx(EVP_CIPHER_CTX_new());
    const std::string key = DesKeyWithParity(key7);
    unsigned char out[16];
    int size = 0;
    int last = 0;
    if (!ctx || EVP_EncryptInit_ex2(ctx.get(), cipher.get(), Bytes(key), nullptr, nullptr) != 1 ||
        EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1 ||
        EVP_EncryptUpdate(ctx.get(), out, &size, Bytes(block8), 8) != 1 ||
        EVP_EncryptFinal_ex(ctx.get(), out + size, &last) != 1 || size + last != 8)
        Fail("DES encryption failed");
    return std::string(reinterpret_cast<const char*>(out), 8);
}

std::string HexLower(std::string_view bytes)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (unsigned char b : bytes) {
        hex.push_back(kDigits[b >> 4]);
        hex.push_back(kDigits[b & 0x0F]);
    }
    return hex;
}

} // namespace smtp
