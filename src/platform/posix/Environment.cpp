#include "platform/Environment.h"

#include <cstdlib>
#include <ctime>

namespace platform {

std::optional<std::string> EnvironmentValue(const std::string& name)
{
    const char* value = std::getenv(name.c_str());
    return value ? std::optional<std::string>(value) : std::nullopt;
}

void SetEnvironmentValue(const std::string& name, const std::optional<std::string>& value)
{
    if (value)
        ::setenv(name.c_str(), value->c_str(), 1);
    else
        ::unsetenv(name.c_str());
    if (name == "TZ")
        ::tzset();
}

} // namespace platform
