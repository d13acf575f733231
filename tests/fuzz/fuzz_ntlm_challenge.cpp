// The NTLM challenge (type 2) a server sends, and the authenticate message
// (type 3) built from whatever was read of it. The first byte chooses the
// compatibility level and whether the rest is the message's bytes (sent as
// Base64, as a server does) or the Base64 text itself.
#include "FuzzCheck.h"
#include "mime/Base64.h"
#include "smtp/NtlmMessages.h"

#include <memory>

namespace {

const smtp::TAuthCrypto& Crypto()
{
    static const std::unique_ptr<smtp::TAuthCrypto> crypto = smtp::TAuthCrypto::WithLegacy();
    return *crypto;
}

std::uint32_t GetLE(const std::string& in, std::size_t at)
{
    std::uint32_t value = 0;
    for (std::size_t i = 4; i-- > 0;)
        value = (value << 8) | static_cast<unsigned char>(in[at + i]);
    return value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::string rest = fuzz::Bytes(data + 1, size - 1);
    const std::string base64 = data[0] & 1 ? rest : mime::Base64Encode(rest);
    const smtp::TNtlmChallenge challenge = smtp::NtlmGetMessage2(base64);
    const std::size_t decoded = mime::Base64Decode(base64).size();
    FUZZ_CHECK(challenge.TargetInfo.size() <= decoded);
    FUZZ_CHECK(challenge.TargetName.size() <= decoded);
    FUZZ_CHECK(challenge.ComputerName.size() + challenge.DomainName.size() <= decoded);

    const unsigned level = (data[0] >> 1) % 6;
    const smtp::TNtlmClientValues values {{1, 2, 3, 4, 5, 6, 7, 8}, 133'000'000'000'000'000ull};
    const std::string answer =
        smtp::NtlmGetMessage3({"DOMAIN", "HOST", "user", "p\xE4ss", 28591}, challenge, level, Crypto(), values);
    // An authenticate message: signature, type 3, every buffer inside it.
    const std::string message = mime::Base64Decode(answer);
    FUZZ_CHECK(mime::Base64Encode(message) == answer);
    FUZZ_CHECK(message.size() >= 64 && message.compare(0, 8, std::string("NTLMSSP\0", 8)) == 0);
    FUZZ_CHECK(GetLE(message, 8) == 3);
    for (std::size_t at = 12; at < 60; at += 8) {
        const std::size_t length = GetLE(message, at) & 0xFFFFu;
        FUZZ_CHECK(GetLE(message, at + 4) + length <= message.size());
    }
    return 0;
}
