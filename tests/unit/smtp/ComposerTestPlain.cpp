#include "ComposerTestUtil.h"
#include "platform/Paths.h"

#include "mime/MimeException.h"
#include "smtp/AttachmentReader.h"
#include "smtp/PlainBody.h"
#include "smtp/SmtpTypes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

using namespace smtp;
using namespace composertest;

namespace {

class PlainComposerTest : public ::testing::Test {
protected:
    PlainComposerTest() { Fields.SetCharSet("iso-8859-1"); }

    TMessage Compose(const std::vector<std::string>& text, const std::vector<std::string>& files)
    {
        Body.Prepare(SettingsOf(Fields), text, files, true);
        return Assemble(
            Fields, nullptr, [this](std::string& line) { Body.HeaderLine(line); },
            [this](int, std::string& line, bool& more) { Body.GetData(line, 2046, more); });
    }

    // The header line that starts with the given text.
    static std::string HeaderLine(const TMessage& m, const std::string& start)
    {
        const std::vector<std::string> lines = m.Lines();
        for (std::size_t i = 0; i < m.HeaderLineCount; ++i) {
            if (lines[i].rfind(start, 0) == 0)
                return lines[i];
        }
        return {};
    }

    std::string Payload(const std::string& path) const { return ReadWholeFile(Dir.Path() + "/" + path + ".bin"); }

    // Decoded text with LF line ends: the parser gives 7bit and 8bit text
    // with LF, encoded text as encoded.
    std::string TextPayload(const std::string& path) const { return WithLf(Payload(path)); }
    static std::string WithLf(std::string text)
    {
        for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;)
            text.erase(at, 1);
        return text;
    }

    mime::THeaderFields Fields;
    TComposerHost Host;
    TPlainBody Body {Host};
    TTempDir Dir;
};

TEST_F(PlainComposerTest, TextOnlyEncodingFollowsTheTextAndTheSettings)
{
    struct TCase {
        std::string Text;
        mime::TSmtpDefaultEncoding Requested;
        bool Allow8bit;
        const char* Encoding;  // empty: no Content-Transfer-Encoding line
    };
    // Whatever the encoding, the parser finds the text as it was given.
    const TCase cases[] = {
        {"Hello world", mime::smtpEnc8bit, true, ""},
        {"Caf\xE9 au lait", mime::smtpEnc7bit, true, "8bit"},
        {"Caf\xE9 au lait", mime::smtpEnc8bit, false, "quoted-printable"},
        {"Caf\xE9 au lait", mime::smtpEncBase64, false, "base64"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Encoding);
        Fields.DefaultEncoding = c.Requested;
        Fields.Allow8bitChars = c.Allow8bit;
        const TMessage m = Compose({c.Text, "second line"}, {});
        const std::string contentType = "Content-Type: text/plain; charset=\"iso-8859-1\"";
        const std::vector<std::string> lines = m.Lines();
        const auto at = std::find(lines.begin(), lines.end(), contentType);
        ASSERT_NE(at, lines.end());
        if (*c.Encoding) {
            EXPECT_EQ(*(at + 1), std::string("Content-Transfer-Encoding: ") + c.Encoding);
        }
        EXPECT_EQ(m.Text.find("Content-Transfer-Encoding"), *c.Encoding ? m.Text.find("Content-Transfer-Encoding: ")
                                                                        : std::string::npos);

        const std::vector<std::string> tree = MimeTree(m, Dir);
        ASSERT_EQ(tree.size(), 1u);
        EXPECT_EQ(tree[0].substr(0, 14), "0|text/plain|d");
        EXPECT_EQ(TreeField(tree[0], "defects"), "0");
        EXPECT_EQ(TextPayload("0"), c.Text + "\nsecond line\n");
    }
}

