#pragma once
// The body of an HTML mail: a plain-text alternative and the HTML text in a
// multipart/alternative part, the images beside them in multipart/related,
// and the attachment files around all that in multipart/mixed. One line per
// request of the DATA transfer; images and files are read as they go out.

#include "mime/MessageText.h"
#include "mime/SmtpHeaderLines.h"
#include "smtp/AttachmentReader.h"
#include "smtp/ComposerTypes.h"

#include <cstdint>
#include <string>
#include <vector>

namespace smtp {

// What the HTML layout takes besides the client's settings.
struct THtmlContent {
    std::vector<std::string> PlainText;
    std::vector<std::string> HtmlText;
    std::vector<std::string> EmailImages;
    std::vector<std::string> EmailFiles;
    std::string HtmlCharSet;
    std::uint32_t HtmlCodePage = 0;
    bool HtmlMultiByte = false;
    bool HtmlConvertToCharset = false;
    std::string HtmlImageCidSuffix;
};

enum class THtmlMimeState : std::uint8_t { Intro, PlainText, HtmlText, Images, Files, Done };

class THtmlBody {
public:
    explicit THtmlBody(const TComposerHost& host) : host_(host) {}

    // Starts a message (state and boundaries fresh, also when no header is
    // built because the application writes its own).
    void Prepare(const TComposerSettings& settings, const THtmlContent& content);

    // Header step: new boundaries, and the first Content-Type line turned
    // into the outer multipart header.
    void ProcessHeader(mime::TSmtpHeaderLines& lines);

    // The body line for engine line number lineNum (cut to maxLen); more
    // becomes false when the body is complete. Open and read failures leave
    // as exceptions.
    void GetData(int lineNum, std::string& line, int maxLen, bool& more);

    void Close() { reader_.Close(); }

    const std::string& OuterBoundary() const { return outer_; }
    const std::string& MiddleBoundary() const { return middle_; }
    const std::string& InnerBoundary() const { return inner_; }
    THtmlMimeState State() const { return state_; }

private:
    void Reset();
    bool HasFiles() const { return !content_.EmailFiles.empty(); }
    // The boundary of the multipart/alternative part.
    const std::string& AlternativeBoundary() const { return HasFiles() ? inner_ : middle_; }
    std::vector<std::string> IntroLines() const;

    // Each produces the line of one state; true when OnGetData follows it.
    bool IntroLine(int lineNum, std::string& line, bool& more);
    bool PlainTextLine(int lineNum, std::string& line, bool& more);
    bool HtmlTextLine(int lineNum, std::string& line, bool& more);
    bool ItemLine(int lineNum, std::string& line, bool& more);
    bool ItemPartLine(int r, std::string& line, bool& more);
    bool NextTextLine(std::string& line);
    void OpenItem(bool& more);
    const std::string& ItemPath() const;
    bool ItemIsImage() const { return item_ <= static_cast<int>(content_.EmailImages.size()); }

    const TComposerHost& host_;
    TComposerSettings settings_;
    THtmlContent content_;
    std::string outer_, middle_, inner_;
    THtmlMimeState state_ = THtmlMimeState::Intro;
    int lineMark_ = 0;
    int item_ = 0;
    int textLines_ = 0;
    bool retryOpen_ = false;
    std::string itemName_;
    std::string itemWritten_;
    mime::TSmtpMessageText text_;
    TAttachmentReader reader_;
};

} // namespace smtp
