// Arbitrary bytes through every encoder, decoder and converter: each call
// must end, make progress and give back what it was given (the sanitizer
// build checks that it stays within its input).
#include "EncoderChecks.h"
#include "platform/CodePages.h"

#include <gtest/gtest.h>

#include <random>

namespace mime {
namespace {

constexpr std::uint32_t kCodePages[] = {65001, 932, 936, 54936, 51932, 1200, 1201, 12000, 50220, 65000, 28591, 37};

std::string Noise(std::mt19937& gen, std::size_t maxLen)
{
    std::string s(gen() % (maxLen + 1), '\0');
    const bool high = gen() % 2;
    // Either any byte, or bytes that the encoders treat specially.
    static constexpr char kSpecial[] = " \t\r\n=?_\"',;.-aZ\x1B\xC3\xE6\x81\x8F";
    for (auto& c : s) {
        const unsigned r = gen();
        c = high ? static_cast<char>(r & 0xFF) : kSpecial[r % (sizeof kSpecial - 1)];
    }
    return s;
}

TEST(Robustness, ArbitraryBytes)
{
    platform::SetAnsiCodePageOverride(65001);
    std::mt19937 gen(12345);
    for (int round = 0; round < 400; ++round) {
        mimecheck::TEncoderCase c;
        c.Text = Noise(gen, 300);
        c.CodePage = kCodePages[round % std::size(kCodePages)];
        c.OtherCodePage = kCodePages[(round + 3) % std::size(kCodePages)];
        c.MaxColumn = 1 + static_cast<int>(gen() % 40);
        c.Fold = gen() % 2;
        c.Force = gen() % 2;
        c.Wrap = gen() % 2;
        c.Allow8bit = gen() % 2;
        c.Convert = gen() % 2;
        c.Encoding = static_cast<TSmtpDefaultEncoding>(gen() % 4);
        SCOPED_TRACE(c.CodePage);
        EXPECT_EQ(mimecheck::CheckCodings(c), "");
        EXPECT_EQ(mimecheck::CheckBody(c), "");
        EXPECT_EQ(mimecheck::CheckHeaders(c), "");
    }
    platform::SetAnsiCodePageOverride(0);
}

} // namespace
} // namespace mime
