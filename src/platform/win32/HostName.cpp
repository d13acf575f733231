#include "platform/HostName.h"

#include "SystemSockets.h"

#include <array>
#include <cstring>

namespace platform {

std::string LocalHostName()
{
    EnsureSockets();
    std::array<char, 256> buffer {};
    if (gethostname(buffer.data(), static_cast<int>(buffer.size() - 1)) != 0)
        return {};
    return std::string(buffer.data(), strnlen(buffer.data(), buffer.size()));
}

} // namespace platform
