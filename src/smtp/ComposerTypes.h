#pragma once
// What the two body composers share: their settings, the attachment
// actions and the callbacks through which they reach the client that owns
// them (its events, its abort and its size counter).

#include "mime/Encodings.h"
#include "mime/ReadStream.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace smtp {

enum TSmtpBeforeOpenFileAction { smtpBeforeOpenFileNone, smtpBeforeOpenFileNext, smtpBeforeOpenFileAbort };

enum TSmtpAfterOpenFileAction {
    smtpAfterOpenFileNone,
    smtpAfterOpenFileNext,
    smtpAfterOpenFileRetry,
    smtpAfterOpenFileAbort,
};

// The client's text and header settings, copied in before each message.
struct TComposerSettings {
    std::string CharSet;
    std::uint32_t CodePage = 0;
    bool MultiByte = false;
    bool ConvertToCharset = false;
    bool Allow8bitChars = true;
    bool FoldHeaders = false;
    bool WrapMessageText = false;
    int WrapMsgMaxLineLen = 76;
    mime::TSmtpDefaultEncoding DefaultEncoding = mime::smtpEnc7bit;
    std::string ContentTypeText = "text/plain";
};

// The owner's side of a composer. Unset event callbacks mean "no handler";
// the client binds its published events here with itself as the sender.
struct TComposerHost {
    std::function<void(int fileNumber, std::string& fileName, std::string& contentType)> AttachContentType;
    std::function<void(int fileNumber, std::string& fileName, std::string& contentType,
                       mime::TSmtpEncoding& attEncoding)>
        AttachContentTypeEh;
    std::function<void(int fileNumber, const std::string& fileName, std::vector<std::string>& hdrLines)>
        AttachHeader;
    std::function<void(int idx, const std::string& fileName, TSmtpBeforeOpenFileAction& action)> BeforeFileOpen;
    // May supply the stream of the attachment; the composer owns it then.
    std::function<void(int idx, const std::string& fileName, std::unique_ptr<mime::TStream>& stream)> FileOpen;
    // e is null after a successful open.
    std::function<void(int idx, const std::string& fileName, const std::exception* e,
                       TSmtpAfterOpenFileAction& action)>
        AfterFileOpen;
    // Lines of the application after the text; leaves more false when it
    // has none (an unset callback counts as none).
    std::function<void(int lineNum, std::string& msgLine, int maxLen, bool& more)> GetData;
    // Ends the session at once (an event chose abort).
    std::function<void()> Abort;
    // Size-only mode: the message is measured, not sent; AddSize adds the
    // bytes of content that is not produced line by line.
    std::function<bool()> SizeOnly;
    std::function<void(std::int64_t bytes)> AddSize;
    // The sharing mode attachment and image files are opened with.
    std::function<platform::TFileShare()> FileShare;
};

} // namespace smtp
