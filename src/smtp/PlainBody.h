#pragma once
// The body of a plain-text mail: the text part, then the attachments in a
// multipart/mixed container, one line per request of the DATA transfer.
// Neither the text's encoded form nor any attachment is held whole.

#include "mime/MessageText.h"
#include "platform/TextUtil.h"
#include "smtp/AttachmentReader.h"
#include "smtp/ComposerTypes.h"

#include <deque>
#include <string>
#include <vector>

namespace smtp {

class TPlainBody {
public:
    explicit TPlainBody(const TComposerHost& host) : host_(host) {}

    // Starts a message from the text lines and attachment paths. With
    // askExtraLines the host's GetData is asked for lines after the text.
    void Prepare(const TComposerSettings& settings, const std::vector<std::string>& text,
                 const std::vector<std::string>& files, bool askExtraLines);

    // The next body line (cut to maxLen); more becomes false, with the line
    // not to be sent, when the body is complete. Open and read failures
    // leave as exceptions.
    void GetData(std::string& line, int maxLen, bool& more);

    // Rewrites the Content-Type header line: the multipart/mixed header when
    // there are attachments, else the text's transfer encoding added to it
    // unless that is 7bit.
    void HeaderLine(std::string& line) const;

    // Ends the message early: closes the open attachment.
    void Close() { reader_.Close(); }

    const std::string& Boundary() const { return boundary_; }
    // Forgets the boundary, so that the header of another layout is left alone.
    void ClearBoundary() { boundary_.clear(); }
    mime::TSmtpDefaultEncoding TextEncoding() const { return text_.Encoding; }

private:
    bool NextTextLine(std::string& line, int maxLen);
    void NextAttachment(std::string& line, bool& more);
    void QueuePartHeader(int index);

    const TComposerHost& host_;
    TComposerSettings settings_;
    std::vector<std::string> files_;
    std::deque<std::string> prepared_;
    std::size_t index_ = 0;
    std::string boundary_;
    bool closed_ = false;  // the closing boundary has been queued
    bool textPhase_ = false;
    bool askExtraLines_ = true;
    int extraLine_ = 0;
    mime::TSmtpMessageText text_;
    TAttachmentReader reader_;
};

using platform::JoinTextLines;

// True when the line starts with the given prefix in any letter case.
bool StartsWithText(const std::string& line, const char* prefix);

} // namespace smtp
