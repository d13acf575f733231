#include "mime/Encodings.h"

namespace mime {

std::string DefaultEncodingName(TSmtpDefaultEncoding encoding)
{
    switch (encoding) {
    case smtpEnc8bit: return "8bit";
    case smtpEncQuotedPrintable: return "quoted-printable";
    case smtpEncBase64: return "base64";
    default: return "7bit";
    }
}

std::string SmtpEncodingName(TSmtpEncoding encoding)
{
    switch (encoding) {
    case smtpEncodeBase64: return "base64";
    case smtpEncodeQP: return "quoted-printable";
    default: return "7bit";
    }
}

} // namespace mime
