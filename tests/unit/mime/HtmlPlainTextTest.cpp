#include "mime/HtmlPlainText.h"

#include "mime/Charsets.h"

#include <gtest/gtest.h>

namespace mime {
namespace {

using TLines = std::vector<std::string>;

TLines Render(const std::string& html)
{
    return HtmlToPlainText({html}, kCpUtf8);
}

class HtmlPlainText : public testing::Test {
protected:
    void SetUp() override
    {
        if (!HtmlToPlainTextAvailable())
            GTEST_SKIP() << "this build has no HTML parser";
    }
};

TEST_F(HtmlPlainText, Rules)
{
    const struct {
        const char* What;
        std::string Html;
        TLines Lines;
    } cases[] = {
        {"blocks and breaks end lines, blanks collapse", "<p>One\n  two </p><p>Three<br>Four</p><div>Five</div>Six",
         {"One two", "", "Three", "Four", "", "Five", "Six"}},
        {"head, script and style say nothing",
         "<html><head><title>T</title><style>p {}</style></head><body><script>x()</script>Hi</body></html>",
         {"Hi"}},
        {"entities are decoded", "Fish &amp; chips &lt;3 &eacute;t&eacute; &#8364;5 a&nbsp;&nbsp;b",
         {"Fish & chips <3 \xC3\xA9t\xC3\xA9 \xE2\x82\xAC" "5 a  b"}},
        {"invisible characters go", "Pre&zwnj;&nbsp;&zwnj;view&shy;ing", {"Pre viewing"}},
        {"link with its url", "See <a href=\" https://x.org/a \">our shop</a> now.",
         {"See our shop <https://x.org/a> now."}},
        {"link that shows its url", "<a href=\"https://x.org/\">https://x.org/</a>", {"https://x.org/"}},
        {"link without text", "Go <a href=\"https://x.org/p\"><img src=\"cid:IMAGE1\"></a>", {"Go https://x.org/p"}},
        {"linked image with ALT", "<a href=\"https://x.org/p\"><img src=\"a.png\" alt=\"Logo\"></a>",
         {"Logo <https://x.org/p>"}},
        {"mail links", "<a href=\"mailto:ann@x.org\">ann@x.org</a>, <a href=\"MAILTO:ann@x.org\">write</a>",
         {"ann@x.org, write <ann@x.org>"}},
        {"links within the document or to scripts",
         "<a href=\"#top\">Top</a> <a href=\"javascript:go()\">Go</a> <a name=\"x\">Anchor</a>",
         {"Top Go Anchor"}},
        {"images give their ALT text", "<img src=\"a\" alt=\"Corner  Shop\"><img src=\"b\">!", {"Corner Shop!"}},
        {"list markers and numbers",
         "<ul><li>Tea</li><li>Cake<ul><li>Lemon</li></ul></li></ul><ol start=\"3\"><li>a<br>more</li><li>b</ol>",
         {"* Tea", "* Cake", "  * Lemon", "", "3. a", "   more", "4. b"}},
        {"table rows are lines with their cells separated",
         "<p>Offers:</p><table><tr><th>Offer</th><th>Price</th></tr>"
         "<tr><td>Tea</td><td></td><td>3.50</td></tr></table>After",
         {"Offers:", "", "Offer | Price", "Tea | 3.50", "", "After"}},
        {"a layout table goes cell by cell",
         "<table><tr><td><p>Hello</p><p>World</p></td><td>Side</td></tr>"
         "<tr><td><table><tr><td>a</td><td>b</td></tr></table></td></tr></table>",
         {"Hello", "", "World", "", "Side", "", "a | b"}},
        {"runs of blank lines collapse", "<p>a</p><br><br><br><p>&nbsp;</p><p>b</p>", {"a", "", "b"}},
        {"preformatted text keeps its blanks", "<pre>  x  y\n\n\n z</pre>", {"  x  y", "", " z"}},
        {"quotes", "<blockquote><p>q1</p><p>q2</p></blockquote>", {"> q1", "", "> q2"}},
        {"nothing to read", " <p> </p><img src=\"x\"> ", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Render(c.Html), c.Lines) << c.What;
}

TEST_F(HtmlPlainText, TextInTheGivenCodePage)
{
    // windows-1252: e acute is E9, the euro sign 80; a character the code page
    // lacks becomes "?".
    EXPECT_EQ(HtmlToPlainText({"<p>Caf\xE9 &euro;1</p>", "<p>&#x4E2D;</p>"}, 1252),
              (TLines {"Caf\xE9 \x80" "1", "", "?"}));
}

TEST_F(HtmlPlainText, LargeAndDeepDocuments)
{
    // Thousands of paragraphs and list items left open, as old HTML has them.
    std::string many;
    for (int i = 0; i < 3000; ++i)
        many += "<p>x";
    EXPECT_EQ(Render(many).size(), 5999u);

    // Nesting that would keep the parser busy for minutes gives no text.
    std::string deep;
    for (int i = 0; i < 30000; ++i)
        deep += "<div>";
    EXPECT_EQ(Render(deep + "text"), TLines {});

    // Below that, text nested deeper than a reader could follow is left out.
    std::string spans = "top";
    for (int i = 0; i < 2000; ++i)
        spans += "<span>";
    EXPECT_EQ(Render(spans + "deep"), TLines {"top"});
}

} // namespace
} // namespace mime
