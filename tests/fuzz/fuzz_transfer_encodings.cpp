// Base64 and quoted-printable, code-page conversions and the body lines of
// text parts, for arbitrary bytes in any code page of the charset table.
#include "EncoderCase.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const mimecheck::TEncoderCase c = fuzz::EncoderCase(data, size);
    fuzz::Require(mimecheck::CheckCodings(c));
    fuzz::Require(mimecheck::CheckBody(c));
    return 0;
}
