#include "platform/Environment.h"

#include <cstdlib>
#include <ctime>

namespace platform {

std::optional<std::string> EnvironmentValue(const std::string& name)
{
    const char* value = std::getenv(name.c_str());
    return value ? std::optional<std::string>(value) : std::nullopt;
}

// The C runtime's copy, which getenv and the time-zone functions read.
void SetEnvironmentValue(const std::string& name, const std::optional<std::string>& value)
{
    _putenv_s(name.c_str(), value ? value->c_str() : "");
    if (name == "TZ")
        _tzset();
}

} // namespace platform
