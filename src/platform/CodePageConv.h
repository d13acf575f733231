#pragma once
#include <string>
#include <string_view>

namespace platform {

// Code-page services on the system's converters (iconv, or Windows' own).
// Code pages are Windows code-page numbers.

// True when the code page can be converted here (iconv opens it).
bool CodePageAvailable(unsigned codePage);

// True when text in the code page reads like ASCII wherever it is ASCII:
// every ASCII character (TAB, LF, CR, 32 ... 126) is its own single byte,
// and every other character starts with a byte of 128 or above (not with an
// escape sequence or a UTF-7 shift). Tags, quotes and addresses then mean
// the same whatever the rest of the text holds. False when the code page
// cannot be converted here.
bool CodePageKeepsAscii(unsigned codePage);

// Decodes bytes of a code page into UTF-16. An invalid or truncated byte
// sequence becomes "?" and decoding goes on; a letter the decoder holds back
// at the end (for a combining mark) is part of the result. Empty when the
// code page cannot be converted.
std::u16string CodePageToUtf16(std::string_view text, unsigned codePage);

// Encodes UTF-16 into a code page. A character the code page cannot
// represent (or a lone surrogate) becomes "?" in that code page. Stateful
// encodings end in their initial shift state, so every call yields a
// complete, independent piece. Empty when the code page cannot be converted.
std::string Utf16ToCodePage(std::u16string_view text, unsigned codePage);

} // namespace platform
