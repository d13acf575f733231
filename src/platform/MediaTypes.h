#pragma once
#include <string>

namespace platform {

// The media type that the system's table gives a file-name extension (any
// letter case, without its full stop), as written there; empty when the
// table has none or cannot be read. The table is read at each call, so only
// what needs a type pays for it. On Linux it is /etc/mime.types (Debian
// package media-types); on Windows the "Content Type" value of the
// extension's key in the registry.
std::string SystemMediaType(const std::string& extension);

// The same from a table file in the mime.types form: a media type, then
// the extensions that have it, separated by blanks; "#" starts a comment.
// The first line that lists the extension counts.
std::string MediaTypeFromTable(const std::string& tablePath, const std::string& extension);

} // namespace platform
