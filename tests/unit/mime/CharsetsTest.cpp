#include "mime/Charsets.h"

#include "platform/CodePageConv.h"
#include "platform/CodePages.h"

#include <gtest/gtest.h>

#include <set>

namespace mime {
namespace {

TEST(Charsets, TableShape)
{
    const auto& t = CharsetInfos();
    // Row 0 is the system's: UTF-8 in the C locale the test program runs in,
    // windows-1252 under Wine.
    EXPECT_EQ(t[0].CodePage, platform::SystemAnsiCodePage() == 65001 ? 65001u : 1252u);
    EXPECT_EQ(t[1].CodePage, kCpUnknown);
    EXPECT_TRUE(t[1].Names.empty());
    EXPECT_EQ(t[2].Names, "utf-8");
    EXPECT_EQ(t[79].Names.substr(0, 9), "t.61-8bit");
    std::set<std::uint32_t> codePages;
    for (std::size_t i = 0; i < t.size(); ++i) {
        EXPECT_EQ(t[i].Id, i);
        if (i >= 2) {
            EXPECT_FALSE(t[i].Names.empty()) << i;
            EXPECT_TRUE(codePages.insert(t[i].CodePage).second) << t[i].CodePage;
        }
    }
    // Row 0 carries the names of the row with the ANSI code page.
    EXPECT_EQ(t[0].Names.substr(0, t[0].Names.find(' ')), CodePageToCharset(t[0].CodePage));
}

TEST(Charsets, NameToCodePage)
{
    const struct {
        const char* Name;
        bool Ok;
        std::uint32_t CodePage;
    } cases[] = {
        {"utf-8", true, 65001},       {"latin1", true, 28591},       {"csisoatin1", true, 28591},
        {"asmo-708", true, 28596},    {"windows-1252", true, 1252},  {"iso-2022-jp", true, 50220},
        {"ibm037", true, 37},         {"us", true, 20127},           {"ms936", true, 936},
        {"ebcdic-is-871+euro", true, 1149},
        {"utf8", false, kCpUnknown},  {"UTF-8", false, kCpUnknown},  {"", false, kCpUnknown},
        {"iso-8859", false, kCpUnknown}, {"latin", false, kCpUnknown},
    };
    for (const auto& c : cases) {
        // A known name whose code page this system cannot convert is refused.
        const bool ok = c.Ok && platform::CodePageAvailable(c.CodePage);
        std::uint32_t cp = 0;
        EXPECT_EQ(CharsetToCodePage(c.Name, cp), ok) << c.Name;
        if (ok != c.Ok)
            continue;
        EXPECT_EQ(cp, c.CodePage) << c.Name;
    }
}

TEST(Charsets, NameOfCodePageThePlatformLacks)
{
    // HZ is known to the table; whether it converts is the platform's answer.
    std::uint32_t cp = 0;
    const bool ok = CharsetToCodePage("hz-gb-2312", cp);
    EXPECT_EQ(ok, platform::CodePageAvailable(52936));
    EXPECT_EQ(cp, ok ? 52936u : kCpUnavailable);
}

TEST(Charsets, CodePageToName)
{
    const struct {
        std::uint32_t CodePage;
        const char* Name;
    } cases[] = {
        {28591, "iso-8859-1"}, {708, "iso-8859-6"}, {28596, "iso-8859-6"}, {65001, "utf-8"},
        {50221, "csiso2022jp"}, {1149, "ibm01149"}, {12345, ""},          {65536, ""},
        {0, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CodePageToCharset(c.CodePage), c.Name) << c.CodePage;
}

TEST(Charsets, Convert)
{
    EXPECT_EQ(ConvertCodePage("", 65001, 28591), "");
    EXPECT_EQ(ConvertCodePage("\xFF\xFE", 65001, 65001), "\xFF\xFE");
    EXPECT_EQ(ConvertCodePage("Gr\xC3\xBC\xC3\x9F" "e", 65001, 28591), "Gr\xFC\xDF" "e");
    EXPECT_EQ(ConvertCodePage("\xE2\x82\xAC", 65001, 28591), "?");
    EXPECT_EQ(ConvertCodePage("abc", 65001, 99), "");
}

TEST(Charsets, CodePageClasses)
{
    for (std::uint32_t cp : {37u, 862u, 1252u, 10000u, 20127u, 28599u, 38598u, 20924u})
        EXPECT_TRUE(IsSingleByteCodePage(cp)) << cp;
    for (std::uint32_t cp : {65001u, 932u, 1146u, 1200u, 50220u, 28603u, 859u, 0u})
        EXPECT_TRUE(IsMultiByteCodePage(cp)) << cp;
    for (std::uint32_t cp : {50220u, 50221u, 50222u, 50225u, 50227u, 50229u, 51932u, 52936u, 54936u, 57005u})
        EXPECT_TRUE(IsStatefulCodePage(cp)) << cp;
    for (std::uint32_t cp : {50223u, 65000u, 65001u, 57012u})
        EXPECT_FALSE(IsStatefulCodePage(cp)) << cp;
    EXPECT_TRUE(NeedsStatefulTreatment(65000));
}

TEST(Charsets, CharByteCountNeverPassesTheEnd)
{
    const std::string utf8 = "a\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80\xC3";
    const std::size_t expected[] = {1, 2, 0, 3, 0, 0, 4, 0, 0, 0, 1};
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        if (expected[i] != 0) {
            EXPECT_EQ(CharByteCount(utf8, i, 65001), expected[i]) << i;
        }
    }
    EXPECT_EQ(CharByteCount("\xE6\x97" "a", 0, 65001), 1u);  // broken sequence
    EXPECT_EQ(CharByteCount("\x82\xA0" "a", 0, 932), 2u);
    EXPECT_EQ(CharByteCount("\x82", 0, 932), 1u);
    EXPECT_EQ(CharByteCount("\x81\x30\x81\x30", 0, 54936), 4u);
    EXPECT_EQ(CharByteCount("\x8F\xA1\xA1", 0, 51932), 3u);
    EXPECT_EQ(CharByteCount("ab", 2, 65001), 0u);
}

} // namespace
} // namespace mime
