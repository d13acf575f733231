#include "platform/Paths.h"

namespace platform {

std::string WithExtension(const std::string& path, const std::string& extension)
{
    const std::string name = FileNameOfPath(path);
    const auto dot = name.rfind('.');
    const std::size_t keep = path.size() - (dot == std::string::npos || dot == 0 ? 0 : name.size() - dot);
    return path.substr(0, keep) + extension;
}

} // namespace platform
