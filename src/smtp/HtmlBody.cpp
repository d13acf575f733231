#include "smtp/HtmlBody.h"

#include "platform/Clock.h"
#include "platform/Paths.h"
#include "platform/RandomSource.h"
#include "smtp/PlainBody.h"

#include <cstdio>

namespace smtp {

namespace {

constexpr int kQpLineLength = 76;

std::string Hex8(std::uint32_t value)
{
    char buf[12];
    std::snprintf(buf, sizeof buf, "%08X", value);
    return buf;
}

std::string QuotedValue(const char* name, const std::string& value)
{
    return std::string(name) + "=\"" + value + "\"";
}

// A continuation line of a parameter: TAB, name="value".
std::string TabbedValue(const char* name, const std::string& value)
{
    std::string line(1, '\t');
    return line.append(QuotedValue(name, value));
}

} // namespace

void THtmlBody::Reset()
{
    Close();
    state_ = THtmlMimeState::Intro;
    lineMark_ = 0;
    item_ = 0;
    textLines_ = 0;
    retryOpen_ = false;
    // One number for all three, so that they differ only in their digit.
    const std::string stem = "----=_NextPart_000_" + Hex8(platform::TickCount());
    const std::string tail = Hex8(platform::RandomBelow(2147483647));
    outer_ = stem + "_0." + tail;
    middle_ = stem + "_1." + tail;
    inner_ = stem + "_2." + tail;
}

void THtmlBody::Prepare(const TComposerSettings& settings, const THtmlContent& content)
{
    settings_ = settings;
    content_ = content;
    Reset();
}

void THtmlBody::ProcessHeader(mime::TSmtpHeaderLines& lines)
{
    Reset();
    for (std::size_t i = 0; i < lines.Count(); ++i) {
        if (!StartsWithText(lines[i], "Content-Type:"))
            continue;
        lines.Replace(i, HasFiles() ? "Content-Type: multipart/mixed;"
                                    : "Content-Type: multipart/related; type=\"multipart/alternative\";");
        lines.Insert(i + 1, TabbedValue("boundary", outer_));
        return;
    }
}

std::vector<std::string> THtmlBody::IntroLines() const
{
    std::vector<std::string> lines = {"This is a multipart MIME formatted message.", "", "--" + outer_};
    if (HasFiles()) {
        lines.insert(lines.end(), {"Content-Type: multipart/related;", "\ttype=\"multipart/alternative\";",
                                   TabbedValue("boundary", middle_), "", "--" + middle_});
    }
    lines.insert(lines.end(), {"Content-Type: multipart/alternative;", TabbedValue("boundary", AlternativeBoundary()),
                               "", "--" + AlternativeBoundary(),
                               "Content-Type: text/plain; " + QuotedValue("charset", settings_.CharSet),
                               "Content-Transfer-Encoding: quoted-printable", ""});
    return lines;
}

void THtmlBody::GetData(int lineNum, std::string& line, int maxLen, bool& more)
{
    line.clear();
    more = true;
    bool raiseEvent = false;
    switch (state_) {
    case THtmlMimeState::Intro: raiseEvent = IntroLine(lineNum, line, more); break;
    case THtmlMimeState::PlainText: raiseEvent = PlainTextLine(lineNum, line, more); break;
    case THtmlMimeState::HtmlText: raiseEvent = HtmlTextLine(lineNum, line, more); break;
    case THtmlMimeState::Images:
    case THtmlMimeState::Files: raiseEvent = ItemLine(lineNum, line, more); break;
    case THtmlMimeState::Done:
        more = false;
        raiseEvent = true;
        break;
    }
    if (raiseEvent && host_.GetData)
        host_.GetData(lineNum, line, maxLen, more);
    if (maxLen >= 0 && line.size() > static_cast<std::size_t>(maxLen))
        line.resize(static_cast<std::size_t>(maxLen));
}

bool THtmlBody::IntroLine(int lineNum, std::string& line, bool& more)
{
    const std::vector<std::string> intro = IntroLines();
    const int r = lineNum - lineMark_;
    if (r <= static_cast<int>(intro.size())) {
        line = intro[r - 1];
        return true;
    }
    lineMark_ = static_cast<int>(intro.size());
    state_ = THtmlMimeState::PlainText;
    textLines_ = 0;
    mime::InitMessageText(text_, JoinTextLines(content_.PlainText), settings_.CodePage, kQpLineLength, true,
                          false, mime::smtpEncQuotedPrintable, settings_.ConvertToCharset, settings_.MultiByte);
    return PlainTextLine(lineNum, line, more);
}

bool THtmlBody::NextTextLine(std::string& line)
{
    if (text_.Position == 0)
        return false;
    line = mime::NextMessageLine(text_);
    ++textLines_;
    return true;
}

bool THtmlBody::PlainTextLine(int lineNum, std::string& line, bool& more)
{
    if (NextTextLine(line))
        return false;
    switch (lineNum - lineMark_ - textLines_) {
    case 1: return true;
    case 2: line = "--" + AlternativeBoundary(); return true;
    case 3: line = "Content-Type: text/html; " + QuotedValue("charset", content_.HtmlCharSet); return true;
    case 4: line = "Content-Transfer-Encoding: quoted-printable"; return true;
    case 5: return true;
    default: break;
    }
    lineMark_ = lineNum - 1;
    textLines_ = 0;
    state_ = THtmlMimeState::HtmlText;
    mime::InitMessageText(text_, JoinTextLines(content_.HtmlText), content_.HtmlCodePage, kQpLineLength, true,
                          false, mime::smtpEncQuotedPrintable, content_.HtmlConvertToCharset,
                          content_.HtmlMultiByte);
    return HtmlTextLine(lineNum, line, more);
}

bool THtmlBody::HtmlTextLine(int lineNum, std::string& line, bool& more)
{
    if (NextTextLine(line))
        return false;
    switch (lineNum - lineMark_ - textLines_) {
    case 1: return true;
    case 2: line = "--" + AlternativeBoundary() + "--"; return true;
    case 3: return true;
    default: break;
    }
    state_ = THtmlMimeState::Images;
    item_ = 1;
    lineMark_ = lineNum - 1;
    return ItemLine(lineNum, line, more);
}

const std::string& THtmlBody::ItemPath() const
{
    const auto images = static_cast<int>(content_.EmailImages.size());
    return ItemIsImage() ? content_.EmailImages[item_ - 1] : content_.EmailFiles[item_ - images - 1];
}

bool THtmlBody::ItemLine(int lineNum, std::string& line, bool& more)
{
    const auto images = static_cast<int>(content_.EmailImages.size());
    const auto files = static_cast<int>(content_.EmailFiles.size());
    const int r = lineNum - lineMark_;
    if (state_ == THtmlMimeState::Images && files > 0 && item_ > images) {
        // The related container ends; the files follow in the mixed one.
        if (r == 1) {
            line = "--" + middle_ + "--";
        } else {
            state_ = THtmlMimeState::Files;
            lineMark_ = lineNum;
        }
        return true;
    }
    if (item_ > images + files) {
        if (r == 1) {
            line = "--" + outer_ + "--";
        } else {
            state_ = THtmlMimeState::Done;
            more = false;
        }
        return true;
    }
    if (r >= 7 && !retryOpen_ && !reader_.IsOpen()) {
        // The item has been sent (or skipped): this empty line ends its part.
        lineMark_ = lineNum;
        ++item_;
        return true;
    }
    return ItemPartLine(r, line, more);
}

bool THtmlBody::ItemPartLine(int r, std::string& line, bool& more)
{
    const bool image = ItemIsImage();
    const std::string& part = state_ == THtmlMimeState::Images && HasFiles() ? middle_ : outer_;
    switch (r) {
    case 1: line = "--" + part; break;
    case 2: {
        itemName_ = platform::FileNameOfPath(ItemPath());
        const std::string contentType = reader_.DescribeItem(host_, item_, itemName_, ItemPath());
        itemWritten_ = NameAsWritten(settings_, itemName_, false, 1022);
        line = "Content-Type: " + contentType + ";\r\n\tname=" + itemWritten_;
        break;
    }
    case 3: line = "Content-Transfer-Encoding: " + mime::SmtpEncodingName(reader_.Encoding()); break;
    case 4:
        line = std::string("Content-Disposition: ") + (image ? "inline" : "attachment") + ";\r\n\t" +
               "filename=" + itemWritten_;
        break;
    case 5: {
        const int images = static_cast<int>(content_.EmailImages.size());
        line = image ? "Content-ID: <IMAGE" + std::to_string(item_) + content_.HtmlImageCidSuffix + ">"
                     : "X-File-ID: <FILE" + std::to_string(item_ - images) + ">";
        if (host_.AttachHeader) {
            // This layout has no list of part-header lines to extend.
            std::vector<std::string> unused;
            host_.AttachHeader(item_, itemName_, unused);
        }
        break;
    }
    case 6: OpenItem(more); break;
    default:
        if (retryOpen_)
            OpenItem(more);
        else
            reader_.NextPiece(host_, line);
        break;
    }
    return more;
}

void THtmlBody::OpenItem(bool& more)
{
    retryOpen_ = false;
    switch (reader_.Open(host_, item_, itemName_, ItemPath(), false)) {
    case TOpenOutcome::Opened:
    case TOpenOutcome::Next: break;  // a skipped item ends at the next line, as a sent one does
    case TOpenOutcome::Retry: retryOpen_ = true; break;
    case TOpenOutcome::Abort:
        more = false;
        if (host_.Abort)
            host_.Abort();
        break;
    }
}

} // namespace smtp
