#include "ComposerTestUtil.h"

#include "smtp/HtmlBody.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace smtp;
using namespace composertest;

namespace {

class HtmlComposerTest : public ::testing::Test {
protected:
    HtmlComposerTest()
    {
        Fields.SetCharSet("iso-8859-1");
        Fields.ContentType = mime::smtpHtml;
        Content.HtmlCharSet = "utf-8";
        Content.HtmlCodePage = 65001;
        Content.HtmlMultiByte = true;
        Content.PlainText = {"Hello"};
        Content.HtmlText = {"<p>Hello <img src=\"cid:IMAGE1\"></p>"};
    }

    TMessage Compose()
    {
        Body.Prepare(SettingsOf(Fields), Content);
        return Assemble(
            Fields, [this](mime::TSmtpHeaderLines& lines) { Body.ProcessHeader(lines); }, [](std::string&) {},
            [this](int lineNum, std::string& line, bool& more) { Body.GetData(lineNum, line, 2046, more); });
    }

    std::string Payload(const std::string& path) const { return ReadWholeFile(Dir.Path() + "/" + path + ".bin"); }

    // The part lines of the text/plain and text/html alternatives.
    std::vector<std::string> AlternativeLines(const std::string& a) const
    {
        return {"--" + a,
                "Content-Type: text/plain; charset=\"iso-8859-1\"",
                "Content-Transfer-Encoding: quoted-printable",
                "",
                "Hello",
                "",
                "--" + a,
                "Content-Type: text/html; charset=\"utf-8\"",
                "Content-Transfer-Encoding: quoted-printable",
                "",
                "<p>Hello <img src=3D\"cid:IMAGE1\"></p>",
                "",
                "--" + a + "--",
                ""};
    }

