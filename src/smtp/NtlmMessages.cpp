#include "smtp/NtlmMessages.h"

#include "mime/Base64.h"
#include "platform/Clock.h"
#include "platform/CodePageConv.h"
#include "platform/CodePages.h"
#include "platform/RandomSource.h"
#include "platform/TextUtil.h"

namespace smtp {

namespace {

constexpr std::string_view kSignature {"NTLMSSP\0", 8};
constexpr std::uint32_t kType1Flags = 0x00008207;
constexpr std::uint32_t kType1DomainSupplied = 0x00001000;
constexpr std::uint32_t kType1HostSupplied = 0x00002000;
constexpr std::uint32_t kType3Flags = 0x00008204;
constexpr std::size_t kType1HeaderSize = 32;
constexpr std::size_t kType2HeaderSize = 48;
constexpr std::size_t kType3HeaderSize = 64;

void PutLE(std::string& out, std::size_t at, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out[at + static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFFu);
}

std::uint32_t GetLE(std::string_view in, std::size_t at, int bytes)
{
    std::uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(in[at + static_cast<std::size_t>(i)]);
    return value;
}

// A security buffer: length, maximum length (the same), offset.
void PutBuffer(std::string& out, std::size_t at, std::size_t length, std::size_t offset)
{
    PutLE(out, at, length, 2);
    PutLE(out, at + 2, length, 2);
    PutLE(out, at + 4, offset, 4);
}

// A message header: the signature, the message type and room for the rest.
std::string NewMessage(std::size_t headerSize, std::uint32_t type)
{
    std::string message(headerSize, '\0');
    message.replace(0, kSignature.size(), kSignature);
    PutLE(message, 8, type, 4);
    return message;
}

unsigned CodePageOrAnsi(unsigned codePage)
{
    return codePage != 0 ? codePage : platform::SystemAnsiCodePage();
}

std::string Utf16LeBytes(const std::u16string& text)
{
    std::string out;
    out.reserve(text.size() * 2);
    for (char16_t c : text) {
        out.push_back(static_cast<char>(c & 0xFFu));
        out.push_back(static_cast<char>(c >> 8));
    }
    return out;
}

std::u16string FromUtf16LeBytes(std::string_view bytes)
{
    std::u16string out;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        out.push_back(static_cast<char16_t>(GetLE(bytes, i, 2)));
    return out;
}

std::string ToUtf16Le(const std::string& text, unsigned codePage)
{
    return Utf16LeBytes(platform::CodePageToUtf16(text, CodePageOrAnsi(codePage)));
}

// The text in the OEM code page; unchanged where that is its own code page
// or the conversion fails.
std::string ToOem(const std::string& text, unsigned codePage)
{
    const unsigned from = CodePageOrAnsi(codePage);
    const unsigned oem = platform::SystemOemCodePage();
    if (from == oem || text.empty())
        return text;
    std::string converted = platform::Utf16ToCodePage(platform::CodePageToUtf16(text, from), oem);
    return converted.empty() ? text : converted;
}

// Upper case for the NTLMv2 user name: ASCII and the Latin-1 letters.
std::u16string UpperUtf16(std::u16string text)
{
    for (char16_t& c : text) {
        if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7))
            c = static_cast<char16_t>(c - 0x20);
        else if (c == 0xFF)
            c = 0x178;
    }
    return text;
}

// A name read from a message: UTF-16LE, or 8-bit text of the ANSI code page.
std::u16string ReadName(std::string_view bytes, bool unicode)
{
    if (unicode)
        return FromUtf16LeBytes(bytes);
    return platform::CodePageToUtf16(bytes, platform::SystemAnsiCodePage());
}

// Walks the attribute pairs from the target-information offset and keeps
// the computer and domain names.
void ReadAttributePairs(std::string_view message, std::size_t offset, TNtlmChallenge& result)
{
    const std::size_t size = message.size();
    std::size_t at = offset;
    while (at + 2 <= size) {
        if (at + 4 > size) {
            result.Valid = false;
            return;
        }
        const std::uint32_t id = GetLE(message, at, 2);
        const std::size_t length = GetLE(message, at + 2, 2);
        if (id == 0 && length == 0)
            return;
        if (at + 4 + length >= size - 1)
            return;
        if (result.Unicode && length % 2 != 0) {
            result.Valid = false;
            return;
        }
        const std::string_view value = message.substr(at + 4, length);
        if (id == 1)
            result.ComputerName = ReadName(value, result.Unicode);
        else if (id == 2)
            result.DomainName = ReadName(value, result.Unicode);
        at += 4 + length;
    }
}

