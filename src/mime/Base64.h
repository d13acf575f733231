#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace mime {

// Standard base64 with "=" fill and no line breaks.
std::string Base64Encode(std::string_view bytes);

// Decodes base64 text of any quality: CR, LF and bytes outside the alphabet
// are skipped, a "=" ends the current group of four, and a truncated last
// group yields the bytes it holds.
std::string Base64Decode(std::string_view text);

// Encodes the next 57 bytes (fewer at the end) from the 1-based position,
// which is advanced past them: one line of at most 76 characters.
std::string Base64EncodeLine(const std::string& text, int& position);

// Size of n bytes in base64 with a CR LF after every started 76-character line.
std::uint64_t Base64EncodedSize(std::uint64_t n);

// The base64 form of n bytes: appended to out, or written to dst (room for
// 4 * ceil(n / 3) characters) returning the end of what was written.
void AppendBase64(const unsigned char* bytes, std::size_t n, std::string& out);
char* EncodeBase64To(const unsigned char* bytes, std::size_t n, char* dst);

} // namespace mime
