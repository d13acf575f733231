#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace mime {

// One row of the character-set table. Names are lower case and separated by
// spaces; the first is the MIME name written into messages, the others are
// aliases accepted on input.
struct TCharsetInfo {
    unsigned Id = 0;
    std::uint32_t CodePage = 0;
    std::string Names;
    std::string DisplayName;
};

inline constexpr std::size_t kCharsetCount = 80;
using TCharsetInfos = std::array<TCharsetInfo, kCharsetCount>;

inline constexpr std::uint32_t kCpUnknown = 65536;      // no such charset
inline constexpr std::uint32_t kCpUnavailable = 65537;  // known, but not convertible here
inline constexpr std::uint32_t kCpUtf7 = 65000;
inline constexpr std::uint32_t kCpUtf8 = 65001;

// The table, built on first use: row 0 is the system ANSI code page (names
// copied from the row of that code page), row 1 the unknown row, then the
// named rows in search order.
const TCharsetInfos& CharsetInfos();

// Looks a charset name (trimmed and lower-cased by the caller) up. On
// success codePage is the row's code page; otherwise false with codePage
// kCpUnknown (no such name) or kCpUnavailable (the platform lacks it).
bool CharsetToCodePage(const std::string& charset, std::uint32_t& codePage);

// MIME name of a code page; empty for code pages outside the table.
std::string CodePageToCharset(std::uint32_t codePage);

// Converts text between code pages through UTF-16. Unrepresentable
// characters become "?"; an empty result means the conversion failed.
std::string ConvertCodePage(const std::string& text, std::uint32_t from, std::uint32_t to);

// The code page of the running process and whether it is single-byte.
std::uint32_t AnsiCodePage();
bool AnsiIsSingleByte();

// Code-page classes: single-byte code pages (every other one counts as
// multi-byte) and stateful ones (escape-sequence encodings).
bool IsSingleByteCodePage(std::uint32_t codePage);
inline bool IsMultiByteCodePage(std::uint32_t codePage) { return !IsSingleByteCodePage(codePage); }
bool IsStatefulCodePage(std::uint32_t codePage);
// Stateful or UTF-7: texts in these are never sent as plain 7bit/8bit and
// their header words are made by EncodeStatefulHeaderText.
inline bool NeedsStatefulTreatment(std::uint32_t codePage)
{
    return codePage == kCpUtf7 || IsStatefulCodePage(codePage);
}

// Number of bytes of the character that starts at the 0-based index of a
// text in a multi-byte code page (1 for single bytes and invalid sequences;
// never beyond the end of the text).
std::size_t CharByteCount(const std::string& text, std::size_t index, std::uint32_t codePage);

} // namespace mime
