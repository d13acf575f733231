#pragma once
#include <cstdint>
#include <string>

namespace mime {

// Transfer encoding of text bodies (and the header-encoding letter).
enum TSmtpDefaultEncoding : std::uint8_t {
    smtpEnc7bit = 0,
    smtpEnc8bit = 1,
    smtpEncQuotedPrintable = 2,
    smtpEncBase64 = 3,
};

// Transfer encoding of attachments and images.
enum TSmtpEncoding : std::uint8_t {
    smtpEncodeNone = 0,  // written as "7bit", sent as text lines
    smtpEncodeBase64 = 1,
    smtpEncodeQP = 2,
};

// Names for Content-Transfer-Encoding lines.
std::string DefaultEncodingName(TSmtpDefaultEncoding encoding);  // "7bit", "8bit", ...
std::string SmtpEncodingName(TSmtpEncoding encoding);             // "7bit", "base64", ...

} // namespace mime
