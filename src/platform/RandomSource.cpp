#include "platform/RandomSource.h"

#include "platform/System.h"

// The one-shot MD5 of the library's low-level interface needs none of its
// algorithm providers: a mail without TLS or authentication never starts
// them (doing so costs more than composing a small mail).
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/md5.h>

#include <cstring>
#include <mutex>

namespace platform {

namespace {

constexpr std::uint32_t kFallbackSeed = 0x92D68CA2u;

std::uint32_t LittleEndianAt(const std::array<unsigned char, 16>& bytes, std::size_t offset)
{
    return static_cast<std::uint32_t>(bytes[offset]) | static_cast<std::uint32_t>(bytes[offset + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[offset + 2]) << 16 | static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

// MD5 over the high-resolution counter and, when the system gives them, 8
// bytes of cryptographic randomness.
std::array<unsigned char, 16> SeedDigest()
{
    unsigned char input[16] {};
    const std::uint64_t counter = PerformanceCounter();
    std::memcpy(input, &counter, sizeof counter);
    std::size_t size = sizeof counter;
    if (SystemRandomBytes(input + size, 8))
        size += 8;
    std::array<unsigned char, 16> digest {};
    static_assert(MD5_DIGEST_LENGTH == 16);
    MD5(input, size, digest.data());
    return digest;
}

} // namespace

std::uint32_t TXorShift32::Next()
{
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
}

std::uint32_t TXorShift32::Below(std::uint32_t n)
{
    return static_cast<std::uint32_t>((static_cast<std::uint64_t>(n) * Next()) >> 32);
}

std::uint32_t SeedFromDigest(const std::array<unsigned char, 16>& digest)
{
    for (std::size_t offset = 0; offset <= 11; ++offset)
        if (const std::uint32_t value = LittleEndianAt(digest, offset); value != 0)
            return value;
    return kFallbackSeed;
}

std::uint32_t RandomBelow(std::uint32_t n)
{
    static std::mutex lock;
    static TXorShift32 generator(0);
    const std::lock_guard guard(lock);
    if (generator.State() == 0)
        generator = TXorShift32(SeedFromDigest(SeedDigest()));
    return generator.Below(n);
}

} // namespace platform
