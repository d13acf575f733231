#include "net/SslContext.h"

#include "net/SslCallbacks.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/RootCertificates.h"

#include <openssl/conf.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

namespace net {

namespace {

// ---------------------------------------------------------------- library

constexpr unsigned long MinOpenSslVersion = 0x10101000UL; // 1.1.1
constexpr unsigned long MaxOpenSslVersion = 0x3FFFFFFFUL; // every 3.x

std::mutex& LibraryLock()
{
    static std::mutex lock;
    return lock;
}

int& LibraryCount()
{
    static int count = 0;
    return count;
}

// The configuration file still to be read by the first Load.
bool& ConfigDeferred()
{
    static bool deferred = false;
    return deferred;
}

// What the library's own start does with its configuration: the default
// file (or OPENSSL_CONF), its default section, a missing file ignored.
void LoadDeferredConfig()
{
    if (!std::exchange(ConfigDeferred(), false))
        return;
    OPENSSL_load_builtin_modules();
    constexpr unsigned long flags =
        CONF_MFLAGS_DEFAULT_SECTION | CONF_MFLAGS_IGNORE_MISSING_FILE | CONF_MFLAGS_IGNORE_RETURN_CODES;
    if (CONF_modules_load_file(nullptr, nullptr, flags) <= 0)
        throw ESslLibraryException("Unable to initialise OpenSSL");
}

std::string Hex8(unsigned long value)
{
    char text[20];
    std::snprintf(text, sizeof text, "%08lX", value);
    return text;
}

// ---------------------------------------------------------------- values

struct TBioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
using TBio = std::unique_ptr<BIO, TBioFree>;

std::uint64_t OptionValue(TSslOption option)
{
    switch (option) {
    case sslOpt_MICROSOFT_SESS_ID_BUG: return SSL_OP_MICROSOFT_SESS_ID_BUG;
    case sslOpt_NETSCAPE_CHALLENGE_BUG: return SSL_OP_NETSCAPE_CHALLENGE_BUG;
    case sslOpt_NETSCAPE_REUSE_CIPHER_CHANGE_BUG: return SSL_OP_NETSCAPE_REUSE_CIPHER_CHANGE_BUG;
    case sslOpt_SSLREF2_REUSE_CERT_TYPE_BUG: return SSL_OP_SSLREF2_REUSE_CERT_TYPE_BUG;
    case sslOpt_MICROSOFT_BIG_SSLV3_BUFFER: return SSL_OP_MICROSOFT_BIG_SSLV3_BUFFER;
    case sslOpt_MSIE_SSLV2_RSA_PADDING: return SSL_OP_MSIE_SSLV2_RSA_PADDING;
    case sslOpt_SSLEAY_080_CLIENT_DH_BUG: return SSL_OP_SSLEAY_080_CLIENT_DH_BUG;
    case sslOpt_TLS_D5_BUG: return SSL_OP_TLS_D5_BUG;
    case sslOpt_TLS_BLOCK_PADDING_BUG: return SSL_OP_TLS_BLOCK_PADDING_BUG;
    case sslOpt_DONT_INSERT_EMPTY_FRAGMENTS: return SSL_OP_DONT_INSERT_EMPTY_FRAGMENTS;
    case sslOpt_NO_QUERY_MTU: return SSL_OP_NO_QUERY_MTU;
    case sslOpt_COOKIE_EXCHANGE: return SSL_OP_COOKIE_EXCHANGE;
    case sslOpt_NO_TICKET: return SSL_OP_NO_TICKET;
    case sslOpt_NO_SESSION_RESUMPTION_ON_RENEGOTIATION: return SSL_OP_NO_SESSION_RESUMPTION_ON_RENEGOTIATION;
    case sslOpt_NO_COMPRESSION: return SSL_OP_NO_COMPRESSION;
    case sslOpt_ALLOW_UNSAFE_LEGACY_RENEGOTIATION: return SSL_OP_ALLOW_UNSAFE_LEGACY_RENEGOTIATION;
    case sslOpt_SINGLE_ECDH_USE: return SSL_OP_SINGLE_ECDH_USE;
    case sslOpt_SINGLE_DH_USE: return SSL_OP_SINGLE_DH_USE;
    case sslOpt_EPHEMERAL_RSA: return SSL_OP_EPHEMERAL_RSA;
    case sslOpt_CIPHER_SERVER_PREFERENCE: return SSL_OP_CIPHER_SERVER_PREFERENCE;
    case sslOpt_TLS_ROLLBACK_BUG: return SSL_OP_TLS_ROLLBACK_BUG;
    case sslOpt_NO_SSLv2: return SSL_OP_NO_SSLv2;
    case sslOpt_NO_SSLv3: return SSL_OP_NO_SSLv3;
    case sslOpt_NO_TLSv1: return SSL_OP_NO_TLSv1;
    case sslOpt_PKCS1_CHECK_1: return SSL_OP_PKCS1_CHECK_1;
    case sslOpt_PKCS1_CHECK_2: return SSL_OP_PKCS1_CHECK_2;
    case sslOpt_NETSCAPE_CA_DN_BUG: return SSL_OP_NETSCAPE_CA_DN_BUG;
    case sslOpt_NETSCAPE_DEMO_CIPHER_CHANGE_BUG: return SSL_OP_NETSCAPE_DEMO_CIPHER_CHANGE_BUG;
    case sslOpt_NO_TLSv1_1: return SSL_OP_NO_TLSv1_1;
    case sslOpt_NO_TLSv1_2: return SSL_OP_NO_TLSv1_2;
    }
    return 0;
}

std::uint64_t OptionValue(TSslOption2 option)
{
    switch (option) {
    case sslOpt2_ALLOW_NO_DHE_KEX: return SSL_OP_ALLOW_NO_DHE_KEX;
    case sslOpt2_ALLOW_UNSAFE_LEGACY_RENEGOTIATION: return SSL_OP_ALLOW_UNSAFE_LEGACY_RENEGOTIATION;
    case sslOpt2_CIPHER_SERVER_PREFERENCE: return SSL_OP_CIPHER_SERVER_PREFERENCE;
    case sslOpt2_CISCO_ANYCONNECT: return SSL_OP_CISCO_ANYCONNECT;
    case sslOpt2_COOKIE_EXCHANGE: return SSL_OP_COOKIE_EXCHANGE;
    case sslOpt2_CRYPTOPRO_TLSEXT_BUG: return SSL_OP_CRYPTOPRO_TLSEXT_BUG;
    case sslOpt2_DONT_INSERT_EMPTY_FRAGMENTS: return SSL_OP_DONT_INSERT_EMPTY_FRAGMENTS;
    case sslOpt2_ENABLE_MIDDLEBOX_COMPAT: return SSL_OP_ENABLE_MIDDLEBOX_COMPAT;
    case sslOpt2_LEGACY_SERVER_CONNECT: return SSL_OP_LEGACY_SERVER_CONNECT;
    case sslOpt2_NO_COMPRESSION: return SSL_OP_NO_COMPRESSION;
    case sslOpt2_NO_ENCRYPT_THEN_MAC: return SSL_OP_NO_ENCRYPT_THEN_MAC;
    case sslOpt2_NO_QUERY_MTU: return SSL_OP_NO_QUERY_MTU;
    case sslOpt2_NO_RENEGOTIATION: return SSL_OP_NO_RENEGOTIATION;
    case sslOpt2_NO_SESSION_RESUMPTION_ON_RENEGOTIATION: return SSL_OP_NO_SESSION_RESUMPTION_ON_RENEGOTIATION;
    case sslOpt2_NO_TICKET: return SSL_OP_NO_TICKET;
    case sslOpt2_PRIORITIZE_CHACHA: return SSL_OP_PRIORITIZE_CHACHA;
    case sslOpt2_SAFARI_ECDHE_ECDSA_BUG: return SSL_OP_SAFARI_ECDHE_ECDSA_BUG;
    case sslOpt2_TLSEXT_PADDING: return SSL_OP_TLSEXT_PADDING;
    case sslOpt2_TLS_ROLLBACK_BUG: return SSL_OP_TLS_ROLLBACK_BUG;
    }
    return 0;
}

unsigned long VerifyFlagValue(TSslVerifyFlag flag)
{
    switch (flag) {
    case sslX509_V_FLAG_USE_CHECK_TIME: return X509_V_FLAG_USE_CHECK_TIME;
    case sslX509_V_FLAG_CRL_CHECK: return X509_V_FLAG_CRL_CHECK;
    case sslX509_V_FLAG_CRL_CHECK_ALL: return X509_V_FLAG_CRL_CHECK_ALL;
    case sslX509_V_FLAG_IGNORE_CRITICAL: return X509_V_FLAG_IGNORE_CRITICAL;
    case sslX509_V_FLAG_X509_STRICT: return X509_V_FLAG_X509_STRICT;
    case sslX509_V_FLAG_ALLOW_PROXY_CERTS: return X509_V_FLAG_ALLOW_PROXY_CERTS;
    case sslX509_V_FLAG_POLICY_CHECK: return X509_V_FLAG_POLICY_CHECK;
    case sslX509_V_FLAG_EXPLICIT_POLICY: return X509_V_FLAG_EXPLICIT_POLICY;
    case sslX509_V_FLAG_INHIBIT_ANY: return X509_V_FLAG_INHIBIT_ANY;
    case sslX509_V_FLAG_INHIBIT_MAP: return X509_V_FLAG_INHIBIT_MAP;
    case sslX509_V_FLAG_NOTIFY_POLICY: return X509_V_FLAG_NOTIFY_POLICY;
    case sslX509_V_FLAG_EXTENDED_CRL_SUPPORT: return X509_V_FLAG_EXTENDED_CRL_SUPPORT;
    case sslX509_V_FLAG_USE_DELTAS: return X509_V_FLAG_USE_DELTAS;
    case sslX509_V_FLAG_CHECK_SS_SIGNATURE: return X509_V_FLAG_CHECK_SS_SIGNATURE;
    case sslX509_V_FLAG_TRUSTED_FIRST: return X509_V_FLAG_TRUSTED_FIRST;
    case sslX509_V_FLAG_PARTIAL_CHAIN: return X509_V_FLAG_PARTIAL_CHAIN;
    case sslX509_V_FLAG_NO_ALT_CHAINS: return X509_V_FLAG_NO_ALT_CHAINS;
    case sslX509_V_FLAG_NO_CHECK_TIME: return X509_V_FLAG_NO_CHECK_TIME;
    }
    return 0;
}

long SessionCacheBits(const TSslSessCacheModes& modes)
{
    long bits = 0;
    const std::pair<TSslSessCacheMode, long> table[] {
        {sslSESS_CACHE_CLIENT, SSL_SESS_CACHE_CLIENT},
        {sslSESS_CACHE_SERVER, SSL_SESS_CACHE_SERVER},
        {sslSESS_CACHE_NO_AUTO_CLEAR, SSL_SESS_CACHE_NO_AUTO_CLEAR},
        {sslSESS_CACHE_NO_INTERNAL_LOOKUP, SSL_SESS_CACHE_NO_INTERNAL_LOOKUP},
        {sslSESS_CACHE_NO_INTERNAL_STORE, SSL_SESS_CACHE_NO_INTERNAL_STORE},
    };
    for (const auto& [mode, bit] : table)
        if (modes.Contains(mode))
            bits |= bit;
    return bits;
}

int WireVersion(TSslVerMethod version)
{
    switch (version) {
    case sslVerSSL3: return SSL3_VERSION;
    case sslVerTLS1: return TLS1_VERSION;
    case sslVerTLS1_1: return TLS1_1_VERSION;
    case sslVerTLS1_2: return TLS1_2_VERSION;
    default: return TLS1_3_VERSION;
    }
}

const char* VersionName(TSslVerMethod version)
{
    static const char* const names[] {"sslVerSSL3", "sslVerTLS1", "sslVerTLS1_1",
                                       "sslVerTLS1_2", "sslVerTLS1_3", "sslVerMax"};
    return names[version];
}

const char* SecLevelName(TSslSecLevel level)
{
    static const char* const names[] {"sslSecLevelAny",     "sslSecLevel80bits",  "sslSecLevel112bits",
                                       "sslSecLevel128bits", "sslSecLevel192bits", "sslSecLevel256bits"};
    return names[level];
}

// The version limits are protocol versions from 1.1.0 on; these option bits
// would only fight them.
constexpr std::uint64_t NoProtocolBits = 0x02000000 | 0x04000000 | 0x10000000 | 0x08000000;

// The preset cipher lists (configuration data).
const char* const CipherListBack =
    "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305:ECDHE-RSA-AES128-GCM-SHA256:"
    "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES256-GCM-SHA384:ECDHE-ECDSA-AES256-GCM-SHA384:"
    "DHE-RSA-AES128-GCM-SHA256:DHE-RSA-AES256-GCM-SHA384:ECDHE-ECDSA-AES128-SHA256:ECDHE-RSA-AES128-SHA256:"
    "ECDHE-ECDSA-AES128-SHA:ECDHE-RSA-AES256-SHA384:ECDHE-RSA-AES128-SHA:ECDHE-ECDSA-AES256-SHA384:"
    "ECDHE-ECDSA-AES256-SHA:ECDHE-RSA-AES256-SHA:DHE-RSA-AES128-SHA256:DHE-RSA-AES128-SHA:"
    "DHE-RSA-AES256-SHA256:DHE-RSA-AES256-SHA:AES128-GCM-SHA256:AES256-GCM-SHA384:AES128-SHA256:"
    "AES256-SHA256:AES128-SHA:AES256-SHA:HIGH:"
    "!aNULL:!eNULL:!EXPORT:!DES:!RC4:!MD5:!PSK:!RSAPSK:!aDH:!aECDH:"
    "!EDH-DSS-DES-CBC3-SHA:!KRB5-DES-CBC3-SHA:!SRP";
const char* const CipherListInter =
    "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:ECDHE-ECDSA-AES256-GCM-SHA384:"
    "ECDHE-RSA-AES256-GCM-SHA384:ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305:"
    "DHE-RSA-AES128-GCM-SHA256:DHE-RSA-AES256-GCM-SHA384:ECDHE-ECDSA-AES128-SHA256:ECDHE-RSA-AES128-SHA256:"
    "ECDHE-ECDSA-AES128-SHA:ECDHE-RSA-AES256-SHA384:ECDHE-RSA-AES128-SHA:ECDHE-ECDSA-AES256-SHA384:"
    "ECDHE-ECDSA-AES256-SHA:ECDHE-RSA-AES256-SHA:DHE-RSA-AES128-SHA256:DHE-RSA-AES256-SHA256:"
    "AES128-GCM-SHA256:AES256-GCM-SHA384:AES128-SHA256:AES256-SHA256:AES128-SHA:AES256-SHA:"
    "DES-CBC3-SHA:!DSS";
const char* const CipherListHigh =
    "ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:ECDHE-ECDSA-CHACHA20-POLY1305:"
    "ECDHE-RSA-CHACHA20-POLY1305:ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:"
    "ECDHE-ECDSA-AES256-SHA384:ECDHE-RSA-AES256-SHA384:ECDHE-ECDSA-AES128-SHA256:ECDHE-RSA-AES128-SHA256";
const char* const Tls13Prefix =
    "TLS13-CHACHA20-POLY1305-SHA256:TLS13-AES-256-GCM-SHA384:TLS13-AES-128-GCM-SHA256:"
    "TLS13-AES-128-CCM-8-SHA256:TLS13-AES-128-CCM-SHA256:";

struct TCliPreset {
    TSslVerMethod Min;
    TSslVerMethod Max;
    const char* Ciphers; // null: "ALL"
    TSslSecLevel Level;
    bool Tls13Prefix;
};

TCliPreset CliPreset(TSslCliSecurity preset)
{
    switch (preset) {
    case sslCliSecNone: return {sslVerSSL3, sslVerMax, nullptr, sslSecLevelAny, false};
    case sslCliSecSsl3Only: return {sslVerSSL3, sslVerSSL3, nullptr, sslSecLevelAny, false};
    case sslCliSecTls1Only: return {sslVerTLS1, sslVerTLS1, nullptr, sslSecLevel112bits, false};
    case sslCliSecTls11Only: return {sslVerTLS1_1, sslVerTLS1_1, nullptr, sslSecLevel112bits, false};
    case sslCliSecTls12Only: return {sslVerTLS1_2, sslVerTLS1_2, nullptr, sslSecLevel112bits, false};
    case sslCliSecTls13Only: return {sslVerTLS1_3, sslVerTLS1_3, nullptr, sslSecLevel112bits, false};
    case sslCliSecTls1: return {sslVerTLS1, sslVerMax, nullptr, sslSecLevel80bits, false};
    // A user who asks for TLS 1.1 expects it as the least.
    case sslCliSecTls11: return {sslVerTLS1_1, sslVerMax, nullptr, sslSecLevel80bits, false};
    case sslCliSecTls12: return {sslVerTLS1_2, sslVerMax, nullptr, sslSecLevel112bits, false};
    case sslCliSecBack: return {sslVerTLS1, sslVerMax, CipherListBack, sslSecLevel80bits, true};
    case sslCliSecInter: return {sslVerTLS1_1, sslVerMax, CipherListInter, sslSecLevel112bits, true};
    case sslCliSecHigh: return {sslVerTLS1_2, sslVerMax, CipherListHigh, sslSecLevel112bits, true};
    case sslCliSecHigh128: return {sslVerTLS1_2, sslVerMax, CipherListHigh, sslSecLevel128bits, true};
    case sslCliSecHigh192: return {sslVerTLS1_2, sslVerMax, CipherListHigh, sslSecLevel192bits, true};
    default: return {sslVerTLS1, sslVerMax, nullptr, sslSecLevelAny, false};
    }
}

// RFC 7919's ffdhe4096 group (generator 2).
const std::vector<std::string>& BuiltinDHParamLines()
{
    static const std::vector<std::string> lines {
        "-----BEGIN DH PARAMETERS-----",
        "MIICCAKCAgEA//////////+t+FRYortKmq/cViAnPTzx2LnFg84tNpWp4TZBFGQz",
        "+8yTnc4kmz75fS/jY2MMddj2gbICrsRhetPfHtXV/WVhJDP1H18GbtCFY2VVPe0a",
        "87VXE15/V8k1mE8McODmi3fipona8+/och3xWKE2rec1MKzKT0g6eXq8CrGCsyT7",
        "YdEIqUuyyOP7uWrat2DX9GgdT0Kj3jlN9K5W7edjcrsZCwenyO4KbXCeAvzhzffi",
        "7MA0BM0oNC9hkXL+nOmFg/+OTxIy7vKBg8P+OxtMb61zO7X8vC7CIAXFjvGDfRaD",
        "ssbzSibBsu/6iGtCOGEfz9zeNVs7ZRkDW7w09N75nAI4YbRvydbmyQd62R0mkff3",
        "7lmMsPrBhtkcrv4TCYUTknC0EwyTvEN5RPT9RFLi103TZPLiHnH1S/9croKrnJ32",
        "nuhtK8UiNjoNq8Uhl5sN6todv5pC1cRITgq80Gv6U93vPBsg7j/VnXwl5B0rZp4e",
        "8W5vUsMWTfT7eTDp5OWIV7asfV9C1p9tGHdjzx1VA0AEh/VbpX4xzHpxNciG77Qx",
        "iu1qHgEtnmgyqQdgCpGBMMRtx3j5ca0AOAkpmaMzy4t6Gh25PXFAADwqTs6p+Y0K",
        "zAqCkc3OyX3Pjsm1Wn+IpGtNtahR9EGC4caKAH5eZV9q//////////8CAQI=",
        "-----END DH PARAMETERS-----",
    };
    return lines;
}

std::string JoinLines(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

TBio MemoryBio(const std::string& text)
{
    return TBio(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
}

std::string Quoted(const std::string& name)
{
    return "\"" + name + "\"";
}

std::string OptionsText(std::uint64_t options)
{
    char text[32];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(options));
    return text;
}

int PassPhraseCallback(char* buffer, int size, int, void* userData)
{
    const std::string& phrase = *static_cast<const std::string*>(userData);
    if (static_cast<int>(phrase.size()) >= size)
        return 0;
    std::memcpy(buffer, phrase.data(), phrase.size());
    return static_cast<int>(phrase.size());
}

void RemoveSessionCallback(SSL_CTX* ctx, SSL_SESSION* session)
{
    auto* context = static_cast<TSslContext*>(SSL_CTX_get_app_data(ctx));
    if (!context)
        return;
    if (context->KvLogger)
        context->KvLogger("RSCB> Session removed");
    if (context->OnRemoveSession)
        context->OnRemoveSession(*context, session);
}

} // namespace

// ---------------------------------------------------------------- library

std::string UnsupportedOpenSslVersion(unsigned long version, const std::string& fileName)
{
    if (version >= MinOpenSslVersion && version <= MaxOpenSslVersion)
        return {};
    return "Unsupported OpenSSL version (0x" + Hex8(version) + ") !\r\nSupported versions are 0x" +
           Hex8(MinOpenSslVersion) + " - 0x" + Hex8(MaxOpenSslVersion) + "\r\nFileName: " + fileName;
}

void TSslLibrary::Load()
{
    std::lock_guard lock(LibraryLock());
    if (LibraryCount() > 0) {
        ++LibraryCount();
        return;
    }
    const std::string refusal = UnsupportedOpenSslVersion(
        OpenSSL_version_num(), platform::ModuleFileOf(reinterpret_cast<const void*>(&OpenSSL_version_num)));
    if (!refusal.empty())
        throw ESslLibraryException(refusal);
    if (OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr) != 1)
        throw ESslLibraryException("Unable to initialise OpenSSL");
    LoadDeferredConfig();
    const std::uint32_t tick = platform::TickCount();
    RAND_seed(&tick, sizeof tick);
    ++LibraryCount();
}

void TSslLibrary::DeferConfig()
{
    std::lock_guard lock(LibraryLock());
    if (OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr) == 1)
        ConfigDeferred() = true;
}

