#pragma once
#include "mime/ByteSet.h"

#include <cstdint>
#include <string>

namespace mime {

// Positions below are 1-based byte cursors into the text that each call
// advances; a text is limited to 2^31 - 2 bytes.
inline constexpr int kPositionPastEnd = 0x7FFFFFFF;

// Appends "=" and the two upper-case hex digits of a byte.
void AppendQpEscape(unsigned char c, std::string& out);

// True when the text holds any byte other than TAB, LF, CR and 32 ... 126.
bool NeedsEncoding(const std::string& text);

// Cuts the next line from the text at position. A hard break (the break
// string in the text) ends the line before the break string; otherwise the
// line ends with the last break character found once maxColumn is passed.
// Quotes (a byte of quoteChars up to the same byte) are never cut. With
// forceBreak a run without break characters is cut at maxColumn. In a
// multi-byte code page characters are never split. When the text ends
// first, the rest is the line and position becomes kPositionPastEnd.
std::string WrapText(const std::string& text, const std::string& breakString, const TByteSet& breakChars,
                     int maxColumn, const TByteSet& quoteChars, int& position, bool forceBreak,
                     std::uint32_t codePage, bool multiByte);

// Produces one quoted-printable segment from position: at most limit
// characters (at least 16; with limitLength off three times the text
// length) including a final soft-break "=" when the text goes on. Bytes of
// extraChars are escaped too; with spaceAsUnderscore a space becomes "_".
// With multiByte, a character never straddles two segments.
std::string EncodeQuotedPrintableSegment(const std::string& text, int limit, const TByteSet& extraChars,
                                         bool spaceAsUnderscore, int& position, bool limitLength,
                                         std::uint32_t codePage, bool multiByte);

} // namespace mime
