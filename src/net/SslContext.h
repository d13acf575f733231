#pragma once
// The TLS settings and the one OpenSSL context that every TLS connection
// using them is made from. Nothing of the library is touched before
// InitContext (called by the TLS socket when its first handshake starts), so
// a program that never opens a TLS connection never pays for it.

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

struct ssl_ctx_st;

namespace platform {
class TPublishedComponent;
}

namespace net {

enum TSslVersionMethod {
    sslV2, sslV2_CLIENT, sslV2_SERVER,
    sslV3, sslV3_CLIENT, sslV3_SERVER,
    sslTLS_V1, sslTLS_V1_CLIENT, sslTLS_V1_SERVER,
    sslV23, sslV23_CLIENT, sslV23_SERVER,
    sslTLS_V1_1, sslTLS_V1_1_CLIENT, sslTLS_V1_1_SERVER,
    sslTLS_V1_2, sslTLS_V1_2_CLIENT, sslTLS_V1_2_SERVER,
    sslBestVer, sslBestVer_CLIENT, sslBestVer_SERVER,
};

enum TSslVerMethod { sslVerSSL3, sslVerTLS1, sslVerTLS1_1, sslVerTLS1_2, sslVerTLS1_3, sslVerMax };

// The library's security levels 0 to 5.
enum TSslSecLevel {
    sslSecLevelAny,
    sslSecLevel80bits,
    sslSecLevel112bits,
    sslSecLevel128bits,
    sslSecLevel192bits,
    sslSecLevel256bits,
};

// Options of libraries before 1.1.0; those a newer library dropped count as 0.
enum TSslOption {
    sslOpt_MICROSOFT_SESS_ID_BUG,
    sslOpt_NETSCAPE_CHALLENGE_BUG,
    sslOpt_NETSCAPE_REUSE_CIPHER_CHANGE_BUG,
    sslOpt_SSLREF2_REUSE_CERT_TYPE_BUG,
    sslOpt_MICROSOFT_BIG_SSLV3_BUFFER,
    sslOpt_MSIE_SSLV2_RSA_PADDING,
    sslOpt_SSLEAY_080_CLIENT_DH_BUG,
    sslOpt_TLS_D5_BUG,
    sslOpt_TLS_BLOCK_PADDING_BUG,
    sslOpt_DONT_INSERT_EMPTY_FRAGMENTS,
    sslOpt_NO_QUERY_MTU,
    sslOpt_COOKIE_EXCHANGE,
    sslOpt_NO_TICKET,
    sslOpt_NO_SESSION_RESUMPTION_ON_RENEGOTIATION,
    sslOpt_NO_COMPRESSION,
    sslOpt_ALLOW_UNSAFE_LEGACY_RENEGOTIATION,
    sslOpt_SINGLE_ECDH_USE,
    sslOpt_SINGLE_DH_USE,
    sslOpt_EPHEMERAL_RSA,
    sslOpt_CIPHER_SERVER_PREFERENCE,
    sslOpt_TLS_ROLLBACK_BUG,
    sslOpt_NO_SSLv2,
    sslOpt_NO_SSLv3,
    sslOpt_NO_TLSv1,
    sslOpt_PKCS1_CHECK_1,
    sslOpt_PKCS1_CHECK_2,
    sslOpt_NETSCAPE_CA_DN_BUG,
    sslOpt_NETSCAPE_DEMO_CIPHER_CHANGE_BUG,
    sslOpt_NO_TLSv1_1,
    sslOpt_NO_TLSv1_2,
};

// Options of libraries from 1.1.0 on.
enum TSslOption2 {
    sslOpt2_ALLOW_NO_DHE_KEX,
    sslOpt2_ALLOW_UNSAFE_LEGACY_RENEGOTIATION,
    sslOpt2_CIPHER_SERVER_PREFERENCE,
    sslOpt2_CISCO_ANYCONNECT,
    sslOpt2_COOKIE_EXCHANGE,
    sslOpt2_CRYPTOPRO_TLSEXT_BUG,
    sslOpt2_DONT_INSERT_EMPTY_FRAGMENTS,
    sslOpt2_ENABLE_MIDDLEBOX_COMPAT,
    sslOpt2_LEGACY_SERVER_CONNECT,
    sslOpt2_NO_COMPRESSION,
    sslOpt2_NO_ENCRYPT_THEN_MAC,
    sslOpt2_NO_QUERY_MTU,
    sslOpt2_NO_RENEGOTIATION,
    sslOpt2_NO_SESSION_RESUMPTION_ON_RENEGOTIATION,
    sslOpt2_NO_TICKET,
    sslOpt2_PRIORITIZE_CHACHA,
    sslOpt2_SAFARI_ECDHE_ECDSA_BUG,
    sslOpt2_TLSEXT_PADDING,
    sslOpt2_TLS_ROLLBACK_BUG,
};

enum TSslVerifyPeerMode {
    SslVerifyMode_NONE,
    SslVerifyMode_PEER,
    SslVerifyMode_FAIL_IF_NO_PEER_CERT,
    SslVerifyMode_CLIENT_ONCE,
};

enum TSslVerifyFlag {
    sslX509_V_FLAG_USE_CHECK_TIME,
    sslX509_V_FLAG_CRL_CHECK,
    sslX509_V_FLAG_CRL_CHECK_ALL,
    sslX509_V_FLAG_IGNORE_CRITICAL,
    sslX509_V_FLAG_X509_STRICT,
    sslX509_V_FLAG_ALLOW_PROXY_CERTS,
    sslX509_V_FLAG_POLICY_CHECK,
    sslX509_V_FLAG_EXPLICIT_POLICY,
    sslX509_V_FLAG_INHIBIT_ANY,
    sslX509_V_FLAG_INHIBIT_MAP,
    sslX509_V_FLAG_NOTIFY_POLICY,
    sslX509_V_FLAG_EXTENDED_CRL_SUPPORT,
    sslX509_V_FLAG_USE_DELTAS,
    sslX509_V_FLAG_CHECK_SS_SIGNATURE,
    sslX509_V_FLAG_TRUSTED_FIRST,
    sslX509_V_FLAG_PARTIAL_CHAIN,
    sslX509_V_FLAG_NO_ALT_CHAINS,
    sslX509_V_FLAG_NO_CHECK_TIME,
};

enum TSslCheckHostFlag {
    sslX509_CHECK_FLAG_ALWAYS_CHECK_SUBJECT,
    sslX509_CHECK_FLAG_NO_WILDCARDS,
    sslX509_CHECK_FLAG_NO_PARTIAL_WILDCARDS,
    sslX509_CHECK_FLAG_MULTI_LABEL_WILDCARDS,
    sslX509_CHECK_FLAG_SINGLE_LABEL_SUBDOMAINS,
    sslX509_CHECK_FLAG_NEVER_CHECK_SUBJECT,
};

enum TSslECDHMethod { sslECDHNone, sslECDHAuto, sslECDH_P256, sslECDH_P384, sslECDH_P521 };

enum TSslCliSecurity {
    sslCliSecIgnore,
    sslCliSecNone,
    sslCliSecSsl3Only,
    sslCliSecTls1Only,
    sslCliSecTls11Only,
    sslCliSecTls12Only,
    sslCliSecTls13Only,
    sslCliSecTls1,
    sslCliSecTls11,
    sslCliSecTls12,
    sslCliSecBack,
    sslCliSecInter,
    sslCliSecHigh,
    sslCliSecHigh128,
    sslCliSecHigh192,
};

enum TSslSessCacheMode {
    sslSESS_CACHE_CLIENT,
    sslSESS_CACHE_SERVER,
    sslSESS_CACHE_NO_AUTO_CLEAR,
    sslSESS_CACHE_NO_INTERNAL_LOOKUP,
    sslSESS_CACHE_NO_INTERNAL_STORE,
};

// A set of the members of one of the enumerations above.
template <class E>
class TSslSet {
public:
    TSslSet() = default;
    TSslSet(std::initializer_list<E> members)
    {
        for (E member : members)
            Include(member);
    }
    bool Contains(E member) const { return (FBits >> member) & 1u; }
    TSslSet& Include(E member)
    {
        FBits |= std::uint64_t {1} << member;
        return *this;
    }
    TSslSet& Exclude(E member)
    {
        FBits &= ~(std::uint64_t {1} << member);
        return *this;
    }
    bool Empty() const { return FBits == 0; }
    bool operator==(const TSslSet&) const = default;

private:
    std::uint64_t FBits = 0;
};

using TSslOptions = TSslSet<TSslOption>;
using TSslOptions2 = TSslSet<TSslOption2>;
using TSslVerifyPeerModes = TSslSet<TSslVerifyPeerMode>;
using TSslVerifyFlags = TSslSet<TSslVerifyFlag>;
using TSslCheckHostFlags = TSslSet<TSslCheckHostFlag>;
using TSslSessCacheModes = TSslSet<TSslSessCacheMode>;

// A failure of the context. A failure that follows a failed library call
// carries the library's error: its text and code are also kept as the
// context's last error.
class ESslContextException : public std::runtime_error {
public:
    explicit ESslContextException(const std::string& msg, unsigned long errorCode = 0)
        : std::runtime_error(msg)
        , ErrorCode(errorCode)
    {
    }
    unsigned long ErrorCode;
};

// The TLS library is missing, too old or cannot start.
class ESslLibraryException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The process-wide start of OpenSSL's TLS side: counted, so that every TLS
// socket loads it on first use and unloads it when it goes.
class TSslLibrary {
public:
    // At program start: the crypto library starts without reading its
    // configuration file, which a mail without TLS does not need (the
    // Message-ID's digest would otherwise read it on every run). The first
    // Load reads it then, before any TLS context exists.
    static void DeferConfig();
    static void Load();
    static void Unload();
    static int LoadCount();
    static std::string VersionText();
};

// The refusal text for a library version this code cannot use, empty when
// the version is accepted (1.1.1 and 3.x).
std::string UnsupportedOpenSslVersion(unsigned long version, const std::string& fileName);

class TSslContext;

using TSslContextNotify = std::function<void(TSslContext& sender)>;
using TSslContextRemoveSession = std::function<void(TSslContext& sender, void* SslSession)>;

class TSslContext {
public:
    TSslContext();
    ~TSslContext();
    TSslContext(const TSslContext&) = delete;
    TSslContext& operator=(const TSslContext&) = delete;

