#pragma once
#include "net/KvTimer.h"
#include "net/SslContext.h"
#include "platform/Console.h"
#include "runner/JobScript.h"
#include "runner/ProcessLog.h"
#include "runner/Settings.h"
#include "smtp/HtmlSmtpSender.h"

#include <cstdint>
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

    TCaptioned frmSendEMail {"frmSendEMail", "Send Email"};
    TCaptioned grpDebug {"grpDebug", "Process log"};

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

    void smtpClientDisplay(smtp::TCustomSmtpClient& Sender, const std::string& Msg);
    void smtpClientCommand(smtp::TCustomSmtpClient& Sender, const std::string& Msg);
    void smtpClientResponse(smtp::TCustomSmtpClient& Sender, const std::string& Msg);
    void smtpClientRequestDone(smtp::TCustomSmtpClient& Sender, smtp::TSmtpRequest RqType, std::uint16_t ErrorCode);
    void FinishSent();
    void FinishFailed();

private:
    bool ReadSettings();
    void SendJobMail();
    void ReadJob();
    void ApplyJobOverrides();
    void EchoJob();
    void ConvertJobToUtf8();
    void CreateSmtpClient();
    void ConfigureClient();
    void ConfigureTls(smtp::TCustomSslSmtpSender& c);
    void ChooseCharsets();
    void StartConnect();
    void StartNext(smtp::TSmtpRequest completed);
    void Fail(smtp::TSmtpRequest request, std::uint16_t errorCode);
    void Progress();
    void CheckProgress();
    void RunMessageLoop();
    void Unusable(const std::string& message);

    platform::TConsole& console_;
    TProcessLog log_;
    std::vector<std::string> args_;
    bool shown_ = false;
    bool closed_ = false;
    bool sent_ = false;
    bool unusable_ = false;
    bool finished_ = false;  // the run has ended; late completions are ignored
    std::unique_ptr<net::TKvTimer> progressTimer_;
    std::uint32_t lastProgress_ = 0;
};

// The request to start after `completed` succeeded on a client of this run;
// none after QUIT or a request the chain does not use. It follows from the
// client's own settings (authentication, TLS), so every client of the run
// goes the same way: Connect, HELO or EHLO, STARTTLS and EHLO again for
// explicit TLS, AUTH, MAIL FROM, RCPT TO, DATA, QUIT.
std::optional<smtp::TSmtpRequest> NextRequest(smtp::TCustomSslSmtpSender& client, smtp::TSmtpRequest completed);

// Starts one request of that chain; the client raises SmtpException when it
// cannot (no recipient for RCPT TO, say).
void StartRequest(smtp::TCustomSslSmtpSender& client, smtp::TSmtpRequest request);

} // namespace runner
