#pragma once
#include <string>
#include <vector>

namespace runner {

// Splits at every exact occurrence of the separator. Items are not trimmed;
// an empty item between two separators stays, a trailing separator adds no
// empty last item, and an empty separator never matches.
std::vector<std::string> SplitString(const std::string& text, const std::string& separator);

} // namespace runner