std::string Nonce(const TNtlmClientValues& values)
{
    return std::string(reinterpret_cast<const char*>(values.Nonce.data()), values.Nonce.size());
}

std::string ChallengeBytes(const TNtlmChallenge& challenge)
{
    return std::string(reinterpret_cast<const char*>(challenge.Challenge.data()), challenge.Challenge.size());
}

struct TResponses {
    std::string Lm;
    std::string Nt;
    std::uint32_t Flags = 0;  // flags the responses add
};

TResponses NtlmV2Responses(const TNtlmIdentity& identity, const TNtlmChallenge& challenge,
                           const TAuthCrypto& crypto, const TNtlmClientValues& values, const std::string& ntHash)
{
    const unsigned cp = CodePageOrAnsi(identity.CodePage);
    const std::string user = Utf16LeBytes(UpperUtf16(platform::CodePageToUtf16(identity.User, cp)));
    const std::string v2Hash = ntlm::NtlmV2Hash(crypto, ntHash, user, ToUtf16Le(identity.Domain, cp));
    std::string blob(16, '\0');
    blob[0] = blob[1] = 1;
    PutLE(blob, 8, values.FileTime, 8);
    blob += Nonce(values) + std::string(4, '\0') + challenge.TargetInfo + std::string(4, '\0');
    const std::string c = ChallengeBytes(challenge);
    TResponses r;
    r.Nt = crypto.Hmac("MD5", v2Hash, c + blob) + blob;
    r.Lm = crypto.Hmac("MD5", v2Hash, c + Nonce(values)) + Nonce(values);
    return r;
}

TResponses Responses(const TNtlmIdentity& identity, const TNtlmChallenge& challenge, unsigned level,
                     const TAuthCrypto& crypto, const TNtlmClientValues& values)
{
    // The NT hash is always taken over UTF-16LE, whatever the message
    // carries: no server checks it over anything else.
    const std::string ntHash = ntlm::NtHash(crypto, ToUtf16Le(identity.Password, identity.CodePage));
    if (level >= 3)
        return NtlmV2Responses(identity, challenge, crypto, values, ntHash);
    const std::string c = ChallengeBytes(challenge);
    TResponses r;
    if (level >= 1 && (challenge.Flags & kNtlmExtendedSessionSecurity) != 0) {
        r.Flags = kNtlmExtendedSessionSecurity;
        r.Lm = Nonce(values) + std::string(16, '\0');
        r.Nt = ntlm::DesResponse(crypto, ntHash, crypto.Digest("MD5", c + Nonce(values)).substr(0, 8));
        return r;
    }
    r.Nt = ntlm::DesResponse(crypto, ntHash, c);
    r.Lm = level == 2 ? r.Nt : ntlm::DesResponse(crypto, ntlm::LmHash(crypto, identity.Password), c);
    return r;
}

TNtlmClientValues FreshClientValues()
{
    TNtlmClientValues values;
    for (std::size_t i = 0; i < values.Nonce.size(); i += 2) {
        const std::uint32_t word = platform::RandomBelow(65535);
        values.Nonce[i] = static_cast<unsigned char>(word & 0xFFu);
        values.Nonce[i + 1] = static_cast<unsigned char>(word >> 8);
    }
    values.FileTime = platform::SystemTimeAsFileTime();
    return values;
}

} // namespace

namespace ntlm {

std::string NtHash(const TAuthCrypto& crypto, std::string_view passwordUtf16le)
{
    return crypto.Digest("MD4", passwordUtf16le);
}

std::string LmHash(const TAuthCrypto& crypto, std::string_view password)
{
    std::string key = platform::UpperAscii(std::string(password.substr(0, 14)));
    key.resize(14, '\0');
    const std::string_view magic = "KGS!@#$%";
    return crypto.DesEncrypt(std::string_view(key).substr(0, 7), magic) +
           crypto.DesEncrypt(std::string_view(key).substr(7, 7), magic);
}

std::string DesResponse(const TAuthCrypto& crypto, std::string_view hash16, std::string_view data8)
{
    std::string keys(hash16.substr(0, 16));
    keys.resize(21, '\0');
    const std::string_view k = keys;
    return crypto.DesEncrypt(k.substr(0, 7), data8) + crypto.DesEncrypt(k.substr(7, 7), data8) +
           crypto.DesEncrypt(k.substr(14, 7), data8);
}

std::string NtlmV2Hash(const TAuthCrypto& crypto, std::string_view ntHash, std::string_view upperUserUtf16le,
                       std::string_view domainUtf16le)
{
    return crypto.Hmac("MD5", ntHash, std::string(upperUserUtf16le) + std::string(domainUtf16le));
}

} // namespace ntlm

