#pragma once
#include <string>
#include <vector>

namespace smtp {

// One element of an address list split into its display name and address.
struct TMailAddress {
    std::string DisplayName;
    std::string Address;
};

// Splits `"Name" <addr>`, `Name <addr>`, `Name addr` and bare addresses.
// Without angle brackets the text after the first space is the address, so
// "addr Name" yields "Name"; a missing ">" takes the rest of the text.
TMailAddress ParseAddress(const std::string& text);

// Splits one address-list text at "," and ";" outside double quotes (a quote
// after a backslash does not count) and appends the trimmed, non-empty items.
void SplitAddressList(const std::string& text, std::vector<std::string>& items);

// The name sent with HELO and EHLO: signOn, or the local host name when it
// is empty, with every space turned into "_".
std::string HeloName(const std::string& signOn);

} // namespace smtp
