#include "runner/fSendEMail.h"

#include "mime/Charsets.h"
#include "platform/Application.h"
#include "platform/CodePages.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/TextUtil.h"
#include "runner/Usage.h"

namespace runner {

TfrmSendEMail::TfrmSendEMail(platform::TConsole& console, std::string programDir)
    : ProgramDir(std::move(programDir)), console_(console)
{
    log_.OnLine = [this](const std::string& line) {
        if (shown_)
            console_.ShowLine(line);
    };
    CreateComponents();
}

int TfrmSendEMail::Execute(const std::vector<std::string>& args)
{
    try {
        FormCreate(args);
        if (ShowStatus)
            Show();
        RunMessageLoop();
    } catch (const std::exception& e) {
        // Whatever went wrong, the run ends with its reason in the log.
        if (!finished_ && !closed_) {
            finished_ = true;
            StartFailed(e);
            AddLogLine("End with errors.");
            log_.CloseLogFile();
        }
    }
    return ExitCode();
}

void TfrmSendEMail::FormCreate(const std::vector<std::string>& args)
{
    ReadCommandLine(args);
    HadError = false;
    ErrorText.clear();
    StepText.clear();
    LastReplyText.clear();
    FirstErrorReply.clear();
    RunJob();
}

void TfrmSendEMail::ReadCommandLine(const std::vector<std::string>& args)
{
    args_ = args;
    DeleteJob = true;
    ShowErrors = true;
    ShowStatus = false;
    SendErrorMail = false;
    LogArg.clear();
    ErrorMailTo.clear();
    SettingsPath = ProgramDir + platform::PathDelim + "plonEmail.dat";

    auto valueAfter = [&](std::size_t i) { return i + 1 < args.size() ? args[i + 1] : std::string(); };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string word = platform::UpperAscii(args[i]);
        if (word == "/NODEL")
            DeleteJob = false;
        else if (word == "/NOERROR" || word == "/NOERRORS" || word == "/NOERRORES")
            ShowErrors = false;
        else if (word == "/LOG")
            LogArg = valueAfter(i);
        else if (word == "/STAT")
            ShowStatus = true;
        else if (word == "/LOGEMAIL") {
            SendErrorMail = true;
            ErrorMailTo = valueAfter(i);
        } else if (word == "/CFG")
            SettingsPath = valueAfter(i);
    }

    if (platform::LowerAscii(SettingsPath).find(".dat") == std::string::npos)
        SettingsPath += ".dat";
    if (!platform::HasDirectoryPart(SettingsPath))
        SettingsPath = ProgramDir + platform::PathDelim + SettingsPath;
    else if (!platform::IsAbsolutePath(SettingsPath) && !platform::FileExists(SettingsPath))
        SettingsPath = ProgramDir + platform::PathDelim + SettingsPath;
}

void TfrmSendEMail::Unusable(const std::string& message)
{
    unusable_ = true;
    console_.Error(message);
    AddLogLine(message);
    Close();
}

bool TfrmSendEMail::ReadSettings()
{
    std::optional<platform::SystemError> err;
    Settings = ReadSettingsFile(SettingsPath, err);
    if (err) {
        Unusable("Cannot read settings file " + SettingsPath + ": " + err->Message);
        return false;
    }
    if (!Settings.CodePage.empty())
        platform::SetAnsiCodePageOverride(CodePageFromSetting(Settings.CodePage));
    return true;
}

void TfrmSendEMail::RunJob()
{
    if (!platform::FileExists(SettingsPath)) {
        if (auto err = platform::CreateEmptyFile(SettingsPath)) {
            Unusable("Cannot create settings file " + SettingsPath + ": " + err->Message);
            return;
        }
    }
    if (!ReadSettings())
        return;
    TranslateTexts();
    if (Settings.SaveLog)
        log_.OpenLogFile(LogArg, ProgramDir);

    if (!args_.empty()) {
        JobPath = args_[0];
        try {
            SendJobMail();
        } catch (const std::exception& e) {
            StartFailed(e);
        }
    } else {
        Close();
    }
    FreeWorkingLists();

    if (HadError) {
        AddLogLine("End with errors.");
        log_.CloseLogFile();
        Close();
    }
}

void TfrmSendEMail::TranslateTexts()
{
    Lang.LanguageFile = ProgramDir + platform::PathDelim + Settings.Language;
    Lang.ObjStart = &platform::TApplication::Instance().Component();
    Lang.Translate();
}