    // Builds the OpenSSL context from the properties (ESslContextException
    // or ESslLibraryException on failure).
    void InitContext();
    // Frees the OpenSSL context; the next InitContext builds a new one.
    void DeInitContext();
    bool IsInitialized() const { return FCtx != nullptr; }
    ssl_ctx_st* Handle() const { return FCtx; }

    // Properties that take effect at the next initialization.
    TSslVersionMethod SslVersionMethod = sslBestVer;
    TSslVerMethod SslMinVersion = sslVerSSL3;
    TSslVerMethod SslMaxVersion = sslVerMax;
    std::string SslCipherList = "ALL:!ADH:RC4+RSA:+SSLv2:@STRENGTH";
    TSslSecLevel SslSecLevel = sslSecLevel80bits;
    TSslOptions SslOptions;
    TSslOptions2 SslOptions2;
    TSslVerifyFlags SslVerifyFlags;
    TSslCheckHostFlags SslCheckHostFlags;
    TSslECDHMethod SslECDHMethod = sslECDHAuto;
    std::string SslCryptoGroups = "P-256:X25519:P-384:P-512"; // kept, not applied
    TSslSessCacheModes SslSessionCacheModes;
    int SslSessionCacheSize = DefaultSessionCacheSize;
    unsigned SslSessionTimeout = 0; // seconds; 0: the library's default
    std::string SslDefaultSessionIDContext;
    std::string SslCertFile;
    std::vector<std::string> SslCertLines;
    std::string SslPrivKeyFile;
    std::vector<std::string> SslPrivKeyLines;
    std::string SslPassPhrase;
    std::string SslCAFile;
    std::vector<std::string> SslCALines;
    std::string SslCAPath;
    std::string SslCRLFile;
    std::string SslCRLPath;
    std::string SslDHParamFile;
    std::vector<std::string> SslDHParamLines;
    std::vector<std::string> SslAlpnProtocols;
    bool AutoEnableBuiltinEngines = false; // engines are not supported

