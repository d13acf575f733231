// The DATA transfer, the size calculation, the file output and the request
// chains of the SMTP client, against a scripted server on 127.0.0.1.
#include "smtp/SmtpClient.h"

#include "ClientHarness.h"
#include "ScriptedServer.h"
#include "mime/HeaderBlock.h"
#include "platform/Files.h"
#include "platform/Sockets.h"

#include "../HostPython.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

using namespace smtp;
using smtptest::AfterData;
using smtptest::TDone;
using smtptest::TScriptedServer;

namespace {

using TLines = std::vector<std::string>;

std::string TempPath(const std::string& name)
{
    return testing::TempDir() + "transfer_" + std::to_string(::getpid()) + "_" + name;
}

// The Date values of every second from `from` to now, in the local zone.
std::vector<std::string> HeaderDatesSince(std::time_t from)
{
    std::vector<std::string> dates;
    for (std::time_t t = from; t <= std::time(nullptr); ++t) {
        const std::tm tm = *std::localtime(&t);
        // UTC's fields read as local time lie the zone's offset before t.
        std::tm utc = *std::gmtime(&t);
        utc.tm_isdst = tm.tm_isdst;
        const long offset = static_cast<long>(std::difftime(t, std::mktime(&utc)));
        platform::TSystemTime st;
        st.Year = tm.tm_year + 1900, st.Month = tm.tm_mon + 1, st.Day = tm.tm_mday, st.DayOfWeek = tm.tm_wday;
        st.Hour = tm.tm_hour, st.Minute = tm.tm_min, st.Second = tm.tm_sec;
        dates.push_back(mime::FormatHeaderDate(st, static_cast<int>(-offset / 60)));
    }
    return dates;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::string JoinCrLf(const TLines& lines)
{
    std::string text;
    for (const auto& line : lines)
        text += line + "\r\n";
    return text;
}

// Parses a message file with Python's standard MIME parser and returns the
// fields it reports ("From", "To", "Subject", "ContentType", "Body", "Defects").
std::map<std::string, std::string> ParseWithPython(const std::string& messagePath)
{
    const std::string script = TempPath("parse.py");
    WriteFile(script, "import sys, email\n"
                      "from email import policy\n"
                      "with open(sys.argv[1], 'rb') as f:\n"
                      "    msg = email.message_from_binary_file(f, policy=policy.default)\n"
                      "for name in ('From', 'To', 'Subject'):\n"
                      "    print(name + '=' + str(msg[name]))\n"
                      "print('ContentType=' + msg.get_content_type())\n"
                      "print('Defects=' + str(len(msg.defects)))\n"
                      "print('Body=' + '|'.join(msg.get_content().splitlines()))\n");
    std::map<std::string, std::string> fields;
    int exitCode = 0;
    std::istringstream lines(RunHostPython({HostPath(script), HostPath(messagePath)}, exitCode));
    for (std::string line; std::getline(lines, line);) {
        const auto eq = line.find('=');
        if (eq != std::string::npos)
            fields[line.substr(0, eq)] = line.substr(eq + 1);
    }
    EXPECT_EQ(exitCode, 0);
    std::remove(script.c_str());
    return fields;
}

class TransferTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Events.Record(Client);
        Client.OnMessageDataSent = [this](TCustomSmtpClient&, int size) { SentSizes.push_back(size); };
        Client.OnGetData = [this](TCustomSmtpClient&, int lineNum, std::string& line, int maxLen, bool& more) {
            GetDataCalls.push_back({lineNum, static_cast<int>(SentSizes.size())});
            EXPECT_EQ(maxLen, 2046);
            if (lineNum > static_cast<int>(Body.size())) {
                more = false;
                return;
            }
            line = Body[lineNum - 1];
        };
        Client.Host = "127.0.0.1";
        Client.SignOn = "tester";
        Client.FromName = "alice@example.com";
        Client.RcptName = {"bob@example.com"};
    }

    bool WaitDones(std::size_t count)
    {
        return smtptest::RunUntil([&] { return Dones.size() >= count; });
    }

    TDone Run(const std::function<void()>& request) { return smtptest::RunRequest(Events, request); }