void TSslLibrary::Unload()
{
    // The library cleans up at process exit; only the count goes.
    std::lock_guard lock(LibraryLock());
    if (LibraryCount() > 0)
        --LibraryCount();
}

int TSslLibrary::LoadCount()
{
    std::lock_guard lock(LibraryLock());
    return LibraryCount();
}

std::string TSslLibrary::VersionText()
{
    return OpenSSL_version(OPENSSL_VERSION);
}

// ---------------------------------------------------------------- errors

std::string TakeSslError(unsigned long& code)
{
    code = ERR_get_error();
    std::string text;
    if (code != 0) {
        char buffer[121];
        ERR_error_string_n(code, buffer, sizeof buffer);
        text = buffer;
    }
    ERR_clear_error();
    return text;
}

std::string TakeSslErrors(unsigned long& code)
{
    code = 0;
    std::string text;
    while (const unsigned long error = ERR_get_error()) {
        if (code == 0)
            code = error;
        char buffer[121];
        ERR_error_string_n(error, buffer, sizeof buffer);
        if (!text.empty())
            text += "\r\n";
        text += buffer;
    }
    return text;
}

// ---------------------------------------------------------------- context

TSslContext::TSslContext()
    : SslDHParamLines(BuiltinDHParamLines())
{
}

TSslContext::~TSslContext()
{
    DeInitContext();
    if (FLibraryLoaded)
        TSslLibrary::Unload();
}

