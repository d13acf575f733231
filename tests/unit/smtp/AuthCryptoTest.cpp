// The crypto helper against published vectors, with and without OpenSSL's
// legacy provider.
#include "smtp/AuthCrypto.h"

#include "CryptoTestSupport.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

using namespace smtp;
using smtptest::TNoProviderModules;
using smtptest::Unhex;

namespace {

struct THmacCase {
    const char* Name;
    const char* Digest;
    std::string Key;
    std::string Data;
    const char* Expected;
};

void PrintTo(const THmacCase& c, std::ostream* os)
{
    *os << c.Name;
}

class HmacTest : public ::testing::TestWithParam<THmacCase> {};

// RFC 2202 cases 1, 2 and 6 (a key longer than the block is hashed first),
// RFC 2195's CRAM-MD5 example and an empty key.
TEST_P(HmacTest, MatchesThePublishedDigest)
{
    const THmacCase& c = GetParam();
    EXPECT_EQ(HexLower(TAuthCrypto().Hmac(c.Digest, c.Key, c.Data)), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    AuthCrypto, HmacTest,
    ::testing::Values(
        THmacCase {"Sha1Rfc2202Case1", "SHA1", std::string(20, '\x0b'), "Hi There",
                   "b617318655057264e28bc0b6fb378c8ef146be00"},
        THmacCase {"Sha1Rfc2202Case2", "SHA1", "Jefe", "what do ya want for nothing?",
                   "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
        THmacCase {"Sha1Rfc2202LongKey", "SHA1", std::string(80, '\xaa'),
                   "Test Using Larger Than Block-Size Key - Hash Key First",
                   "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
        THmacCase {"Md5Rfc2202Case1", "MD5", std::string(16, '\x0b'), "Hi There", "9294727a3638bb1c13f48ef8158bfc9d"},
        THmacCase {"Md5Rfc2202LongKey", "MD5", std::string(80, '\xaa'),
                   "Test Using Larger Than Block-Size Key - Hash Key First",
                   "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd"},
        THmacCase {"Md5Rfc2195", "MD5", "tanstaaftanstaaf", "<1896.697170952@postoffice.reston.mci.net>",
                   "b913a602c7eda7a495b4e6e7334d3890"},
        THmacCase {"Md5EmptyKeyAndData", "MD5", "", "", "74e6f7298a9c2d168935f58c001bad88"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(AuthCryptoTest, LegacyContextGivesMd4AndDes)
{
    const auto crypto = TAuthCrypto::WithLegacy();
    // RFC 1320's test suite.
    EXPECT_EQ(HexLower(crypto->Digest("MD4", "")), "31d6cfe0d16ae931b73c59d7e0c089c0");
    EXPECT_EQ(HexLower(crypto->Digest("MD4", "abc")), "a448017aaf21d8525fc10ae87aa6729d");
    // The classic DES example (key 133457799BBCDFF1 without its parity bits).
    EXPECT_EQ(HexLower(crypto->DesEncrypt(Unhex("12695bc9b7b7f8"), Unhex("0123456789abcdef"))), "85e813540f0ab405");
    // The default algorithms are there as well.
    EXPECT_EQ(HexLower(crypto->Digest("MD5", "abc")), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(AuthCryptoTest, DesRefusesWrongSizes)
{
    const auto crypto = TAuthCrypto::WithLegacy();
    EXPECT_THROW(crypto->DesEncrypt("123456", "12345678"), EAuthCryptoError);
    EXPECT_THROW(crypto->DesEncrypt("1234567", "1234567"), EAuthCryptoError);
}

TEST(AuthCryptoTest, MissingLegacyProviderIsAClearError)
{
    if (TNoProviderModules::LegacyIsBuiltIn())
        GTEST_SKIP() << "the legacy provider is built into the library here";
    TNoProviderModules noModules;
    try {
        TAuthCrypto::WithLegacy();
        ADD_FAILURE() << "no exception";
    } catch (const EAuthCryptoError& e) {
        EXPECT_NE(std::string(e.what()).find("legacy provider (MD4, DES) cannot be loaded"), std::string::npos)
            << e.what();
    }
    // The default algorithms do not depend on it.
    EXPECT_EQ(HexLower(TAuthCrypto().Digest("MD5", "abc")), "900150983cd24fb0d6963f7d28e17f72");
}

} // namespace
