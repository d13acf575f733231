#include "template/TagTokenizer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Tokens = std::vector<std::string>;

struct TokenCase {
    const char* Name;
    std::string Text;
    Tokens Expected;
};

void PrintTo(const TokenCase& c, std::ostream* os)
{
    *os << c.Name;
}

class TokenizeTagTest : public testing::TestWithParam<TokenCase> {};

TEST_P(TokenizeTagTest, SplitsAsExpected)
{
    tmpl::TTagTokenizer t;
    t.SetDecimalSeparator(".");
    t.TokenizeTag(GetParam().Text);
    EXPECT_EQ(t.Tokens, GetParam().Expected);
    EXPECT_EQ(t.TokenCursor, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TokenizeTagTest,
    testing::Values(
        TokenCase {"QuotedKeepCase", R"(FROM NAME="Ann Lee" EMAIL='a@x.org')", {"FROM", "NAME", "=", "Ann Lee", "EMAIL", "=", "a@x.org"}},
        TokenCase {"UnquotedUpperCased", "subject content=hello", {"SUBJECT", "CONTENT", "=", "HELLO"}},
        TokenCase {"IdentifierCharacters", "/stat-x_1/y a.b", {"/STAT-X_1/Y", "A", "B"}},
        TokenCase {"Numbers", "x 12.5% 3-4 7a", {"X", "12.5%", "3-4", "7", "A"}},
        TokenCase {"OtherQuoteInside", R"("it's" 'say "hi"')", {"it's", "say \"hi\""}},
        TokenCase {"LessAndEqualsInsideQuotes", R"(a "<b = c>")", {"A", "<b = c>"}},
        TokenCase {"EmptyQuoted", R"(a "" b)", {"A", "", "B"}},
        TokenCase {"UnterminatedQuoteRunsToEnd", R"(a "b c)", {"A", "b c"}},
        TokenCase {"EqualsAlone", "a==b", {"A", "=", "=", "B"}},
        TokenCase {"Separators", "a!b?c,d\te;f", {"A", "B", "C", "D", "E", "F"}},
        TokenCase {"HighBytesAndNulSeparate", std::string("\xC3\xA9x\0y", 5), {"X", "Y"}},
        TokenCase {"Empty", "", {}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(TagTokenizer, NumbersUseTheDecimalSeparatorGiven)
{
    tmpl::TTagTokenizer t;
    t.SetDecimalSeparator(",");
    t.TokenizeTag("1,5 2.5");
    EXPECT_EQ(t.Tokens, (Tokens {"1,5", "2", "5"}));
}

TEST(TagTokenizer, NumbersFollowTheProcessLocaleByDefault)
{
    // The C locale of a test process has "." as its separator.
    tmpl::TTagTokenizer t;
    t.TokenizeTag("1.5 2,5");
    EXPECT_EQ(t.Tokens, (Tokens {"1.5", "2", "5"}));
}

TEST(TagTokenizer, KeepsTheFirst150TokensOfALongTag)
{
    std::string text;
    for (int i = 0; i < 100000; ++i)
        text += " t" + std::to_string(i);
    tmpl::TTagTokenizer t;
    t.TokenizeTag(text);
    ASSERT_EQ(t.TokenCount(), tmpl::TTagTokenizer::MaxTokens);
    EXPECT_EQ(t.Token(150), "T149");
    EXPECT_EQ(t.Token(151), "");
}

struct ParseCase {
    const char* Name;
    std::string Line;
    Tokens Expected;
};

void PrintTo(const ParseCase& c, std::ostream* os)
{
    *os << c.Name;
}

class ParseTagTest : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseTagTest, TakesTheTextBetweenFirstLessAndFirstGreater)
{
    tmpl::TTagTokenizer t;
    t.ParseTag(GetParam().Line);
    EXPECT_EQ(t.Tokens, GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseTagTest,
    testing::Values(
        ParseCase {"TextAroundIgnored", "before <to name=x> after <cc>", {"TO", "NAME", "=", "X"}},
        ParseCase {"GreaterFirst", "a > b <c>", {}},
        ParseCase {"EmptyTag", "x <> y", {}},
        ParseCase {"NoGreater", "<from name=x", {}},
        ParseCase {"NoLess", "from name=x>", {}},
        ParseCase {"QuotedGreaterEndsTheTag", R"(<a "b>c">)", {"A", "b"}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(TagTokenizer, CursorWalksTheTokensAndStopsPastTheEnd)
{
    tmpl::TTagTokenizer t;
    t.TokenizeTag("a b");
    EXPECT_EQ(t.CurrentToken(), "");
    EXPECT_EQ(t.NextToken(), "A");
    EXPECT_EQ(t.NextToken(), "B");
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(t.NextToken(), "");
    EXPECT_EQ(t.Token(-1), "");
}

} // namespace