void TSslContext::Log(const std::string& line) const
{
    if (KvLogger)
        KvLogger(line);
}

void TSslContext::FailWithLibraryError(const std::string& text)
{
    unsigned long code = 0;
    const std::string library = TakeSslErrors(code);
    FLastSslError = code;
    FLastSslErrorText = library.substr(0, library.find("\r\n"));
    const std::string full = FLastSslErrorText.empty() ? text : FLastSslErrorText + " - " + text;
    throw ESslContextException("\r\n" + full + "\r\n", code);
}

int TSslContext::VerifyModeBits() const
{
    int bits = 0;
    if (FSslVerifyPeerModes.Contains(SslVerifyMode_PEER))
        bits |= SSL_VERIFY_PEER;
    if (FSslVerifyPeerModes.Contains(SslVerifyMode_FAIL_IF_NO_PEER_CERT))
        bits |= SSL_VERIFY_FAIL_IF_NO_PEER_CERT;
    if (FSslVerifyPeerModes.Contains(SslVerifyMode_CLIENT_ONCE))
        bits |= SSL_VERIFY_CLIENT_ONCE;
    return bits;
}

std::uint64_t TSslContext::RequestedOptions() const
{
    std::uint64_t options = 0;
    if (!SslOptions2.Empty()) {
        for (int i = sslOpt2_ALLOW_NO_DHE_KEX; i <= sslOpt2_TLS_ROLLBACK_BUG; ++i)
            if (SslOptions2.Contains(static_cast<TSslOption2>(i)))
                options |= OptionValue(static_cast<TSslOption2>(i));
    } else {
        for (int i = sslOpt_MICROSOFT_SESS_ID_BUG; i <= sslOpt_NO_TLSv1_2; ++i)
            if (SslOptions.Contains(static_cast<TSslOption>(i)))
                options |= OptionValue(static_cast<TSslOption>(i));
    }
    if (SslMaxVersion >= (SslMinVersion == sslVerMax ? sslVerSSL3 : SslMinVersion))
        options &= ~NoProtocolBits;
    return options;
}

