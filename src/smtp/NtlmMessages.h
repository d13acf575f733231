#pragma once
// The three NTLM messages of an AUTH NTLM exchange: the negotiate message
// (type 1) built, the server's challenge (type 2) read, the authenticate
// message (type 3) built. Messages travel as Base64 text.

#include "smtp/AuthCrypto.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace smtp {

// What a challenge message says. A message that cannot be read leaves
// Valid false and the fields after the failing point empty or zero.
struct TNtlmChallenge {
    bool Valid = false;
    std::u16string TargetName;
    std::array<unsigned char, 8> Challenge {};
    std::uint32_t Flags = 0;
    bool Unicode = false;          // bit 0 of the flags
    std::string TargetInfo;        // the raw attribute pairs; empty when absent
    std::u16string ComputerName;   // attribute 1
    std::u16string DomainName;     // attribute 2
};

// Who authenticates. Texts are in the code page (0: the system ANSI code page).
struct TNtlmIdentity {
    std::string Domain;
    std::string Host;
    std::string User;
    std::string Password;
    unsigned CodePage = 0;
};

// The values of an authenticate message that change from run to run.
struct TNtlmClientValues {
    std::array<unsigned char, 8> Nonce {};
    std::uint64_t FileTime = 0;  // 100 ns units since 1601-01-01 UTC
};

// Negotiate flags the messages use.
constexpr std::uint32_t kNtlmNegotiateUnicode = 0x00000001;
constexpr std::uint32_t kNtlmNegotiateOem = 0x00000002;
constexpr std::uint32_t kNtlmExtendedSessionSecurity = 0x00080000;

// lmCompatLevel chooses the responses: 0 NTLMv1; 1 and 2 NTLMv1 with the
// extended session security the server offers (2: the LM response repeats
// the NT response otherwise); 3 and above NTLMv2.
std::string NtlmGetMessage1(const std::string& host, const std::string& domain, unsigned lmCompatLevel);
TNtlmChallenge NtlmGetMessage2(const std::string& base64);
// crypto must offer MD4 and DES (TAuthCrypto::WithLegacy). The first form
// draws the nonce from the shared random source and takes the clock's time.
std::string NtlmGetMessage3(const TNtlmIdentity& identity, const TNtlmChallenge& challenge, unsigned lmCompatLevel,
                            const TAuthCrypto& crypto);
std::string NtlmGetMessage3(const TNtlmIdentity& identity, const TNtlmChallenge& challenge, unsigned lmCompatLevel,
                            const TAuthCrypto& crypto, const TNtlmClientValues& values);

// The hashes behind the responses, each from the standard's definition.
namespace ntlm {
// MD4 of the password in UTF-16LE.
std::string NtHash(const TAuthCrypto& crypto, std::string_view passwordUtf16le);
// The password's ASCII letters in upper case, cut or padded to 14 bytes, each
// half a DES key over the constant "KGS!@#$%".
std::string LmHash(const TAuthCrypto& crypto, std::string_view password);
// The 16-byte hash padded to 21 bytes, three DES keys each encrypting the 8 bytes.
std::string DesResponse(const TAuthCrypto& crypto, std::string_view hash16, std::string_view data8);
// HMAC-MD5 keyed with the NT hash over the upper-case user and the domain, both UTF-16LE.
std::string NtlmV2Hash(const TAuthCrypto& crypto, std::string_view ntHash, std::string_view upperUserUtf16le,
                       std::string_view domainUtf16le);
} // namespace ntlm

} // namespace smtp
