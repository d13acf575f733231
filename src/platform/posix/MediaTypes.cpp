#include "platform/MediaTypes.h"

namespace platform {

std::string SystemMediaType(const std::string& extension)
{
    return MediaTypeFromTable("/etc/mime.types", extension);
}

} // namespace platform
