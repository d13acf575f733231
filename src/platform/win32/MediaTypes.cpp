#include "platform/MediaTypes.h"

#include "Win32Error.h"

#include <windows.h>

namespace platform {

// The "Content Type" value of the extension's key under HKEY_CLASSES_ROOT,
// where installed programs register the types of their files.
std::string SystemMediaType(const std::string& extension)
{
    if (extension.empty() || extension.find_first_of("\\/") != std::string::npos)
        return {};
    const std::wstring key = L"." + WideFromAnsi(extension);
    wchar_t value[256];
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), L"Content Type", RRF_RT_REG_SZ, nullptr, value, &size) !=
        ERROR_SUCCESS)
        return {};
    return AnsiFromWide(std::wstring(value, size / sizeof(wchar_t) - 1));
}

} // namespace platform
