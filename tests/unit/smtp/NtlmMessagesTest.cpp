// The NTLM messages: layouts, the challenge parser on good and bad input,
// and the responses against the examples of MS-NLMP section 4.2.
#include "smtp/NtlmMessages.h"

#include "CryptoTestSupport.h"
#include "mime/Base64.h"
#include "platform/CodePages.h"

#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <string>

using namespace smtp;
using smtptest::Unhex;

namespace {

const std::string kServerChallenge = Unhex("0123456789abcdef");
// MS-NLMP 4.2.4: the challenge's attribute pairs (domain "Domain", server "Server", end).
const std::string kTargetInfo = Unhex("02000c0044006f006d00610069006e0001000c0053006500720076006500720000000000");

std::string Le(std::uint64_t value, int bytes)
{
    std::string out;
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFFu));
    return out;
}

std::uint32_t ReadLe(const std::string& bytes, std::size_t at, int size)
{
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(bytes.at(at + static_cast<std::size_t>(i)));
    return value;
}

std::string Buffer(std::size_t length, std::size_t offset)
{
    return Le(static_cast<std::uint32_t>(length), 2) + Le(static_cast<std::uint32_t>(length), 2) +
           Le(static_cast<std::uint32_t>(offset), 4);
}

// A challenge message with the target name and information after its header.
std::string Type2(std::uint32_t flags, const std::string& name, const std::string& info)
{
    return std::string("NTLMSSP\0", 8) + Le(2, 4) + Buffer(name.size(), 48) + Le(flags, 4) + kServerChallenge +
           std::string(8, '\0') + Buffer(info.size(), 48 + name.size()) + name + info;
}

TNtlmChallenge Parse(const std::string& message)
{
    return NtlmGetMessage2(mime::Base64Encode(message));
}

// An authenticate message taken apart by its security buffers.
struct TType3 {
    std::string Raw;
    std::uint32_t Flags = 0;
    std::map<std::string, std::size_t> Offsets;
    std::map<std::string, std::string> Fields;

    explicit TType3(const std::string& base64) : Raw(mime::Base64Decode(base64))
    {
        Flags = ReadLe(Raw, 60, 4);
        const std::pair<const char*, std::size_t> buffers[] = {
            {"Lm", 12}, {"Nt", 20}, {"Domain", 28}, {"User", 36}, {"Host", 44}, {"SessionKey", 52}};
        for (const auto& [name, at] : buffers) {
            const std::size_t length = ReadLe(Raw, at, 2);
            EXPECT_EQ(ReadLe(Raw, at + 2, 2), length) << name;
            Offsets[name] = ReadLe(Raw, at + 4, 4);
            Fields[name] = Raw.substr(Offsets[name], length);
        }
    }
};

class NtlmMessagesTest : public ::testing::Test {
protected:
    std::string Message3(const TNtlmIdentity& identity, std::uint32_t challengeFlags, unsigned level,
                         const std::string& info = {})
    {
        const TNtlmChallenge challenge = Parse(Type2(challengeFlags, {}, info));
        EXPECT_TRUE(challenge.Valid);
        TNtlmClientValues values;
        values.Nonce.fill(0xaa);
        return NtlmGetMessage3(identity, challenge, level, *Crypto, values);
    }

    std::unique_ptr<TAuthCrypto> Crypto = TAuthCrypto::WithLegacy();
    const TNtlmIdentity MsExample {"Domain", "", "User", "Password", 0};
};

TEST_F(NtlmMessagesTest, NegotiateMessageLayout)
{
    const std::string empty = mime::Base64Decode(NtlmGetMessage1("", "", 0));
    EXPECT_EQ(HexLower(empty), HexLower(std::string("NTLMSSP\0", 8) + Le(1, 4) + Le(0x00008207, 4) + Buffer(0, 32) +
                              Buffer(0, 32)));
    // Level 1 asks for extended session security.
    EXPECT_EQ(ReadLe(mime::Base64Decode(NtlmGetMessage1("", "", 1)), 12, 4), 0x00088207u);
    EXPECT_EQ(ReadLe(mime::Base64Decode(NtlmGetMessage1("", "", 3)), 12, 4), 0x00008207u);
    // Names in upper case, host first, each flagged as supplied.
    const std::string named = mime::Base64Decode(NtlmGetMessage1("ws1", "corp", 0));
    EXPECT_EQ(HexLower(named.substr(12)), HexLower(Le(0x00008207 | 0x1000 | 0x2000, 4) + Buffer(4, 35) + Buffer(3, 32) +
                                         "WS1CORP"));
}

struct TChallengeCase {
    const char* Name;
    std::string Message;
    bool Valid;
    std::u16string TargetName;
    std::string TargetInfo;
    std::u16string ComputerName;
    std::u16string DomainName;
};

void PrintTo(const TChallengeCase& c, std::ostream* os)
{
    *os << c.Name;
}

class ChallengeParseTest : public ::testing::TestWithParam<TChallengeCase> {};

