#pragma once
#include "mime/Encodings.h"

#include <cstdint>
#include <string>

namespace mime {

// Cursor over one text part: the text (already in its code page), the
// transfer encoding chosen for it and the position of the next line.
struct TSmtpMessageText {
    TSmtpDefaultEncoding Encoding = smtpEnc7bit;
    bool Wrap = false;
    int MaxLineLength = 0;
    std::uint32_t CodePage = 0;
    bool MultiByte = false;
    std::string Text;
    int Position = 0;  // 1-based next byte; 0 when no lines are left
};

// Starts a text part. With convert, the text is converted from the system
// ANSI code page to codePage first. The encoding is chosen from the
// requested one, allow8bit and whether the text needs encoding: pure ASCII
// asked as 8bit goes as 7bit, 8-bit text goes as 8bit only when allowed and
// otherwise as quoted-printable, and texts in stateful code pages or UTF-7
// never go as 7bit/8bit. An empty text gives no lines and 7bit. Returns the
// length of the stored text.
int InitMessageText(TSmtpMessageText& cursor, const std::string& text, std::uint32_t codePage,
                    int maxLineLength, bool wrap, bool allow8bit, TSmtpDefaultEncoding requested,
                    bool convert, bool multiByte);

// The next line of the part in its transfer encoding (without CR LF); call
// while cursor.Position is not 0.
std::string NextMessageLine(TSmtpMessageText& cursor);

} // namespace mime
