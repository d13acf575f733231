#pragma once
// Windows' own error numbers and texts, for the platform layer's sources.
#include "platform/SystemError.h"

#include <string>

namespace platform {

// A Windows error (GetLastError) as the same system error the POSIX side
// reports for the same failure (ERROR_FILE_NOT_FOUND as ENOENT and so on),
// so that the texts do not depend on the system.
SystemError SystemErrorFromWin32(unsigned long code);
SystemError LastWin32Error();

// Text in the ANSI code page <-> UTF-16 for the system's W functions.
std::wstring WideFromAnsi(const std::string& text);
std::string AnsiFromWide(const std::wstring& text);

} // namespace platform
