#include "net/SslContext.h"
#include "platform/Environment.h"

#include "../TlsTestServer.h"

#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <cstdlib>

#include <functional>
#include <ostream>

using namespace net;

namespace {

std::string FailureOf(TSslContext& context)
{
    try {
        context.InitContext();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

} // namespace

TEST(SslContext, MailProgramValuesOnTheLinkedLibrary)
{
    const int loadsBefore = TSslLibrary::LoadCount();
    TSslContext context;
    context.SslVersionMethod = sslV23; // the mail program's one change
    EXPECT_FALSE(context.IsInitialized());
    EXPECT_EQ(TSslLibrary::LoadCount(), loadsBefore) << "a context alone must not start the library";
    EXPECT_EQ(context.SslMinVersion, sslVerSSL3);
    EXPECT_EQ(context.SslMaxVersion, sslVerMax);
    EXPECT_EQ(context.SslCipherList, "ALL:!ADH:RC4+RSA:+SSLv2:@STRENGTH");
    EXPECT_EQ(context.SslSecLevel, sslSecLevel80bits);
    EXPECT_FALSE(context.SslVerifyPeer());
    EXPECT_EQ(context.SslVerifyPeerModes(), TSslVerifyPeerModes {SslVerifyMode_PEER});
    EXPECT_EQ(context.SslVerifyDepth(), 9);
    EXPECT_EQ(context.SslECDHMethod, sslECDHAuto);
    EXPECT_EQ(context.SslCryptoGroups, "P-256:X25519:P-384:P-512");
    EXPECT_EQ(context.SslCliSecurity(), sslCliSecIgnore);
    EXPECT_EQ(context.SslSessionCacheSize, 20480);
    ASSERT_EQ(context.SslDHParamLines.size(), 13u);
    EXPECT_EQ(context.SslDHParamLines.front(), "-----BEGIN DH PARAMETERS-----");
    EXPECT_EQ(context.SslDHParamLines.back(), "-----END DH PARAMETERS-----");

    context.InitContext();
    SSL_CTX* ctx = context.Handle();
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(SSL_CTX_get_min_proto_version(ctx), 0x300);
    EXPECT_EQ(SSL_CTX_get_max_proto_version(ctx), 0x304);
    EXPECT_EQ(context.RequestedOptions(), 0u);
    EXPECT_EQ(SSL_CTX_get_options(ctx) & (SSL_OP_NO_SSLv3 | SSL_OP_NO_TLSv1 | SSL_OP_NO_TLSv1_1 | SSL_OP_NO_TLSv1_2), 0u);
    EXPECT_EQ(SSL_CTX_get_security_level(ctx), 1);
    EXPECT_EQ(SSL_CTX_get_verify_mode(ctx), SSL_VERIFY_NONE);
    EXPECT_EQ(SSL_CTX_get_verify_depth(ctx), 0);
    EXPECT_NE(SSL_CTX_get_mode(ctx) & SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER, 0);
    EXPECT_GT(sk_SSL_CIPHER_num(SSL_CTX_get_ciphers(ctx)), 0);
    EXPECT_EQ(TSslLibrary::LoadCount(), loadsBefore + 1);
}

TEST(SslContext, VerifySettingsApplyToALiveContext)
{
    TSslContext context;
    context.InitContext();
    context.SetSslVerifyPeer(true);
    EXPECT_EQ(SSL_CTX_get_verify_mode(context.Handle()), SSL_VERIFY_PEER);
    EXPECT_EQ(SSL_CTX_get_verify_depth(context.Handle()), 9);
    EXPECT_NE(SSL_CTX_get_verify_callback(context.Handle()), nullptr);
    context.SetSslVerifyDepth(3);
    EXPECT_EQ(SSL_CTX_get_verify_depth(context.Handle()), 3);
    context.SetSslVerifyPeer(false);
    EXPECT_EQ(SSL_CTX_get_verify_mode(context.Handle()), SSL_VERIFY_NONE);
}

// The system's trust store is read when peers are verified, once, and not
// for a connection that checks nothing.
TEST(SslContext, DefaultTrustStoreIsReadForVerificationOnly)
{
    // The default locations, as the library finds them: a one-certificate
    // file and no directory.
    platform::SetEnvironmentValue("SSL_CERT_FILE", tlstest::TTestCertificate::Instance().PemFile());
    platform::SetEnvironmentValue("SSL_CERT_DIR", "/nonexistent");
    const auto trusted = [](const TSslContext& c) {
        return sk_X509_OBJECT_num(X509_STORE_get0_objects(SSL_CTX_get_cert_store(c.Handle())));
    };
    // The system's own roots join the file where the library cannot read
    // the system's store.
    TSslContext verifying;
    verifying.SetSslVerifyPeer(true);
    verifying.InitContext();
    const int store = trusted(verifying);
    EXPECT_GE(store, 1);

    TSslContext quiet;
    quiet.InitContext();
    EXPECT_EQ(trusted(quiet), 0);
    quiet.SetSslVerifyPeer(true);
    EXPECT_EQ(trusted(quiet), store);
    quiet.SetSslVerifyPeer(false);
    quiet.SetSslVerifyPeer(true);
    EXPECT_EQ(trusted(quiet), store);
    platform::SetEnvironmentValue("SSL_CERT_FILE", std::nullopt);
    platform::SetEnvironmentValue("SSL_CERT_DIR", std::nullopt);
}

struct TPresetCase {
    TSslCliSecurity Preset;
    int Min;
    int Max;
    int Level;
};

std::ostream& operator<<(std::ostream& os, const TPresetCase& c)
{
    return os << "preset " << c.Preset;
}

class SslContextPresets : public ::testing::TestWithParam<TPresetCase> {};

TEST_P(SslContextPresets, SetTheLimitsAndLevel)
{
    const TPresetCase& c = GetParam();
    TSslContext context;
    context.SetSslCliSecurity(c.Preset);
    context.InitContext();
    EXPECT_EQ(SSL_CTX_get_min_proto_version(context.Handle()), c.Min);
    EXPECT_EQ(SSL_CTX_get_max_proto_version(context.Handle()), c.Max);
    EXPECT_EQ(SSL_CTX_get_security_level(context.Handle()), c.Level);
}

INSTANTIATE_TEST_SUITE_P(Presets, SslContextPresets,
                         ::testing::Values(TPresetCase {sslCliSecTls12Only, 0x303, 0x303, 2},
                                           TPresetCase {sslCliSecTls1, 0x301, 0x304, 1},
                                           TPresetCase {sslCliSecTls11, 0x302, 0x304, 1},
                                           TPresetCase {sslCliSecHigh128, 0x303, 0x304, 3}),
                         [](const auto& info) { return "Preset" + std::to_string(info.param.Preset); });

// Failures name what is wrong; the context is left without an OpenSSL context.
TEST(SslContext, InitFailures)
{
    struct TCase {
        const char* Name;
        std::function<void(TSslContext&)> Set;
        std::string Text; // the whole message, or (starting with \r\n) its last line
    };
    const std::vector<TCase> cases = {
        {"empty cipher list", [](TSslContext& c) { c.SslCipherList.clear(); }, "Cipher list empty"},
        {"rejected cipher list", [](TSslContext& c) { c.SslCipherList = "NO-SUCH-CIPHER"; },
         "\r\n - Error loading cipher list\r\n"},
        {"missing CA file", [](TSslContext& c) { c.SslCAFile = "/no/such/ca.pem"; },
         "File not found \"/no/such/ca.pem\""},
        {"missing CA path", [](TSslContext& c) { c.SslCAPath = "/no/such/dir"; },
         "Directory not found \"/no/such/dir\""},
        {"DH lines without PEM", [](TSslContext& c) { c.SslDHParamLines = {"garbage"}; },
         "Expected a Base64 encoded DH params"},
        {"missing key file", [](TSslContext& c) { c.SslPrivKeyFile = "/no/such/key.pem"; },
         "File not found \"/no/such/key.pem\""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TSslContext context;
        c.Set(context);
        const std::string failure = FailureOf(context);
        if (c.Text.starts_with("\r\n")) {
            EXPECT_TRUE(failure.starts_with("\r\n")) << failure;
            EXPECT_TRUE(failure.ends_with(c.Text.substr(2))) << failure;
            EXPECT_NE(context.LastSslError(), 0u);
        } else {
            EXPECT_EQ(failure, c.Text);
        }
        EXPECT_FALSE(context.IsInitialized());
    }
}

TEST(SslLibrary, VersionBounds)
{
    struct TCase {
        unsigned long Version;
        bool Accepted;
    };
    for (const TCase c : {TCase {0x1000214fUL, false}, TCase {0x1010007fUL, false}, TCase {0x101010bfUL, true},
                          TCase {0x30000130UL, true}, TCase {0x30500000UL, true}, TCase {0x40000000UL, false}}) {
        SCOPED_TRACE(c.Version);
        EXPECT_EQ(UnsupportedOpenSslVersion(c.Version, "libcrypto.so").empty(), c.Accepted);
    }
    EXPECT_EQ(UnsupportedOpenSslVersion(0x1000214fUL, "libcrypto.so.1.0.2"),
              "Unsupported OpenSSL version (0x1000214F) !\r\nSupported versions are 0x10101000 - 0x3FFFFFFF\r\n"
              "FileName: libcrypto.so.1.0.2");
}
