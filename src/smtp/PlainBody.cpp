#include "smtp/PlainBody.h"

#include "platform/Clock.h"
#include "platform/Paths.h"
#include "platform/TextUtil.h"

#include <cstdio>
#include <cstring>

namespace smtp {

namespace {

// "= Multipart Boundary " and the local time as mmddyyhhnn.
std::string NewPlainBoundary()
{
    const platform::TSystemTime t = platform::LocalTimeNow();
    char digits[16];
    std::snprintf(digits, sizeof digits, "%02d%02d%02d%02d%02d", t.Month % 100, t.Day % 100, t.Year % 100,
                  t.Hour % 100, t.Minute % 100);
    return std::string("= Multipart Boundary ") + digits;
}

void CutTo(std::string& line, int maxLen)
{
    if (maxLen >= 0 && line.size() > static_cast<std::size_t>(maxLen))
        line.resize(static_cast<std::size_t>(maxLen));
}

} // namespace

bool StartsWithText(const std::string& line, const char* prefix)
{
    const std::size_t n = std::strlen(prefix);
    return line.size() >= n && platform::SameTextAscii(line.substr(0, n), prefix);
}

void TPlainBody::Prepare(const TComposerSettings& settings, const std::vector<std::string>& text,
                         const std::vector<std::string>& files, bool askExtraLines)
{
    Close();
    settings_ = settings;
    files_ = files;
    askExtraLines_ = askExtraLines;
    textPhase_ = true;
    index_ = 0;
    extraLine_ = 0;
    closed_ = false;
    mime::InitMessageText(text_, JoinTextLines(text), settings.CodePage, settings.WrapMsgMaxLineLen,
                          settings.WrapMessageText, settings.Allow8bitChars, settings.DefaultEncoding,
                          settings.ConvertToCharset, settings.MultiByte);
    prepared_.clear();
    if (files_.empty()) {
        boundary_.clear();
        return;
    }
    boundary_ = NewPlainBoundary();
    prepared_ = {"This is a multipart MIME message.",
                 "",
                 "--" + boundary_,
                 "Content-Type: " + settings.ContentTypeText + "; charset=\"" + settings.CharSet + "\"",
                 "Content-Transfer-Encoding: " + mime::DefaultEncodingName(text_.Encoding),
                 ""};
}

void TPlainBody::GetData(std::string& line, int maxLen, bool& more)
{
    line.clear();
    more = true;
    if (!prepared_.empty()) {
        line = std::move(prepared_.front());
        prepared_.pop_front();
    } else if (!(textPhase_ && NextTextLine(line, maxLen))) {
        textPhase_ = false;
        NextAttachment(line, more);
    }
    CutTo(line, maxLen);
}

bool TPlainBody::NextTextLine(std::string& line, int maxLen)
{
    if (text_.Position != 0) {
        line = mime::NextMessageLine(text_);
        return true;
    }
    if (!askExtraLines_)
        return false;
    ++extraLine_;
    bool more = false;
    if (host_.GetData) {
        more = true;
        host_.GetData(extraLine_, line, maxLen, more);
    }
    if (!more)
        line.clear();
    return more;
}

void TPlainBody::NextAttachment(std::string& line, bool& more)
{
    if (reader_.IsOpen()) {
        if (!reader_.NextPiece(host_, line))
            ++index_;
        return;
    }
    // The empty line of this call ends the previous part.
    while (index_ < files_.size()) {
        const int idx = static_cast<int>(index_);
        switch (reader_.Open(host_, idx, files_[index_], files_[index_], true)) {
        case TOpenOutcome::Opened: QueuePartHeader(idx); return;
        case TOpenOutcome::Retry: return;
        case TOpenOutcome::Abort:
            more = false;
            if (host_.Abort)
                host_.Abort();
            return;
        case TOpenOutcome::Next: ++index_; break;
        }
    }
    // Also after skipped files, so that the container is always closed.
    if (!boundary_.empty() && !closed_) {
        closed_ = true;
        prepared_.push_back("--" + boundary_ + "--");
        return;
    }
    more = false;
}

void TPlainBody::QueuePartHeader(int index)
{
    std::string name = platform::FileNameOfPath(files_[index_]);
    const std::string contentType = reader_.DescribeItem(host_, index, name, reader_.OpenedPath());
    const std::string written = NameAsWritten(settings_, name, settings_.FoldHeaders, 63);
    prepared_.push_back("--" + boundary_);
    prepared_.push_back("Content-Type: " + contentType + ";");
    prepared_.push_back("\tname=" + written);
    prepared_.push_back("Content-Transfer-Encoding: " + mime::SmtpEncodingName(reader_.Encoding()));
    prepared_.push_back("Content-Disposition: attachment;");
    prepared_.push_back("\tfilename=" + written);
    if (host_.AttachHeader) {
        std::vector<std::string> added;
        host_.AttachHeader(index, name, added);
        prepared_.insert(prepared_.end(), added.begin(), added.end());
    }
    prepared_.push_back("");
}

void TPlainBody::HeaderLine(std::string& line) const
{
    if (!boundary_.empty()) {
        if (StartsWithText(line, "CONTENT-TYPE:"))
            line = "Content-Type: multipart/mixed;\r\n\tboundary=\"" + boundary_ + "\"";
    } else if (StartsWithText(line, "CONTENT-TYPE: TEXT") && text_.Encoding != mime::smtpEnc7bit) {
        line += "\r\nContent-Transfer-Encoding: " + mime::DefaultEncodingName(text_.Encoding);
    }
}

} // namespace smtp
