// The components of the main window with their design values, and their
// entries in the named component tree that language files address.
#include "runner/fSendEMail.h"

#include "platform/Application.h"
#include "smtp/SmtpReply.h"

namespace runner {

namespace {

void ApplyDesignValues(smtp::TSslHtmlSmtpSender& c)
{
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
}

void PublishCaptioned(platform::TPublishedComponent& entry, TCaptioned& element)
{
    entry.PublishText("Caption", element.Caption);
    entry.PublishInteger("Width", element.Width);
    entry.PublishInteger("Height", element.Height);
}

} // namespace

void TfrmSendEMail::CreateComponents()
{
    using namespace std::placeholders;
    smtpClient = std::make_unique<smtp::TSslHtmlSmtpSender>();
    ApplyDesignValues(*smtpClient);
    auto& c = *smtpClient;
    c.OnDisplay = std::bind(&TfrmSendEMail::smtpClientDisplay, this, _1, _2);
    c.OnCommand = std::bind(&TfrmSendEMail::smtpClientCommand, this, _1, _2);
    c.OnResponse = std::bind(&TfrmSendEMail::smtpClientResponse, this, _1, _2);
    c.OnRequestDone = std::bind(&TfrmSendEMail::smtpClientRequestDone, this, _1, _2, _3);
    c.OnMessageDataSent = [this](smtp::TCustomSmtpClient&, int) { Progress(); };

    smtpLog = std::make_unique<smtp::TSslHtmlSmtpSender>();
    ApplyDesignValues(*smtpLog);
    auto& r = *smtpLog;
    r.ConvertToCharset = false;
    r.DefaultEncoding = smtp::smtpEnc7bit;
    r.FoldHeaders = false;
    r.OnRequestDone = std::bind(&TfrmSendEMail::smtpLogRequestDone, this, _1, _2, _3);
    // Only the time limit watches the report's dialogue; it is not logged.
    r.OnCommand = [this](smtp::TCustomSmtpClient&, const std::string&) { ReportProgress(); };
    r.OnResponse = [this](smtp::TCustomSmtpClient&, const std::string& line) {
        if (!smtp::ParseReplyLine(line).Continuation)
            ReportProgress();
    };
    r.OnMessageDataSent = [this](smtp::TCustomSmtpClient&, int) { ReportProgress(); };

    // The one design value of the TLS context that differs from its default.
    SslContext1.SslVersionMethod = net::sslV23;
    Lang.LanguageFile = "ENGLISH.LNG";
    PublishComponents();
}

void TfrmSendEMail::PublishComponents()
{
    auto add = [this](const std::string& name, platform::TPublishedComponent* owner,
                      platform::TComponentRole role = platform::TComponentRole::Component) {
        entries_.push_back(std::make_unique<platform::TPublishedComponent>(name, owner, role));
        return entries_.back().get();
    };
    auto* form = add(frmSendEMail.Name, &platform::TApplication::Instance().Component(),
                     platform::TComponentRole::Form);
    PublishCaptioned(*form, frmSendEMail);
    PublishCaptioned(*add(grpDebug.Name, form), grpDebug);
    add("DisplayMemo", form)->PublishLines(
        "Lines", [this] { return std::vector<std::string>(log_.DisplayMemo().begin(), log_.DisplayMemo().end()); },
        [this](const std::vector<std::string>& lines) { log_.SetDisplayMemo(lines); });
    smtpClient->PublishProperties(*add("smtpClient", form));
    smtpLog->PublishProperties(*add("smtpLog", form));
    Lang.PublishProperties(*add("Lang", form));
    SslContext1.PublishProperties(*add("SslContext1", form));
}

} // namespace runner
