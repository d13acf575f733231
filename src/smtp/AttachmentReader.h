#pragma once
// One attachment or image at a time: the part's content type, its name as
// written into the part header, opening it with the open events and their
// actions, and its content one encoded piece per call.

#include "smtp/ComposerTypes.h"

#include <memory>
#include <string>
#include <vector>

namespace smtp {

// What opening an item came to.
enum class TOpenOutcome { Opened, Next, Retry, Abort };

// Fills an attachment list: entries are trimmed and empty ones skipped; an
// entry naming no existing file raises SmtpException "File not found '...'"
// with the entries before it kept.
void AssignExistingFiles(std::vector<std::string>& list, const std::vector<std::string>& entries);

// The name as the part header writes it, as a quoted string: converted to
// the charset when asked, then encoded words (folded at maxColumn when fold
// is on) when it needs encoding and 8-bit headers are off; otherwise the
// name itself with a backslash before every backslash and double quote.
// A plain name is never folded: a fold inside the quotes would be part of
// the name for some readers.
std::string NameAsWritten(const TComposerSettings& settings, const std::string& name, bool fold, int maxColumn);

class TAttachmentReader {
public:
    // The content type guessed from the name, offered to the content-type
    // events; the encoding starts as base64 and the second event may change
    // it, the name and the type. A file chosen to go as text lines whose
    // lines would not arrive as written (too long for SMTP, or a CR outside
    // a line break) goes quoted-printable instead; textPath names the file
    // to look at (empty: a supplied stream, taken as it is).
    std::string DescribeItem(const TComposerHost& host, int fileNumber, std::string& name,
                             const std::string& textPath);

    // Asks OnBeforeFileOpen, opens the file (or takes the stream the
    // FileOpen callback supplies, when allowed) and asks OnAfterFileOpen.
    // An open failure leaves as its exception unless the after-open handler
    // chooses next, retry or abort.
    // eventName is the file name the events are given.
    TOpenOutcome Open(const TComposerHost& host, int idx, const std::string& eventName, const std::string& path,
                      bool askForStream);

    // The next piece of the open item in its encoding. False when the item
    // is exhausted; it is then closed (the piece is still to be sent). In
    // size-only mode a base64 item is measured instead of read: its size
    // goes to the host and it ends at once with an empty piece.
    bool NextPiece(const TComposerHost& host, std::string& piece);

    bool IsOpen() const { return stream_ != nullptr; }
    // The path of the open file; empty for a stream the application supplied.
    const std::string& OpenedPath() const { return path_; }
    void Close();
    mime::TSmtpEncoding Encoding() const { return encoding_; }

private:
    std::unique_ptr<mime::TBufferedReadStream> OpenStream(const TComposerHost& host, int idx,
                                                          const std::string& eventName, const std::string& path,
                                                          bool askForStream);
    std::int64_t RemainingSize();

    std::unique_ptr<mime::TBufferedReadStream> stream_;
    std::string path_;  // empty for a stream the application supplied
    mime::TSmtpEncoding encoding_ = mime::smtpEncodeBase64;
};

} // namespace smtp
