#include "platform/CodePageConv.h"
#include "platform/CodePages.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(CodePageConv, IconvNames)
{
    const struct {
        unsigned CodePage;
        const char* Name;
    } cases[] = {
        {1252, "CP1252"},     {28591, "ISO-8859-1"}, {65000, "UTF-7"},     {50220, "ISO-2022-JP"},
        {37, "IBM037"},       {20127, "ASCII"},      {20273, "IBM273"},    {1141, "IBM1141"},
        {65001, "UTF-8"},     {1200, "UTF-16LE"},    {932, "CP932"},       {0, ""},
        {65536, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IconvNameOfCodePage(c.CodePage), c.Name) << c.CodePage;
}

TEST(CodePageConv, Availability)
{
    for (unsigned cp : {1252u, 65001u, 28591u, 50220u, 37u, 65000u, 12001u})
        EXPECT_TRUE(CodePageAvailable(cp)) << cp;
    for (unsigned cp : {0u, 65536u, 65537u, 99u})
        EXPECT_FALSE(CodePageAvailable(cp)) << cp;
}

TEST(CodePageConv, RoundTripAndReplacement)
{
    const std::string utf8 = "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC";  // "Grüße €"
    const std::u16string wide = CodePageToUtf16(utf8, 65001);
    EXPECT_EQ(wide, u"Grüße €");
    // The euro sign is not in ISO-8859-1; EBCDIC has its own "?".
    EXPECT_EQ(Utf16ToCodePage(wide, 28591), "Gr\xFC\xDF" "e ?");
    EXPECT_EQ(Utf16ToCodePage(u"€", 37), "\x6F");
    EXPECT_EQ(Utf16ToCodePage(wide, 1252), "Gr\xFC\xDF" "e \x80");
}

TEST(CodePageConv, InvalidInputBecomesQuestionMarkAndGoesOn)
{
    EXPECT_EQ(CodePageToUtf16("a\xFF" "b\xC3", 65001), u"a?b?");
    EXPECT_EQ(CodePageToUtf16("\xE2\x82", 65001), u"?");
    // A lone surrogate cannot be encoded.
    const char16_t lone[] = {u'x', 0xD800, u'y', 0};
    EXPECT_EQ(Utf16ToCodePage(lone, 65001), "x?y");
    EXPECT_EQ(Utf16ToCodePage(u"\U0001F600", 28591), "?");
    EXPECT_EQ(CodePageToUtf16("abc", 99), u"");
    EXPECT_EQ(Utf16ToCodePage(u"abc", 99), "");
}

TEST(CodePageConv, LongTextsHaveNoFixedLimit)
{
    std::u16string wide;
    for (int i = 0; i < 50000; ++i)
        wide += u"\u00E9\u65E5";
    const std::string utf8 = Utf16ToCodePage(wide, 65001);
    EXPECT_EQ(utf8.size(), 50000u * 5);
    EXPECT_EQ(CodePageToUtf16(utf8, 65001), wide);
}

TEST(CodePageConv, StatefulOutputEndsInInitialState)
{
    const std::string jis = Utf16ToCodePage(u"\u65E5\u672C", 50220);
    EXPECT_EQ(jis, "\x1B$BF|K\\\x1B(B");
    // Each piece decodes on its own.
    EXPECT_EQ(CodePageToUtf16(jis + jis, 50220), u"\u65E5\u672C\u65E5\u672C");
    EXPECT_EQ(Utf16ToCodePage(u"\u00E9", 65000), "+AOk-");
}

// Decoders that hold a letter back (waiting for a combining mark, or in a
// shift state) must give it up at the end of the text.
TEST(CodePageConv, TextEndingInALetterDecodesWhole)
{
    const struct {
        unsigned CodePage;
        std::u16string Text;
    } cases[] = {
        {1255, u"\u05E9\u05DC\u05D5\u05DD"},  // Hebrew, ends in final mem
        {1258, u"Xin ch\u00E0o"},
        {50220, u"ab\u65E5\u672C"},       {50221, u"ab\u65E5\u672C"}, {50222, u"ab\u65E5\u672C"},
        {50225, u"ab\uD55C\uAD6D"},       {50227, u"ab\u4E2D\u6587"}, {50229, u"ab\u4E2D\u6587"},
        {51932, u"ab\u65E5\u672C"},       {54936, u"ab\u4E2D\u6587"}, {65000, u"caf\u00E9"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.CodePage);
        ASSERT_TRUE(CodePageAvailable(c.CodePage));
        const std::string bytes = Utf16ToCodePage(c.Text, c.CodePage);
        ASSERT_FALSE(bytes.empty());
        EXPECT_EQ(CodePageToUtf16(bytes, c.CodePage), c.Text);
    }
    // The bytes a caller on Windows writes, decoded directly.
    EXPECT_EQ(CodePageToUtf16("Xin ch\xE0o", 1258), u"Xin ch\u00E0o");
    EXPECT_EQ(CodePageToUtf16("\xF9\xEC\xE5\xED", 1255), u"\u05E9\u05DC\u05D5\u05DD");
}

TEST(CodePageConv, AsciiCompatibleCodePages)
{
    // Single-byte, multi-byte and EUC code pages keep ASCII as it is.
    for (unsigned cp : {1252u, 1250u, 1251u, 1255u, 1258u, 28591u, 28605u, 20127u, 437u, 850u, 874u, 65001u, 932u,
                        936u, 949u, 950u, 51932u, 54936u, 20866u})
        EXPECT_TRUE(CodePageKeepsAscii(cp)) << cp;
    // Escape sequences, UTF-7, UTF-16/32, EBCDIC, and what cannot be converted.
    for (unsigned cp : {50220u, 50221u, 50222u, 50225u, 50227u, 65000u, 1200u, 1201u, 12000u, 37u, 500u, 1047u,
                        20273u, 52936u, 99u, 0u})
        EXPECT_FALSE(CodePageKeepsAscii(cp)) << cp;
}

} // namespace
} // namespace platform

// DOS code page 437 goes with the Western ANSI code pages; elsewhere the
// ANSI code page stands in for the OEM one.
TEST(CodePageConv, OemCodePageFollowsTheAnsiOne)
{
    const std::pair<unsigned, unsigned> cases[] = {
        {1252, 437}, {28591, 437}, {28605, 437}, {1251, 1251}, {1250, 1250}, {platform::CP_UTF8, platform::CP_UTF8}};
    for (const auto& [ansi, oem] : cases) {
        platform::SetAnsiCodePageOverride(ansi);
        EXPECT_EQ(platform::SystemOemCodePage(), oem) << ansi;
    }
    platform::SetAnsiCodePageOverride(0);
}