void TSslContext::InitContext()
{
    std::lock_guard lock(FLock);
    if (!FLibraryLoaded) {
        TSslLibrary::Load();
        FLibraryLoaded = true;
    }
    Log("Init SSL Context, OpenSSL version: " + TSslLibrary::VersionText());
    if (FCtx)
        return;
    CreateContext();
    try {
        if (OnBeforeInit)
            OnBeforeInit(*this);
        if (FSslCliSecurity != sslCliSecIgnore)
            ApplyCliSecurity();
        ApplyProtocol();
        LoadKeyAndCertificate();
        LoadAuthorities();
        LoadRevocations();
        SSL_CTX_set_mode(FCtx, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
        if (FSslCliSecurity == sslCliSecIgnore)
            LoadDHParams();
        ApplyVerify();
        ApplySessionCache();
        ApplyAlpn();
    } catch (...) {
        DeInitContext();
        throw;
    }
}

void TSslContext::DeInitContext()
{
    std::lock_guard lock(FLock);
    if (FCtx) {
        SSL_CTX_free(FCtx);
        FCtx = nullptr;
    }
}

void TSslContext::CreateContext()
{
    // From library 1.1.0 on one method serves every version; the limits do the rest.
    FCtx = SSL_CTX_new(TLS_method());
    if (!FCtx)
        FailWithLibraryError("Failed to initialize context");
}

void TSslContext::ApplyCliSecurity()
{
    const TCliPreset preset = CliPreset(FSslCliSecurity);
    SslMinVersion = preset.Min;
    SslMaxVersion = preset.Max;
    SslSecLevel = preset.Level;
    SslCipherList = preset.Ciphers ? std::string(preset.Tls13Prefix ? Tls13Prefix : "") + preset.Ciphers
                                   : std::string("ALL");
}

void TSslContext::ApplyProtocol()
{
    SSL_CTX_set_security_level(FCtx, static_cast<int>(SslSecLevel));
    Log(std::string("Set Security Level: ") + SecLevelName(SslSecLevel));
    const TSslVerMethod minVersion = SslMinVersion == sslVerMax ? sslVerSSL3 : SslMinVersion;
    if (SslMaxVersion >= minVersion) {
        // A library without some version (SSLv3) simply allows what it can do.
        SSL_CTX_set_min_proto_version(FCtx, WireVersion(minVersion));
        SSL_CTX_set_max_proto_version(FCtx, WireVersion(SslMaxVersion));
        Log(std::string("SslMinVersion: ") + VersionName(minVersion) + ", SslMaxVersion: " +
            VersionName(SslMaxVersion));
    }
    const std::uint64_t options = RequestedOptions();
    if (options != 0 && SSL_CTX_set_options(FCtx, options) == 0)
        throw ESslContextException("Failed to set context options");
    if (SslCipherList.empty())
        throw ESslContextException("Cipher list empty");
    if (SSL_CTX_set_cipher_list(FCtx, SslCipherList.c_str()) != 1)
        FailWithLibraryError("Error loading cipher list");
    if (KvLogger) {
        Log("SSL Options, Requested: " + OptionsText(options));
        Log("SSL Options, Actual: " + OptionsText(SSL_CTX_get_options(FCtx)));
        std::string ciphers;
        STACK_OF(SSL_CIPHER)* list = SSL_CTX_get_ciphers(FCtx);
        for (int i = 0; list && i < sk_SSL_CIPHER_num(list); ++i)
            ciphers += std::string(i ? ":" : "") + SSL_CIPHER_get_name(sk_SSL_CIPHER_value(list, i));
        Log("SSL Ciphers Available: " + ciphers);
    }
}

void TSslContext::LoadKeyAndCertificate()
{
    SSL_CTX_set_default_passwd_cb(FCtx, PassPhraseCallback);
    SSL_CTX_set_default_passwd_cb_userdata(FCtx, &SslPassPhrase);
    LoadPrivateKey();
    LoadCertificate();
}

void TSslContext::LoadPrivateKey()
{
    if (!SslPrivKeyFile.empty()) {
        if (!platform::FileExists(SslPrivKeyFile))
            throw ESslContextException("File not found " + Quoted(SslPrivKeyFile));
        if (SSL_CTX_use_PrivateKey_file(FCtx, SslPrivKeyFile.c_str(), SSL_FILETYPE_PEM) != 1)
            FailWithLibraryError("Can't load private key file " + Quoted(SslPrivKeyFile));
        return;
    }
    if (SslPrivKeyLines.empty())
        return;
    const std::string text = JoinLines(SslPrivKeyLines);
    TBio bio = MemoryBio(text);
    EVP_PKEY* key = bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, PassPhraseCallback, &SslPassPhrase) : nullptr;
    if (!key)
        FailWithLibraryError("Expected a Base64 encoded PEM private key");
    const int used = SSL_CTX_use_PrivateKey(FCtx, key);
    EVP_PKEY_free(key);
    if (used != 1)
        FailWithLibraryError("Can't add private key to context");
}

