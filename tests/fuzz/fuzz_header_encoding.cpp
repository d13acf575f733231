// Header encoded words and folding for arbitrary bytes in any code page of
// the charset table, then a whole header block with the bytes in its fields.
#include "EncoderCase.h"
#include "mime/HeaderBlock.h"
#include "mime/MimeException.h"

namespace {

// The fields of one message cut from the text at NUL bytes.
mime::THeaderFields Fields(const mimecheck::TEncoderCase& c)
{
    mime::THeaderFields fields;
    std::string rest = c.Text;
    for (std::string* field : {&fields.HdrFrom, &fields.HdrTo, &fields.HdrSubject, &fields.HdrCc}) {
        auto [head, tail] = fuzz::SplitAtNul(rest);
        *field = head;
        rest = tail;
    }
    fields.Allow8bitChars = false;
    fields.FoldHeaders = c.Fold;
    fields.ConvertToCharset = c.Convert;
    fields.SourceCodePage = c.OtherCodePage;
    try {
        fields.SetCharSet(mime::CodePageToCharset(c.CodePage));
    } catch (const mime::ECharsetNotSupported&) {
        // The system charset stands in for it.
    }
    return fields;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const mimecheck::TEncoderCase c = fuzz::EncoderCase(data, size);
    fuzz::Require(mimecheck::CheckHeaders(c));

    mime::THeaderFields fields = Fields(c);
    mime::TSmtpHeaderLines lines;
    try {
        mime::BuildHeaderBlock(fields, lines, {});
    } catch (const mime::EMimeException&) {
        return 0;  // refused with a reason
    }
    // Only the last line is empty, and no line break or NUL byte of a field
    // reaches the header: nothing in a field can add a header line or end
    // the header early. Folded lines are short. (An address may keep 8-bit
    // bytes: those cannot be encoded.)
    FUZZ_CHECK(lines.Count() > 0 && lines[lines.Count() - 1].empty());
    for (std::size_t i = 0; i + 1 < lines.Count(); ++i) {
        if (lines[i].empty())
            fuzz::Require(mimecheck::Broken("empty line inside the header", c.Text));
        for (const std::string& piece : mimecheck::Split(lines[i], "\r\n\t"))
            if ((c.Fold && piece.size() > 998) || piece.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
                fuzz::Require(mimecheck::Broken("header line", lines[i]));
    }
    return 0;
}