    // Starts the server and connects to it; the script must begin with a greeting.
    void Connect(TScriptedServer& server)
    {
        server.Start();
        Client.Port = server.PortText();
        ASSERT_EQ(Run([&] { Client.Connect(); }), (TDone {smtpConnect, 0}));
    }

    struct TGetDataCall {
        int LineNum;
        int SentBefore; // OnMessageDataSent events before the call
    };

    TCustomSmtpClient Client;
    TLines Body;
    smtptest::TClientEvents Events;
    std::vector<TDone>& Dones = Events.Dones;
    TLines& Display = Events.Display;
    TLines& Commands = Events.Commands;
    TLines& Responses = Events.Responses;
    std::vector<int> SentSizes;
    std::vector<TGetDataCall> GetDataCalls;
};

TScriptedServer& ExpectLines(TScriptedServer& server, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
        server.Expect();
    return server;
}

// ---- DATA ----

TEST_F(TransferTest, BodyLinesAreDotDoubledAndCutHeaderLinesAreNot)
{
    const std::string longDotted = "." + std::string(2045, 'x'); // 2046 characters
    Body = {".", ".abc", "a.b", "", "..", longDotted, std::string(3000, 'y')};
    const TLines wireBody = {"..", "..abc", "a.b", "", "...", "." + longDotted, std::string(2046, 'y')};
    Client.XMailer.clear();
    Client.OnProcessHeader = [](TCustomSmtpClient&, mime::TSmtpHeaderLines& lines) {
        lines.Clear();
        lines.Add(".X-Dot: 1");
        lines.Add("X-Change: a");
        lines.Add("X-Long: " + std::string(3000, 'h'));
    };
    int headerLineSize = 0;
    Client.OnHeaderLine = [&](TCustomSmtpClient&, std::string& msg, int size) {
        headerLineSize = size;
        if (msg == "X-Change: a")
            msg = "X-Change: b";
    };
    const TLines wireHeader = {".X-Dot: 1", "X-Change: b", "X-Long: " + std::string(2039, 'h'), ""};

    TScriptedServer server;
    server.Lines({"220 ready"}).Expect().Lines({"354 go on"});
    ExpectLines(server, wireHeader.size() + wireBody.size() + 1).Lines({"250 queued"});
    Connect(server);
    EXPECT_EQ(Run([&] { Client.Data(); }), (TDone {smtpData, 0}));

    TLines expected = wireHeader;
    expected.insert(expected.end(), wireBody.begin(), wireBody.end());
    expected.push_back(".");
    const TLines got = AfterData(server.Received());
    EXPECT_EQ(got, expected);
    ASSERT_EQ(got.size(), expected.size());
    EXPECT_EQ(got[wireHeader.size() + 5].size(), 2047u);
    EXPECT_EQ(headerLineSize, 2048);

    // One size per line handed on, each the line's length plus CR LF.
    std::vector<int> sizes;
    for (std::size_t i = 0; i + 1 < expected.size(); ++i)
        sizes.push_back(static_cast<int>(expected[i].size()) + 2);
    EXPECT_EQ(SentSizes, sizes);
    // Every body line is asked for only after the previous one has been
    // handed to the socket.
    ASSERT_EQ(GetDataCalls.size(), Body.size() + 1);
    for (std::size_t i = 0; i < GetDataCalls.size(); ++i) {
        EXPECT_EQ(GetDataCalls[i].LineNum, static_cast<int>(i) + 1);
        EXPECT_EQ(GetDataCalls[i].SentBefore, static_cast<int>(wireHeader.size() + i));
    }
    EXPECT_NE(std::find(Display.begin(), Display.end(), "> ..abc"), Display.end());
    EXPECT_NE(std::find(Display.begin(), Display.end(), "> X-Change: b"), Display.end());
    EXPECT_EQ(Client.State(), smtpReady);
}

struct TBatchCase {
    const char* Name;
    int Lines;
    int MaxWrites; // after the DATA command
};

void PrintTo(const TBatchCase& c, std::ostream* os)
{
    *os << c.Name;
}

class BatchTest : public TransferTest, public ::testing::WithParamInterface<TBatchCase> {};

