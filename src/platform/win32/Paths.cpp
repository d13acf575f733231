#include "platform/Paths.h"

#include "Win32Error.h"

#include <windows.h>

namespace platform {

const char PathDelim = '\\';

namespace {

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

bool HasDrive(const std::string& path)
{
    return path.size() >= 2 && path[1] == ':' &&
           ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

// Position after which the file name starts: the last separator, or the
// colon of a drive ("C:name").
std::string::size_type NameStart(const std::string& path)
{
    const auto delim = path.find_last_of("\\/");
    if (delim != std::string::npos)
        return delim + 1;
    return HasDrive(path) ? 2 : 0;
}

std::string ModuleFileName(HMODULE module)
{
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0)
            return {};
        if (n < buffer.size()) {
            buffer.resize(n);
            return AnsiFromWide(buffer);
        }
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace

std::string ProgramDir()
{
    const std::string exe = ModuleFileName(nullptr);
    const auto start = NameStart(exe);
    if (start == 0)
        return ".";
    return exe.substr(0, start - 1);
}

bool HasDirectoryPart(const std::string& path)
{
    return NameStart(path) != 0;
}

bool IsAbsolutePath(const std::string& path)
{
    return (!path.empty() && IsSeparator(path[0])) || (HasDrive(path) && path.size() > 2 && IsSeparator(path[2]));
}

std::string FileNameOfPath(const std::string& path)
{
    return path.substr(NameStart(path));
}

std::string DirectoryOfPath(const std::string& path)
{
    return path.substr(0, NameStart(path));
}

// In the user's local application data: the program's folder is shared by
// every user of the machine. Beside the settings file when there is none.
std::string PrivateDataPath(const std::string& settingsPath, const std::string& extension)
{
    const std::string beside = WithExtension(settingsPath, extension);
    wchar_t buffer[MAX_PATH];
    const DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", buffer, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return beside;
    const std::wstring folder = std::wstring(buffer, n) + L"\\plonemail";
    CreateDirectoryW(folder.c_str(), nullptr);
    return AnsiFromWide(folder) + PathDelim + FileNameOfPath(beside);
}

std::string ModuleFileOf(const void* address)
{
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(address), &module))
        return {};
    return ModuleFileName(module);
}

} // namespace platform
