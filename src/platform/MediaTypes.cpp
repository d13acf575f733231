#include "platform/MediaTypes.h"

#include "platform/TextUtil.h"

#include <fstream>
#include <sstream>

namespace platform {

namespace {

constexpr const char* kSystemTable = "/etc/mime.types";

} // namespace

std::string MediaTypeFromTable(const std::string& tablePath, const std::string& extension)
{
    const std::string wanted = LowerAscii(extension);
    if (wanted.empty())
        return {};
    std::ifstream table(tablePath);
    std::string line;
    while (std::getline(table, line)) {
        const auto comment = line.find('#');
        if (comment != std::string::npos)
            line.resize(comment);
        std::istringstream fields(line);
        std::string type;
        std::string ext;
        fields >> type;
        while (fields >> ext)
            if (LowerAscii(ext) == wanted)
                return type;
    }
    return {};
}

std::string SystemMediaType(const std::string& extension)
{
    return MediaTypeFromTable(kSystemTable, extension);
}

} // namespace platform
