#pragma once
#include "mime/ReadStream.h"

#include <string>

namespace mime {

// Line producers for attachment contents. Each takes the next piece from
// the stream into line and returns More: whether the stream has more to
// give. The caller sends the line in either case.

// Text lines (CR dropped, LF ends a line). A longer line is cut where it
// would pass the 998 characters SMTP carries (997 when it begins with a
// full stop, which the transfer doubles).
bool ReadFileTextLine(TBufferedReadStream& stream, std::string& line);

// Reads the stream to its end and tells whether ReadFileTextLine would give
// every line back as written: none too long, no CR outside a CR LF.
bool TextLinesFit(TBufferedReadStream& stream);

// One quoted-printable line of at most 76 characters; the file travels as
// one logical line, so every non-empty line ends in a soft break, and a
// full stop is always escaped.
bool EncodeFileQuotedPrintableLine(TBufferedReadStream& stream, std::string& line);

// A block of up to 26 base64 lines of 76 characters joined by CR LF (no
// CR LF after the last line of a block).
bool EncodeFileBase64Block(TBufferedReadStream& stream, std::string& block);

} // namespace mime
