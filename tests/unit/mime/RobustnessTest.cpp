// Arbitrary bytes through every encoder, decoder and converter: each call
// must end, make progress and stay within its input (the sanitizer build
// checks the last part).
#include "mime/AddressList.h"
#include "mime/Base64.h"
#include "mime/Charsets.h"
#include "mime/HeaderEncoding.h"
#include "mime/MessageText.h"
#include "mime/TextEncoders.h"
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
        const std::string text = Noise(gen, 300);
        const std::uint32_t cp = kCodePages[round % std::size(kCodePages)];
        const bool mb = IsMultiByteCodePage(cp);

        EXPECT_LE(Base64Decode(text).size(), text.size());
        ConvertCodePage(text, cp, kCodePages[(round + 3) % std::size(kCodePages)]);

        int pos = 1, calls = 0;
        const int maxColumn = 1 + static_cast<int>(gen() % 40);
        const bool force = gen() % 2;
        while (pos <= static_cast<int>(text.size())) {
            const int before = pos;
            WrapText(text, "\r\n", kTextWrapPoints, maxColumn, TByteSet{"\"'"}, pos, force, cp, mb);
            ASSERT_GT(pos, before);
            ASSERT_LT(++calls, 1000);
        }
        pos = 1;
        while (pos <= static_cast<int>(text.size())) {
            const int before = pos;
            const std::string seg =
                EncodeQuotedPrintableSegment(text, maxColumn, kRfc822Specials, true, pos, true, cp, mb);
            ASSERT_GT(pos, before);
            ASSERT_LE(seg.size(), static_cast<std::size_t>(std::max(maxColumn, 16)));
        }
        for (char letter : {'B', 'Q'}) {
            HdrEncodeInLine(text, kRfc822Specials, letter, mb, cp, gen() % 2, maxColumn, "x-test");
            EncodeStatefulHeaderText(cp, "x-test", letter, maxColumn, gen() % 2, text);
        }
        std::vector<std::string> lines;
        FoldHeaderLine(lines, text, cp, mb);
        FoldHeaderLine(lines, text, cp, mb, TFoldStyle::AddressList);
        std::vector<std::string> items;
        SplitAddressList(text, items, cp);
        for (const auto& item : items)
            ParseAddress(item, cp);

        TSmtpMessageText cursor;
        InitMessageText(cursor, text, cp, maxColumn, gen() % 2, gen() % 2,
                        static_cast<TSmtpDefaultEncoding>(gen() % 4), gen() % 2, mb);
        calls = 0;
        while (cursor.Position != 0)
            ASSERT_LT((NextMessageLine(cursor), ++calls), 5000);
    }
    platform::SetAnsiCodePageOverride(0);
}

} // namespace
} // namespace mime