void TSslContext::LoadCertificate()
{
    if (!SslCertFile.empty()) {
        if (!platform::FileExists(SslCertFile))
            throw ESslContextException("File not found " + Quoted(SslCertFile));
        if (SSL_CTX_use_certificate_chain_file(FCtx, SslCertFile.c_str()) != 1)
            FailWithLibraryError("Can't read certificate file " + Quoted(SslCertFile));
        return;
    }
    if (SslCertLines.empty())
        return;
    const std::string text = JoinLines(SslCertLines);
    TBio bio = MemoryBio(text);
    bool first = true;
    while (X509* cert = bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr) {
        // The first is the certificate, the others its chain.
        const int added = first ? SSL_CTX_use_certificate(FCtx, cert) : SSL_CTX_add1_chain_cert(FCtx, cert);
        X509_free(cert);
        if (added != 1)
            FailWithLibraryError("Can't add certificate to context");
        first = false;
    }
    ERR_clear_error(); // the end of the PEM text reads as an error
    if (first)
        FailWithLibraryError("Can't add certificate to context");
}

void TSslContext::LoadAuthorities()
{
    FDefaultAuthoritiesPending = false;
    if (!SslCAFile.empty() || !SslCAPath.empty()) {
        if (!SslCAFile.empty() && !platform::FileExists(SslCAFile))
            throw ESslContextException("File not found " + Quoted(SslCAFile));
        if (!SslCAPath.empty() && !platform::DirectoryExists(SslCAPath))
            throw ESslContextException("Directory not found " + Quoted(SslCAPath));
        if (SSL_CTX_load_verify_locations(FCtx, SslCAFile.empty() ? nullptr : SslCAFile.c_str(),
                                          SslCAPath.empty() ? nullptr : SslCAPath.c_str()) != 1)
            FailWithLibraryError("Can't read CA File " + Quoted(SslCAFile) + " or CA Path " + Quoted(SslCAPath));
        return;
    }
    if (!SslCALines.empty()) {
        const std::string text = JoinLines(SslCALines);
        TBio bio = MemoryBio(text);
        X509_STORE* store = SSL_CTX_get_cert_store(FCtx);
        int added = 0;
        while (X509* cert = bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr) {
            added += X509_STORE_add_cert(store, cert) == 1;
            X509_free(cert);
        }
        ERR_clear_error();
        if (added == 0)
            FailWithLibraryError("Can't add certificate to context");
        return;
    }
    // The library's default locations hold the whole system store: read
    // once peers are verified (ApplyVerify), never for a connection that
    // checks nothing.
    FDefaultAuthoritiesPending = true;
}

