#pragma once
#include <array>
#include <cstdint>
#include <string_view>

namespace mime {

// A set of byte values, built at compile time from the bytes of a string.
class TByteSet {
public:
    constexpr TByteSet() = default;
    constexpr explicit TByteSet(std::string_view bytes)
    {
        for (char c : bytes)
            Add(static_cast<unsigned char>(c));
    }

    constexpr TByteSet& Add(unsigned char b)
    {
        bits_[b >> 6] |= std::uint64_t{1} << (b & 63);
        return *this;
    }
    constexpr TByteSet& AddRange(unsigned char first, unsigned char last)
    {
        for (unsigned b = first; b <= last; ++b)
            Add(static_cast<unsigned char>(b));
        return *this;
    }
    constexpr bool Has(unsigned char b) const { return (bits_[b >> 6] >> (b & 63)) & 1; }
    constexpr bool Has(char c) const { return Has(static_cast<unsigned char>(c)); }
    constexpr bool Empty() const { return (bits_[0] | bits_[1] | bits_[2] | bits_[3]) == 0; }

    friend constexpr TByteSet operator+(TByteSet a, const TByteSet& b)
    {
        for (std::size_t i = 0; i < a.bits_.size(); ++i)
            a.bits_[i] |= b.bits_[i];
        return a;
    }

private:
    std::array<std::uint64_t, 4> bits_{};
};

// The character classes of message composition.
inline constexpr TByteSet kRfc822Specials{"()<>,;:\\.[]\"@"};
inline constexpr TByteSet kQExtraChars{" =?_"};
inline constexpr TByteSet kTextWrapPoints{"\t ,-."};

} // namespace mime
