#include "mime/SmtpHeaderLines.h"

#include "mime/AddressList.h"
#include "mime/ByteSet.h"
#include "mime/Charsets.h"
#include "mime/HeaderEncoding.h"
#include "mime/TextEncoders.h"
#include "platform/TextUtil.h"

#include <algorithm>
#include <stdexcept>

namespace mime {

namespace {

constexpr int kHeaderWidth = 76;
// The longest line SMTP carries; a longer header line is folded whatever
// FoldHeaders says.
constexpr std::size_t kMaxWireLine = 998;

bool FitsWire(const std::string& line)
{
    return line.size() <= kMaxWireLine;
}

// Every CR LF separated piece of a text fits.
bool PiecesFitWire(const std::string& text)
{
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        if (end - start > kMaxWireLine)
            return false;
    return text.size() - start <= kMaxWireLine;
}

bool IsBlankByte(char c)
{
    return c == ' ' || c == '\t';
}

// A line break inside a value would start a new header line (or end the
// header) on the wire: a break followed by a blank is unfolded, any other
// one becomes a space.
std::string SingleLine(const std::string& value)
{
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c != '\r' && c != '\n') {
            out.push_back(c);
            continue;
        }
        if (c == '\r' && i + 1 < value.size() && value[i + 1] == '\n')
            ++i;
        if (i + 1 >= value.size() || !IsBlankByte(value[i + 1]))
            out.push_back(' ');
    }
    return out;
}

std::string WithoutTrailingSpaces(std::string text)
{
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

int ColumnsAfter(const std::string& name)
{
    return kHeaderWidth - static_cast<int>(name.size());
}

} // namespace

TSmtpHeaderLines::TSmtpHeaderLines()
    : charSet_(CodePageToCharset(AnsiCodePage())), codePage_(AnsiCodePage()), multiByte_(!AnsiIsSingleByte())
{
}

void TSmtpHeaderLines::CheckIndex(std::size_t index, std::size_t limit) const
{
    if (index >= limit)
        throw std::out_of_range("Header line index out of bounds (" + std::to_string(index) + ")");
}

void TSmtpHeaderLines::Add(std::string line)
{
    lines_.push_back(std::move(line));
}

void TSmtpHeaderLines::Insert(std::size_t index, std::string line)
{
    CheckIndex(index, lines_.size() + 1);
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(index), std::move(line));
}

void TSmtpHeaderLines::Replace(std::size_t index, std::string line)
{
    CheckIndex(index, lines_.size());
    lines_[index] = std::move(line);
}

void TSmtpHeaderLines::Delete(std::size_t index)
{
    CheckIndex(index, lines_.size());
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(index));
}

const std::string& TSmtpHeaderLines::operator[](std::size_t index) const
{
    CheckIndex(index, lines_.size());
    return lines_[index];
}

std::string& TSmtpHeaderLines::operator[](std::size_t index)
{
    CheckIndex(index, lines_.size());
    return lines_[index];
}

void TSmtpHeaderLines::SetDefaultEncoding(TSmtpDefaultEncoding value)
{
    defaultEncoding_ = value;
    encType_ = value == smtpEncBase64 ? 'B' : 'Q';
}

void TSmtpHeaderLines::SetCharSet(const std::string& name, std::uint32_t codePage, bool multiByte)
{
    charSet_ = name;
    codePage_ = codePage;
    multiByte_ = multiByte;
}

std::uint32_t TSmtpHeaderLines::SourceCodePage() const
{
    return sourceCodePage_ ? sourceCodePage_ : AnsiCodePage();
}

std::string TSmtpHeaderLines::Converted(const std::string& value) const
{
    const std::uint32_t source = SourceCodePage();
    if (!convertToCharset_ || source == codePage_ || value.empty())
        return value;
    std::string converted = ConvertCodePage(value, source, codePage_);
    if (converted.empty())
        return value;  // keep the text when the conversion fails
    // Bytes of another code page may stand for a line break here.
    return SingleLine(converted);
}

std::string TSmtpHeaderLines::EncodedWords(const std::string& raw, const std::string& converted, int maxColumn,
                                           bool fold) const
{
    if (convertToCharset_ && NeedsStatefulTreatment(codePage_))
        return EncodeStatefulHeaderText(codePage_, charSet_, encType_, maxColumn, fold, raw, SourceCodePage());
    return HdrEncodeInLine(converted, kRfc822Specials, encType_, multiByte_, codePage_, fold, maxColumn, charSet_);
}

std::string TSmtpHeaderLines::HeaderWords(const std::string& name, const std::string& raw,
                                          const std::string& converted) const
{
    const std::string words = EncodedWords(raw, converted, ColumnsAfter(name), foldHeaders_);
    if (foldHeaders_ || PiecesFitWire(name + words))
        return words;
    return EncodedWords(raw, converted, ColumnsAfter(name), true);
}

std::string TSmtpHeaderLines::DisplayText(const std::string& name, int maxColumn) const
{
    const std::string converted = Converted(name);
    if (allow8bitChars_ || (!NeedsEncoding(converted) && codePage_ != kCpUtf7))
        return QuotedString(converted, codePage_);
    return EncodedWords(name, converted, maxColumn, foldHeaders_);
}

void TSmtpHeaderLines::AddFoldable(const std::string& line, TFoldStyle style)
{
    if (foldHeaders_ || !FitsWire(line))
        FoldHeaderLine(lines_, line, codePage_, multiByte_, style);
    else
        Add(line);
}

void TSmtpHeaderLines::AddAddrHdr(const std::string& name, const std::string& value)
{
    std::vector<std::string> items;
    SplitAddressList(value, items, SourceCodePage());
    std::string text;
    for (const std::string& item : items) {
        const TMailAddress e = ParseAddress(SingleLine(item), SourceCodePage());
        if (e.DisplayName.empty())
            text += e.Address + ",";
        else
            text += DisplayText(e.DisplayName, ColumnsAfter(name)) + " <" + e.Address + ">,";
    }
    while (!text.empty() && text.back() == ',')
        text.pop_back();
    AddFoldable(WithoutTrailingSpaces(name) + " " + text, TFoldStyle::AddressList);
}

void TSmtpHeaderLines::AddHdr(const std::string& name, const std::string& value)
{
    const std::string raw = SingleLine(value);
    const std::string converted = Converted(raw);
    if (allow8bitChars_ || (!NeedsEncoding(converted) && codePage_ != kCpUtf7)) {
        const std::size_t first = lines_.size();
        AddFoldable(name + converted, TFoldStyle::Unstructured);
        if (std::all_of(lines_.begin() + static_cast<std::ptrdiff_t>(first), lines_.end(), FitsWire))
            return;
        // A run too long to fold at a blank: encoded words can be cut anywhere.
        lines_.resize(first);
    }
    AddMultiLine(name + HeaderWords(name, raw, converted));
}

void TSmtpHeaderLines::AddMultiLine(const std::string& text)
{
    std::size_t start = 0;
    for (std::size_t cr; (cr = text.find('\r', start)) != std::string::npos;) {
        Add(text.substr(start, cr - start));
        start = cr + 1;
        if (start < text.size() && text[start] == '\n')
            ++start;
    }
    if (start < text.size())
        Add(text.substr(start));
}

} // namespace mime
