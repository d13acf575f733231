#include "mime/ContentTypes.h"

#include "platform/TextUtil.h"

#include <cctype>
#include <string_view>
#include <utility>

namespace mime {

namespace {

constexpr const char* kUnknownType = "application/octet-stream";

constexpr std::pair<const char*, const char*> kBuiltInTypes[] = {
    {"htm", "text/html"},
    {"html", "text/html"},
    {"gif", "image/gif"},
    {"bmp", "image/bmp"},
    {"jpg", "image/jpeg"},
    {"jpeg", "image/jpeg"},
    {"txt", "text/plain"},
    {"png", "image/png"},
    {"svg", "image/svg+xml"},
    {"webp", "image/webp"},
    {"ico", "image/vnd.microsoft.icon"},
    {"tif", "image/tiff"},
    {"tiff", "image/tiff"},
    {"pdf", "application/pdf"},
    {"zip", "application/zip"},
    {"gz", "application/gzip"},
    {"csv", "text/csv"},
    {"json", "application/json"},
    {"xml", "application/xml"},
    {"ics", "text/calendar"},
    {"rtf", "application/rtf"},
    {"doc", "application/msword"},
    {"xls", "application/vnd.ms-excel"},
    {"ppt", "application/vnd.ms-powerpoint"},
    {"docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
    {"xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
    {"pptx", "application/vnd.openxmlformats-officedocument.presentationml.presentation"},
    {"odt", "application/vnd.oasis.opendocument.text"},
    {"ods", "application/vnd.oasis.opendocument.spreadsheet"},
    {"odp", "application/vnd.oasis.opendocument.presentation"},
};

// The characters of a media type's names (RFC 6838).
bool IsNameChar(char c)
{
    constexpr std::string_view kMarks = "!#$&-^_.+";
    return std::isalnum(static_cast<unsigned char>(c)) || kMarks.find(c) != std::string_view::npos;
}

// A type/subtype pair that a base64-encoded part may carry.
bool Usable(const std::string& type)
{
    const auto slash = type.find('/');
    if (slash == std::string::npos || slash == 0 || slash + 1 == type.size())
        return false;
    for (std::size_t i = 0; i < type.size(); ++i)
        if (i != slash && !IsNameChar(type[i]))
            return false;
    const std::string top = platform::LowerAscii(type.substr(0, slash));
    return top != "message" && top != "multipart";
}

std::string Extension(const std::string& fileName)
{
    const auto slash = fileName.find_last_of("/\\:");
    const auto dot = fileName.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    return platform::LowerAscii(fileName.substr(dot + 1));
}

} // namespace

std::string BuiltInContentType(const std::string& extension)
{
    const std::string ext = platform::LowerAscii(extension);
    for (const auto& [name, type] : kBuiltInTypes)
        if (ext == name)
            return type;
    return {};
}

std::string ContentTypeFromFileName(const std::string& fileName, TMediaTypeLookup systemTable)
{
    const std::string ext = Extension(fileName);
    if (ext.empty())
        return kUnknownType;
    if (std::string type = systemTable(ext); Usable(type))
        return type;
    if (std::string type = BuiltInContentType(ext); !type.empty())
        return type;
    return kUnknownType;
}

} // namespace mime
