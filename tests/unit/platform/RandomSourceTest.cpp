#include "platform/RandomSource.h"

#include <gtest/gtest.h>

#include <set>

namespace platform {
namespace {

TEST(XorShift32, StepsWithShifts13_17_5)
{
    TXorShift32 g(1);
    EXPECT_EQ(g.Next(), 270369u);
    EXPECT_EQ(g.Next(), 67634689u);
    EXPECT_EQ(g.Next(), 2647435461u);
}

TEST(XorShift32, BelowIsUpperHalfOfProduct)
{
    TXorShift32 g(0xDEADBEEF);
    TXorShift32 copy(0xDEADBEEF);
    for (int i = 0; i < 1000; ++i) {
        const std::uint32_t state = copy.Next();
        const std::uint32_t value = g.Below(65535);
        EXPECT_EQ(value, static_cast<std::uint32_t>((65535ull * state) >> 32));
        EXPECT_LT(value, 65535u);
    }
    EXPECT_EQ(TXorShift32(5).Below(0), 0u);
}

TEST(SeedFromDigest, FirstNonZeroWordAtAnyByteOffset)
{
    std::array<unsigned char, 16> digest {};
    EXPECT_EQ(SeedFromDigest(digest), 0x92D68CA2u);

    digest[15] = 0x7F;  // beyond the last offset read (11 ... 14)
    EXPECT_EQ(SeedFromDigest(digest), 0x92D68CA2u);

    digest[14] = 0x01;
    EXPECT_EQ(SeedFromDigest(digest), 0x01000000u);

    digest[5] = 0xAB;  // offset 2 is the first to reach byte 5
    EXPECT_EQ(SeedFromDigest(digest), 0xAB000000u);

    digest[0] = 0x44;
    digest[1] = 0x33;
    EXPECT_EQ(SeedFromDigest(digest), 0x00003344u);
}

TEST(RandomBelow, ProcessSourceStaysInRangeAndVaries)
{
    std::set<std::uint32_t> seen;
    for (int i = 0; i < 200; ++i) {
        const std::uint32_t v = RandomBelow(65535);
        EXPECT_LT(v, 65535u);
        seen.insert(v);
    }
    EXPECT_GT(seen.size(), 150u);
    EXPECT_EQ(RandomBelow(1), 0u);
}

} // namespace
} // namespace platform