    // Properties that also apply to a live context at once.
    bool SslVerifyPeer() const { return FSslVerifyPeer; }
    void SetSslVerifyPeer(bool value);
    TSslVerifyPeerModes SslVerifyPeerModes() const { return FSslVerifyPeerModes; }
    void SetSslVerifyPeerModes(TSslVerifyPeerModes value);
    int SslVerifyDepth() const { return FSslVerifyDepth; }
    void SetSslVerifyDepth(int value);
    TSslCliSecurity SslCliSecurity() const { return FSslCliSecurity; }
    void SetSslCliSecurity(TSslCliSecurity value);

    // Its text, integer and list properties, reachable by name.
    void PublishProperties(platform::TPublishedComponent& entry);

    TSslContextNotify OnBeforeInit;
    TSslContextRemoveSession OnRemoveSession;
    std::function<void(const std::string& line)> KvLogger;

    // The verify-mode bits of SslVerifyPeerModes (NONE 0, PEER 1,
    // FAIL_IF_NO_PEER_CERT 2, CLIENT_ONCE 4).
    int VerifyModeBits() const;
    // The option bits InitContext asks the library for.
    std::uint64_t RequestedOptions() const;
    // The library's error kept from the last failure (0 and empty: none).
    unsigned long LastSslError() const { return FLastSslError; }
    const std::string& LastSslErrorText() const { return FLastSslErrorText; }

    static constexpr int DefaultSessionCacheSize = 20480;

private:
    void Log(const std::string& line) const;
    [[noreturn]] void FailWithLibraryError(const std::string& text);
    void CreateContext();
    void ApplyCliSecurity();
    void ApplyProtocol();
    void LoadKeyAndCertificate();
    void LoadPrivateKey();
    void LoadCertificate();
    void LoadAuthorities();
    void LoadDefaultAuthorities();
    void LoadRevocations();
    void LoadDHParams();
    void ApplyVerify();
    void ApplySessionCache();
    void ApplyAlpn();
    // Stores a verify setting and applies it to a live context at once.
    template <class T>
    void SetVerifySetting(T& field, T value);

    mutable std::recursive_mutex FLock;
    ssl_ctx_st* FCtx = nullptr;
    bool FLibraryLoaded = false;
    bool FSslVerifyPeer = false;
    // The default trust store is wanted and not yet read.
    bool FDefaultAuthoritiesPending = false;
    TSslVerifyPeerModes FSslVerifyPeerModes {SslVerifyMode_PEER};
    int FSslVerifyDepth = 9;
    TSslCliSecurity FSslCliSecurity = sslCliSecIgnore;
    unsigned long FLastSslError = 0;
    std::string FLastSslErrorText;
};

} // namespace net
