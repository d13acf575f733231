// The send run of the main window: the SMTP client is configured from the
// job and the settings, and each completed request starts the next one.
#include "runner/fSendEMail.h"

#include "mime/Charsets.h"
#include "mime/HtmlPlainText.h"
#include "platform/CodePages.h"
#include "platform/EventLoop.h"
#include "platform/Paths.h"
#include "platform/TextUtil.h"
#include "runner/Usage.h"
#include "smtp/SmtpReply.h"
#include "template/Images.h"

#include <algorithm>
#include <exception>

namespace runner {

namespace {

constexpr std::uint32_t kCpLatin1 = 28591;
// Once the message is accepted only QUIT is left: its reply and the close
// after it are waited for a few seconds at most.
constexpr long kQuitWaitSeconds = 5;
// The millisecond tick difference spans 24 days; longer limits are cut.
constexpr long kLongestWaitSeconds = 2'000'000;

std::uint32_t SecondsToMs(long seconds)
{
    return static_cast<std::uint32_t>(std::min(seconds, kLongestWaitSeconds)) * 1000u;
}

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

// Server and account, the same for the job's mail and the error report.
void TfrmSendEMail::ConfigureConnection(smtp::TSslHtmlSmtpSender& c)
{
    c.Host = Settings.Host;
    c.Port = Settings.Port;
    c.SignOn.clear();
    c.AuthType = static_cast<smtp::TSmtpAuthType>(Settings.Auth);
    c.Username = Settings.Username;
    c.Password = Settings.Password;
    // The run's token, fetched now unless it has one that is still good.
    if (oauth_)
        c.AccessToken = oauth_->Token();
    // With authentication the envelope sender is set once AUTH has passed.
    if (c.AuthType == smtp::smtpAuthNone)
        c.FromName = Settings.From;
    ConfigureTls(c);
}

// TLS as the settings ask. The context is only described here: OpenSSL
// starts, and the context is made, when a TLS connection starts.
void TfrmSendEMail::ConfigureTls(smtp::TCustomSslSmtpSender& c)
{
    SslContext1.SetSslVerifyPeer(Settings.VerifyPeer);
    SslContext1.SslCAFile = CAFilePath();
    c.SetSslContext(&SslContext1);
    if (!Settings.UseSSL)
        return;
    c.SslType = static_cast<smtp::TSmtpSslType>(Settings.SSLType);
    if (c.SslType != smtp::smtpTlsNone) {
        c.SetOnSslVerifyPeer(nullptr);
        c.OnSslHandshakeDone = nullptr;
    }
}

void TfrmSendEMail::CreateOAuthSignIn()
{
    TOAuthSignIn::TOptions options {Settings.Username, platform::PrivateDataPath(SettingsPath, ".tokens"),
                                    CAFilePath(), TimeoutMs(), std::string("plonemail/") + ProgramVersion};
    oauth_ = std::make_unique<TOAuthSignIn>(Settings.OAuth, std::move(options),
                                            [this](const std::string& line) { AddLogLine(line); });
}

// A bare file name is taken beside the program.
std::string TfrmSendEMail::CAFilePath() const
{
    const std::string& caFile = Settings.CAFile;
    return caFile.empty() || platform::HasDirectoryPart(caFile) ? caFile : ProgramDir + platform::PathDelim + caFile;
}

bool TfrmSendEMail::RetrySignIn(smtp::TCustomSslSmtpSender& c, smtp::TSmtpRequest request, std::uint16_t errorCode)
{
    if (!oauth_ || request != smtp::smtpAuth || errorCode == 0)
        return false;
    if (!c.OAuthError().empty())
        AddLogLine("OAuth error: " + c.OAuthError());
    // 535: credentials invalid; an error challenge says the same of the token.
    const bool tokenRefused = errorCode == kErrCredentials || !c.OAuthError().empty();
    if (!tokenRefused || !oauth_->TokenRefused())
        return false;
    AddLogLine("The server refused the cached OAuth token; signing in with a new one");
    c.AccessToken = oauth_->Token();
    StartRequest(c, smtp::smtpAuth);
    return true;
}

void TfrmSendEMail::ConfigureClient()
{
    auto& c = *smtpClient;
    ConfigureConnection(c);
    c.HdrFrom = SenderHeader();
    c.HdrTo = Job.ToList;
    c.HdrCc = Job.CcList;
    c.HdrSubject = Job.Subject;
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
        StartFailed(e);
        return;
    }
    c.SetContentType(Job.IsHtml ? smtp::smtpHtml : smtp::smtpPlainText);
    if (!Job.IsHtml) {
        c.PlainText = Job.MessageLines;
    } else {
        c.HtmlText = !Job.TemplateLines.Lines().empty() ? Job.TemplateLines.Lines() : Job.MessageLines;
        // A reader set to plain text sees this instead of an empty part. It is
        // in the system code page, as the HTML is, so the charset choice
        // below takes it into account.
        c.PlainText = mime::HtmlToPlainText(c.HtmlText, platform::SystemAnsiCodePage());
    }
    c.ConfirmReceipt = Job.WantReceipt;
    c.XMailer = std::string("PLONEMAIL Ver. ") + ProgramVersion;
    ChooseCharsets();
}

// Header texts are UTF-8 by now while bodies are still in the ANSI code page.
// The client is told so, its headers are always encoded words (raw 8-bit
// headers are not decoded reliably), the text part keeps iso-8859-1 only when
// every letter fits it, file names included, and the HTML part is labelled
// with the code page its bytes are really in.
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
    // Attachment and image names are written in the text part's charset.
    for (const auto* files : {&c.EmailFiles(), &c.EmailImages()})
        for (const std::string& path : *files)
            latin1 = latin1 && FitsLatin1(platform::FileNameOfPath(path), ansi);
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
        StartFailed(e);
        return;
    }
    // A request that makes no progress within its limit fails the run.
    progressTimer_ = std::make_unique<TStallTimer>(
        *smtpClient, [this] { return SecondsToMs(ProgressLimit()); }, [this] { Stalled(); });
}