TEST_F(PlainComposerTest, TwoAttachmentsArriveByteExactWithOneEmptyLineBetweenParts)
{
    // Sizes around the block and line sizes of the base64 encoder.
    const std::string first = BinaryBytes(1482 * 2 + 5, 1);
    const std::string second = BinaryBytes(57 * 3, 2);
    const std::string a = Dir.Write("first.bin", first);
    const std::string b = Dir.Write("second.pdf", second);
    const TMessage m = Compose({"See the files."}, {a, b});

    const std::vector<std::string> tree = MimeTree(m, Dir);
    ASSERT_EQ(tree.size(), 4u);
    EXPECT_EQ(tree[0], "0|multipart/mixed|defects=0|parts=3");
    EXPECT_EQ(TreeField(tree[1], "cte"), "7bit");
    EXPECT_EQ(TextPayload("0.1"), "See the files.\n");
    EXPECT_EQ(TreeField(tree[2], "name"), "first.bin");
    EXPECT_EQ(TreeField(tree[2], "disp"), "attachment");
    EXPECT_EQ(TreeField(tree[3], "name"), "second.pdf");
    EXPECT_EQ(Payload("0.2"), first);
    EXPECT_EQ(Payload("0.3"), second);

    // The wire layout around the parts.
    const std::string boundary = Body.Boundary();
    EXPECT_EQ(HeaderLine(m, "Content-Type:"), "Content-Type: multipart/mixed;");
    const std::vector<std::string> body = m.BodyLines();
    const std::vector<std::string> expectedStart = {
        "This is a multipart MIME message.",
        "",
        "--" + boundary,
        "Content-Type: text/plain; charset=\"iso-8859-1\"",
        "Content-Transfer-Encoding: 7bit",
        "",
        "See the files.",
        "",
        "--" + boundary,
        "Content-Type: application/octet-stream;",
        "\tname=\"first.bin\"",
        "Content-Transfer-Encoding: base64",
        "Content-Disposition: attachment;",
        "\tfilename=\"first.bin\"",
        "",
    };
    ASSERT_GT(body.size(), expectedStart.size());
    EXPECT_EQ(std::vector<std::string>(body.begin(), body.begin() + 15), expectedStart);
    const auto second_start = std::find(body.begin() + 15, body.end(), "--" + boundary);
    ASSERT_NE(second_start, body.end());
    EXPECT_EQ(*(second_start - 1), "");
    EXPECT_NE(*(second_start - 2), "");
    ASSERT_GE(body.size(), 3u);
    EXPECT_EQ(body[body.size() - 1], "--" + boundary + "--");
    EXPECT_EQ(body[body.size() - 2], "");
    EXPECT_NE(body[body.size() - 3], "");
}

TEST_F(PlainComposerTest, EmptyTextAndZeroByteAttachment)
{
    const std::string empty = Dir.Write("empty.dat", "");
    const TMessage m = Compose({}, {empty});
    const std::string boundary = Body.Boundary();
    const std::vector<std::string> expected = {
        "This is a multipart MIME message.",
        "",
        "--" + boundary,
        "Content-Type: text/plain; charset=\"iso-8859-1\"",
        "Content-Transfer-Encoding: 7bit",
        "",
        "",
        "--" + boundary,
        "Content-Type: application/octet-stream;",
        "\tname=\"empty.dat\"",
        "Content-Transfer-Encoding: base64",
        "Content-Disposition: attachment;",
        "\tfilename=\"empty.dat\"",
        "",
        "",  // the one empty content line of a zero-byte file
        "",
        "--" + boundary + "--",
    };
    EXPECT_EQ(m.BodyLines(), expected);
    const std::vector<std::string> tree = MimeTree(m, Dir);
    ASSERT_EQ(tree.size(), 3u);
    EXPECT_EQ(tree[0], "0|multipart/mixed|defects=0|parts=2");
    EXPECT_EQ(TreeField(tree[2], "len"), "0");
}

