// The error report: after a failed delivery a short plain-text mail to the
// /LOGEMAIL address, sent through the second client from inside the failure
// handling, which waits for it.
#include "runner/fSendEMail.h"

#include "mime/TextEncoders.h"
#include "platform/Application.h"
#include "platform/CodePages.h"
#include "platform/EventLoop.h"
#include "platform/TextUtil.h"
#include "runner/Usage.h"

#include <exception>

namespace runner {

namespace {

// Longest sleep of the report's wait between two rounds of messages.
constexpr int kReportWaitMs = 100;

} // namespace

void TfrmSendEMail::SendErrorReport()
{
    if (platform::IsBlank(ErrorMailTo)) {
        AddLogLine("Error on Send LogEmail: /LOGEMAIL gives no address");
        return;
    }
    try {
        ConfigureReport();
        reportTimer_ = std::make_unique<TStallTimer>(*smtpLog, [this] { return TimeoutMs(); }, [this] {
            ReportFailed(smtpLog->RequestType(), kErrTimedOut,
                         "no response from server within " + std::to_string(Settings.Timeout) + " seconds");
        });
        ErrorMailDone = false;
        smtpLog->Connect();
    } catch (const std::exception& e) {
        AddLogLine(std::string("Error on Send LogEmail: ") + e.what());
        smtpLog->Abort();
        ErrorMailDone = true;
    }
    WaitForReport();
    reportTimer_.reset();
    smtpLog->PlainText.clear();
}

void TfrmSendEMail::ConfigureReport()
{
    auto& c = *smtpLog;
    ConfigureConnection(c);
    c.HdrFrom = SenderHeader();
    c.HdrTo = AnsiToUtf8(ErrorMailTo);
    c.HdrSubject = AnsiToUtf8(Lang.TranslateMessage("Error sending Email"));
    c.RcptName.clear();
    c.ParseRecipients(c.HdrTo, "", "");
    c.SetContentType(smtp::smtpPlainText);
    c.PlainText = ReportBody();
    c.XMailer = std::string("PLONEMAIL Ver. ") + ProgramVersion;
    // Every text of the report is UTF-8 by now and is sent as it is: the
    // headers as encoded words, the body labelled utf-8 unless it is ASCII.
    c.HeaderCodePage = platform::CP_UTF8;
    c.Allow8bitChars = false;
    bool ascii = !mime::NeedsEncoding(c.HdrFrom + c.HdrTo + c.HdrSubject);
    for (const std::string& line : c.PlainText)
        ascii = ascii && !mime::NeedsEncoding(line);
    if (!ascii)
        c.SetCharSet("utf-8");
}

// One line per entry; an entry that ends with a line end is followed by an
// empty line.
std::vector<std::string> TfrmSendEMail::ReportBody() const
{
    auto label = [this](const char* english) { return AnsiToUtf8(Lang.TranslateMessage(english)); };
    return {
        label("Error on Send Email"),
        "",
        label("From") + ": " + SenderHeader(),
        label("To") + ": " + Job.ToList,
        label("Subject") + ": " + Job.Subject,
        "",
        label("Message") + ": " + FirstErrorReply,
        "",
        "Program: " + AnsiToUtf8(StepText),
        "",
    };
}

// Handles all pending messages until the report has ended: re-entrant, as
// this runs inside the failure handling of the job's mail.
void TfrmSendEMail::WaitForReport()
{
    auto& application = platform::TApplication::Instance();
    auto& loop = platform::TEventLoop::Current();
    while (!ErrorMailDone) {
        application.ProcessMessages();
        if (!ErrorMailDone)
            loop.WaitMessage(kReportWaitMs);
    }
}

void TfrmSendEMail::ReportProgress()
{
    if (reportTimer_)
        reportTimer_->Progress();
}

void TfrmSendEMail::smtpLogRequestDone(smtp::TCustomSmtpClient&, smtp::TSmtpRequest RqType,
                                       std::uint16_t ErrorCode)
{
    if (ErrorMailDone)
        return;
    ReportProgress();
    if (ErrorCode != 0) {
        std::string reason = smtpLog->ErrorMessage();
        try {
            if (RetrySignIn(*smtpLog, RqType, ErrorCode))
                return;
        } catch (const std::exception& e) {
            reason = e.what();
        }
        ReportFailed(RqType, ErrorCode, reason);
        return;
    }
    if (auto refused = ContinueChain(*smtpLog, RqType)) {
        ReportFailed(refused->Request, kErrClient, refused->Message);
        return;
    }
    if (RqType == smtp::smtpQuit) {
        AddLogLine("LogEmail sended!");
        ErrorMailDone = true;
    }
}

void TfrmSendEMail::ReportFailed(smtp::TSmtpRequest request, std::uint16_t errorCode, const std::string& reason)
{
    StepText = "Error sending Log, Step: " + std::to_string(static_cast<int>(request)) +
               " Error: " + std::to_string(errorCode);
    AddLogLine(StepText);
    // The report's dialogue is not logged, so its reason is.
    if (!reason.empty())
        AddLogLine("Error on Send LogEmail: " + reason);
    smtpLog->Abort();
    ErrorMailDone = true;
}

} // namespace runner