void TSslContext::LoadDefaultAuthorities()
{
    if (!FDefaultAuthoritiesPending)
        return;
    if (SSL_CTX_set_default_verify_paths(FCtx) != 1)
        FailWithLibraryError("Error loading default CA file and/or directory");
    // Where the library cannot read the system's store, its roots are added.
    X509_STORE* store = SSL_CTX_get_cert_store(FCtx);
    for (const std::string& der : platform::SystemRootCertificates()) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(der.data());
        if (X509* cert = d2i_X509(nullptr, &bytes, static_cast<long>(der.size()))) {
            X509_STORE_add_cert(store, cert);
            X509_free(cert);
        }
    }
    ERR_clear_error(); // a root met twice reads as an error
    FDefaultAuthoritiesPending = false;
}

void TSslContext::LoadRevocations()
{
    X509_STORE* store = SSL_CTX_get_cert_store(FCtx);
    if (!SslCRLFile.empty()) {
        if (!platform::FileExists(SslCRLFile))
            throw ESslContextException("File not found " + Quoted(SslCRLFile));
        X509_LOOKUP* lookup = X509_STORE_add_lookup(store, X509_LOOKUP_file());
        if (!lookup || X509_load_crl_file(lookup, SslCRLFile.c_str(), X509_FILETYPE_PEM) <= 0)
            FailWithLibraryError("Can't read CRL File " + Quoted(SslCRLFile));
    }
    if (!SslCRLPath.empty()) {
        if (!platform::DirectoryExists(SslCRLPath))
            throw ESslContextException("Directory not found " + Quoted(SslCRLPath));
        X509_LOOKUP* lookup = X509_STORE_add_lookup(store, X509_LOOKUP_hash_dir());
        if (!lookup || X509_LOOKUP_add_dir(lookup, SslCRLPath.c_str(), X509_FILETYPE_PEM) != 1)
            FailWithLibraryError("Can't read CRL Path " + Quoted(SslCRLPath));
    }
}