void TfrmSendEMail::StartFailed(const std::exception& e)
{
    ErrorText = std::string("Error: ") + e.what();
    AddLogLine(ErrorText);
    HadError = true;
    if (smtpClient) {
        try {
            smtpClient->Abort();
        } catch (const std::exception&) {
            // Nothing was sent; the run ends anyway.
        }
    }
}

// Seconds the current wait of the job's mail may last without progress.
long TfrmSendEMail::ProgressLimit() const
{
    if (dataAccepted_)
        return std::min(Settings.Timeout, kQuitWaitSeconds);
    if (dataReplyDue_)
        return std::max(Settings.Timeout, Settings.DataTimeout);
    return Settings.Timeout;
}

// The client itself would wait for ever on a silent server. Progress is a
// command or line sent, or a complete reply: a reply whose continuation
// lines never end is no progress.
void TfrmSendEMail::Stalled()
{
    if (finished_)
        return;
    const std::string seconds = std::to_string(ProgressLimit()) + " seconds";
    if (dataAccepted_) {
        EndAfterQuit(smtpClient->StatusCode() == 221
                         ? "The server did not close the connection within " + seconds + " after QUIT; closed"
                         : "No reply to QUIT within " + seconds + ", the mail was accepted before it");
        return;
    }
    ErrorText = "Error: no response from server within " + seconds;
    Fail(smtpClient->RequestType(), kErrTimedOut);
}

std::uint32_t TfrmSendEMail::TimeoutMs() const
{
    return SecondsToMs(Settings.Timeout);
}

void TfrmSendEMail::Progress()
{
    if (progressTimer_)
        progressTimer_->Progress();
}

void TfrmSendEMail::smtpClientDisplay(smtp::TCustomSmtpClient&, const std::string&)
{
}

// Once the run has ended nothing more of the client reaches the log.
void TfrmSendEMail::smtpClientCommand(smtp::TCustomSmtpClient& Sender, const std::string& Msg)
{
    if (finished_)
        return;
    Progress();
    dataReplyDue_ = Msg == ".";
    // The log file may be readable by others: no password goes into it.
    AddLogLine(Sender.RequestType() == smtp::smtpAuth ? MaskedAuthCommand(Msg) : Msg);
}

