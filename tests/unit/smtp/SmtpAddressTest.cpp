#include "smtp/SmtpAddress.h"

#include "platform/HostName.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace smtp;

namespace {

TEST(SmtpAddress, ParseAddressForms)
{
    struct AddressCase {
        std::string Text;
        std::string Name;
        std::string Address;
    };
    const AddressCase cases[] = {
        {"<a@example.com>", "", "a@example.com"},
        {"\"Doe, John\" <john@example.com>", "Doe, John", "john@example.com"},
        // Only double quotes quote: an apostrophe is part of a name or address.
        {"'Jane' <jane@example.com>", "'Jane'", "jane@example.com"},
        {"o'neil@example.com", "", "o'neil@example.com"},
        // A quoted name comes back without its escapes.
        {"\"Ann \\\"the boss\\\" Lee\" <ann@example.com>", "Ann \"the boss\" Lee", "ann@example.com"},
        {"\"Bob\\\\\" <bob@example.com>", "Bob\\", "bob@example.com"},
        {"\"back\\slash\" <b@example.com>", "back\\slash", "b@example.com"},
        {"John john@example.com", "John", "john@example.com"},
        {"john@example.com", "", "john@example.com"},
        {"   john@example.com", "", "john@example.com"},
        // Without brackets the text after the first space is the address.
        {"john@example.com John", "john@example.com", "John"},
        {"John Doe <john@example.com>", "John Doe", "john@example.com"},
        {"John <john@example.com", "John", "john@example.com"},
        {"\"Quoted\" rest@example.com", "Quoted", "rest@example.com"},
        {"\"a@b\"", "", "a@b"},
        {"\"unterminated", "unterminated", ""},
        {"< a@example.com >", "", "a@example.com"},
        {"", "", ""},
        {"   ", "", ""},
        {"\"", "", ""},
        {"<", "", ""},
    };
    for (const auto& c : cases) {
        const TMailAddress parsed = ParseAddress(c.Text);
        EXPECT_EQ(parsed.DisplayName, c.Name) << c.Text;
        EXPECT_EQ(parsed.Address, c.Address) << c.Text;
    }
}

TEST(SmtpAddress, SplitKeepsQuotedSeparatorsAndDropsEmptyItems)
{
    std::vector<std::string> items {"already@there"};
    SplitAddressList("a@example.com; \"Doe, John\" <john@example.com>,, c@example.com", items);
    const std::vector<std::string> expected {
        "already@there", "a@example.com", "\"Doe, John\" <john@example.com>", "c@example.com"};
    EXPECT_EQ(items, expected);
}

TEST(SmtpAddress, SplitHonoursEscapedQuotes)
{
    std::vector<std::string> items;
    SplitAddressList("\"A \\\"x, y\\\" B\" <a@b>;c@d", items);
    const std::vector<std::string> expected {"\"A \\\"x, y\\\" B\" <a@b>", "c@d"};
    EXPECT_EQ(items, expected);
}

// Header and envelope must agree on where an address ends: a name ending in
// an escaped backslash closes its quotes, an apostrophe opens none.
TEST(SmtpAddress, SplitEndsQuotesWhereTheHeaderDoes)
{
    std::vector<std::string> items;
    SplitAddressList("\"Bob\\\\\" <bob@x.org>;<carl@x.org>,o'neil@x.org;d'angelo@x.org\r\ne@x.org\nf@x.org", items);
    const std::vector<std::string> expected {"\"Bob\\\\\" <bob@x.org>", "<carl@x.org>", "o'neil@x.org",
                                             "d'angelo@x.org", "e@x.org", "f@x.org"};
    EXPECT_EQ(items, expected);
}

TEST(SmtpAddress, SplitOfBlankTextsAddsNothing)
{
    std::vector<std::string> items;
    SplitAddressList("", items);
    SplitAddressList(" ; , ;", items);
    EXPECT_TRUE(items.empty());
}

TEST(SmtpAddress, HeloNameReplacesSpaces)
{
    EXPECT_EQ(HeloName("my host name"), "my_host_name");
    EXPECT_EQ(HeloName("plain"), "plain");
}

TEST(SmtpAddress, HeloNameFallsBackToLocalHostName)
{
    const std::string local = platform::LocalHostName();
    ASSERT_FALSE(local.empty());
    std::string expected = local;
    std::replace(expected.begin(), expected.end(), ' ', '_');
    EXPECT_EQ(HeloName(""), expected);
}

} // namespace