void TSslContext::LoadDHParams()
{
    TBio bio;
    std::string text; // the memory BIO reads it in place
    if (!SslDHParamFile.empty()) {
        if (!platform::FileExists(SslDHParamFile))
            throw ESslContextException("File not found " + Quoted(SslDHParamFile));
        bio = TBio(BIO_new_file(SslDHParamFile.c_str(), "r"));
    } else if (!SslDHParamLines.empty()) {
        text = JoinLines(SslDHParamLines);
        if (text.find("-----BEGIN") == std::string::npos)
            throw ESslContextException("Expected a Base64 encoded DH params");
        bio = MemoryBio(text);
    } else {
        return;
    }
    EVP_PKEY* params = bio ? PEM_read_bio_Parameters(bio.get(), nullptr) : nullptr;
    if (!params)
        FailWithLibraryError("Error reading DHparams");
    if (SSL_CTX_set0_tmp_dh_pkey(FCtx, params) != 1) {
        EVP_PKEY_free(params);
        FailWithLibraryError("Error reading DHparams");
    }
}

void TSslContext::ApplyVerify()
{
    if (!SslVerifyFlags.Empty()) {
        unsigned long flags = 0;
        for (int i = sslX509_V_FLAG_USE_CHECK_TIME; i <= sslX509_V_FLAG_NO_CHECK_TIME; ++i)
            if (SslVerifyFlags.Contains(static_cast<TSslVerifyFlag>(i)))
                flags |= VerifyFlagValue(static_cast<TSslVerifyFlag>(i));
        X509_VERIFY_PARAM_set_flags(SSL_CTX_get0_param(FCtx), flags);
    }
    if (!FSslVerifyPeer) {
        SSL_CTX_set_verify(FCtx, SSL_VERIFY_NONE, nullptr);
        SSL_CTX_set_verify_depth(FCtx, 0);
        return;
    }
    LoadDefaultAuthorities();
    if (SSL_CTX_get_verify_mode(FCtx) != VerifyModeBits())
        SSL_CTX_set_verify(FCtx, VerifyModeBits(), SslVerifyCallback);
    SSL_CTX_set_verify_depth(FCtx, FSslVerifyDepth);
}

