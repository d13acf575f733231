#include "platform/Files.h"

#include "Win32Error.h"

#include <windows.h>
#include <sddl.h>

#include <algorithm>

namespace platform {

namespace {

HANDLE Raw(std::intptr_t handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

DWORD ShareFlags(TFileShare share)
{
    switch (share) {
    case TFileShare::DenyWrite: return FILE_SHARE_READ;
    case TFileShare::DenyRead: return FILE_SHARE_WRITE;
    case TFileShare::DenyNone: return FILE_SHARE_READ | FILE_SHARE_WRITE;
    default: return 0; // compatibility and exclusive
    }
}

std::optional<SystemError> WriteAll(HANDLE handle, const char* data, std::size_t n)
{
    while (n > 0) {
        DWORD w = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(n, 1u << 30));
        if (!WriteFile(handle, data, chunk, &w, nullptr))
            return LastWin32Error();
        data += w;
        n -= w;
    }
    return std::nullopt;
}

// The security descriptor that gives the running user, and no one else,
// full access, with nothing inherited from the folder.
std::optional<SystemError> UserOnlyDescriptor(PSECURITY_DESCRIPTOR& descriptor)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return LastWin32Error();
    alignas(TOKEN_USER) char buffer[256];
    DWORD size = 0;
    const BOOL gotUser = GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size);
    CloseHandle(token);
    wchar_t* sid = nullptr;
    if (!gotUser || !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &sid))
        return LastWin32Error();
    const std::wstring sddl = L"D:P(A;;FA;;;" + std::wstring(sid) + L")";
    LocalFree(sid);
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        return LastWin32Error();
    return std::nullopt;
}

DWORD Attributes(const std::string& path)
{
    return GetFileAttributesW(WideFromAnsi(path).c_str());
}

} // namespace

bool FileExists(const std::string& path)
{
    const DWORD a = Attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::string& path)
{
    const DWORD a = Attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool DeleteFileAt(const std::string& path)
{
    return DeleteFileW(WideFromAnsi(path).c_str()) != 0;
}

TFile::~TFile()
{
    Close();
}

// Files written here are shared for reading and writing, so that several
// runs can append to one log; a file may be deleted while it is open.
std::optional<SystemError> TFile::Open(const std::string& path, TMode mode, TFileShare share)
{
    Close();
    DWORD access = GENERIC_READ;
    DWORD disposition = OPEN_EXISTING;
    DWORD sharing = ShareFlags(share) | FILE_SHARE_DELETE;
    if (mode != TMode::Read) {
        access = mode == TMode::Append ? FILE_APPEND_DATA : GENERIC_WRITE;
        disposition = mode == TMode::Append ? OPEN_ALWAYS : CREATE_ALWAYS;
        sharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    }
    const HANDLE h = CreateFileW(WideFromAnsi(path).c_str(), access, sharing, nullptr, disposition,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return LastWin32Error();
    if (mode == TMode::Read && GetFileType(h) == FILE_TYPE_CHAR) {
        // The console or a port would wait for input or never end.
        CloseHandle(h);
        return SystemErrorFromWin32(ERROR_INVALID_PARAMETER);
    }
    FHandle = reinterpret_cast<std::intptr_t>(h);
    return std::nullopt;
}

bool TFile::IsRegularFile() const
{
    return GetFileType(Raw(FHandle)) == FILE_TYPE_DISK;
}

std::optional<SystemError> TFile::Read(char* buffer, std::size_t n, std::size_t& got)
{
    got = 0;
    while (got < n) {
        DWORD r = 0;
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(n - got, 1u << 30));
        if (!ReadFile(Raw(FHandle), buffer + got, want, &r, nullptr))
            return LastWin32Error();
        if (r == 0)
            break;
        got += r;
    }
    return std::nullopt;
}

std::optional<SystemError> TFile::Write(const char* data, std::size_t n)
{
    return WriteAll(Raw(FHandle), data, n);
}

std::optional<SystemError> TFile::Close()
{
    if (FHandle == NoHandle)
        return std::nullopt;
    const BOOL ok = CloseHandle(Raw(FHandle));
    FHandle = NoHandle;
    if (!ok)
        return LastWin32Error();
    return std::nullopt;
}

// Created for its user alone before the text is in it; the new file then
// takes the name.
std::optional<SystemError> ReplaceOwnerOnlyFile(const std::string& path, const std::string& text)
{
    PSECURITY_DESCRIPTOR userOnly = nullptr;
    if (auto err = UserOnlyDescriptor(userOnly))
        return err;
    SECURITY_ATTRIBUTES security {sizeof(SECURITY_ATTRIBUTES), userOnly, FALSE};
    const std::string temporary = path + ".new" + std::to_string(GetCurrentProcessId());
    // A file that is there already would keep its own permissions.
    DeleteFileAt(temporary);
    const HANDLE h = CreateFileW(WideFromAnsi(temporary).c_str(), GENERIC_WRITE, 0, &security, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    LocalFree(userOnly);
    if (h == INVALID_HANDLE_VALUE)
        return LastWin32Error();
    std::optional<SystemError> err = WriteAll(h, text.data(), text.size());
    if (!CloseHandle(h) && !err)
        err = LastWin32Error();
    if (!err && !MoveFileExW(WideFromAnsi(temporary).c_str(), WideFromAnsi(path).c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        err = LastWin32Error();
    if (err)
        DeleteFileAt(temporary);
    return err;
}

} // namespace platform