void TfrmSendEMail::smtpClientResponse(smtp::TCustomSmtpClient&, const std::string& Msg)
{
    if (finished_)
        return;
    if (!smtp::ParseReplyLine(Msg).Continuation) {
        Progress();
        dataReplyDue_ = false;
    }
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
    StepText = Lang.TranslateMessage("Error sending Email") + ", Step: " +
               std::to_string(static_cast<int>(request)) + " Error: " + std::to_string(errorCode);
    // Only a server reply of 420 or more fills ErrorText; a failure without
    // one (a TLS failure, a refused connection, a time-out) says why with the
    // client's own text.
    if (ErrorText.empty())
        ErrorText = !smtpClient->ErrorMessage().empty() ? smtpClient->ErrorMessage() : smtpClient->LastResponse();
    HadError = true;
    // The failed client stops before the error report pumps messages: a
    // request cut off by the time limit must not go on meanwhile (a DATA
    // could still complete the mail that is being reported as not sent).
    smtpClient->Abort();
    FinishFailed();
    Close();
}

void TfrmSendEMail::smtpClientRequestDone(smtp::TCustomSmtpClient&, smtp::TSmtpRequest RqType,
                                          std::uint16_t ErrorCode)
{
    if (finished_)
        return;
    Progress();
    if (ErrorCode != 0 && RqType == smtp::smtpQuit && dataAccepted_) {
        EndAfterQuit("QUIT not completed (Error: " + std::to_string(ErrorCode) + "), the mail was accepted before it");
        return;
    }
    if (ErrorCode != 0) {
        try {
            if (RetrySignIn(*smtpClient, RqType, ErrorCode)) {
                // The refusal has been answered; it is no error of the run.
                HadError = false;
                ErrorText.clear();
                FirstErrorReply.clear();
                return;
            }
        } catch (const std::exception& e) {
            ErrorText = std::string("Error: ") + e.what();
        }
        Fail(RqType, ErrorCode);
        return;
    }
    if (RqType == smtp::smtpData)
        dataAccepted_ = true;
    if (auto refused = ContinueChain(*smtpClient, RqType)) {
        // A request the client refuses to start (no recipients, say) fails
        // the run like a refused one.
        ErrorText = "Error: " + refused->Message;
        Fail(refused->Request, kErrClient);
        return;
    }
    if (RqType == smtp::smtpQuit) {
        AddLogLine("Email sended!");
        FinishSent();
    }
}

// What both clients do after a request succeeded: the envelope sender once
// AUTH has passed, then the next request of the chain.
std::optional<TfrmSendEMail::TRefusedRequest> TfrmSendEMail::ContinueChain(smtp::TCustomSslSmtpSender& c,
                                                                           smtp::TSmtpRequest completed)
{
    if (c.AuthType != smtp::smtpAuthNone && completed == smtp::smtpAuth)
        c.FromName = Settings.From;
    const auto next = NextRequest(c, completed);
    if (!next)
        return std::nullopt;
    try {
        StartRequest(c, *next);
    } catch (const std::exception& e) {
        return TRefusedRequest {*next, e.what()};
    }
    return std::nullopt;
}

// The server has accepted the message: whatever becomes of QUIT, the mail
// is sent (a caller that retried would send it twice).
void TfrmSendEMail::EndAfterQuit(const std::string& why)
{
    AddLogLine(why);
    finished_ = true;  // the report of the aborted QUIT no longer counts
    smtpClient->Abort();
    AddLogLine("Email sended!");
    FinishSent();
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
    AddLogLine(ErrorText);
    if (ShowStatus)
        console_.MessageBox(frmSendEMail.Caption, "ERROR No Email Sent");
    if (SendErrorMail)
        SendErrorReport();
}

void TfrmSendEMail::RunMessageLoop()
{
    auto& loop = platform::TEventLoop::Current();
    platform::TQueuedMessage msg;
    while (!closed_ && loop.GetMessage(msg))
        platform::TEventLoop::DispatchMessage(msg);
    progressTimer_.reset();
}

} // namespace runner
