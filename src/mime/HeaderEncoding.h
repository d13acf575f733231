#pragma once
#include "mime/ByteSet.h"

#include <cstdint>
#include <string>
#include <vector>

namespace mime {

// Encoded words of a header value: "=?" + charset + "?" + letter + "?" ...
// "?=", successive words joined by CR LF TAB. encType is 'B' or 'Q'. With
// fold, words fit maxColumn (raised to at least 25); without, "Q" makes one
// word and "B" words of up to 1020 characters. A multi-byte character never
// straddles two words. specials are escaped in "Q" words besides space, =,
// ? and _. Throws EMimeException for a charset name shorter than two
// characters or another letter. An empty text gives an empty string.
std::string HdrEncodeInLine(const std::string& text, const TByteSet& specials, char encType, bool multiByte,
                            std::uint32_t codePage, bool fold, int maxColumn, const std::string& charset);

// Encoded words for stateful code pages and UTF-7: text is in the system
// ANSI code page; every word is converted on its own, so each one decodes
// by itself.
// The text is in sourceCodePage (0: the system ANSI code page).
std::string EncodeStatefulHeaderText(std::uint32_t codePage, const std::string& charset, char encType,
                                     int maxColumn, bool fold, const std::string& text,
                                     std::uint32_t sourceCodePage = 0);

// How a header value may be folded: unstructured text only before blanks;
// an address list also after the commas between addresses.
enum class TFoldStyle { Unstructured, AddressList };

// Folds a complete header line to 76 columns where a fold changes nothing a
// parser reads back, and appends the physical lines to the list. The line
// break goes in before a run of blanks, which then begins the next line; in
// an address list also after a comma outside quoted strings and angle
// brackets, the next line then beginning with TAB. A run without such a
// place stays whole. A CR LF before a blank already in the line is kept.
void FoldHeaderLine(std::vector<std::string>& headerLines, const std::string& line, std::uint32_t codePage,
                    bool multiByte, TFoldStyle style = TFoldStyle::Unstructured);

} // namespace mime
