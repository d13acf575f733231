#pragma once
#include <string>

namespace runner {

// The stored form of the settings password: a position-dependent
// substitution of letters and digits (an obfuscation, not encryption).
// Other characters pass through unchanged but still advance the position.
std::string UnscramblePassword(const std::string& stored);
std::string ScramblePassword(const std::string& plain);

} // namespace runner
