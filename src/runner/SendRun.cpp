// The send run of the main window: the SMTP client is configured from the
// job and the settings, and each completed request starts the next one.
#include "runner/fSendEMail.h"

#include "mime/Charsets.h"
#include "platform/Clock.h"
#include "platform/CodePages.h"
#include "platform/EventLoop.h"
#include "platform/Paths.h"
#include "platform/TextUtil.h"
#include "runner/Usage.h"
#include "template/Images.h"

#include <exception>
#include <optional>

namespace runner {

namespace {

constexpr std::uint16_t kErrTimedOut = 10060;
constexpr std::uint16_t kErrClient = 500;
constexpr std::uint32_t kCpLatin1 = 28591;
constexpr std::uint32_t kProgressCheckMs = 250;

// True when the text survives a round trip through iso-8859-1.
bool FitsLatin1(const std::string& text, std::uint32_t from)
{
    if (text.empty())
        return true;
    const std::string latin1 = mime::ConvertCodePage(text, from, kCpLatin1);
    return !latin1.empty() && mime::ConvertCodePage(latin1, kCpLatin1, from) == text;
}

// A command of the AUTH exchange as the log shows it: the mechanism's name
// stays; the credentials, and every answer derived from them (a CRAM digest
// or an NTLM response can be attacked offline), become "****".
std::string MaskedAuthCommand(const std::string& command)
{
    if (platform::UpperAscii(command.substr(0, 5)) != "AUTH ")
        return "****";
    const std::size_t blank = command.find(' ', 5);
    return blank == std::string::npos ? command : command.substr(0, blank) + " ****";
}

} // namespace

void TfrmSendEMail::CreateSmtpClient()
{
    smtpClient = std::make_unique<smtp::TSslHtmlSmtpSender>();
    auto& c = *smtpClient;
    c.SetShareMode(smtp::smtpShareDenyWrite);
    c.LocalAddr = "0.0.0.0";
    c.LocalAddr6 = "::";
    c.Port = "smtp";
    c.AuthType = smtp::smtpAuthNone;
    c.ConfirmReceipt = false;
    c.HdrPriority = smtp::smtpPriorityNone;
    c.SetCharSet("iso-8859-1");
    c.ConvertToCharset = true;
    c.SetWrapMsgMaxLineLen(76);
    c.SendMode = smtp::smtpToSocket;
    c.DefaultEncoding = smtp::smtpEnc8bit;
    c.Allow8bitChars = true;
    c.FoldHeaders = true;
    c.WrapMessageText = false;
    c.SetContentType(smtp::smtpPlainText);
    c.OwnHeaders = false;
    c.SetHtmlCharSet("windows-1252");
    c.HtmlConvertToCharset = false;

    using namespace std::placeholders;
    c.OnDisplay = std::bind(&TfrmSendEMail::smtpClientDisplay, this, _1, _2);
    c.OnCommand = std::bind(&TfrmSendEMail::smtpClientCommand, this, _1, _2);
    c.OnResponse = std::bind(&TfrmSendEMail::smtpClientResponse, this, _1, _2);
    c.OnRequestDone = std::bind(&TfrmSendEMail::smtpClientRequestDone, this, _1, _2, _3);
    c.OnMessageDataSent = [this](smtp::TCustomSmtpClient&, int) { Progress(); };
    // The one design value of the TLS context that differs from its default.
    SslContext1.SslVersionMethod = net::sslV23;
}

// TLS as the settings ask. The context is only described here: OpenSSL
// starts, and the context is made, when a TLS connection starts.
void TfrmSendEMail::ConfigureTls(smtp::TCustomSslSmtpSender& c)
{
    SslContext1.SetSslVerifyPeer(Settings.VerifyPeer);
    const std::string& caFile = Settings.CAFile;
    SslContext1.SslCAFile = caFile.empty() || platform::HasDirectoryPart(caFile)
                                ? caFile
                                : ProgramDir + platform::PathDelim + caFile;
    c.SetSslContext(&SslContext1);
    if (!Settings.UseSSL)
        return;
    c.SslType = static_cast<smtp::TSmtpSslType>(Settings.SSLType);
    if (c.SslType != smtp::smtpTlsNone) {
        c.SetOnSslVerifyPeer(nullptr);
        c.OnSslHandshakeDone = nullptr;
    }
}

void TfrmSendEMail::ConfigureClient()
{
    auto& c = *smtpClient;
    const std::string& from = Settings.From;
    c.Host = Settings.Host;
    c.Port = Settings.Port;
    c.SignOn.clear();
    c.HdrFrom = platform::IsBlank(Job.FromHeader) ? from : Job.FromHeader;
    c.HdrTo = Job.ToList;
    c.HdrCc = Job.CcList;
    c.HdrSubject = Job.Subject;
    c.AuthType = static_cast<smtp::TSmtpAuthType>(Settings.Auth);
    c.Username = Settings.Username;
    c.Password = Settings.Password;
    if (c.AuthType == smtp::smtpAuthNone)
        c.FromName = from;
    ConfigureTls(c);
    c.RcptName.clear();
    c.ParseRecipients(Job.ToList, Job.CcList, Job.BccList);
    try {
        c.SetEmailFiles(Job.Attachments);
        if (c.EmailImages().empty()) {
            std::vector<std::string> images;
            tmpl::CollectImages(Job.TemplateLines.Lines(), Job.TemplatePath, images,
                                [this](const std::string& m) { ShowOrLog(m); });
            c.SetEmailImages(images);
        }
    } catch (const std::exception& e) {
        ErrorText = std::string("Error: ") + e.what();
        AddLogLine(ErrorText);
        HadError = true;
        return;
    }
    c.SetContentType(Job.IsHtml ? smtp::smtpHtml : smtp::smtpPlainText);
    if (!Job.IsHtml)
        c.PlainText = Job.MessageLines;
    else
        c.HtmlText = !Job.TemplateLines.Lines().empty() ? Job.TemplateLines.Lines() : Job.MessageLines;
    c.ConfirmReceipt = Job.WantReceipt;
    c.XMailer = std::string("PLONEMAIL Ver. ") + ProgramVersion;
    ChooseCharsets();
}

// Header texts are UTF-8 by now while bodies are still in the ANSI code page.
// The client is told so, its headers are always encoded words (raw 8-bit
// headers are not decoded reliably), the text part keeps iso-8859-1 only when
// every letter fits it, and the HTML part is labelled with the code page its
// bytes are really in.
void TfrmSendEMail::ChooseCharsets()
{
    auto& c = *smtpClient;
    const std::uint32_t ansi = platform::SystemAnsiCodePage();
    c.HeaderCodePage = platform::CP_UTF8;
    c.Allow8bitChars = false;
    bool latin1 = true;
    for (const std::string* text : {&c.HdrFrom, &c.HdrTo, &c.HdrCc, &c.HdrSubject})
        latin1 = latin1 && FitsLatin1(*text, platform::CP_UTF8);
    for (auto& line : c.PlainText)
        latin1 = latin1 && FitsLatin1(line, ansi);
    if (!latin1)
        c.SetCharSet("utf-8");
    const std::string ansiName = mime::CodePageToCharset(ansi);
    if (!ansiName.empty())
        c.SetHtmlCharSet(ansiName);
}

void TfrmSendEMail::StartConnect()
{
    AddLogLine("Connecting to smtp server...");
    try {
        smtpClient->Connect();
    } catch (const std::exception& e) {
        ErrorText = std::string("Error: ") + e.what();
        AddLogLine(ErrorText);
        smtpClient->Abort();
        HadError = true;
        return;
    }
    progressTimer_ = std::make_unique<net::TKvTimer>(smtpClient.get());
    progressTimer_->SetInterval(kProgressCheckMs);
    progressTimer_->SetOnTimer([this](net::TKvTimer&) { CheckProgress(); });
    Progress();
}

void TfrmSendEMail::Progress()
{
    lastProgress_ = platform::TickCount();
}

// A request that makes no progress for Timeout seconds fails the run: the
// client itself would wait for ever on a silent server.
void TfrmSendEMail::CheckProgress()
{
    const auto limitMs = static_cast<std::uint32_t>(Settings.Timeout) * 1000u;
    if (finished_ || net::TickDiff(lastProgress_, platform::TickCount()) < limitMs)
        return;
    ErrorText = "Error: no response from server within " + std::to_string(Settings.Timeout) + " seconds";
    Fail(smtpClient->RequestType(), kErrTimedOut);
}

void TfrmSendEMail::smtpClientDisplay(smtp::TCustomSmtpClient&, const std::string&)
{
}

void TfrmSendEMail::smtpClientCommand(smtp::TCustomSmtpClient& Sender, const std::string& Msg)
{
    Progress();
    // The log file may be readable by others: no password goes into it.
    AddLogLine(Sender.RequestType() == smtp::smtpAuth ? MaskedAuthCommand(Msg) : Msg);
}

void TfrmSendEMail::smtpClientResponse(smtp::TCustomSmtpClient&, const std::string& Msg)
{
    Progress();
    AddLogLine(Msg);
    int code = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        if (i >= Msg.size() || Msg[i] < '0' || Msg[i] > '9') {
            code = 0;
            break;
        }
        code = code * 10 + (Msg[i] - '0');
    }
    LastReplyText = Msg.size() > 4 ? Msg.substr(4) : std::string();
    if (code >= 420) {
        ErrorText = Msg;
        HadError = true;
        if (FirstErrorReply.empty())
            FirstErrorReply = Msg;
    }
}

