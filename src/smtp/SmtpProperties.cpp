// The published properties of the SMTP clients that can be reached by name:
// texts, integers and lists of lines.
#include "smtp/HtmlSmtpSender.h"

namespace smtp {

void TCustomSmtpClient::PublishProperties(platform::TPublishedComponent& entry)
{
    for (auto [name, field] : {std::pair {"Host", &Host}, {"Port", &Port}, {"LocalAddr", &LocalAddr},
                               {"LocalAddr6", &LocalAddr6}, {"SignOn", &SignOn}, {"Username", &Username},
                               {"Password", &Password}, {"FromName", &FromName}, {"HdrFrom", &HdrFrom},
                               {"HdrTo", &HdrTo}, {"HdrCc", &HdrCc}, {"HdrReplyTo", &HdrReplyTo},
                               {"HdrReturnPath", &HdrReturnPath}, {"HdrSubject", &HdrSubject},
                               {"HdrSender", &HdrSender}, {"XMailer", &XMailer}})
        entry.PublishText(name, *field);
    entry.PublishText("CharSet", [this] { return CharSet(); }, [this](const std::string& v) { SetCharSet(v); });
    entry.PublishInteger("WrapMsgMaxLineLen", [this] { return static_cast<long>(WrapMsgMaxLineLen()); },
                         [this](long v) { SetWrapMsgMaxLineLen(static_cast<int>(v)); });
    entry.PublishInteger("Tag", Tag);
    entry.PublishLines("RcptName", RcptName);
    entry.PublishLines("MailMessage", MailMessage);
}

void TSmtpSender::PublishProperties(platform::TPublishedComponent& entry)
{
    TCustomSmtpClient::PublishProperties(entry);
    entry.PublishLines("EmailFiles", [this] { return EmailFiles(); },
                       [this](const std::vector<std::string>& v) { SetEmailFiles(v); });
}

void THtmlSmtpSender::PublishProperties(platform::TPublishedComponent& entry)
{
    TSmtpSender::PublishProperties(entry);
    entry.PublishLines("PlainText", PlainText);
    entry.PublishLines("HtmlText", HtmlText);
    entry.PublishLines("EmailImages", [this] { return EmailImages(); },
                       [this](const std::vector<std::string>& v) { SetEmailImages(v); });
    entry.PublishText("HtmlCharSet", [this] { return HtmlCharSet(); },
                      [this](const std::string& v) { SetHtmlCharSet(v); });
    entry.PublishText("HtmlImageCidSuffix", HtmlImageCidSuffix);
}

} // namespace smtp
