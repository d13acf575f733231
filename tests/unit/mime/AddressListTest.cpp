#include "mime/AddressList.h"

#include <gtest/gtest.h>

#include <vector>

namespace mime {
namespace {

// In Shift_JIS the second byte of a character may be 0x5C, the backslash:
// walked by character it escapes nothing and needs no escape.
TEST(AddressList, TrailBytesAreNeverQuotesOrBackslashes)
{
    const std::string hyo = "\x95\x5C";  // one character
    EXPECT_EQ(QuotedString(hyo, 932), "\"" + hyo + "\"");
    EXPECT_EQ(QuotedString(hyo, 28591), "\"\x95\\\x5C\"");
    EXPECT_EQ(QuotedString("a\"b\\c", 932), "\"a\\\"b\\\\c\"");

    const TMailAddress a = ParseAddress("\"" + hyo + "\" <a@x.org>", 932);
    EXPECT_EQ(a.DisplayName, hyo);
    EXPECT_EQ(a.Address, "a@x.org");

    std::vector<std::string> items;
    SplitAddressList("\"" + hyo + "\" <a@x.org>;b@x.org", items, 932);
    EXPECT_EQ(items, (std::vector<std::string>{"\"" + hyo + "\" <a@x.org>", "b@x.org"}));
}

TEST(AddressList, QuotedNamesRoundTrip)
{
    for (const std::string name : {"Ann \"the boss\" Lee", "Bob\\", "C:\\Users\\dave", "O'Neil, Pat", ""}) {
        const TMailAddress a = ParseAddress(QuotedString(name) + " <a@x.org>");
        EXPECT_EQ(a.DisplayName, name);
        EXPECT_EQ(a.Address, "a@x.org") << name;
        std::vector<std::string> items;
        SplitAddressList(QuotedString(name) + " <a@x.org>,b@x.org", items);
        EXPECT_EQ(items.size(), 2u) << name;
    }
}

} // namespace
} // namespace mime
