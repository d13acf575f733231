#include "smtp/SmtpAddress.h"

#include "platform/HostName.h"

#include <algorithm>

namespace smtp {

std::string HeloName(const std::string& signOn)
{
    std::string name = signOn.empty() ? platform::LocalHostName() : signOn;
    if (name.empty())
        name = "localhost";
    std::replace(name.begin(), name.end(), ' ', '_');
    return name;
}

} // namespace smtp
