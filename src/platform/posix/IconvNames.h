#pragma once
#include <string>

namespace platform {

// iconv name of a code page ("CP1252", "ISO-8859-1", "UTF-7", ...); empty
// when none is known.
std::string IconvNameOfCodePage(unsigned codePage);

} // namespace platform