// The client holds copies of what it needs; the texts of the mail stay for
// the error report.
void TfrmSendEMail::FreeWorkingLists()
{
    TJobModel texts;
    texts.FromHeader = std::move(Job.FromHeader);
    texts.ToList = std::move(Job.ToList);
    texts.CcList = std::move(Job.CcList);
    texts.BccList = std::move(Job.BccList);
    texts.Subject = std::move(Job.Subject);
    Job = std::move(texts);
}

void TfrmSendEMail::SendJobMail()
{
    if (!ReadJob())
        return;
    ApplyJobOverrides();
    // A run refused for its settings keeps its job script for a second try.
    if (auto problem = SettingsProblem(Settings)) {
        Unusable(*problem);
        log_.CloseLogFile();
        return;
    }
    // Deleted before anything is sent, whatever the outcome of the send.
    if (DeleteJob && platform::FileExists(JobPath))
        platform::DeleteFileAt(JobPath);
    EchoJob();
    ConvertJobToUtf8();
    if (IsOAuth(Settings.Auth))
        CreateOAuthSignIn();
    ConfigureClient();
    if (!HadError)
        StartConnect();
}

bool TfrmSendEMail::ReadJob()
{
    Job = TJobModel();
    if (!platform::FileExists(JobPath))
        return true;  // the mail is composed from the settings alone
    if (auto err = platform::ReadTextLines(JobPath, Job.JobLines)) {
        // Not sent, and kept: nothing of it is known.
        ErrorText = "Error: job script " + JobPath + " cannot be read: " + err->Message;
        AddLogLine(ErrorText);
        HadError = true;
        return false;
    }
    TJobScriptReader reader(Job, Settings.OemChars, [this](const std::string& m) { ShowOrLog(m); });
    reader.ReadJobScript();
    return true;
}

void TfrmSendEMail::ApplyJobOverrides()
{
    if (!Job.CfgHost.empty())
        Settings.Host = Job.CfgHost;
    if (!Job.CfgPort.empty())
        Settings.Port = Job.CfgPort;
    if (Job.CfgAuth != -1)
        Settings.Auth = Job.CfgAuth;
    if (!Job.CfgUser.empty())
        Settings.Username = Job.CfgUser;
    if (!Job.CfgPass.empty())
        Settings.Password = Job.CfgPass;
    if (Job.CfgSslType != -1) {
        Settings.SSLType = Job.CfgSslType;
        Settings.UseSSL = Job.CfgUseSsl;
    }
    Settings.OAuth.Override(Job.CfgOAuth);
    if (platform::IsBlank(Settings.From))
        Settings.From = Job.FromAddress;
    if (!platform::IsBlank(Job.FromHeader) && Job.FromHeader.find('<') == std::string::npos)
        Job.FromHeader += " <" + platform::Trim(Settings.From) + ">";
}

void TfrmSendEMail::EchoJob()
{
    AddLogLine(std::string("PLONEMAIL: Ver. ") + ProgramVersion);
    AddLogLine("Host: " + Settings.Host);
    AddLogLine("From: " + SenderHeader());
    AddLogLine("TO: " + Job.ToList);
    AddLogLine("SUBJECT:" + Job.Subject);
}

std::string TfrmSendEMail::SenderHeader() const
{
    return platform::IsBlank(Job.FromHeader) ? Settings.From : Job.FromHeader;
}

void TfrmSendEMail::ConvertJobToUtf8()
{
    for (std::string* text : {&Settings.From, &Job.FromHeader, &Job.ToList, &Job.CcList, &Job.BccList, &Job.Subject})
        *text = AnsiToUtf8(*text);
}

std::string AnsiToUtf8(const std::string& text)
{
    std::string utf8 = mime::ConvertCodePage(text, platform::SystemAnsiCodePage(), platform::CP_UTF8);
    return utf8.empty() && !text.empty() ? text : utf8;  // a failed conversion keeps the text
}

void TfrmSendEMail::ShowOrLog(const std::string& message)
{
    if (ShowErrors)
        console_.MessageBox(frmSendEMail.Caption, message);
    else
        AddLogLine(message);
}

void TfrmSendEMail::Show()
{
    if (shown_)
        return;
    shown_ = true;
    console_.ShowTitle(frmSendEMail.Caption, grpDebug.Caption);
    for (auto& line : log_.DisplayMemo())
        console_.ShowLine(line);
}

void TfrmSendEMail::Close()
{
    closed_ = true;
}

int TfrmSendEMail::ExitCode() const
{
    if (unusable_)
        return exitUnusable;
    if (args_.empty() || sent_)
        return exitSent;
    return exitNotSent;
}

} // namespace runner
