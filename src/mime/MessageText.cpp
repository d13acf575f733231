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
        line = platform::Trim(WrapText(cursor.Text, "\r\n", kTextWrapPoints,
                                       cursor.Wrap ? cursor.MaxLineLength : kUnwrappedMaxColumn,
                                       TByteSet{}, cursor.Position, !cursor.Wrap, cursor.CodePage,
                                       cursor.MultiByte));
        break;
    }
    if (cursor.Position > static_cast<int>(cursor.Text.size()))
        cursor.Position = 0;
    return line;
}

} // namespace mime
