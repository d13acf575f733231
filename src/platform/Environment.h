#pragma once
#include <optional>
#include <string>

namespace platform {

// The process's environment variables. Setting nullopt removes one; on
// Windows an empty value removes it too.
std::optional<std::string> EnvironmentValue(const std::string& name);
void SetEnvironmentValue(const std::string& name, const std::optional<std::string>& value);

} // namespace platform