TEST_F(PlainComposerTest, SkippingEveryFileStillClosesTheContainer)
{
    const std::string a = Dir.Write("a.txt", "one");
    const std::string b = Dir.Write("b.txt", "two");
    std::vector<std::string> asked;
    Host.BeforeFileOpen = [&](int idx, const std::string& name, TSmtpBeforeOpenFileAction& action) {
        asked.push_back(std::to_string(idx) + " " + name);
        action = smtpBeforeOpenFileNext;
    };
    const TMessage m = Compose({"Text only after all."}, {a, b});
    EXPECT_EQ(asked, (std::vector<std::string> {"0 " + a, "1 " + b}));
    const std::vector<std::string> body = m.BodyLines();
    const std::vector<std::string> tail(body.end() - 4, body.end());
    EXPECT_EQ(tail, (std::vector<std::string> {"", "Text only after all.", "", "--" + Body.Boundary() + "--"}));
    const std::vector<std::string> tree = MimeTree(m, Dir);
    ASSERT_EQ(tree.size(), 2u);
    EXPECT_EQ(tree[0], "0|multipart/mixed|defects=0|parts=1");
}

// However long, and whatever quotes or backslashes it holds, a file name is
// read back as it is: a plain name is one quoted string on one line (a fold
// inside the quotes would be part of the name for some readers), an encoded
// one is cut only between its encoded words.
TEST_F(PlainComposerTest, FileNamesAreReadBackAsTheyAre)
{
    Fields.FoldHeaders = true;
    Fields.Allow8bitChars = false;
    std::string longName = "the quarterly figures of the northern region with all the remarks and notes.dat";
    longName.resize(80, 'x');
    std::vector<std::string> names = {
        "annual report 2024.tx",
        longName,
        std::string(100, 'n') + ".bin",
        "say \"hi\".txt",
        "back\\slash.txt",
        "Gr\xFC\xDF""e aus K\xF6ln, mit einem Namen, der lang genug ist, um gefaltet zu werden.txt",
    };
    // Windows allows neither a double quote nor a backslash in a file name.
    const bool windowsNames = platform::PathDelim == '\\';
    if (windowsNames)
        names.erase(names.begin() + 3, names.begin() + 5);
    std::vector<std::string> files;
    for (const std::string& name : names)
        files.push_back(Dir.Write(name, "x"));
    const TMessage m = Compose({"x"}, files);
    for (const std::string& name : {names[0], names[1], names[2]})
        EXPECT_NE(m.Text.find("\tname=\"" + name + "\"\r\n"), std::string::npos) << name;
    if (!windowsNames) {
        EXPECT_NE(m.Text.find(R"(	name="say \"hi\".txt")"), std::string::npos);
        EXPECT_NE(m.Text.find(R"(	name="back\\slash.txt")"), std::string::npos);
    }

    const std::vector<std::string> tree = MimeTree(m, Dir);
    ASSERT_EQ(tree.size(), 2 + names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string utf8 = i + 1 < names.size() ? names[i]
                                 : "Gr\xC3\xBC\xC3\x9F""e aus K\xC3\xB6ln, mit einem Namen, der lang genug ist, "
                                   "um gefaltet zu werden.txt";
        EXPECT_EQ(TreeField(tree[2 + i], "name"), utf8);
        EXPECT_EQ(TreeField(tree[2 + i], "defects"), "0") << utf8;
    }
}

// A line break in a name would end the header line: such a name is written
// as encoded words even where 8-bit names are allowed.
TEST_F(PlainComposerTest, NamesWithLineBreaksAreAlwaysEncoded)
{
    for (const bool allow8bit : {true, false}) {
        Fields.Allow8bitChars = allow8bit;
        EXPECT_EQ(NameAsWritten(SettingsOf(Fields), "a\r\nBcc: x.txt", false, 1022),
                  "\"=?iso-8859-1?Q?a=0D=0ABcc=3A_x=2Etxt?=\"");
    }
}

TEST_F(PlainComposerTest, EventsChooseNameTypeEncodingAndExtraHeaderLines)
{
    const std::string content = "line one.\r\n.starts with a dot = sign\r\n";
    const std::string file = Dir.Write("notes.txt", content);
    Host.AttachContentType = [](int idx, std::string& name, std::string& type) {
        EXPECT_EQ(idx, 0);
        EXPECT_EQ(type, "text/plain");
        name = "renamed.txt";
    };
    Host.AttachContentTypeEh = [](int, std::string& name, std::string& type, mime::TSmtpEncoding& enc) {
        EXPECT_EQ(name, "renamed.txt");
        EXPECT_EQ(enc, mime::smtpEncodeBase64);
        type = "text/x-notes";
        enc = mime::smtpEncodeQP;
    };
    Host.AttachHeader = [](int, const std::string& name, std::vector<std::string>& lines) {
        lines.push_back("X-Original-Name: " + name);
    };
    const TMessage m = Compose({"body"}, {file});
    EXPECT_NE(m.Text.find("Content-Disposition: attachment;\r\n\tfilename=\"renamed.txt\"\r\n"
                          "X-Original-Name: renamed.txt\r\n\r\n"),
              std::string::npos);
    for (const std::string& line : m.BodyLines())
        EXPECT_NE(line.front() == '.' ? 1 : 0, 1) << line;
    const std::vector<std::string> tree = MimeTree(m, Dir);
    ASSERT_EQ(tree.size(), 3u);
    EXPECT_EQ(tree[2].substr(0, 14), "0.2|text/x-not");
    EXPECT_EQ(TreeField(tree[2], "cte"), "quoted-printable");
    EXPECT_EQ(Payload("0.2"), content);
}

// A file chosen to go as text lines goes quoted-printable when its lines
// would not arrive as written: too long for SMTP, or a CR alone.
TEST_F(PlainComposerTest, TextFilesThatCannotGoAsLinesGoQuotedPrintable)
{
    const struct {
        const char* Name;
        std::string Content;
        const char* Encoding;
    } cases[] = {
        {"long.txt", std::string(1500, 'L') + "\nend\n", "quoted-printable"},
        {"dotted.txt", "." + std::string(997, 'L') + "\r\n", "quoted-printable"},
        {"cr.txt", "x\ry\r\n", "quoted-printable"},
        {"fine.txt", "line one\r\n." + std::string(996, 'L') + "\r\nend\r\n", "7bit"},
    };
    std::vector<std::string> files;
    for (const auto& c : cases)
        files.push_back(Dir.Write(c.Name, c.Content));
    Host.AttachContentTypeEh = [](int, std::string&, std::string&, mime::TSmtpEncoding& enc) {
        enc = mime::smtpEncodeNone;
    };
    const TMessage m = Compose({"body"}, files);
    for (const std::string& line : m.Lines())
        EXPECT_LE(line.size() + (line.starts_with(".") ? 1 : 0), 998u);
    const std::vector<std::string> tree = MimeTree(m, Dir);
    ASSERT_EQ(tree.size(), 2 + std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const std::string path = "0." + std::to_string(2 + i);
        const bool asLines = std::string(cases[i].Encoding) == "7bit";
        EXPECT_EQ(TreeField(tree[2 + i], "cte"), cases[i].Encoding) << cases[i].Name;
        EXPECT_EQ(asLines ? TextPayload(path) : Payload(path), asLines ? WithLf(cases[i].Content) : cases[i].Content)
            << cases[i].Name;
    }
}

TEST_F(PlainComposerTest, ApplicationLinesFollowTheText)
{
    std::vector<int> asked;
    Host.GetData = [&](int lineNum, std::string& line, int maxLen, bool& more) {
        EXPECT_EQ(maxLen, 2046);
        asked.push_back(lineNum);
        if (lineNum <= 2)
            line = "extra " + std::to_string(lineNum);
        else
            more = false;
    };
    const TMessage m = Compose({"text"}, {});
    EXPECT_EQ(m.BodyLines(), (std::vector<std::string> {"text", "extra 1", "extra 2"}));
    EXPECT_EQ(asked, (std::vector<int> {1, 2, 3}));
}

// A file that goes away, or cannot be read, after it was listed.
TEST_F(PlainComposerTest, AVanishedFileFailsTheMessageUnlessAnEventSkipsIt)
{
    const std::string gone = Dir.Write("gone.bin", "x");
    const std::string kept = Dir.Write("kept.bin", "kept");
    Body.Prepare(SettingsOf(Fields), {"t"}, {gone, kept}, true);
    std::filesystem::remove(gone);
    std::string line;
    bool more = true;
    try {
        for (int i = 0; i < 100 && more; ++i)
            Body.GetData(line, 2046, more);
        ADD_FAILURE() << "no exception";
    } catch (const mime::EMimeException& e) {
        EXPECT_NE(std::string(e.what()).find(gone), std::string::npos) << e.what();
    }

    std::vector<std::string> seen;
    Host.AfterFileOpen = [&](int idx, const std::string&, const std::exception* e, TSmtpAfterOpenFileAction& action) {
        seen.push_back(std::to_string(idx) + (e ? " failed" : " opened"));
        if (e)
            action = smtpAfterOpenFileNext;
    };
    const TMessage m = Compose({"t"}, {gone, kept});
    EXPECT_EQ(seen, (std::vector<std::string> {"0 failed", "1 opened"}));
    const std::vector<std::string> tree = MimeTree(m, Dir);
    ASSERT_EQ(tree.size(), 3u);
    EXPECT_EQ(TreeField(tree[2], "name"), "kept.bin");
    EXPECT_EQ(Payload("0.2"), "kept");
}

TEST_F(PlainComposerTest, AfterOpenRetryAndAbort)
{
    const std::string file = Dir.Write("f.bin", "data");
    int opened = 0;
    int aborted = 0;
    Host.Abort = [&] { ++aborted; };
    Host.AfterFileOpen = [&](int, const std::string&, const std::exception*, TSmtpAfterOpenFileAction& action) {
        ++opened;
        action = opened == 1 ? smtpAfterOpenFileRetry : smtpAfterOpenFileNone;
    };
    const TMessage m = Compose({"t"}, {file});
    EXPECT_EQ(opened, 2);
    EXPECT_EQ(aborted, 0);
    const std::vector<std::string> tree = MimeTree(m, Dir);
    ASSERT_EQ(tree.size(), 3u);
    EXPECT_EQ(Payload("0.2"), "data");

    Host.AfterFileOpen = [](int, const std::string&, const std::exception*, TSmtpAfterOpenFileAction& action) {
        action = smtpAfterOpenFileAbort;
    };
    Compose({"t"}, {file});
    EXPECT_EQ(aborted, 1);
}

TEST_F(PlainComposerTest, SizeOnlyModeMeasuresBase64AttachmentsWithoutReadingThem)
{
    const std::string file = Dir.Write("big.bin", BinaryBytes(100'000, 3));
    const std::string empty = Dir.Write("empty.bin", "");
    const TMessage sent = Compose({"text"}, {file, empty});

    std::int64_t added = 0;
    Host.SizeOnly = [] { return true; };
    Host.AddSize = [&](std::int64_t n) { added += n; };
    const TMessage measured = Compose({"text"}, {file, empty});
    // The measured message lacks the content lines, whose size was added.
    EXPECT_EQ(static_cast<std::int64_t>(measured.Text.size()) + added,
              static_cast<std::int64_t>(sent.Text.size()));
}

} // namespace

namespace {

TEST(AttachmentListTest, MissingFileStopsTheListWithItsName)
{
    TTempDir dir;
    const std::string a = dir.Write("a.txt", "a");
    const std::string b = dir.Write("b.txt", "b");
    const std::string missing = dir.Path() + "/missing.txt";
    std::vector<std::string> list = {"old"};
    AssignExistingFiles(list, {"  " + a + " ", "", "\t", b});
    EXPECT_EQ(list, (std::vector<std::string> {a, b}));
    try {
        AssignExistingFiles(list, {a, missing, b});
        ADD_FAILURE() << "no exception";
    } catch (const SmtpException& e) {
        EXPECT_EQ(std::string(e.what()), "File not found '" + missing + "'");
    }
    EXPECT_EQ(list, (std::vector<std::string> {a}));
}

} // namespace
