#include "smtp/SmtpSender.h"

#include "smtp/AttachmentReader.h"

namespace smtp {

namespace {

platform::TFileShare FileShareOf(TSmtpShareMode mode)
{
    switch (mode) {
    case smtpShareCompat: return platform::TFileShare::Compat;
    case smtpShareExclusive: return platform::TFileShare::Exclusive;
    case smtpShareDenyRead: return platform::TFileShare::DenyRead;
    case smtpShareDenyNone: return platform::TFileShare::DenyNone;
    default: return platform::TFileShare::DenyWrite;
    }
}

} // namespace

TSmtpSender::TSmtpSender() { BindHost(); }

void TSmtpSender::BindHost()
{
    // Each callback is set only while its event has a handler: for
    // OnAfterFileOpen "no handler" changes what an open failure does.
    FHost.AttachContentType = [this](int n, std::string& name, std::string& type) {
        if (OnAttachContentType)
            OnAttachContentType(*this, n, name, type);
    };
    FHost.AttachContentTypeEh = [this](int n, std::string& name, std::string& type, mime::TSmtpEncoding& enc) {
        if (OnAttachContentTypeEh)
            OnAttachContentTypeEh(*this, n, name, type, enc);
    };
    FHost.AttachHeader = [this](int n, const std::string& name, std::vector<std::string>& lines) {
        if (OnAttachHeader)
            OnAttachHeader(*this, n, name, lines);
    };
    FHost.BeforeFileOpen = [this](int idx, const std::string& name, TSmtpBeforeOpenFileAction& action) {
        if (OnBeforeFileOpen)
            OnBeforeFileOpen(*this, idx, name, action);
    };
    FHost.FileOpen = [this](int idx, const std::string& name, std::unique_ptr<mime::TStream>& stream) {
        if (OnFileOpen)
            OnFileOpen(*this, idx, name, stream);
    };
    FHost.AfterFileOpen = nullptr;
    if (OnAfterFileOpen) {
        FHost.AfterFileOpen = [this](int idx, const std::string& name, const std::exception* e,
                                     TSmtpAfterOpenFileAction& action) {
            OnAfterFileOpen(*this, idx, name, e, action);
        };
    }
    FHost.GetData = nullptr;
    if (OnGetData) {
        FHost.GetData = [this](int lineNum, std::string& line, int maxLen, bool& more) {
            OnGetData(*this, lineNum, line, maxLen, more);
        };
    }
    FHost.Abort = [this] { Abort(); };
    FHost.SizeOnly = [this] { return CalculatingSize(); };
    FHost.AddSize = [this](std::int64_t bytes) { AddMessageSize(bytes); };
    FHost.FileShare = [this] { return FileShareOf(ShareMode()); };
}

void TSmtpSender::SetEmailFiles(const std::vector<std::string>& files) { AssignExistingFiles(FEmailFiles, files); }

TComposerSettings TSmtpSender::ComposerSettings() const
{
    TComposerSettings s;
    s.CharSet = CharSet();
    s.CodePage = CharSetCodePage();
    s.MultiByte = CharSetMultiByte();
    s.ConvertToCharset = ConvertToCharset;
    s.Allow8bitChars = Allow8bitChars;
    s.FoldHeaders = FoldHeaders;
    s.WrapMessageText = WrapMessageText;
    s.WrapMsgMaxLineLen = WrapMsgMaxLineLen();
    s.DefaultEncoding = static_cast<mime::TSmtpDefaultEncoding>(DefaultEncoding);
    s.ContentTypeText = ContentTypeText();
    return s;
}

void TSmtpSender::Data()
{
    // A refused request must not disturb the message that is going out.
    if (State() != smtpInternalBusy)
        CheckReady();
    PrepareEmail();
    TCustomSmtpClient::Data();
}

void TSmtpSender::PrepareEmail() { PreparePlain(MailMessage, true); }

void TSmtpSender::PreparePlain(const std::vector<std::string>& text, bool askExtraLines)
{
    BindHost();
    FPlainBody.Prepare(ComposerSettings(), text, FEmailFiles, askExtraLines);
}

void TSmtpSender::ReleaseAttachmentStream() { FPlainBody.Close(); }

void TSmtpSender::ComposeStep(const std::function<void()>& step, std::string& msgLine, bool& more)
{
    try {
        step();
    } catch (const std::exception& e) {
        msgLine.clear();
        more = false;
        FailTransfer(e);
    }
}

void TSmtpSender::DoGetData(int, std::string& msgLine, int maxLen, bool& more)
{
    ComposeStep([&] { FPlainBody.GetData(msgLine, maxLen, more); }, msgLine, more);
}

void TSmtpSender::DoHeaderLine(std::string& msg, int size)
{
    FPlainBody.HeaderLine(msg);
    TCustomSmtpClient::DoHeaderLine(msg, size);
}

} // namespace smtp
