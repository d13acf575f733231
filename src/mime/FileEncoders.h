#pragma once
#include "mime/ReadStream.h"

#include <string>

namespace mime {

// Line producers for attachment contents. Each takes the next piece from
// the stream into line and returns More: whether the stream has more to
// give. The caller sends the line in either case.

// Text lines (CR dropped, LF ends a line, at most 1022 bytes a line).
bool ReadFileTextLine(TBufferedReadStream& stream, std::string& line);

// One quoted-printable line of at most 76 characters; the file travels as
// one logical line, so every non-empty line ends in a soft break, and a
// full stop is always escaped.
bool EncodeFileQuotedPrintableLine(TBufferedReadStream& stream, std::string& line);

// A block of up to 26 base64 lines of 76 characters joined by CR LF (no
// CR LF after the last line of a block).
bool EncodeFileBase64Block(TBufferedReadStream& stream, std::string& block);

} // namespace mime
