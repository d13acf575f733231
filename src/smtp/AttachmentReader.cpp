#include "smtp/AttachmentReader.h"

#include "mime/AddressList.h"
#include "mime/Base64.h"
#include "mime/ByteSet.h"
#include "mime/Charsets.h"
#include "mime/ContentTypes.h"
#include "mime/FileEncoders.h"
#include "mime/HeaderEncoding.h"
#include "mime/TextEncoders.h"
#include "platform/Files.h"
#include "platform/TextUtil.h"
#include "smtp/SmtpTypes.h"

#include <array>
#include <filesystem>
#include <system_error>

namespace smtp {

namespace {

// A file that cannot be read here counts as fitting: opening it for the
// part reports the failure.
bool TextLinesFit(const std::string& path)
{
    try {
        return mime::TextLinesFit(*mime::OpenBufferedFile(path));
    } catch (const std::exception&) {
        return true;
    }
}

TOpenOutcome OutcomeOf(TSmtpAfterOpenFileAction action)
{
    switch (action) {
    case smtpAfterOpenFileNext: return TOpenOutcome::Next;
    case smtpAfterOpenFileRetry: return TOpenOutcome::Retry;
    case smtpAfterOpenFileAbort: return TOpenOutcome::Abort;
    default: return TOpenOutcome::Opened;
    }
}

} // namespace

void AssignExistingFiles(std::vector<std::string>& list, const std::vector<std::string>& entries)
{
    list.clear();
    for (const std::string& entry : entries) {
        const std::string path = platform::Trim(entry);
        if (path.empty())
            continue;
        if (!platform::FileExists(path))
            throw SmtpException("File not found '" + path + "'");
        list.push_back(path);
    }
}

std::string NameAsWritten(const TComposerSettings& s, const std::string& name, bool fold, int maxColumn)
{
    const std::uint32_t ansi = mime::AnsiCodePage();
    const std::string converted =
        s.ConvertToCharset && ansi != s.CodePage ? mime::ConvertCodePage(name, ansi, s.CodePage) : name;
    // A line break in a name would end the header line: such a name is
    // always written as encoded words.
    const bool lineBreak = converted.find_first_of("\r\n") != std::string::npos;
    if (!lineBreak && (s.Allow8bitChars || (!mime::NeedsEncoding(converted) && s.CodePage != mime::kCpUtf7)))
        return mime::QuotedString(converted, s.CodePage);
    const char encType = s.DefaultEncoding == mime::smtpEncBase64 ? 'B' : 'Q';
    const std::string words =
        s.ConvertToCharset && mime::NeedsStatefulTreatment(s.CodePage)
            ? mime::EncodeStatefulHeaderText(s.CodePage, s.CharSet, encType, maxColumn, fold, name)
            : mime::HdrEncodeInLine(converted, mime::kRfc822Specials, encType, s.MultiByte, s.CodePage, fold,
                                    maxColumn, s.CharSet);
    return "\"" + words + "\"";
}

std::string TAttachmentReader::DescribeItem(const TComposerHost& host, int fileNumber, std::string& name,
                                            const std::string& textPath)
{
    std::string contentType = mime::ContentTypeFromFileName(name);
    if (host.AttachContentType)
        host.AttachContentType(fileNumber, name, contentType);
    encoding_ = mime::smtpEncodeBase64;
    if (host.AttachContentTypeEh)
        host.AttachContentTypeEh(fileNumber, name, contentType, encoding_);
    if (encoding_ == mime::smtpEncodeNone && !textPath.empty() && !TextLinesFit(textPath))
        encoding_ = mime::smtpEncodeQP;
    return contentType;
}

std::unique_ptr<mime::TBufferedReadStream> TAttachmentReader::OpenStream(const TComposerHost& host, int idx,
                                                                         const std::string& eventName,
                                                                         const std::string& path, bool askForStream)
{
    std::unique_ptr<mime::TStream> supplied;
    if (askForStream && host.FileOpen)
        host.FileOpen(idx, eventName, supplied);
    if (supplied) {
        path_.clear();
        return std::make_unique<mime::TBufferedReadStream>(std::move(supplied));
    }
    path_ = path;
    return mime::OpenBufferedFile(path, host.FileShare ? host.FileShare() : platform::TFileShare::DenyWrite);
}

TOpenOutcome TAttachmentReader::Open(const TComposerHost& host, int idx, const std::string& eventName,
                                     const std::string& path, bool askForStream)
{
    Close();
    TSmtpBeforeOpenFileAction before = smtpBeforeOpenFileNone;
    if (host.BeforeFileOpen)
        host.BeforeFileOpen(idx, eventName, before);
    if (before == smtpBeforeOpenFileNext)
        return TOpenOutcome::Next;
    if (before == smtpBeforeOpenFileAbort)
        return TOpenOutcome::Abort;

    TSmtpAfterOpenFileAction action = smtpAfterOpenFileNone;
    try {
        stream_ = OpenStream(host, idx, eventName, path, askForStream);
    } catch (const std::exception& e) {
        if (!host.AfterFileOpen)
            throw;
        host.AfterFileOpen(idx, eventName, &e, action);
        if (action == smtpAfterOpenFileNone)
            throw;
        return OutcomeOf(action);
    }
    if (host.AfterFileOpen)
        host.AfterFileOpen(idx, eventName, nullptr, action);
    if (action != smtpAfterOpenFileNone)
        Close();
    return OutcomeOf(action);
}

std::int64_t TAttachmentReader::RemainingSize()
{
    if (!path_.empty()) {
        std::error_code ec;
        const auto size = std::filesystem::file_size(path_, ec);
        if (!ec)
            return static_cast<std::int64_t>(size);
    }
    // A supplied stream has no size to ask for: count it.
    std::array<char, mime::TBufferedReadStream::kBufferSize> buffer {};
    std::int64_t total = 0;
    while (const std::size_t got = stream_->Read(buffer.data(), buffer.size()))
        total += static_cast<std::int64_t>(got);
    return total;
}

bool TAttachmentReader::NextPiece(const TComposerHost& host, std::string& piece)
{
    bool more = false;
    piece.clear();
    if (encoding_ == mime::smtpEncodeBase64 && host.SizeOnly && host.SizeOnly()) {
        // The empty piece that ends the item is counted by the caller as an
        // empty line; the encoded size holds the line end of the last line.
        const auto size = static_cast<std::int64_t>(mime::Base64EncodedSize(RemainingSize()));
        if (host.AddSize && size > 0)
            host.AddSize(size - 2);
    } else if (encoding_ == mime::smtpEncodeBase64) {
        more = mime::EncodeFileBase64Block(*stream_, piece);
    } else if (encoding_ == mime::smtpEncodeQP) {
        more = mime::EncodeFileQuotedPrintableLine(*stream_, piece);
    } else {
        more = mime::ReadFileTextLine(*stream_, piece);
    }
    if (!more)
        Close();
    return more;
}

void TAttachmentReader::Close()
{
    stream_.reset();
    path_.clear();
}

} // namespace smtp