TEST_P(ChallengeParseTest, FieldsAndValidity)
{
    const TChallengeCase& c = GetParam();
    const TNtlmChallenge r = Parse(c.Message);
    EXPECT_EQ(r.Valid, c.Valid);
    EXPECT_TRUE(r.TargetName == c.TargetName);
    EXPECT_EQ(HexLower(r.TargetInfo), HexLower(c.TargetInfo));
    EXPECT_TRUE(r.ComputerName == c.ComputerName);
    EXPECT_TRUE(r.DomainName == c.DomainName);
    if (c.Message.size() >= 48) {
        // The header fields are read before anything can fail.
        EXPECT_EQ(HexLower(std::string(r.Challenge.begin(), r.Challenge.end())), HexLower(kServerChallenge));
        EXPECT_EQ(r.Flags, ReadLe(c.Message, 20, 4));
        EXPECT_EQ(r.Unicode, (r.Flags & 1) != 0);
    }
}

std::string Utf16(const std::string& ascii)
{
    std::string out;
    for (char c : ascii)
        out += std::string(1, c) + '\0';
    return out;
}

INSTANTIATE_TEST_SUITE_P(
    Ntlm, ChallengeParseTest,
    ::testing::Values(
        TChallengeCase {"UnicodeWithPairs", Type2(0x00898205, Utf16("Domain"), kTargetInfo), true, u"Domain",
                        kTargetInfo, u"Server", u"Domain"},
        TChallengeCase {"OemNameAndPairs", Type2(0x00008206, "SRV",
                                                 Le(1, 2) + Le(3, 2) + "PC1" + Le(2, 2) + Le(2, 2) + "DO" +
                                                     Le(0, 4)),
                        true, u"SRV", Le(1, 2) + Le(3, 2) + "PC1" + Le(2, 2) + Le(2, 2) + "DO" + Le(0, 4), u"PC1",
                        u"DO"},
        TChallengeCase {"ShorterThanHeader", Type2(1, {}, {}).substr(0, 47), false, u"", "", u"", u""},
        TChallengeCase {"OddUnicodeNameLength", Type2(1, "abc", {}), false, u"", "", u"", u""},
        // A name said to lie beyond the end is not read.
        TChallengeCase {"NameOutsideTheMessage", Type2(1, "ab", {}).replace(16, 4, Le(200, 4)), false, u"", "", u"",
                        u""},
        TChallengeCase {"OddUnicodePairValue", Type2(1, {}, Le(1, 2) + Le(3, 2) + "abc" + Le(0, 8)), false, u"",
                        Le(1, 2) + Le(3, 2) + "abc" + Le(0, 8), u"", u""},
        // After a pair with an unknown id, three bytes cannot hold the next one.
        TChallengeCase {"PairCutShort", Type2(1, {}, Le(5, 2) + Le(0, 2) + Le(7, 3)), false, u"",
                        Le(5, 2) + Le(0, 2) + Le(7, 3), u"", u""},
        // A pair reaching the end of the message is not read; valid stays.
        TChallengeCase {"PairRunningToTheEnd", Type2(1, {}, Le(1, 2) + Le(4, 2) + Utf16("PC")), true, u"",
                        Le(1, 2) + Le(4, 2) + Utf16("PC"), u"", u""}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(NtlmMessagesTest, EmptyChallengeTextIsInvalid)
{
    EXPECT_FALSE(NtlmGetMessage2("").Valid);
}

TEST_F(NtlmMessagesTest, AuthenticateLayoutWithEmptyDomainAndHost)
{
    const TType3 m(Message3({"", "", "ab", "pw", 0}, kNtlmNegotiateUnicode, 0));
    EXPECT_EQ(m.Raw.substr(0, 12), std::string("NTLMSSP\0", 8) + Le(3, 4));
    EXPECT_EQ(m.Flags, 0x00008205u);
    EXPECT_EQ(m.Offsets.at("Domain"), 64u);
    EXPECT_EQ(m.Fields.at("Domain"), "");
    EXPECT_EQ(m.Offsets.at("User"), 64u);
    EXPECT_EQ(m.Fields.at("User"), Utf16("ab"));
    EXPECT_EQ(m.Offsets.at("Host"), 68u);
    EXPECT_EQ(m.Fields.at("Host"), "");
    EXPECT_EQ(m.Offsets.at("Lm"), 68u);
    EXPECT_EQ(m.Fields.at("Lm").size(), 24u);
    EXPECT_EQ(m.Offsets.at("Nt"), 92u);
    EXPECT_EQ(m.Fields.at("Nt").size(), 24u);
    EXPECT_EQ(m.Raw.size(), 64u + 4 + 48);
    EXPECT_EQ(m.Offsets.at("SessionKey"), m.Raw.size());
}

TEST_F(NtlmMessagesTest, OemMessageCarriesNamesAsBytesInTheOemCodePage)
{
    platform::SetAnsiCodePageOverride(1252);
    // e acute is 0xE9 in windows-1252 and 0x82 in code page 437.
    const TType3 western(Message3({"dom", "ws", "Jos\xe9", "pw", 0}, kNtlmNegotiateOem, 0));
    platform::SetAnsiCodePageOverride(0);
    EXPECT_EQ(western.Flags, 0x00008206u);
    EXPECT_EQ(western.Fields.at("User"), "Jos\x82");
    EXPECT_EQ(western.Fields.at("Domain"), "dom");
    EXPECT_EQ(western.Fields.at("Host"), "ws");
    EXPECT_EQ(western.Raw.size(), 64u + 3 + 4 + 2 + 48);

    // Where the system has no OEM code page of its own, the ANSI one serves.
    platform::SetAnsiCodePageOverride(platform::CP_UTF8);
    const bool oemIsUtf8 = platform::SystemOemCodePage() == platform::CP_UTF8;
    const TType3 utf8(Message3({"", "", "Jos\xc3\xa9", "pw", 0}, kNtlmNegotiateOem, 0));
    platform::SetAnsiCodePageOverride(0);
    EXPECT_EQ(utf8.Fields.at("User"), oemIsUtf8 ? "Jos\xc3\xa9" : "Jos\x82");
    // The NT response does not depend on how the message carries the names.
    const TType3 unicode(Message3({"", "", "Jos\xc3\xa9", "pw", platform::CP_UTF8}, kNtlmNegotiateUnicode, 0));
    EXPECT_EQ(HexLower(utf8.Fields.at("Nt")), HexLower(unicode.Fields.at("Nt")));
}

TEST_F(NtlmMessagesTest, HashesOfTheMsNlmpExample)
{
    const std::string ntHash = ntlm::NtHash(*Crypto, Utf16("Password"));
    EXPECT_EQ(HexLower(ntHash), "a4f49c406510bdcab6824ee7c30fd852");
    EXPECT_EQ(HexLower(ntlm::LmHash(*Crypto, "Password")), "e52cac67419a9a224a3b108f3fa6cb6d");
    EXPECT_EQ(HexLower(ntlm::NtlmV2Hash(*Crypto, ntHash, Utf16("USER"), Utf16("Domain"))),
              "0c868a403bfd7a93a3001ef22ef02e3f");
}

struct TResponseCase {
    const char* Name;
    unsigned Level;
    std::uint32_t ChallengeFlags;
    const char* Lm;
    const char* Nt;
    std::uint32_t Flags;
};

void PrintTo(const TResponseCase& c, std::ostream* os)
{
    *os << c.Name;
}

class NtlmResponseTest : public NtlmMessagesTest, public ::testing::WithParamInterface<TResponseCase> {};

constexpr const char* kV1Lm = "98def7b87f88aa5dafe2df779688a172def11c7d5ccdef13";
constexpr const char* kV1Nt = "67c43011f30298a2ad35ece64f16331c44bdbed927841f94";
constexpr std::uint32_t kEss = kNtlmExtendedSessionSecurity;

TEST_P(NtlmResponseTest, MatchesTheMsNlmpExample)
{
    const TResponseCase& c = GetParam();
    const TType3 m(Message3(MsExample, kNtlmNegotiateUnicode | c.ChallengeFlags, c.Level, kTargetInfo));
    EXPECT_EQ(HexLower(m.Fields.at("Lm")), c.Lm);
    EXPECT_EQ(HexLower(m.Fields.at("Nt")), c.Nt);
    EXPECT_EQ(m.Flags, c.Flags);
}

INSTANTIATE_TEST_SUITE_P(
    Ntlm, NtlmResponseTest,
    ::testing::Values(
        TResponseCase {"Level0", 0, 0, kV1Lm, kV1Nt, 0x00008205},
        TResponseCase {"Level0IgnoresSessionSecurity", 0, kEss, kV1Lm, kV1Nt, 0x00008205},
        TResponseCase {"Level1", 1, 0, kV1Lm, kV1Nt, 0x00008205},
        TResponseCase {"Level2RepeatsTheNtResponse", 2, 0, kV1Nt, kV1Nt, 0x00008205},
        TResponseCase {"Level1WithSessionSecurity", 1, kEss, "aaaaaaaaaaaaaaaa00000000000000000000000000000000",
                       "7537f803ae367128ca458204bde7caf81e97ed2683267232", 0x00088205},
        TResponseCase {"Level2WithSessionSecurity", 2, kEss, "aaaaaaaaaaaaaaaa00000000000000000000000000000000",
                       "7537f803ae367128ca458204bde7caf81e97ed2683267232", 0x00088205},
        // The NT proof, then the blob: version, zeros, time 0, nonce, zeros,
        // the target information and four zeros.
        TResponseCase {"Level3",
                       3,
                       0,
                       "86c35097ac9cec102554764a57cccc19aaaaaaaaaaaaaaaa",
                       "68cd0ab851e51c96aabc927bebef6a1c"
                       "0101000000000000"
                       "0000000000000000"
                       "aaaaaaaaaaaaaaaa"
                       "00000000"
                       "02000c0044006f006d00610069006e0001000c0053006500720076006500720000000000"
                       "00000000",
                       0x00008205}),
    [](const auto& info) { return std::string(info.param.Name); });

} // namespace