// The message lines go out in few large writes, the final "." with the
// last of them, and arrive byte for byte as they were written one by one.
TEST_P(BatchTest, LinesLeaveInFewWritesAndArriveUnchanged)
{
    const TBatchCase& c = GetParam();
    Client.OwnHeaders = true;
    TLines wire;
    for (int i = 0; i < c.Lines; ++i) {
        // Mostly short lines, every fifth one longer up to the limit of
        // 2046; every seventh begins with a dot.
        const std::size_t length = static_cast<std::size_t>(i % 5 ? i * 13 % 90 : i * 97 % 2047);
        std::string line(length, static_cast<char>('a' + i % 26));
        if (i % 7 == 0 && !line.empty())
            line.front() = '.';
        Body.push_back(line);
        wire.push_back(line.starts_with(".") ? "." + line : line);
    }
    wire.push_back(".");
    TScriptedServer server;
    server.Lines({"220 ready"}).Expect().Lines({"354 go on"}).ExpectData().Lines({"250 queued"});
    Connect(server);
    // The reply to the final "." must not wait for a delayed acknowledgement.
    bool nodelay = false;
    EXPECT_EQ(platform::SocketNoDelay(Client.Socket().Handle(), nodelay), 0);
    EXPECT_TRUE(nodelay);
    std::vector<int> writes;
    Client.Socket().OnSendData = [&](net::TCustomAsyncSocket&, int count) { writes.push_back(count); };

    EXPECT_EQ(Run([&] { Client.Data(); }), (TDone {smtpData, 0}));
    EXPECT_EQ(JoinCrLf(AfterData(server.Received())), JoinCrLf(wire));
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.front(), 6); // "DATA" CR LF
    EXPECT_LE(static_cast<int>(writes.size()) - 1, c.MaxWrites);
    EXPECT_EQ(SentSizes.size(), Body.size());
}

INSTANTIATE_TEST_SUITE_P(Transfer, BatchTest,
                         ::testing::Values(TBatchCase {"SmallMessageInOneWrite", 30, 1},
                                           TBatchCase {"LargeMessageInBatches", 3000, 3000 / 20}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(TransferTest, OwnHeadersSendsTheBodyFirstAndARefusedDotFailsTheRequest)
{
    Client.OwnHeaders = true;
    Client.HdrSubject = "not used";
    Body = {"Subject: own", "", "text"};
    TScriptedServer server;
    server.Lines({"220 ready"}).Expect().Lines({"354 go on"});
    ExpectLines(server, 4).Lines({"552 too big"});
    Connect(server);
    EXPECT_EQ(Run([&] { Client.Data(); }), (TDone {smtpData, 552}));
    EXPECT_EQ(AfterData(server.Received()), (TLines {"Subject: own", "", "text", "."}));
    EXPECT_EQ(Client.HeaderLines().Count(), 0u);
    EXPECT_EQ(Client.ErrorMessage(), "552 too big");
}

TEST_F(TransferTest, RefusedDataSendsNoLine)
{
    Body = {"never sent"};
    TScriptedServer server;
    server.Lines({"220 ready"}).Expect().Lines({"554 no thanks"}).Expect().Lines({"221 bye"}).Close();
    Connect(server);
    EXPECT_EQ(Run([&] { Client.Data(); }), (TDone {smtpData, 554}));
    EXPECT_EQ(Client.ErrorMessage(), "554 no thanks");
    EXPECT_TRUE(GetDataCalls.empty());
    EXPECT_TRUE(SentSizes.empty());
    EXPECT_EQ(Run([&] { Client.Quit(); }), (TDone {smtpQuit, 0}));
    EXPECT_EQ(server.Received(), (TLines {"DATA", "QUIT"}));
}

TEST_F(TransferTest, FailingBodySourceFailsTheRequestAndNeverClosesTheMessage)
{
    Client.OwnHeaders = true;
    Client.OnGetData = [](TCustomSmtpClient&, int lineNum, std::string& line, int, bool&) {
        if (lineNum > 1)
            throw std::runtime_error("attachment vanished");
        line = "one";
    };
    TScriptedServer server;
    server.Lines({"220 ready"}).Expect().Lines({"354 go on"}).Expect().WaitClose();
    Connect(server);
    EXPECT_EQ(Run([&] { Client.Data(); }), (TDone {smtpData, 500}));
    EXPECT_EQ(Client.LastResponse(), "500 runtime_error attachment vanished");
    // The abort may overtake "one" on the wire; what matters is that the
    // message is never completed.
    const TLines sent = AfterData(server.Received());
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "."), 0);
}

