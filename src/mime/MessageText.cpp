#include "mime/MessageText.h"

#include "mime/Base64.h"
#include "mime/ByteSet.h"
#include "mime/Charsets.h"
#include "mime/MimeException.h"
#include "mime/TextEncoders.h"

#include <algorithm>

namespace mime {

namespace {

constexpr int kUnwrappedMaxColumn = 1022;
constexpr int kQpBodyLimit = 75;
// The longest line SMTP carries, without its CR LF (RFC 5321 4.5.3.1.6).
constexpr std::size_t kMaxWireLine = 998;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

// The next 7bit/8bit line from position: the text as written up to its line
// break. A wrapped line loses only the blanks at the soft break it ends or
// starts with.
std::string PlainLine(const TSmtpMessageText& c, int& position)
{
    const int start = std::max(position, 1);
    const bool lineStart = start == 1 || c.Text[static_cast<std::size_t>(start) - 2] == '\n';
    // No wrap width goes beyond what SMTP carries.
    const int width = c.Wrap ? std::min(c.MaxLineLength, static_cast<int>(kMaxWireLine)) : kUnwrappedMaxColumn;
    std::string line =
        WrapText(c.Text, "\r\n", kTextWrapPoints, width, TByteSet{}, position, !c.Wrap, c.CodePage, c.MultiByte);
    if (!c.Wrap)
        return line;
    const bool lineEnd = position > static_cast<int>(c.Text.size()) ||
                         c.Text[static_cast<std::size_t>(position) - 2] == '\n';
    if (!lineEnd)
        while (!line.empty() && IsBlank(line.back()))
            line.pop_back();
    if (!lineStart)
        line.erase(0, std::min(line.find_first_not_of(" \t"), line.size()));
    return line;
}

// Whether every 7bit/8bit line of the text reaches the wire as it is: no
// line, with the dot that transparency puts before a leading one, longer
// than SMTP allows, and no CR or LF that is not a line break of the text.
bool PlainLinesFit(const TSmtpMessageText& c)
{
    for (int position = 1; position <= static_cast<int>(c.Text.size());) {
        const std::string line = PlainLine(c, position);
        const std::size_t wire = line.size() + (!line.empty() && line.front() == '.' ? 1 : 0);
        if (wire > kMaxWireLine || line.find_first_of("\r\n") != std::string::npos)
            return false;
    }
    return true;
}

TSmtpDefaultEncoding ChooseEncoding(TSmtpDefaultEncoding requested, bool allow8bit, bool needsEncoding,
                                    std::uint32_t codePage)
{
    TSmtpDefaultEncoding enc = requested;
    const bool plain = requested == smtpEnc7bit || requested == smtpEnc8bit;
    if (!needsEncoding && requested == smtpEnc8bit)
        enc = smtpEnc7bit;
    else if (needsEncoding && allow8bit && requested == smtpEnc7bit)
        enc = smtpEnc8bit;
    else if (needsEncoding && !allow8bit && plain)
        enc = smtpEncQuotedPrintable;
    if ((enc == smtpEnc7bit || enc == smtpEnc8bit) && NeedsStatefulTreatment(codePage))
        enc = smtpEncQuotedPrintable;
    return enc;
}

} // namespace

int InitMessageText(TSmtpMessageText& cursor, const std::string& text, std::uint32_t codePage,
                    int maxLineLength, bool wrap, bool allow8bit, TSmtpDefaultEncoding requested,
                    bool convert, bool multiByte)
{
    cursor.MaxLineLength = maxLineLength;
    cursor.CodePage = codePage;
    cursor.MultiByte = multiByte;
    const std::uint32_t ansi = AnsiCodePage();
    cursor.Text = (convert && ansi != codePage) ? ConvertCodePage(text, ansi, codePage) : text;
    if (cursor.Text.size() >= static_cast<std::size_t>(kPositionPastEnd))
        throw EMimeException("Message text of " + std::to_string(cursor.Text.size()) +
                             " bytes is too long");
    if (cursor.Text.empty()) {
        cursor.Encoding = smtpEnc7bit;
        cursor.Wrap = false;
        cursor.Position = 0;
        return 0;
    }
    cursor.Position = 1;
    cursor.Wrap = wrap;
    cursor.Encoding = ChooseEncoding(requested, allow8bit, NeedsEncoding(cursor.Text), codePage);
    // Lines that could not go out as written travel quoted-printable, whose
    // soft line breaks keep them whole.
    if ((cursor.Encoding == smtpEnc7bit || cursor.Encoding == smtpEnc8bit) && !PlainLinesFit(cursor))
        cursor.Encoding = smtpEncQuotedPrintable;
    // The line end after the last quoted-printable line is the text's own
    // last line break; encoded as well it would arrive twice.
    if (cursor.Encoding == smtpEncQuotedPrintable && cursor.Text.ends_with("\r\n"))
        cursor.Text.resize(cursor.Text.size() - 2);
    return static_cast<int>(cursor.Text.size());
}

std::string NextMessageLine(TSmtpMessageText& cursor)
{
    if (cursor.Position <= 0)
        return {};
    std::string line;
    switch (cursor.Encoding) {
    case smtpEncQuotedPrintable:
        line = EncodeQuotedPrintableSegment(cursor.Text, kQpBodyLimit, TByteSet{}, false, cursor.Position,
                                            true, cursor.CodePage, false);
        break;
    case smtpEncBase64:
        line = Base64EncodeLine(cursor.Text, cursor.Position);
        break;
    default:
        line = PlainLine(cursor, cursor.Position);
        break;
    }
    if (cursor.Position > static_cast<int>(cursor.Text.size()))
        cursor.Position = 0;
    return line;
}

} // namespace mime
