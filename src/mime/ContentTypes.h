#pragma once
#include "platform/MediaTypes.h"

#include <string>

namespace mime {

// The content type of an attachment or image from its file name: the
// system's media-type table first, then the built-in table, then
// application/octet-stream. A system entry that could not be sent as these
// parts are (message and multipart types, which must not be base64-encoded,
// or text that is not a type/subtype pair) is passed over. systemTable
// looks an extension up in the system's table.
using TMediaTypeLookup = std::string (*)(const std::string& extension);
std::string ContentTypeFromFileName(const std::string& fileName,
                                    TMediaTypeLookup systemTable = platform::SystemMediaType);

// The built-in table alone: the extension in any letter case, without its
// full stop; empty when it is not in the table.
std::string BuiltInContentType(const std::string& extension);

} // namespace mime
