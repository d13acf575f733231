#include "smtp/HtmlSmtpSender.h"

#include "smtp/AttachmentReader.h"

namespace smtp {

THtmlSmtpSender::THtmlSmtpSender() : FHtmlCharSet(mime::ResolveCharset(CharSet()))
{
    SetContentType(smtpHtml);
}

void THtmlSmtpSender::SetEmailImages(const std::vector<std::string>& images)
{
    AssignExistingFiles(FEmailImages, images);
}

void THtmlSmtpSender::SetHtmlCharSet(const std::string& value)
{
    FHtmlCharSet = mime::ResolveCharset(value);
    if (!FHtmlCharSet.Supported)
        throw SmtpException("Charset \"" + value + "\" is not supported");
}

void THtmlSmtpSender::PrepareEmail()
{
    if (!HtmlMode()) {
        PreparePlain(PlainText, false);
        return;
    }
    BindHost();
    // The plain layout's boundary would otherwise rewrite this header.
    PlainBody().ClearBoundary();
    THtmlContent content;
    content.PlainText = PlainText;
    content.HtmlText = HtmlText;
    content.EmailImages = FEmailImages;
    content.EmailFiles = EmailFiles();
    content.HtmlCharSet = FHtmlCharSet.Name;
    content.HtmlCodePage = FHtmlCharSet.CodePage;
    content.HtmlMultiByte = FHtmlCharSet.MultiByte;
    content.HtmlConvertToCharset = HtmlConvertToCharset;
    content.HtmlImageCidSuffix = HtmlImageCidSuffix;
    FHtmlBody.Prepare(ComposerSettings(), content);
}

void THtmlSmtpSender::DoProcessHeader(mime::TSmtpHeaderLines& hdrLines)
{
    if (HtmlMode())
        FHtmlBody.ProcessHeader(hdrLines);
    TCustomSslSmtpSender::DoProcessHeader(hdrLines);
}

void THtmlSmtpSender::DoGetData(int lineNum, std::string& msgLine, int maxLen, bool& more)
{
    if (!HtmlMode()) {
        TCustomSslSmtpSender::DoGetData(lineNum, msgLine, maxLen, more);
        return;
    }
    ComposeStep([&] { FHtmlBody.GetData(lineNum, msgLine, maxLen, more); }, msgLine, more);
}

void THtmlSmtpSender::ReleaseAttachmentStream()
{
    FHtmlBody.Close();
    TCustomSslSmtpSender::ReleaseAttachmentStream();
}

} // namespace smtp