void TSslContext::ApplySessionCache()
{
    if (!SslSessionCacheModes.Empty())
        SSL_CTX_set_session_cache_mode(FCtx, SessionCacheBits(SslSessionCacheModes));
    if (!SslSessionCacheModes.Contains(sslSESS_CACHE_NO_INTERNAL_STORE)) {
        if (SSL_CTX_set_app_data(FCtx, this) != 1)
            FailWithLibraryError("SSL_CTX_set_ex_data failed");
        SSL_CTX_sess_set_remove_cb(FCtx, RemoveSessionCallback);
        if (SslSessionCacheSize != DefaultSessionCacheSize)
            SSL_CTX_sess_set_cache_size(FCtx, SslSessionCacheSize);
    }
    if (SslSessionTimeout != 0)
        SSL_CTX_set_timeout(FCtx, static_cast<long>(SslSessionTimeout));
    SSL_CTX_sess_set_new_cb(FCtx, SslNewSessionCallback);
    if (!SslDefaultSessionIDContext.empty() &&
        SSL_CTX_set_session_id_context(FCtx, reinterpret_cast<const unsigned char*>(SslDefaultSessionIDContext.data()),
                                       static_cast<unsigned>(SslDefaultSessionIDContext.size())) != 1)
        FailWithLibraryError("ssl_ctx_set_session_id_context failed");
}

void TSslContext::ApplyAlpn()
{
    if (SslAlpnProtocols.empty())
        return;
    std::string wire;
    for (const std::string& protocol : SslAlpnProtocols) {
        if (protocol.empty() || protocol.size() > 255)
            throw ESslContextException("Error setting alpn protos");
        wire += static_cast<char>(protocol.size());
        wire += protocol;
    }
    // This call alone answers 0 for success.
    if (SSL_CTX_set_alpn_protos(FCtx, reinterpret_cast<const unsigned char*>(wire.data()),
                                static_cast<unsigned>(wire.size())) != 0)
        FailWithLibraryError("Error setting alpn protos");
}

// ---------------------------------------------------------------- setters

template <class T>
void TSslContext::SetVerifySetting(T& field, T value)
{
    std::lock_guard lock(FLock);
    field = value;
    if (FCtx)
        ApplyVerify();
}

void TSslContext::SetSslVerifyPeer(bool value)
{
    SetVerifySetting(FSslVerifyPeer, value);
}

void TSslContext::SetSslVerifyPeerModes(TSslVerifyPeerModes value)
{
    SetVerifySetting(FSslVerifyPeerModes, value);
}

void TSslContext::SetSslVerifyDepth(int value)
{
    SetVerifySetting(FSslVerifyDepth, value);
}

void TSslContext::SetSslCliSecurity(TSslCliSecurity value)
{
    std::lock_guard lock(FLock);
    FSslCliSecurity = value;
    if (FCtx && value != sslCliSecIgnore) {
        ApplyCliSecurity();
        ApplyProtocol();
    }
}

} // namespace net
