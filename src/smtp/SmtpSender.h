#pragma once
// The plain-text mail client: the text of MailMessage and the files of
// EmailFiles (multipart/mixed when there are any), composed one line per
// request of the DATA transfer.

#include "smtp/ComposerTypes.h"
#include "smtp/PlainBody.h"
#include "smtp/SmtpClient.h"

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace smtp {

class TSmtpSender;

using TSmtpAttachmentContentType =
    std::function<void(TSmtpSender& Sender, int FileNumber, std::string& FileName, std::string& ContentType)>;
using TSmtpAttachmentContentTypeEh = std::function<void(TSmtpSender& Sender, int FileNumber, std::string& FileName,
                                                        std::string& ContentType, mime::TSmtpEncoding& AttEncoding)>;
using TSmtpAttachHeader = std::function<void(TSmtpSender& Sender, int FileNumber, const std::string& FileName,
                                             std::vector<std::string>& HdrLines)>;
using TSmtpBeforeFileOpenEvent =
    std::function<void(TSmtpSender& Sender, int Idx, const std::string& FileName, TSmtpBeforeOpenFileAction& Action)>;
// The handler may supply the stream; the composer owns and closes it.
using TSmtpFileOpenEvent = std::function<void(TSmtpSender& Sender, int Idx, const std::string& FileName,
                                              std::unique_ptr<mime::TStream>& Stream)>;
// E is null after a successful open.
using TSmtpAfterFileOpenEvent = std::function<void(TSmtpSender& Sender, int Idx, const std::string& FileName,
                                                   const std::exception* E, TSmtpAfterOpenFileAction& Action)>;

class TSmtpSender : public TCustomSmtpClient {
public:
    TSmtpSender();

    void Data() override;
    void PublishProperties(platform::TPublishedComponent& entry) override;

    const std::vector<std::string>& EmailFiles() const { return FEmailFiles; }
    // Raises SmtpException "File not found '<path>'" for a missing file.
    void SetEmailFiles(const std::vector<std::string>& files);

    TSmtpAttachmentContentType OnAttachContentType;
    TSmtpAttachmentContentTypeEh OnAttachContentTypeEh;
    TSmtpAttachHeader OnAttachHeader;
    TSmtpBeforeFileOpenEvent OnBeforeFileOpen;
    TSmtpFileOpenEvent OnFileOpen;
    TSmtpAfterFileOpenEvent OnAfterFileOpen;

protected:
    virtual void PrepareEmail();
    // The plain preparation from the given text; OnGetData is asked for
    // lines after it only with askExtraLines.
    void PreparePlain(const std::vector<std::string>& text, bool askExtraLines);
    TComposerSettings ComposerSettings() const;
    const TComposerHost& ComposerHost() const { return FHost; }
    TPlainBody& PlainBody() { return FPlainBody; }

    void DoGetData(int lineNum, std::string& msgLine, int maxLen, bool& more) override;
    void DoHeaderLine(std::string& msg, int size) override;
    void ReleaseAttachmentStream() override;
    // Runs a body step. A failure (a file gone or unreadable) fails the
    // request with its text as the error, so that no cut-off message is
    // ever completed as sent.
    void ComposeStep(const std::function<void()>& step, std::string& msgLine, bool& more);
    // Points the composer callbacks at the events as they are now.
    void BindHost();

private:
    std::vector<std::string> FEmailFiles;
    TComposerHost FHost;
    TPlainBody FPlainBody {FHost};
};

} // namespace smtp
