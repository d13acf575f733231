#include "mime/Base64.h"
#include "mime/TextEncoders.h"

#include <gtest/gtest.h>

#include <vector>

namespace mime {
namespace {

// RFC 4648, section 10.
const std::pair<std::string, std::string> kBase64Vectors[] = {
    {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},         {"foo", "Zm9v"},
    {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
};

TEST(Base64, Rfc4648Vectors)
{
    for (const auto& [plain, encoded] : kBase64Vectors) {
        EXPECT_EQ(Base64Encode(plain), encoded);
        EXPECT_EQ(Base64Decode(encoded), plain);
    }
    std::string all;
    for (int i = 0; i < 256; ++i)
        all.push_back(static_cast<char>(i));
    EXPECT_EQ(Base64Decode(Base64Encode(all)), all);
}

TEST(Base64, DecodeTakesAnyInput)
{
    const std::pair<std::string, std::string> cases[] = {
        {"Zm9v\r\nYmFy", "foobar"},  // line breaks skipped
        {"Zg==Zm8=", "ffo"},         // "=" ends a group, decoding goes on
        {"Zm9vYg", "foob"},          // truncated
        {"Zm9vY", "foo"},            // a single character carries no byte
        {"====", ""},
        {"Zm 9v!", "foo"},           // bytes outside the alphabet are skipped
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(Base64Decode(in), out) << in;
    // A lone character before "=" carries nothing; the group after it decodes.
    EXPECT_EQ(Base64Decode("Z=Zm8"), "fo");
    std::string noise;
    for (int i = 0; i < 1000; ++i)
        noise.push_back(static_cast<char>((i * 37) & 0xFF));
    EXPECT_LE(Base64Decode(noise).size(), noise.size());
}

TEST(Base64, LinesAndSizes)
{
    const std::string text(130, 'x');
    int pos = 1;
    std::vector<std::string> lines;
    while (pos <= static_cast<int>(text.size()))
        lines.push_back(Base64EncodeLine(text, pos));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].size(), 76u);
    EXPECT_EQ(lines[1].size(), 76u);
    EXPECT_EQ(lines[2], "eHh4eHh4eHh4eHh4eHh4eA==");
    EXPECT_EQ(Base64Decode(lines[0] + lines[1] + lines[2]), text);
    EXPECT_EQ(Base64EncodeLine(text, pos), "");

    const std::pair<std::uint64_t, std::uint64_t> sizes[] = {
        {0, 0}, {1, 6}, {57, 78}, {58, 84}, {114, 156}, {1482, 26 * 78},
    };
    for (const auto& [n, size] : sizes)
        EXPECT_EQ(Base64EncodedSize(n), size) << n;
}

std::vector<std::string> QpSegments(const std::string& text, int limit, const TByteSet& extra = {},
                                    bool underscore = false, bool limitLength = true, std::uint32_t cp = 0,
                                    bool multiByte = false)
{
    std::vector<std::string> segs;
    int pos = 1;
    while (pos <= static_cast<int>(text.size()))
        segs.push_back(EncodeQuotedPrintableSegment(text, limit, extra, underscore, pos, limitLength, cp, multiByte));
    return segs;
}

TEST(QuotedPrintable, Segments)
{
    const auto x200 = QpSegments(std::string(200, 'x'), 75);
    ASSERT_EQ(x200.size(), 3u);
    EXPECT_EQ(x200[0], std::string(74, 'x') + "=");
    EXPECT_EQ(x200[1], std::string(74, 'x') + "=");
    EXPECT_EQ(x200[2], std::string(52, 'x'));

    EXPECT_EQ(QpSegments("a\r\nb", 75), std::vector<std::string>{"a=0D=0Ab"});
    EXPECT_EQ(QpSegments("a=b\t\x7F\xFF", 75), std::vector<std::string>{"a=3Db=09=7F=FF"});
    EXPECT_EQ(QpSegments("a b?", 75, TByteSet{" ?"}, true), std::vector<std::string>{"a_b=3F"});
    EXPECT_EQ(QpSegments("a b", 75, TByteSet{" "}), std::vector<std::string>{"a=20b"});
    // Limits below 16 are raised to 16; an escape never straddles the cut.
    const auto small = QpSegments(std::string(20, '\x01'), 5);
    ASSERT_EQ(small.size(), 4u);
    EXPECT_EQ(small[0], "=01=01=01=01=01=");
    EXPECT_EQ(small[3], "=01=01=01=01=01");
    for (const auto& s : QpSegments(std::string(100, 'y') + std::string(50, '\xFE'), 40))
        EXPECT_LE(s.size(), 40u);
}

TEST(QuotedPrintable, UnlimitedSegmentHoldsTheWholeText)
{
    EXPECT_EQ(QpSegments(std::string(30, '\xE9'), 10, {}, false, false).size(), 1u);
    EXPECT_EQ(QpSegments(std::string(30, '\xE9'), 10, {}, false, false, 65001, true).size(), 1u);
}

TEST(QuotedPrintable, MultiByteCharactersStayWhole)
{
    std::string text;
    for (int i = 0; i < 40; ++i)
        text += "a\xE6\x97\xA5";  // "a" and a three-byte character
    for (const auto& s : QpSegments(text, 20, {}, false, true, 65001, true)) {
        EXPECT_LE(s.size(), 20u);
        // Every segment ends after a whole character: "a" or the escapes of "\xA5".
        std::string body = s.back() == '=' ? s.substr(0, s.size() - 1) : s;
        EXPECT_TRUE(body.back() == 'a' || body.ends_with("=A5")) << s;
    }
}

std::vector<std::string> Wrap(const std::string& text, int maxColumn, bool force = false,
                              const std::string& brk = "\r\n", const TByteSet& breaks = kTextWrapPoints,
                              const TByteSet& quotes = {}, std::uint32_t cp = 0, bool mb = false)
{
    std::vector<std::string> lines;
    int pos = 1;
    while (pos <= static_cast<int>(text.size())) {
        lines.push_back(WrapText(text, brk, breaks, maxColumn, quotes, pos, force, cp, mb));
        if (lines.size() > 10000)
            break;
    }
    return lines;
}

TEST(WrapText, Cases)
{
    const struct {
        std::string Text;
        int MaxColumn;
        bool Force;
        std::vector<std::string> Lines;
    } cases[] = {
        {"aaaa bbbb cccc", 10, false, {"aaaa bbbb ", "cccc"}},
        {"short", 10, false, {"short"}},
        {"one\r\ntwo\r\n\r\nthree", 76, false, {"one", "two", "", "three"}},
        {"aaaa bbbb \r\ncccc", 10, false, {"aaaa bbbb ", "cccc"}},  // CR LF after a soft break goes too
        {"abcdefghijklmno pq", 10, false, {"abcdefghijklmno ", "pq"}},  // no cut without force
        {"abcdefghijklmno", 10, true, {"abcdefghij", "klmno"}},
        {"a-b,c.d\te f", 2, false, {"a-", "b,", "c.", "d\t", "e ", "f"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Wrap(c.Text, c.MaxColumn, c.Force), c.Lines) << c.Text;
}

TEST(WrapText, QuotesAreNeverCut)
{
    // How address lists are cut into elements.
    const auto elements = Wrap("\"Doe, John\" <j@x.org>, 'a;b' <a@b>;c@d", 1, false, "\r\n",
                               TByteSet{",;"}, TByteSet{"\"'"});
    EXPECT_EQ(elements, (std::vector<std::string>{"\"Doe, John\" <j@x.org>,", " 'a;b' <a@b>;", "c@d"}));
}

TEST(WrapText, ForceBreakCutsLongRunsAndKeepsCharactersWhole)
{
    const auto plain = Wrap(std::string(2500, 'z'), 1022, true);
    ASSERT_EQ(plain.size(), 3u);
    EXPECT_EQ(plain[0].size(), 1022u);
    EXPECT_EQ(plain[2].size(), 2500u - 2044);

    std::string e;
    for (int i = 0; i < 1500; ++i)
        e += "\xC3\xA9";
    std::string joined;
    for (const auto& line : Wrap(e, 1022, true, "\r\n", kTextWrapPoints, {}, 65001, true)) {
        EXPECT_LE(line.size(), 1022u);
        EXPECT_EQ(line.size() % 2, 0u) << "a character was split";
        joined += line;
    }
    EXPECT_EQ(joined, e);
}

TEST(WrapText, PositionBeyondTheEnd)
{
    int pos = 50;
    EXPECT_EQ(WrapText("abc", "\r\n", kTextWrapPoints, 10, {}, pos, false, 0, false), "");
    EXPECT_EQ(pos, kPositionPastEnd);
}

TEST(NeedsEncoding, Bytes)
{
    EXPECT_FALSE(NeedsEncoding("plain\tASCII\r\n~"));
    EXPECT_FALSE(NeedsEncoding(""));
    EXPECT_TRUE(NeedsEncoding("caf\xE9"));
    EXPECT_TRUE(NeedsEncoding(std::string("a\0b", 3)));
    EXPECT_TRUE(NeedsEncoding("\x7F"));
}

} // namespace
} // namespace mime
