#include "mime/MessageText.h"

#include "mime/Base64.h"
#include "mime/ByteSet.h"
#include "mime/Charsets.h"
#include "mime/MimeException.h"
#include "mime/TextEncoders.h"
#include "platform/TextUtil.h"

namespace mime {

namespace {

constexpr int kUnwrappedMaxColumn = 1022;
constexpr int kQpBodyLimit = 75;
// Longest line a message may carry (RFC 5322), line end not counted.
constexpr std::size_t kMaxPlainLine = 998;

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

// The next line of a 7bit or 8bit text from position.
std::string PlainLine(const TSmtpMessageText& cursor, int& position)
{
    return platform::Trim(WrapText(cursor.Text, "\r\n", kTextWrapPoints,
                                   cursor.Wrap ? cursor.MaxLineLength : kUnwrappedMaxColumn, TByteSet{}, position,
                                   !cursor.Wrap, cursor.CodePage, cursor.MultiByte));
}

// True when a line of the text as it would be sent in 7bit or 8bit is longer
// than a server accepts.
bool SendsOverlongLine(const TSmtpMessageText& cursor)
{
    if (cursor.Text.size() <= kMaxPlainLine)
        return false;
    int position = 1;
    while (position <= static_cast<int>(cursor.Text.size()))
        if (PlainLine(cursor, position).size() > kMaxPlainLine)
            return true;
    return false;
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
    // Cut to what a server accepts, such a line would no longer be the text
    // that was written; soft line breaks keep it whole.
    if ((cursor.Encoding == smtpEnc7bit || cursor.Encoding == smtpEnc8bit) && SendsOverlongLine(cursor))
        cursor.Encoding = smtpEncQuotedPrintable;
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
