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
std::string EncodeStatefulHeaderText(std::uint32_t codePage, const std::string& charset, char encType,
                                     int maxColumn, bool fold, const std::string& text);

// Folds a complete header line at the header fold points to 76 columns and
// appends the pieces to the list (every piece after the first starts with
// TAB). A CR LF TAB in the line is kept as a fold.
void FoldHeaderLine(std::vector<std::string>& headerLines, const std::string& line, std::uint32_t codePage,
                    bool multiByte);

// Folds a value at the given fold points; pieces joined by CR LF TAB.
std::string FoldString(const std::string& text, const TByteSet& foldPoints, int maxColumn);

// Content type guessed from a file name's extension.
std::string ContentTypeFromFileName(const std::string& fileName);

} // namespace mime