// ---- chains ----

TEST_F(TransferTest, MailChainDeliversAMessageThatAStandardParserReads)
{
    Client.HdrFrom = "Alice <alice@example.com>";
    Client.HdrTo = "bob@example.com";
    Client.HdrSubject = "Transfer test";
    Client.SetCharSet("utf-8");
    Client.RcptName = {"bob@example.com", "carol@example.com"};
    Body = {"Hello Bob,", ".", ".leading dot", "end"};
    // From To Subject Sender Mime-Version Content-Type Date Message-ID X-Mailer and the empty line.
    const std::size_t headerCount = 10;
    TScriptedServer server;
    server.Lines({"220 ready"}).Expect().Lines({"250 sender ok"}).Expect().Lines({"250 ok"});
    server.Expect().Lines({"251 forwarded"}).Expect().Lines({"354 go on"});
    ExpectLines(server, headerCount + Body.size() + 1).Lines({"250 queued"});
    Connect(server);
    EXPECT_EQ(Run([&] { Client.Mail(); }), (TDone {smtpMail, 0}));

    const TLines received = server.Received();
    ASSERT_GE(received.size(), 4u);
    EXPECT_EQ(TLines(received.begin(), received.begin() + 4),
              (TLines {"MAIL FROM:<alice@example.com>", "RCPT TO:<bob@example.com>", "RCPT TO:<carol@example.com>",
                       "DATA"}));
    const std::string path = TempPath("wire.eml");
    WriteFile(path, smtptest::UnstuffMessage(AfterData(received)));
    auto fields = ParseWithPython(path);
    EXPECT_EQ(fields["From"], "Alice <alice@example.com>");
    EXPECT_EQ(fields["To"], "bob@example.com");
    EXPECT_EQ(fields["Subject"], "Transfer test");
    EXPECT_EQ(fields["ContentType"], "text/plain");
    EXPECT_EQ(fields["Defects"], "0");
    EXPECT_EQ(fields["Body"], "Hello Bob,|.|.leading dot|end");
    std::remove(path.c_str());
}

TEST_F(TransferTest, MailChainWithRefusedMailFromSendsNoRecipient)
{
    TScriptedServer server;
    server.Lines({"220 ready"}).Expect().Lines({"550 not you"}).Expect().Lines({"221 bye"}).Close();
    Connect(server);
    EXPECT_EQ(Run([&] { Client.Mail(); }), (TDone {smtpMail, 550}));
    EXPECT_EQ(Client.ErrorMessage(), "550 not you");
    EXPECT_EQ(Run([&] { Client.Quit(); }), (TDone {smtpQuit, 0}));
    EXPECT_EQ(server.Received(), (TLines {"MAIL FROM:<alice@example.com>", "QUIT"}));
}

TEST_F(TransferTest, ConnectionLostDuringDataEndsTheChainWith10004)
{
    // The DATA step has no error of its own when the server hangs up
    // instead of answering the final ".".
    Client.OwnHeaders = true;
    Body = {"only line"};
    TScriptedServer server;
    server.Lines({"220 ready"}).Expect().Lines({"250 ok"}).Expect().Lines({"250 ok"});
    server.Expect().Lines({"354 go on"}).Expect().Expect().Close();
    Connect(server);
    EXPECT_EQ(Run([&] { Client.Mail(); }), (TDone {smtpMail, 10004}));
    EXPECT_EQ(AfterData(server.Received()), (TLines {"only line", "."}));
    EXPECT_FALSE(Client.Connected());
    EXPECT_EQ(Client.State(), smtpReady);
    // Nothing further happens on a dead connection.
    smtptest::RunUntil([] { return false; }, 100);
    EXPECT_EQ(Dones.size(), 2u);
}

struct TOpenCase {
    const char* Name;
    TSmtpAuthType AuthType;
    TLines Replies; // after the greeting, one per command
    TLines Sent;
    std::uint16_t Code;
    const char* ErrorMessage;
};

void PrintTo(const TOpenCase& c, std::ostream* os)
{
    *os << c.Name;
}

class OpenChainTest : public TransferTest, public ::testing::WithParamInterface<TOpenCase> {};

