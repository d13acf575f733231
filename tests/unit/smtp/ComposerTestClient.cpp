// Composed messages through the real client: written with SendToFile or
// sent with DATA to a scripted server on 127.0.0.1, then read back with the
// standard MIME parser; and files that fail between assignment and sending.
#include "ClientHarness.h"
#include "ComposerTestUtil.h"
#include "platform/CodePages.h"
#include "ScriptedServer.h"
#include "mime/HeaderBlock.h"
#include "net/KvWndControl.h"
#include "smtp/HtmlSmtpSender.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <tuple>

using namespace smtp;
using namespace composertest;
using smtptest::AfterData;
using smtptest::TDone;
using smtptest::TScriptedServer;

namespace {

using TLines = std::vector<std::string>;

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class ComposerClientTest : public ::testing::Test {
protected:
    ComposerClientTest() { Setup(Client); }

    void Setup(TSmtpSender& client)
    {
        Events.Record(client);
        client.Host = "127.0.0.1";
        client.SignOn = "tester";
        client.FromName = "alice@example.com";
        client.RcptName = {"bob@example.com"};
        client.HdrFrom = "alice@example.com";
        client.HdrTo = "bob@example.com";
        client.HdrSubject = "Composed";
        client.SetOnBgException([this](net::TKvWndControl&, const std::exception& e, bool&) {
            BgExceptions.push_back(e.what());
        });
    }

    TDone Run(const std::function<void()>& request) { return smtptest::RunRequest(Events, request); }

    // Writes the message to a file; the report and the file's text.
    TDone ToFile(TSmtpSender& client, TMessage& message)
    {
        const std::string path = Dir.Path() + "/sent.eml";
        client.SendMode = smtpToStream;
        const TDone done = Run([&] { client.SendToFile(path); });
        message.Text = ReadWholeFile(path);
        const TLines lines = message.Lines();
        const auto blank = std::find(lines.begin(), lines.end(), "");
        message.HeaderLineCount = static_cast<std::size_t>(blank - lines.begin()) + 1;
        return done;
    }

    // The script of a whole mail: MAIL FROM, RCPT TO, DATA and its lines.
    static void ScriptMail(TScriptedServer& server)
    {
        server.Lines({"220 ready"}).Expect().Lines({"250 ok"}).Expect().Lines({"250 ok"});
        server.Expect().Lines({"354 go on"}).ExpectData().Lines({"250 queued"});
    }

    // Sends the message with the Mail chain to a scripted server.
    TDone ToServer(TSmtpSender& client, TScriptedServer& server, TMessage& message)
    {
        server.Start();
        client.Port = server.PortText();
        EXPECT_EQ(Run([&] { client.Connect(); }), (TDone {smtpConnect, 0}));
        const TDone done = Run([&] { client.Mail(); });
        // Whatever the outcome, the server's side is over once the client has gone.
        client.Abort();
        EXPECT_TRUE(server.WaitDone());
        const TLines data = AfterData(server.Received());
        if (!data.empty() && data.back() == ".")
            message.Text = smtptest::UnstuffMessage(data);
        return done;
    }

    std::string Payload(const std::string& path) const { return ReadWholeFile(Dir.Path() + "/" + path + ".bin"); }

    TTempDir Dir;
    TSslHtmlSmtpSender Client;
    smtptest::TClientEvents Events;
    // Exceptions that escaped into the message loop.
    TLines BgExceptions;
};

TEST_F(ComposerClientTest, TextWithTwoAttachmentsToFile)
{
    const std::string first = BinaryBytes(1482 * 2 + 5, 1);
    const std::string second = BinaryBytes(57 * 3, 2);
    Client.SetContentType(smtpPlainText);
    Client.PlainText = {"See the files.", ".a dotted line"};
    Client.SetEmailFiles({Dir.Write("first.bin", first), " " + Dir.Write("second.pdf", second) + " ", ""});
    TMessage m;
    EXPECT_EQ(ToFile(Client, m), (TDone {smtpToFile, 0}));
    EXPECT_EQ(Client.LastResponse(), "200 Message sent to file");

    const TLines tree = MimeTree(m, Dir);
    ASSERT_EQ(tree.size(), 4u);
    EXPECT_EQ(tree[0], "0|multipart/mixed|defects=0|parts=3");
    EXPECT_EQ(Payload("0.1"), "See the files.\n.a dotted line\n");
    EXPECT_EQ(TreeField(tree[2], "name"), "first.bin");
    EXPECT_EQ(TreeField(tree[3], "name"), "second.pdf");
    EXPECT_EQ(TreeField(tree[3], "cte"), "base64");
    EXPECT_EQ(Payload("0.2"), first);
    EXPECT_EQ(Payload("0.3"), second);
}

TEST_F(ComposerClientTest, HtmlWithTwoImagesAndOneFileToFileAndToServer)
{
    const std::string gif = BinaryBytes(3000, 4);
    const std::string jpg = BinaryBytes(57, 5);
    const std::string pdf = BinaryBytes(10'000, 6);
    Client.PlainText = {"Hello", ".", ""};
    Client.HtmlText = {"<p>Hello <img src=\"cid:IMAGE1\"><img src=\"cid:IMAGE2\"></p>"};
    Client.SetHtmlCharSet("utf-8");
    Client.SetEmailImages({Dir.Write("one.gif", gif), Dir.Write("two.jpg", jpg)});
    Client.SetEmailFiles({Dir.Write("report.pdf", pdf)});

    const TLines expectedTree = {
        "0|multipart/mixed|defects=0|parts=2",
        "0.1|multipart/related|defects=0|parts=3",
        "0.1.1|multipart/alternative|defects=0|parts=2",
        "0.1.1.1|text/plain|defects=0|cte=quoted-printable|disp=None|name=None|cid=None|fid=None|len=11",
        "0.1.1.2|text/html|defects=0|cte=quoted-printable|disp=None|name=None|cid=None|fid=None|len=58",
        "0.1.2|image/gif|defects=0|cte=base64|disp=inline|name=one.gif|cid=<IMAGE1>|fid=None|len=3000",
        "0.1.3|image/jpeg|defects=0|cte=base64|disp=inline|name=two.jpg|cid=<IMAGE2>|fid=None|len=57",
        "0.2|application/pdf|defects=0|cte=base64|disp=attachment|name=report.pdf|cid=None|fid=<FILE1>|len=10000",
    };
    auto check = [&](const THtmlSmtpSender& sender, const TMessage& m, const char* how) {
        SCOPED_TRACE(how);
        EXPECT_EQ(MimeTree(m, Dir), expectedTree);
        EXPECT_EQ(Payload("0.1.1.1"), "Hello\r\n.\r\n\n");
        EXPECT_EQ(Payload("0.1.2"), gif);
        EXPECT_EQ(Payload("0.1.3"), jpg);
        EXPECT_EQ(Payload("0.2"), pdf);
        // One empty line between the end of the related part and the file.
        const std::string middle = sender.HtmlBody().MiddleBoundary();
        const std::string outer = sender.HtmlBody().OuterBoundary();
        EXPECT_TRUE(Contains(m.Text, "\r\n--" + middle + "--\r\n\r\n--" + outer + "\r\n"));
    };

    TMessage file;
    EXPECT_EQ(ToFile(Client, file), (TDone {smtpToFile, 0}));
    check(Client, file, "SendToFile");

    TSslHtmlSmtpSender sender;
    Setup(sender);
    sender.PlainText = Client.PlainText;
    sender.HtmlText = Client.HtmlText;
    sender.SetHtmlCharSet("utf-8");
    sender.SetEmailImages(Client.EmailImages());
    sender.SetEmailFiles(Client.EmailFiles());
    TScriptedServer server;
    ScriptMail(server);
    TMessage wire;
    EXPECT_EQ(ToServer(sender, server, wire), (TDone {smtpMail, 0}));
    check(sender, wire, "Data");
}

TEST_F(ComposerClientTest, WrapMsgMaxLineLenIsClampedAndWrapsTheText)
{
    struct TCase {
        int Set;
        int Stored;
    };
    std::string words;
    for (int i = 0; i < 300; ++i)
        words += "word" + std::to_string(i % 10) + " ";
    for (const TCase c : {TCase {2000, 1022}, TCase {5, 16}, TCase {76, 76}}) {
        SCOPED_TRACE(c.Set);
        TSmtpSender sender;
        Setup(sender);
        sender.SetWrapMsgMaxLineLen(c.Set);
        EXPECT_EQ(sender.WrapMsgMaxLineLen(), c.Stored);
        sender.WrapMessageText = true;
        sender.MailMessage = {words};
        TMessage m;
        ASSERT_EQ(ToFile(sender, m), (TDone {smtpToFile, 0}));
        std::size_t longest = 0;
        std::string text;
        for (const std::string& line : m.BodyLines()) {
            longest = std::max(longest, line.size());
            text += line;
        }
        // Wrapped at the limit, never beyond the 998 characters SMTP
        // carries, and nothing but line ends added.
        const auto width = static_cast<std::size_t>(std::min(c.Stored, 998));
        EXPECT_LE(longest, width);
        EXPECT_GE(longest, width - 6);
        std::string unwrapped = words;
        std::erase(unwrapped, ' ');
        std::erase(text, ' ');
        EXPECT_EQ(text, unwrapped);
    }
}

TEST_F(ComposerClientTest, UnsupportedCharsetsFallBackToTheSystemCharsetAndRaise)
{
    struct TSetter {
        const char* Name;
        std::function<void(THtmlSmtpSender&, const std::string&)> Set;
        std::function<std::string(const THtmlSmtpSender&)> Get;
        const char* PartType;
    };
    const std::vector<TSetter> setters = {
        {"CharSet", [](THtmlSmtpSender& c, const std::string& v) { c.SetCharSet(v); },
         [](const THtmlSmtpSender& c) { return c.CharSet(); }, "text/plain"},
        {"HtmlCharSet", [](THtmlSmtpSender& c, const std::string& v) { c.SetHtmlCharSet(v); },
         [](const THtmlSmtpSender& c) { return c.HtmlCharSet(); }, "text/html"},
    };
    // The C locale's, which the test program runs in; Wine's is windows-1252.
    const std::string system = platform::SystemAnsiCodePage() == 65001 ? "utf-8" : "windows-1252";
    for (const TSetter& setter : setters) {
        SCOPED_TRACE(setter.Name);
        TSslHtmlSmtpSender sender;
        Setup(sender);
        setter.Set(sender, " ISO-8859-2 ");
        EXPECT_EQ(setter.Get(sender), "iso-8859-2");
        try {
            setter.Set(sender, " No-Such-Set ");
            ADD_FAILURE() << "no exception";
        } catch (const SmtpException& e) {
            EXPECT_STREQ(e.what(), "Charset \" No-Such-Set \" is not supported");
        }
        EXPECT_EQ(setter.Get(sender), system);
        // The fallback is what the message then declares.
        sender.PlainText = {"text"};
        sender.HtmlText = {"<p>text</p>"};
        TMessage m;
        ASSERT_EQ(ToFile(sender, m), (TDone {smtpToFile, 0}));
        const std::string typeLine = std::string("Content-Type: ") + setter.PartType + "; charset=\"" + system + "\"";
        EXPECT_TRUE(Contains(m.Text, "\r\n" + typeLine + "\r\n"));
        const TLines tree = MimeTree(m, Dir);
        ASSERT_EQ(tree.size(), 4u);
        EXPECT_EQ(TreeField(tree[0], "defects"), "0");
    }
}

// ---- a file that fails between assignment and sending ----

enum class TOutput { File, Data };
enum class TFault { Deleted, BeforeOpenAbort, AfterOpenAbort };

using TFailureCase = std::tuple<bool /*html*/, TOutput, TFault>;

// Test names and values are printed with the case's words, not its bytes.
const char* OutputName(TOutput output)
{
    return output == TOutput::File ? "ToFile" : "ToServer";
}

const char* FaultName(TFault fault)
{
    static const char* const faults[] = {"Deleted", "BeforeOpenAbort", "AfterOpenAbort"};
    return faults[static_cast<int>(fault)];
}

void PrintTo(TOutput output, std::ostream* os)
{
    *os << OutputName(output);
}

void PrintTo(TFault fault, std::ostream* os)
{
    *os << FaultName(fault);
}

class ComposerFailureTest : public ComposerClientTest, public ::testing::WithParamInterface<TFailureCase> {};

std::string FailureCaseName(const ::testing::TestParamInfo<TFailureCase>& info)
{
    const auto [html, output, fault] = info.param;
    return std::string(html ? "Html" : "Plain") + OutputName(output) + FaultName(fault);
}

// The second item fails after the first has gone out whole: what was sent
// must never be completed as a message.
TEST_P(ComposerFailureTest, TheRequestFailsAndNoMessageIsCompleted)
{
    const auto [html, output, fault] = GetParam();
    Client.SetContentType(html ? smtpHtml : smtpPlainText);
    Client.PlainText = {"text"};
    Client.HtmlText = {"<p>text</p>"};
    // The first item is larger than a batch of message lines, so that part
    // of the message has left before the second one fails.
    const std::string kept = Dir.Write("kept.gif", BinaryBytes(3 * TCustomSmtpClient::SendBufferSize, 7));
    const std::string gone = Dir.Write("gone.bin", BinaryBytes(5000, 8));
    if (html) {
        Client.SetEmailImages({kept});
        Client.SetEmailFiles({gone});
    } else {
        Client.SetEmailFiles({kept, gone});
    }
    const auto isGone = [](const std::string& name) { return name.ends_with("gone.bin"); };
    switch (fault) {
    case TFault::Deleted: std::filesystem::remove(gone); break;
    case TFault::BeforeOpenAbort:
        Client.OnBeforeFileOpen = [&](TSmtpSender&, int, const std::string& name, TSmtpBeforeOpenFileAction& action) {
            if (isGone(name))
                action = smtpBeforeOpenFileAbort;
        };
        break;
    case TFault::AfterOpenAbort:
        Client.OnAfterFileOpen = [&](TSmtpSender&, int, const std::string& name, const std::exception*,
                                     TSmtpAfterOpenFileAction& action) {
            if (isGone(name))
                action = smtpAfterOpenFileAbort;
        };
        break;
    }

    // A failed file is the client's error; an abort is reported as the
    // connection's end, or by the chain as aborted.
    const bool toFile = output == TOutput::File;
    const std::uint16_t code = fault == TFault::Deleted ? SmtpClientError
                               : toFile                 ? SmtpConnectionEnded
                                                        : SmtpAbortedCode;
    TMessage m;
    if (toFile) {
        EXPECT_EQ(ToFile(Client, m), (TDone {smtpToFile, code}));
        EXPECT_NE(Client.LastResponse(), "200 Message sent to file");
    } else {
        TScriptedServer server;
        ScriptMail(server);
        EXPECT_EQ(ToServer(Client, server, m), (TDone {smtpMail, code}));
        const TLines data = AfterData(server.Received());
        // The first part went out; the message was never ended.
        const auto keptName = [](const std::string& line) { return line.ends_with("kept.gif\""); };
        EXPECT_TRUE(std::any_of(data.begin(), data.end(), keptName));
        EXPECT_EQ(std::find(data.begin(), data.end(), "."), data.end());
    }
    EXPECT_EQ(BgExceptions, TLines {});
    if (fault == TFault::Deleted) {
        EXPECT_TRUE(Client.ErrorMessage().starts_with("500 ")) << Client.ErrorMessage();
        EXPECT_TRUE(Contains(Client.ErrorMessage(), gone)) << Client.ErrorMessage();
        EXPECT_TRUE(std::any_of(Events.Responses.begin(), Events.Responses.end(),
                                [&](const std::string& r) { return Contains(r, gone); }));
    }
    EXPECT_EQ(Client.State(), smtpReady);
    EXPECT_FALSE(Client.Connected());

    // Nothing is left behind: with the file back the same client sends.
    Dir.Write("gone.bin", "back");
    Client.OnBeforeFileOpen = nullptr;
    Client.OnAfterFileOpen = nullptr;
    EXPECT_EQ(ToFile(Client, m), (TDone {smtpToFile, 0}));
    EXPECT_EQ(MimeTree(m, Dir).size(), html ? 7u : 4u);
}

INSTANTIATE_TEST_SUITE_P(Composer, ComposerFailureTest,
                         ::testing::Combine(::testing::Bool(), ::testing::Values(TOutput::File, TOutput::Data),
                                            ::testing::Values(TFault::Deleted, TFault::BeforeOpenAbort,
                                                              TFault::AfterOpenAbort)),
                         FailureCaseName);

} // namespace
