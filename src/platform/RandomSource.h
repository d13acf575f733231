#pragma once
#include <array>
#include <cstdint>

namespace platform {

// 32-bit xorshift generator (shifts left 13, right 17, left 5).
class TXorShift32 {
public:
    explicit TXorShift32(std::uint32_t state) : state_(state) {}
    std::uint32_t Next();
    // One step, then a value below n: the upper 32 bits of n * state.
    std::uint32_t Below(std::uint32_t n);
    std::uint32_t State() const { return state_; }

private:
    std::uint32_t state_;
};

// The seed taken from an MD5 digest: the first non-zero little-endian
// 32-bit value at byte offsets 0 ... 11, else a fixed non-zero constant
// (xorshift never leaves a zero state).
std::uint32_t SeedFromDigest(const std::array<unsigned char, 16>& digest);

// A value below n from the one generator of the process, seeded on first
// use from the high-resolution clock and the system's random source. Used
// for Message-IDs, MIME boundaries and NTLM nonces.
std::uint32_t RandomBelow(std::uint32_t n);

} // namespace platform
