#include "platform/HostName.h"

#include <unistd.h>

#include <array>
#include <cstring>

namespace platform {

std::string LocalHostName()
{
    std::array<char, 256> buffer {};
    if (gethostname(buffer.data(), buffer.size() - 1) != 0)
        return {};
    return std::string(buffer.data(), strnlen(buffer.data(), buffer.size()));
}

} // namespace platform