    mime::THeaderFields Fields;
    THtmlContent Content;
    TComposerHost Host;
    THtmlBody Body {Host};
    TTempDir Dir;
};

TEST_F(HtmlComposerTest, HtmlOnlyLayoutLineByLine)
{
    const TMessage m = Compose();
    const std::string outer = Body.OuterBoundary();
    const std::string middle = Body.MiddleBoundary();
    EXPECT_EQ(outer.substr(0, 19), "----=_NextPart_000_");
    EXPECT_EQ(outer.size(), 19u + 8 + 3 + 8);
    EXPECT_EQ(middle, outer.substr(0, 27) + "_1." + outer.substr(30));

    const std::vector<std::string> lines = m.Lines();
    const auto type = std::find_if(lines.begin(), lines.end(),
                                   [](const std::string& l) { return l.rfind("Content-Type:", 0) == 0; });
    ASSERT_NE(type, lines.end());
    EXPECT_EQ(*type, "Content-Type: multipart/related; type=\"multipart/alternative\";");
    EXPECT_EQ(*(type + 1), "\tboundary=\"" + outer + "\"");

    std::vector<std::string> expected = {"This is a multipart MIME formatted message.",
                                         "",
                                         "--" + outer,
                                         "Content-Type: multipart/alternative;",
                                         "\tboundary=\"" + middle + "\"",
                                         ""};
    const std::vector<std::string> alternative = AlternativeLines(middle);
    expected.insert(expected.end(), alternative.begin(), alternative.end());
    expected.push_back("--" + outer + "--");
    EXPECT_EQ(m.BodyLines(), expected);

    const std::vector<std::string> tree = MimeTree(m, Dir);
    ASSERT_EQ(tree.size(), 4u);
    EXPECT_EQ(tree[0], "0|multipart/related|defects=0|parts=1");
    EXPECT_EQ(tree[1], "0.1|multipart/alternative|defects=0|parts=2");
    // Each text part holds its text exactly (the parser gives the line
    // break after the last line as LF).
    EXPECT_EQ(Payload("0.1.1"), "Hello\n");
    EXPECT_EQ(Payload("0.1.2"), Content.HtmlText[0] + "\n");
}

TEST_F(HtmlComposerTest, TwoImagesAndOneFile)
{
    const std::string gif = BinaryBytes(3000, 4);
    const std::string jpg = BinaryBytes(57, 5);
    const std::string pdf = BinaryBytes(10'000, 6);
    Content.EmailImages = {Dir.Write("one.gif", gif), Dir.Write("two.jpg", jpg)};
    Content.EmailFiles = {Dir.Write("report.pdf", pdf)};
    std::vector<std::string> headerEvents;
    Host.AttachHeader = [&](int k, const std::string& name, std::vector<std::string>&) {
        headerEvents.push_back(std::to_string(k) + " " + name);
    };
    const TMessage m = Compose();
    EXPECT_EQ(headerEvents, (std::vector<std::string> {"1 one.gif", "2 two.jpg", "3 report.pdf"}));
    const std::string outer = Body.OuterBoundary();
    const std::string middle = Body.MiddleBoundary();
    const std::string inner = Body.InnerBoundary();
    EXPECT_NE(m.Text.find("Content-Type: multipart/mixed;\r\n\tboundary=\"" + outer + "\"\r\n"), std::string::npos);

    const std::vector<std::string> body = m.BodyLines();
    std::vector<std::string> expected = {"This is a multipart MIME formatted message.",
                                         "",
                                         "--" + outer,
                                         "Content-Type: multipart/related;",
                                         "\ttype=\"multipart/alternative\";",
                                         "\tboundary=\"" + middle + "\"",
                                         "",
                                         "--" + middle,
                                         "Content-Type: multipart/alternative;",
                                         "\tboundary=\"" + inner + "\"",
                                         ""};
    const std::vector<std::string> alternative = AlternativeLines(inner);
    expected.insert(expected.end(), alternative.begin(), alternative.end());
    const std::vector<std::string> image = {"--" + middle,
                                            "Content-Type: image/gif;",
                                            "\tname=\"one.gif\"",
                                            "Content-Transfer-Encoding: base64",
                                            "Content-Disposition: inline;",
                                            "\tfilename=\"one.gif\"",
                                            "Content-ID: <IMAGE1>",
                                            ""};
    expected.insert(expected.end(), image.begin(), image.end());
    ASSERT_GT(body.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(body.begin(), body.begin() + static_cast<long>(expected.size())), expected);

    // Exactly one empty line between the end of the related part and the file.
    const auto end = std::find(body.begin(), body.end(), "--" + middle + "--");
    ASSERT_NE(end, body.end());
    ASSERT_LT(end + 9, body.end());
    const std::vector<std::string> file(end - 1, end + 9);
    EXPECT_EQ(file, (std::vector<std::string> {"",
                                               "--" + middle + "--",
                                               "",
                                               "--" + outer,
                                               "Content-Type: application/pdf;",
                                               "\tname=\"report.pdf\"",
                                               "Content-Transfer-Encoding: base64",
                                               "Content-Disposition: attachment;",
                                               "\tfilename=\"report.pdf\"",
                                               "X-File-ID: <FILE1>"}));
    EXPECT_EQ(body.back(), "--" + outer + "--");
    EXPECT_EQ(body[body.size() - 2], "");

    const std::vector<std::string> tree = MimeTree(m, Dir);
    ASSERT_EQ(tree.size(), 8u);
    EXPECT_EQ(tree[0], "0|multipart/mixed|defects=0|parts=2");
    EXPECT_EQ(tree[1], "0.1|multipart/related|defects=0|parts=3");
    EXPECT_EQ(tree[2], "0.1.1|multipart/alternative|defects=0|parts=2");
    EXPECT_EQ(TreeField(tree[5], "cid"), "<IMAGE1>");
    EXPECT_EQ(TreeField(tree[5], "disp"), "inline");
    EXPECT_EQ(TreeField(tree[6], "cid"), "<IMAGE2>");
    EXPECT_EQ(TreeField(tree[7], "fid"), "<FILE1>");
    EXPECT_EQ(TreeField(tree[7], "disp"), "attachment");
    EXPECT_EQ(Payload("0.1.2"), gif);
    EXPECT_EQ(Payload("0.1.3"), jpg);
    EXPECT_EQ(Payload("0.2"), pdf);
}

// An item chosen to go as text lines whose lines SMTP could not carry as
// they are goes quoted-printable; one whose lines fit stays 7bit.
TEST_F(HtmlComposerTest, TextItemsThatCannotGoAsLinesGoQuotedPrintable)
{
    const std::string longLine = std::string(1200, 'L') + "\r\n";
    Content.EmailImages = {Dir.Write("long.txt", longLine)};
    Content.EmailFiles = {Dir.Write("short.txt", "short\r\n")};
    Host.AttachContentTypeEh = [](int, std::string&, std::string&, mime::TSmtpEncoding& enc) {
        enc = mime::smtpEncodeNone;
    };
    const TMessage m = Compose();
    const std::vector<std::string> tree = MimeTree(m, Dir);
    ASSERT_EQ(tree.size(), 7u);
    EXPECT_EQ(TreeField(tree[5], "cte"), "quoted-printable");
    EXPECT_EQ(Payload("0.1.2"), longLine);
    EXPECT_EQ(TreeField(tree[6], "cte"), "7bit");
}

TEST_F(HtmlComposerTest, EmptyPlainTextGivesTwoEmptyLinesBeforeTheHtmlPart)
{
    Content.PlainText.clear();
    const TMessage m = Compose();
    const std::vector<std::string> body = m.BodyLines();
    const auto plain = std::find(body.begin(), body.end(), "Content-Type: text/plain; charset=\"iso-8859-1\"");
    ASSERT_NE(plain, body.end());
    ASSERT_LT(plain + 4, body.end());
    EXPECT_EQ(std::vector<std::string>(plain + 1, plain + 5),
              (std::vector<std::string> {"Content-Transfer-Encoding: quoted-printable", "", "",
                                         "--" + Body.MiddleBoundary()}));
    const std::vector<std::string> tree = MimeTree(m, Dir);
    ASSERT_EQ(tree.size(), 4u);
    EXPECT_EQ(TreeField(tree[2], "len"), "0");
}

TEST_F(HtmlComposerTest, PngImageWithCidSuffix)
{
    const std::string png = BinaryBytes(700, 7);
    Content.EmailImages = {Dir.Write("logo.PNG", png)};
    Content.HtmlImageCidSuffix = "@mail.example";
    const TMessage m = Compose();
    EXPECT_NE(m.Text.find("Content-Type: image/png;\r\n\tname=\"logo.PNG\"\r\n"
                          "Content-Transfer-Encoding: base64\r\n"
                          "Content-Disposition: inline;\r\n\tfilename=\"logo.PNG\"\r\n"
                          "Content-ID: <IMAGE1@mail.example>\r\n\r\n"),
              std::string::npos);
    const std::vector<std::string> tree = MimeTree(m, Dir);
    ASSERT_EQ(tree.size(), 5u);
    EXPECT_EQ(tree[0], "0|multipart/related|defects=0|parts=2");
    EXPECT_EQ(TreeField(tree[4], "cid"), "<IMAGE1@mail.example>");
    EXPECT_EQ(Payload("0.2"), png);
}

TEST_F(HtmlComposerTest, SkippedImageLeavesAnEmptyPartAndTheNextImageIntact)
{
    const std::string second = BinaryBytes(100, 8);
    Content.EmailImages = {Dir.Write("a.gif", "skipped"), Dir.Write("b.gif", second)};
    Host.BeforeFileOpen = [](int k, const std::string& name, TSmtpBeforeOpenFileAction& action) {
        if (k == 1) {
            EXPECT_EQ(name, "a.gif");
            action = smtpBeforeOpenFileNext;
        }
    };
    const TMessage m = Compose();
    const std::vector<std::string> tree = MimeTree(m, Dir);
    ASSERT_EQ(tree.size(), 6u);
    EXPECT_EQ(TreeField(tree[4], "cid"), "<IMAGE1>");
    EXPECT_EQ(TreeField(tree[4], "len"), "0");
    EXPECT_EQ(TreeField(tree[5], "cid"), "<IMAGE2>");
    EXPECT_EQ(Payload("0.3"), second);
}

TEST_F(HtmlComposerTest, ApplicationLinesOnlyOutsideTheTextParts)
{
    std::vector<int> asked;
    bool added = false;
    Host.GetData = [&](int lineNum, std::string& line, int, bool& more) {
        asked.push_back(lineNum);
        if (!more && !added) {
            // After the closing boundary the application may go on.
            line = "epilogue";
            more = added = true;
        }
    };
    const TMessage m = Compose();
    const std::vector<std::string> body = m.BodyLines();
    // The text lines (11 and 17) are the text parts' own.
    EXPECT_EQ(std::count(asked.begin(), asked.end(), 11), 0);
    EXPECT_EQ(std::count(asked.begin(), asked.end(), 17), 0);
    EXPECT_EQ(body.back(), "epilogue");
    EXPECT_EQ(body[body.size() - 2], "--" + Body.OuterBoundary() + "--");
}

} // namespace