TEST_P(OpenChainTest, StepsAndSingleReport)
{
    const TOpenCase& c = GetParam();
    Client.AuthType = c.AuthType;
    TScriptedServer server;
    server.Lines({"220 ready"});
    for (const auto& reply : c.Replies)
        server.Expect().Lines({reply});
    server.Start();
    Client.Port = server.PortText();
    EXPECT_EQ(Run([&] { Client.Open(); }), (TDone {smtpOpen, c.Code}));
    ASSERT_TRUE(server.WaitDone());
    EXPECT_EQ(server.Received(), c.Sent);
    EXPECT_EQ(Client.ErrorMessage(), c.ErrorMessage);
    EXPECT_TRUE(Client.Connected());
    EXPECT_EQ(Client.State(), smtpReady);
}

INSTANTIATE_TEST_SUITE_P(
    Transfer, OpenChainTest,
    ::testing::Values(
        TOpenCase {"NoAuthSaysHelo", smtpAuthNone, {"250 hello"}, {"HELO tester"}, 0, ""},
        TOpenCase {"AuthSaysEhloThenAuth", smtpAuthPlain, {"250-hello\r\n250 AUTH PLAIN", "235 welcome"},
                   {"EHLO tester", "AUTH PLAIN AGFsaWNlQGV4YW1wbGUuY29tAA=="}, 0, ""},
        TOpenCase {"RefusedEhloFallsBackToHelo", smtpAuthLogin, {"502 what", "250 hello"},
                   {"EHLO tester", "HELO tester"}, 0, "502 what"},
        TOpenCase {"RefusedEhloAndHeloReportsHelo", smtpAuthLogin, {"502 what", "501 nope"},
                   {"EHLO tester", "HELO tester"}, 501, "502 what"},
        TOpenCase {"RefusedAuthEndsTheChain", smtpAuthLogin, {"250 hello", "535 bad credentials"},
                   {"EHLO tester", "AUTH LOGIN"}, 535, "535 bad credentials"},
        // The engine's own refusal ends the chain like the server's.
        TOpenCase {"MalformedChallengeEndsTheChain", smtpAuthCramMD5, {"250 AUTH CRAM-MD5", "334"},
                   {"EHLO tester", "AUTH CRAM-MD5"}, 500, "500 Malformed MD5 Challenge: 334"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(TransferTest, OpenWhileConnectedRaisesAndAFailedConnectEndsTheChain)
{
    TScriptedServer server;
    server.Lines({"220 ready"}).Hold();
    Connect(server);
    try {
        Client.Open();
        ADD_FAILURE() << "no exception";
    } catch (const SmtpException& e) {
        EXPECT_STREQ(e.what(), "SMTP component already connected");
    }
    server.Release();

    // A greeting other than 220 ends the chain with its code; no HELO follows.
    TCustomSmtpClient other;
    std::vector<TDone> dones;
    other.OnRequestDone = [&](TCustomSmtpClient&, TSmtpRequest rq, std::uint16_t code) { dones.push_back({rq, code}); };
    TScriptedServer refusing;
    refusing.Lines({"554 go away"}).WaitClose().Start();
    other.Host = "127.0.0.1";
    other.Port = refusing.PortText();
    other.Open();
    ASSERT_TRUE(smtptest::RunUntil([&] { return !dones.empty(); }));
    EXPECT_EQ(dones, (std::vector<TDone> {{smtpOpen, 554}}));
    EXPECT_TRUE(refusing.Received().empty());
}

// ---- size calculation and file output ----

TEST_F(TransferTest, CalcMsgSizeCountsLinesWithLineEndsAndMailFromSizeSendsIt)
{
    Client.OwnHeaders = true;
    Body = {"a", "bb"};
    EXPECT_EQ(Run([&] { Client.CalcMsgSize(); }), (TDone {smtpCalcMsgSize, 0}));
    EXPECT_EQ(Client.LastResponse(), "200 MessageSize=7");
    EXPECT_EQ(Client.MessageSize(), 7);
    EXPECT_EQ(Responses, (TLines {"200 MessageSize=7"}));
    EXPECT_EQ(Commands, (TLines {"CalcMsgSize"}));
    // The lines themselves are not displayed while counting, and the
    // settings come back afterwards.
    EXPECT_EQ(Display, (TLines {"> CalcMsgSize"}));
    EXPECT_EQ(Client.SendMode, smtpToSocket);
    EXPECT_TRUE(SentSizes.empty());

    TScriptedServer server;
    server.Lines({"220 ready"}).Expect().Lines({"250 ok"});
    Connect(server);
    EXPECT_EQ(Run([&] { Client.MailFromSIZE(); }), (TDone {smtpMailFromSIZE, 0}));
    EXPECT_EQ(server.Received(), (TLines {"MAIL FROM:<alice@example.com> SIZE=7"}));
    EXPECT_EQ(Display.back(), "< 250 ok");
}

TEST_F(TransferTest, SendToFileWritesTheMessageAsWritten)
{
    Client.HdrFrom = "  alice@example.com ";
    Client.HdrTo = "Bob <bob@example.com>";
    Client.HdrSubject = " Report ";
    Client.HdrPriority = smtpPriorityHigh;
    Client.ConfirmReceipt = true;
    Client.XMailer = "Mailer V%ver%";
    Client.SetContentType(smtpHtml);
    Client.SetCharSet(" UTF-8 ");
    Body = {"<p>hi</p>", ".dot", "..two"};
    Client.SendMode = smtpToStream;
    const std::string path = TempPath("message.eml");
    const std::time_t start = std::time(nullptr);
    EXPECT_EQ(Run([&] { Client.SendToFile(path); }), (TDone {smtpToFile, 0}));
    EXPECT_EQ(Client.LastResponse(), "200 Message sent to file");
    EXPECT_EQ(Responses, (TLines {"200 Message sent to file"}));
    EXPECT_EQ(Commands, (TLines {"SendToFile"}));

    const TLines& header = Client.HeaderLines().Lines();
    // The Date of the moment the message was made, in the local zone.
    ASSERT_GE(header.size(), 7u);
    const std::string date = header[6].substr(std::min<std::size_t>(6, header[6].size()));
    const TLines dates = HeaderDatesSince(start);
    EXPECT_NE(std::find(dates.begin(), dates.end(), date), dates.end()) << header[6];
    const TLines expectedHeader = {"From: alice@example.com",
                                   "To: \"Bob\" <bob@example.com>",
                                   "Subject: Report",
                                   "Sender: alice@example.com",
                                   "Mime-Version: 1.0",
                                   "Content-Type: text/html; charset=\"utf-8\"",
                                   "Date: " + date,
                                   "X-Priority: 2",
                                   "Priority: urgent",
                                   "X-MSMail-Priority: High",
                                   "Message-ID: <" + Client.MessageId() + ">",
                                   "Disposition-Notification-To: alice@example.com",
                                   "X-Mailer: Mailer V8.55",
                                   ""};
    EXPECT_EQ(header, expectedHeader);
    TLines all = expectedHeader;
    all.insert(all.end(), Body.begin(), Body.end());
    EXPECT_EQ(ReadFile(path), JoinCrLf(all));
    // The properties come back trimmed.
    EXPECT_EQ(Client.HdrFrom, "alice@example.com");
    EXPECT_EQ(Client.HdrSubject, "Report");
    // The same message counted for SIZE: the file plus the doubled dots.
    Client.SendMode = smtpToSocket;
    EXPECT_EQ(Run([&] { Client.CalcMsgSize(); }), (TDone {smtpCalcMsgSize, 0}));
    EXPECT_EQ(Client.MessageSize(), static_cast<std::int64_t>(ReadFile(path).size()) + 2);

    auto fields = ParseWithPython(path);
    EXPECT_EQ(fields["Subject"], "Report");
    EXPECT_EQ(fields["ContentType"], "text/html");
    EXPECT_EQ(fields["Defects"], "0");
    EXPECT_EQ(fields["Body"], "<p>hi</p>|.dot|..two");
    std::remove(path.c_str());
}

TEST_F(TransferTest, SendToFileRefusesMisuseFromTheCall)
{
    struct TMisuse {
        TSmtpSendMode Mode;
        std::string File;
        std::string Text;
    };
    const std::vector<TMisuse> cases = {
        {smtpToSocket, TempPath("x.eml"), "SendToFile requires SendMode smtpToStream"},
        {smtpCopyToStream, TempPath("x.eml"), "SendToFile requires SendMode smtpToStream"},
        {smtpToStream, "", "File name not specified"},
        {smtpToStream, "/nonexistent-dir/x.eml", "Cannot create file \"/nonexistent-dir/x.eml\": No such file or directory"},
    };
    for (const auto& c : cases) {
        Client.SendMode = c.Mode;
        try {
            Client.SendToFile(c.File);
            ADD_FAILURE() << "no exception for " << c.Text;
        } catch (const std::exception& e) {
            EXPECT_EQ(e.what(), c.Text);
        }
        EXPECT_EQ(Client.State(), smtpReady);
    }
    // Busy with a size calculation.
    Client.OwnHeaders = true;
    Body = {"x", "y"};
    Client.CalcMsgSize();
    Client.SendMode = smtpToStream;
    try {
        Client.SendToFile(TempPath("busy.eml"));
        ADD_FAILURE() << "no exception while busy";
    } catch (const SmtpException& e) {
        EXPECT_STREQ(e.what(), "SMTP component not ready");
    }
    EXPECT_TRUE(WaitDones(1));
    smtptest::DrainQueue();
    EXPECT_EQ(Dones, (std::vector<TDone> {{smtpCalcMsgSize, 0}}));
}

TEST_F(TransferTest, WriteFailureEndsSendToFileWith500)
{
    Client.OwnHeaders = true;
    Body = {"line one", "line two"};
    Client.SendMode = smtpToStream;
    EXPECT_EQ(Run([&] { Client.SendToFile("/dev/full"); }), (TDone {smtpToFile, 500}));
    const std::string text = "500 EFileStreamError Cannot write to file \"/dev/full\": No space left on device";
    EXPECT_EQ(Client.LastResponse(), text);
    EXPECT_EQ(Client.ErrorMessage(), text);
    EXPECT_EQ(Responses, (TLines {text}));
    EXPECT_EQ(Client.State(), smtpReady);
}

TEST_F(TransferTest, AbortStopsLocalRequestsWithoutReportingSuccess)
{
    Client.OwnHeaders = true;
    Body = TLines(50, "line");
    Client.CalcMsgSize();
    Client.Abort();
    EXPECT_EQ(Client.SendMode, smtpToSocket);
    EXPECT_TRUE(static_cast<bool>(Client.OnDisplay));
    ASSERT_TRUE(WaitDones(1));
    smtptest::DrainQueue();
    EXPECT_EQ(Dones, (std::vector<TDone> {{smtpCalcMsgSize, 10004}}));
    EXPECT_EQ(Client.LastResponse(), "");

    // Started again before the aborted run's queued step arrives: that step
    // must not drive the new transfer.
    const std::string path = TempPath("aborted.eml");
    Client.SendMode = smtpToStream;
    Client.SendToFile(path);
    Client.Abort();
    SentSizes.clear();
    Client.SendToFile(path);
    EXPECT_EQ(SentSizes.size(), 1u);
    platform::TQueuedMessage stale;
    ASSERT_TRUE(platform::TEventLoop::Current().PeekMessage(stale));
    platform::TEventLoop::DispatchMessage(stale);
    EXPECT_EQ(SentSizes.size(), 1u);
    ASSERT_TRUE(WaitDones(3));
    smtptest::DrainQueue();
    EXPECT_EQ(Dones, (std::vector<TDone> {{smtpCalcMsgSize, 10004}, {smtpToFile, 10004}, {smtpToFile, 0}}));
    EXPECT_EQ(ReadFile(path), JoinCrLf(Body));
    EXPECT_EQ(SentSizes, std::vector<int>(50, 6));
    std::remove(path.c_str());
}

TEST_F(TransferTest, UnsupportedCharsetFallsBackAndRaises)
{
    const std::string system = Client.CharSet();
    Client.SetCharSet(" UTF-8");
    EXPECT_EQ(Client.CharSet(), "utf-8");
    try {
        Client.SetCharSet(" No-Such-Set ");
        ADD_FAILURE() << "no exception";
    } catch (const SmtpException& e) {
        EXPECT_STREQ(e.what(), "Charset \" No-Such-Set \" is not supported");
    }
    EXPECT_EQ(Client.CharSet(), system);
}

} // namespace
