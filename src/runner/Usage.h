#pragma once
#include <optional>
#include <string>
#include <vector>

namespace runner {

inline constexpr const char* ProgramVersion = "3.36b";

std::string UsageText();

// "--help" or "--version" as the only argument: the text to print.
std::optional<std::string> InfoRequest(const std::vector<std::string>& args);

} // namespace runner
