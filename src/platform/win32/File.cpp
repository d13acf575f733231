#include "platform/Files.h"

#include "Win32Error.h"

#include <windows.h>

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
    if (mode == TMode::Read && GetFileType(h) != FILE_TYPE_DISK) {
        // A pipe or a device would block or never end.
        CloseHandle(h);
        return SystemErrorFromWin32(ERROR_INVALID_PARAMETER);
    }
    FHandle = reinterpret_cast<std::intptr_t>(h);
    return std::nullopt;
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
    while (n > 0) {
        DWORD w = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(n, 1u << 30));
        if (!WriteFile(Raw(FHandle), data, chunk, &w, nullptr))
            return LastWin32Error();
        data += w;
        n -= w;
    }
    return std::nullopt;
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

// The file lives in the user's own profile (see PrivateDataPath), whose
// permissions keep other users out; the new text takes the name at once.
std::optional<SystemError> ReplaceOwnerOnlyFile(const std::string& path, const std::string& text)
{
    const std::string temporary = path + ".new" + std::to_string(GetCurrentProcessId());
    TFile file;
    std::optional<SystemError> err = file.Open(temporary, TFile::TMode::Create);
    if (!err)
        err = file.Write(text.data(), text.size());
    if (auto closeErr = file.Close(); closeErr && !err)
        err = closeErr;
    if (!err && !MoveFileExW(WideFromAnsi(temporary).c_str(), WideFromAnsi(path).c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        err = LastWin32Error();
    if (err)
        DeleteFileAt(temporary);
    return err;
}

} // namespace platform
