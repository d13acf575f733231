#include "mime/FileEncoders.h"

#include "mime/Base64.h"
#include "mime/TextEncoders.h"

#include <algorithm>

namespace mime {

namespace {

// The longest line SMTP carries, without its CR LF (RFC 5321 4.5.3.1.6).
constexpr std::size_t kTextLineMax = 998;
constexpr std::size_t kQpLineFill = 73;
constexpr std::size_t kBase64LineBytes = 57;
constexpr std::size_t kBase64BlockLines = 26;

// A line that begins with a full stop gets one more on the wire.
std::size_t TextLineCap(const std::string& line)
{
    return !line.empty() && line.front() == '.' ? kTextLineMax - 1 : kTextLineMax;
}

} // namespace

bool ReadFileTextLine(TBufferedReadStream& stream, std::string& line)
{
    line.clear();
    for (;;) {
        if (line.size() == TextLineCap(line)) {
            // A line ending right after a full line belongs to it, not to
            // an empty line of its own.
            if (stream.PeekByte() == '\r')
                stream.ReadByte();
            if (stream.PeekByte() == '\n')
                stream.ReadByte();
            break;
        }
        const int c = stream.ReadByte();
        if (c < 0 || c == '\n')
            break;
        if (c != '\r')
            line.push_back(static_cast<char>(c));
    }
    return stream.More();
}

bool TextLinesFit(TBufferedReadStream& stream)
{
    std::size_t length = 0;
    bool dot = false;
    for (int c; (c = stream.ReadByte()) >= 0;) {
        if (c == '\n') {
            length = 0;
        } else if (c == '\r') {
            if (stream.PeekByte() != '\n')
                return false;
        } else {
            if (length == 0)
                dot = c == '.';
            if (++length + (dot ? 1 : 0) > kTextLineMax)
                return false;
        }
    }
    return true;
}

bool EncodeFileQuotedPrintableLine(TBufferedReadStream& stream, std::string& line)
{
    line.clear();
    bool delivered = true;
    while (line.size() < kQpLineFill) {
        const int c = stream.ReadByte();
        if (c < 0) {
            delivered = false;
            break;
        }
        if (c >= 32 && c <= 126 && c != '.' && c != '=') {
            line.push_back(static_cast<char>(c));
        } else {
            AppendQpEscape(static_cast<unsigned char>(c), line);
        }
    }
    if (!line.empty())
        line.push_back('=');
    return delivered;
}

bool EncodeFileBase64Block(TBufferedReadStream& stream, std::string& block)
{
    unsigned char bytes[kBase64LineBytes * kBase64BlockLines];
    const std::size_t got = stream.Read(reinterpret_cast<char*>(bytes), sizeof bytes);
    const std::size_t lines = (got + kBase64LineBytes - 1) / kBase64LineBytes;
    block.resize((got + 2) / 3 * 4 + (lines > 0 ? 2 * (lines - 1) : 0));
    char* dst = block.data();
    for (std::size_t off = 0; off < got; off += kBase64LineBytes) {
        if (off > 0) {
            *dst++ = '\r';
            *dst++ = '\n';
        }
        dst = EncodeBase64To(bytes + off, std::min(kBase64LineBytes, got - off), dst);
    }
    return stream.More();
}

} // namespace mime
