#include "mime/SmtpHeaderLines.h"

#include "mime/ByteSet.h"
#include "mime/Charsets.h"
#include "mime/HeaderEncoding.h"
#include "mime/TextEncoders.h"
#include "platform/TextUtil.h"

#include <stdexcept>

namespace mime {

namespace {

constexpr int kHeaderWidth = 76;

struct TAddressElement {
    std::string Display;
    std::string Address;
};

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

// Leading blanks and trailing separators off.
std::string TrimElement(const std::string& element)
{
    const std::size_t first = element.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    std::size_t last = element.size();
    while (last > first && kAddressSeparators.Has(element[last - 1]))
        --last;
    return element.substr(first, last - first);
}

// The trimmed text between the "<" at lt and the next ">" (or the end).
std::string AngleContent(const std::string& text, std::size_t lt)
{
    const std::size_t gt = text.find('>', lt + 1);
    return platform::Trim(text.substr(lt + 1, gt == std::string::npos ? std::string::npos : gt - lt - 1));
}

TAddressElement SplitElement(const std::string& element)
{
    TAddressElement e;
    if (element[0] == '"' || element[0] == '\'') {
        const std::size_t close = element.find(element[0], 1);
        e.Display = element.substr(1, close == std::string::npos ? std::string::npos : close - 1);
        const std::string rest = close == std::string::npos ? std::string{} : element.substr(close + 1);
        const std::size_t lt = rest.find('<');
        e.Address = lt == std::string::npos ? platform::Trim(rest) : AngleContent(rest, lt);
    } else if (const std::size_t lt = element.find('<'); lt != std::string::npos) {
        e.Display = platform::Trim(element.substr(0, lt));
        e.Address = AngleContent(element, lt);
    } else {
        const std::size_t space = element.find(' ');
        e.Display = element.substr(0, space);
        e.Address = space == std::string::npos ? std::string{} : platform::Trim(element.substr(space + 1));
    }
    if (e.Address.empty() && e.Display.find('@') != std::string::npos)
        std::swap(e.Address, e.Display);
    return e;
}

std::string Quoted(const std::string& text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"')
            out.push_back('\\');
        out.push_back(c);
    }
    out.push_back('"');
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

std::string TSmtpHeaderLines::EncodedWords(const std::string& raw, const std::string& converted, int maxColumn) const
{
    if (convertToCharset_ && NeedsStatefulTreatment(codePage_))
        return EncodeStatefulHeaderText(codePage_, charSet_, encType_, maxColumn, foldHeaders_, raw, SourceCodePage());
    return HdrEncodeInLine(converted, kRfc822Specials, encType_, multiByte_, codePage_, foldHeaders_, maxColumn,
                           charSet_);
}

std::string TSmtpHeaderLines::DisplayText(const std::string& name, int maxColumn) const
{
    const std::string converted = Converted(name);
    if (allow8bitChars_ || (!NeedsEncoding(converted) && codePage_ != kCpUtf7))
        return Quoted(converted);
    return EncodedWords(name, converted, maxColumn);
}

void TSmtpHeaderLines::AddFoldable(const std::string& line)
{
    if (foldHeaders_)
        FoldHeaderLine(lines_, line, codePage_, multiByte_);
    else
        Add(line);
}

void TSmtpHeaderLines::AddAddrHdr(const std::string& name, const std::string& value)
{
    std::string text;
    int pos = 1;
    while (pos <= static_cast<int>(value.size())) {
        const std::string piece =
            WrapText(value, "\r\n", kAddressSeparators, 1, kAddressQuoteChars, pos, false, codePage_, multiByte_);
        const std::string element = TrimElement(SingleLine(piece));
        if (element.empty())
            continue;
        const TAddressElement e = SplitElement(element);
        if (e.Display.empty())
            text += e.Address + ",";
        else
            text += DisplayText(e.Display, ColumnsAfter(name)) + " <" + e.Address + ">,";
    }
    while (!text.empty() && text.back() == ',')
        text.pop_back();
    const std::string line = WithoutTrailingSpaces(name) + " " + text;
    if (foldHeaders_ && line.size() > static_cast<std::size_t>(kHeaderWidth))
        FoldHeaderLine(lines_, line, codePage_, multiByte_);
    else
        Add(line);
}

void TSmtpHeaderLines::AddHdr(const std::string& name, const std::string& value)
{
    const std::string raw = SingleLine(value);
    const std::string converted = Converted(raw);
    if (!allow8bitChars_ && (NeedsEncoding(converted) || codePage_ == kCpUtf7))
        AddMultiLine(name + EncodedWords(raw, converted, ColumnsAfter(name)));
    else
        AddFoldable(name + converted);
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