void TfrmSendEMail::Fail(smtp::TSmtpRequest request, std::uint16_t errorCode)
{
    finished_ = true;
    StepText = "Error sending Email, Step: " + std::to_string(static_cast<int>(request)) +
               " Error: " + std::to_string(errorCode);
    HadError = true;
    FinishFailed();
    smtpClient->Abort();
    Close();
}

void TfrmSendEMail::smtpClientRequestDone(smtp::TCustomSmtpClient&, smtp::TSmtpRequest RqType,
                                          std::uint16_t ErrorCode)
{
    if (finished_)
        return;
    Progress();
    if (ErrorCode != 0) {
        Fail(RqType, ErrorCode);
        return;
    }
    if (smtpClient->AuthType != smtp::smtpAuthNone && RqType == smtp::smtpAuth)
        smtpClient->FromName = Settings.From;
    StartNext(RqType);
    if (RqType == smtp::smtpQuit)
        FinishSent();
}

void TfrmSendEMail::StartNext(smtp::TSmtpRequest completed)
{
    if (completed == smtp::smtpQuit) {
        AddLogLine("Email sended!");
        return;
    }
    const std::optional<smtp::TSmtpRequest> next = NextRequest(*smtpClient, completed);
    if (!next)
        return;
    try {
        StartRequest(*smtpClient, *next);
    } catch (const std::exception& e) {
        // A request the client refuses to start (no recipients, say) fails
        // the run like a refused one.
        ErrorText = std::string("Error: ") + e.what();
        Fail(*next, kErrClient);
    }
}

