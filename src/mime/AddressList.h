#pragma once
// Address lists as the header lines and the envelope read them: items split
// at "," and ";" (and line breaks) outside double-quoted strings, each item split into a
// display name and an address. Only double quotes quote; inside them a
// backslash before a double quote or a backslash stands for that character
// (any other backslash is itself). Texts are walked character
// by character in their code page, so that a trail byte that looks like a
// quote or a backslash is never taken for one.

#include <cstdint>
#include <string>
#include <vector>

namespace mime {

struct TMailAddress {
    std::string DisplayName;
    std::string Address;
};

// The text between double quotes, with a backslash before every backslash
// and double quote in it.
std::string QuotedString(const std::string& text, std::uint32_t codePage = 0);

// Appends the trimmed, non-empty items of an address list; a line break
// outside quotes separates items too. A double quote after a backslash
// outside a quoted string does not open one.
void SplitAddressList(const std::string& text, std::vector<std::string>& items, std::uint32_t codePage = 0);

// Splits `"Name" <addr>`, `Name <addr>`, `Name addr` and bare addresses; a
// quoted name comes back without its quotes and escapes. Without angle
// brackets the text after the first space is the address, so "addr Name"
// yields "Name"; a missing ">" takes the rest of the text. An address left
// empty is taken from a display name that holds an at sign.
TMailAddress ParseAddress(const std::string& text, std::uint32_t codePage = 0);

} // namespace mime
