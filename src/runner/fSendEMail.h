#pragma once
#include "lang/LumIdiom.h"
#include "net/SslContext.h"
#include "platform/Console.h"
#include "platform/PublishedComponent.h"
#include "runner/JobScript.h"
#include "runner/ProcessLog.h"
#include "runner/RequestChain.h"
#include "runner/Settings.h"
#include "smtp/HtmlSmtpSender.h"

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace runner {

// Process exit codes; the caller's only machine-readable outcome.
enum TExitCode : int {
    exitSent = 0,      // mail sent, or nothing to send
    exitNotSent = 1,   // a job was given and its mail was not sent
    exitUnusable = 2,  // settings file or command line unusable
};

// A captioned element of the main window; language files address it by name.
struct TCaptioned {
    std::string Name;
    std::string Caption;
    int Width = 0;
    int Height = 0;
};

// The main window: owns the command line, the settings, the process log and
// the run. On this platform it is shown on the console (see TConsole).
class TfrmSendEMail {
public:
    explicit TfrmSendEMail(platform::TConsole& console, std::string programDir);

    // Runs one start of the program with the arguments after the program
    // name, and returns the process exit code.
    int Execute(const std::vector<std::string>& args);

    void FormCreate(const std::vector<std::string>& args);
    void ReadCommandLine(const std::vector<std::string>& args);
    void RunJob();
    void AddLogLine(const std::string& message) { log_.AddLogLine(message); }
    void ShowOrLog(const std::string& message);
    void Show();
    void Close();

    const TProcessLog& Log() const { return log_; }
    int ExitCode() const;

    TCaptioned frmSendEMail {"frmSendEMail", "Send Email", 343, 307};
    TCaptioned grpDebug {"grpDebug", "Process log", 301, 249};

    // Command line.
    std::string ProgramDir;
    std::string SettingsPath;
    std::string JobPath;
    bool DeleteJob = true;
    bool ShowErrors = true;
    bool ShowStatus = false;
    std::string LogArg;
    bool SendErrorMail = false;
    std::string ErrorMailTo;

    // Run state.
    bool HadError = false;
    std::string ErrorText, StepText, LastReplyText, FirstErrorReply;

    TSettings Settings;
    TJobModel Job;

    // The TLS settings of both SMTP clients; it outlives them.
    net::TSslContext SslContext1;
    // Sends the job's mail.
    std::unique_ptr<smtp::TSslHtmlSmtpSender> smtpClient;
    // Sends the error report.
    std::unique_ptr<smtp::TSslHtmlSmtpSender> smtpLog;
    // The language file.
    lang::TLumIdioma Lang;
    // False while the error report is under way.
    bool ErrorMailDone = true;

    void smtpClientDisplay(smtp::TCustomSmtpClient& Sender, const std::string& Msg);
    void smtpClientCommand(smtp::TCustomSmtpClient& Sender, const std::string& Msg);
    void smtpClientResponse(smtp::TCustomSmtpClient& Sender, const std::string& Msg);
    void smtpClientRequestDone(smtp::TCustomSmtpClient& Sender, smtp::TSmtpRequest RqType, std::uint16_t ErrorCode);
    void FinishSent();
    void FinishFailed();

    // Mails the failure to ErrorMailTo; returns when that has ended.
    void SendErrorReport();
    void smtpLogRequestDone(smtp::TCustomSmtpClient& Sender, smtp::TSmtpRequest RqType, std::uint16_t ErrorCode);

private:
    // A request a client refused to start, with the client's reason.
    struct TRefusedRequest {
        smtp::TSmtpRequest Request;
        std::string Message;
    };

    void CreateComponents();
    void PublishComponents();
    void TranslateTexts();
    void FreeWorkingLists();
    bool ReadSettings();
    void SendJobMail();
    // False when the job script exists but cannot be read.
    bool ReadJob();
    void ApplyJobOverrides();
    void EchoJob();
    void ConvertJobToUtf8();
    std::string SenderHeader() const;
    void ConfigureConnection(smtp::TSslHtmlSmtpSender& c);
    void ConfigureTls(smtp::TCustomSslSmtpSender& c);
    void ConfigureClient();
    void ChooseCharsets();
    void StartConnect();
    // A run that cannot go on: "Error: " and the reason in the log.
    void StartFailed(const std::exception& e);
    std::optional<TRefusedRequest> ContinueChain(smtp::TCustomSslSmtpSender& c, smtp::TSmtpRequest completed);
    void Fail(smtp::TSmtpRequest request, std::uint16_t errorCode);
    void Progress();
    long ProgressLimit() const;
    void Stalled();
    void EndAfterQuit(const std::string& why);
    std::uint32_t TimeoutMs() const;
    void RunMessageLoop();
    void Unusable(const std::string& message);

    void ConfigureReport();
    std::vector<std::string> ReportBody() const;
    void WaitForReport();
    void ReportProgress();
    void ReportFailed(smtp::TSmtpRequest request, std::uint16_t errorCode, const std::string& reason);

    platform::TConsole& console_;
    TProcessLog log_;
    std::vector<std::string> args_;
    bool shown_ = false;
    bool closed_ = false;
    bool sent_ = false;
    bool unusable_ = false;
    bool finished_ = false;  // the run has ended; late completions are ignored
    bool dataReplyDue_ = false;  // the final "." waits for its reply
    bool dataAccepted_ = false;  // the server has accepted the message
    std::unique_ptr<TStallTimer> progressTimer_;
    std::unique_ptr<TStallTimer> reportTimer_;

    // Registry entries of the window and its components; declared last so
    // that they go before the objects their properties reach.
    std::vector<std::unique_ptr<platform::TPublishedComponent>> entries_;
};

// The text converted from the system ANSI code page to UTF-8; unchanged
// when it cannot be converted.
std::string AnsiToUtf8(const std::string& text);

} // namespace runner