std::optional<smtp::TSmtpRequest> NextRequest(smtp::TCustomSslSmtpSender& client, smtp::TSmtpRequest completed)
{
    using namespace smtp;
    const bool auth = client.AuthType != smtpAuthNone;
    // STARTTLS needs EHLO before it, and EHLO is said again over TLS.
    const bool startTls = client.SslType == smtpTlsExplicit;
    const bool ehlo = auth || startTls;
    switch (completed) {
    case smtpConnect: return ehlo ? smtpEhlo : smtpHelo;
    case smtpHelo: return ehlo ? std::nullopt : std::optional(smtpMailFrom);
    case smtpEhlo:
        if (startTls && !client.SslActive())
            return smtpStartTls;
        if (auth)
            return smtpAuth;
        return ehlo ? std::optional(smtpMailFrom) : std::nullopt;
    case smtpStartTls: return smtpEhlo;
    case smtpAuth: return auth ? std::optional(smtpMailFrom) : std::nullopt;
    case smtpMailFrom: return smtpRcptTo;
    case smtpRcptTo: return smtpData;
    case smtpData: return smtpQuit;
    default: return std::nullopt;
    }
}

void StartRequest(smtp::TCustomSslSmtpSender& client, smtp::TSmtpRequest request)
{
    using namespace smtp;
    switch (request) {
    case smtpHelo: client.Helo(); break;
    case smtpEhlo: client.Ehlo(); break;
    case smtpStartTls: client.StartTls(); break;
    case smtpAuth: client.Auth(); break;
    case smtpMailFrom: client.MailFrom(); break;
    case smtpRcptTo: client.RcptTo(); break;
    case smtpData: client.Data(); break;
    case smtpQuit: client.Quit(); break;
    default: throw SmtpException("Request " + std::to_string(static_cast<int>(request)) + " is not in the chain");
    }
}

void TfrmSendEMail::FinishSent()
{
    finished_ = true;
    sent_ = true;
    log_.CloseLogFile();
    if (ShowStatus)
        console_.MessageBox(frmSendEMail.Caption, HadError ? LastReplyText : "The EMAIL has been Sent");
    Close();
}

void TfrmSendEMail::FinishFailed()
{
    AddLogLine(StepText);
    // Only a server reply of 420 or more fills ErrorText; a failure without
    // one (a TLS failure, a refused connection, a time-out) says why with the
    // client's own text.
    if (ErrorText.empty())
        ErrorText = !smtpClient->ErrorMessage().empty() ? smtpClient->ErrorMessage() : smtpClient->LastResponse();
    AddLogLine(ErrorText);
    if (ShowStatus)
        console_.MessageBox(frmSendEMail.Caption, "ERROR No Email Sent");
}

void TfrmSendEMail::RunMessageLoop()
{
    auto& loop = platform::TEventLoop::Current();
    platform::TQueuedMessage msg;
    while (!closed_ && smtpClient && loop.GetMessage(msg))
        platform::TEventLoop::DispatchMessage(msg);
    progressTimer_.reset();
}

} // namespace runner