std::string NtlmGetMessage1(const std::string& host, const std::string& domain, unsigned lmCompatLevel)
{
    std::uint32_t flags = kType1Flags;
    if (lmCompatLevel == 1)
        flags |= kNtlmExtendedSessionSecurity;
    if (!domain.empty())
        flags |= kType1DomainSupplied;
    if (!host.empty())
        flags |= kType1HostSupplied;
    std::string message = NewMessage(kType1HeaderSize, 1);
    PutLE(message, 12, flags, 4);
    PutBuffer(message, 16, domain.size(), kType1HeaderSize + host.size());
    PutBuffer(message, 24, host.size(), kType1HeaderSize);
    message += platform::UpperAscii(host) + platform::UpperAscii(domain);
    return mime::Base64Encode(message);
}

TNtlmChallenge NtlmGetMessage2(const std::string& base64)
{
    TNtlmChallenge result;
    if (base64.empty())
        return result;
    const std::string message = mime::Base64Decode(base64);
    const std::size_t size = message.size();
    if (size < kType2HeaderSize)
        return result;
    result.Valid = true;
    const std::size_t nameLength = GetLE(message, 12, 2);
    const std::size_t nameOffset = GetLE(message, 16, 4);
    result.Flags = GetLE(message, 20, 4);
    result.Unicode = (result.Flags & kNtlmNegotiateUnicode) != 0;
    for (std::size_t i = 0; i < result.Challenge.size(); ++i)
        result.Challenge[i] = static_cast<unsigned char>(message[24 + i]);
    const std::size_t infoLength = GetLE(message, 42, 2);
    const std::size_t infoOffset = GetLE(message, 44, 4);
    // A name outside the message is as unreadable as one of odd length.
    if ((result.Unicode && nameLength % 2 != 0) || nameLength >= size ||
        (nameLength != 0 && nameOffset > size - nameLength)) {
        result.Valid = false;
        return result;
    }
    if (nameLength != 0)
        result.TargetName = ReadName(std::string_view(message).substr(nameOffset, nameLength), result.Unicode);
    if (infoLength != 0 && infoOffset <= size && infoLength <= size - infoOffset)
        result.TargetInfo = message.substr(infoOffset, infoLength);
    ReadAttributePairs(message, infoOffset, result);
    return result;
}

std::string NtlmGetMessage3(const TNtlmIdentity& identity, const TNtlmChallenge& challenge, unsigned lmCompatLevel,
                            const TAuthCrypto& crypto)
{
    // Level 0 needs neither nonce nor time: the random source stays unseeded.
    return NtlmGetMessage3(identity, challenge, lmCompatLevel, crypto,
                           lmCompatLevel == 0 ? TNtlmClientValues {} : FreshClientValues());
}

std::string NtlmGetMessage3(const TNtlmIdentity& identity, const TNtlmChallenge& challenge, unsigned lmCompatLevel,
                            const TAuthCrypto& crypto, const TNtlmClientValues& values)
{
    std::string domain = identity.Domain;
    std::string host = identity.Host;
    std::string user;
    std::uint32_t flags = kType3Flags;
    if (challenge.Unicode) {
        flags |= kNtlmNegotiateUnicode;
        domain = ToUtf16Le(identity.Domain, identity.CodePage);
        host = ToUtf16Le(identity.Host, identity.CodePage);
        user = ToUtf16Le(identity.User, identity.CodePage);
    } else {
        flags |= kNtlmNegotiateOem;
        user = ToOem(identity.User, identity.CodePage);
    }
    const TResponses responses = Responses(identity, challenge, lmCompatLevel, crypto, values);
    flags |= responses.Flags;

    std::string message = NewMessage(kType3HeaderSize, 3);
    std::size_t offset = kType3HeaderSize;
    const auto append = [&](std::size_t bufferAt, const std::string& bytes) {
        PutBuffer(message, bufferAt, bytes.size(), offset);
        message += bytes;
        offset += bytes.size();
    };
    append(28, domain);
    append(36, user);
    append(44, host);
    append(12, responses.Lm);
    append(20, responses.Nt);
    PutBuffer(message, 52, 0, message.size());
    PutLE(message, 60, flags, 4);
    return mime::Base64Encode(message);
}

} // namespace smtp
