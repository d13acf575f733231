#pragma once
// The HTML mail client: an HTML text with its plain-text alternative and
// embedded images, and attachment files; with ContentType smtpPlainText it
// sends PlainText as the plain client does.

#include "smtp/CustomSslSmtpSender.h"
#include "smtp/HtmlBody.h"

#include <string>
#include <vector>

namespace smtp {

class THtmlSmtpSender : public TCustomSslSmtpSender {
public:
    THtmlSmtpSender();

    std::vector<std::string> PlainText;
    std::vector<std::string> HtmlText;
    // Appended to every image's Content-ID after its number.
    std::string HtmlImageCidSuffix;
    // Converts HtmlText from the system code page to HtmlCharSet.
    bool HtmlConvertToCharset = false;

    const std::vector<std::string>& EmailImages() const { return FEmailImages; }
    // Raises SmtpException "File not found '<path>'" for a missing file.
    void SetEmailImages(const std::vector<std::string>& images);

    const std::string& HtmlCharSet() const { return FHtmlCharSet.Name; }
    // As SetCharSet, for the HTML part.
    void SetHtmlCharSet(const std::string& value);

    // The layout's boundaries of the last message.
    const THtmlBody& HtmlBody() const { return FHtmlBody; }

    void PublishProperties(platform::TPublishedComponent& entry) override;

protected:
    void ReleaseAttachmentStream() override;
    void PrepareEmail() override;
    void DoProcessHeader(mime::TSmtpHeaderLines& hdrLines) override;
    void DoGetData(int lineNum, std::string& msgLine, int maxLen, bool& more) override;

private:
    bool HtmlMode() const { return ContentType() == smtpHtml; }

    std::vector<std::string> FEmailImages;
    mime::TCharsetChoice FHtmlCharSet;
    THtmlBody FHtmlBody {ComposerHost()};
};

// The class the mail runner instantiates.
class TSslHtmlSmtpSender : public THtmlSmtpSender {
public:
    using THtmlSmtpSender::THtmlSmtpSender;
};

} // namespace smtp
