#include "platform/SystemError.h"

#include "Win32Error.h"
#include "platform/CodePages.h"

#include <windows.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace platform {

namespace {

struct TErrnoName {
    int Number;
    const char* Name;
};

// The C library here has no names for its numbers.
constexpr TErrnoName kErrnoNames[] = {
    {EPERM, "EPERM"},   {ENOENT, "ENOENT"},   {EINTR, "EINTR"},   {EIO, "EIO"},
    {EBADF, "EBADF"},   {EAGAIN, "EAGAIN"},   {ENOMEM, "ENOMEM"}, {EACCES, "EACCES"},
    {EBUSY, "EBUSY"},   {EEXIST, "EEXIST"},   {ENOTDIR, "ENOTDIR"}, {EISDIR, "EISDIR"},
    {EINVAL, "EINVAL"}, {EMFILE, "EMFILE"},   {ENOSPC, "ENOSPC"}, {ESPIPE, "ESPIPE"},
    {EROFS, "EROFS"},   {EPIPE, "EPIPE"},     {ENAMETOOLONG, "ENAMETOOLONG"},
    {ENOTEMPTY, "ENOTEMPTY"}, {EXDEV, "EXDEV"}, {ENFILE, "ENFILE"}, {EFBIG, "EFBIG"},
};

int ErrnoOfWin32(unsigned long code)
{
    static constexpr std::pair<unsigned long, int> table[] = {
        {ERROR_FILE_NOT_FOUND, ENOENT},     {ERROR_PATH_NOT_FOUND, ENOENT},
        {ERROR_INVALID_DRIVE, ENOENT},      {ERROR_BAD_NETPATH, ENOENT},
        {ERROR_BAD_PATHNAME, ENOENT},       {ERROR_INVALID_NAME, ENOENT},
        {ERROR_TOO_MANY_OPEN_FILES, EMFILE}, {ERROR_ACCESS_DENIED, EACCES},
        {ERROR_SHARING_VIOLATION, EACCES},  {ERROR_LOCK_VIOLATION, EACCES},
        {ERROR_WRITE_PROTECT, EROFS},       {ERROR_INVALID_HANDLE, EBADF},
        {ERROR_NOT_ENOUGH_MEMORY, ENOMEM},  {ERROR_OUTOFMEMORY, ENOMEM},
        {ERROR_FILE_EXISTS, EEXIST},        {ERROR_ALREADY_EXISTS, EEXIST},
        {ERROR_DIRECTORY, ENOTDIR},         {ERROR_DISK_FULL, ENOSPC},
        {ERROR_HANDLE_DISK_FULL, ENOSPC},   {ERROR_FILENAME_EXCED_RANGE, ENAMETOOLONG},
        {ERROR_DIR_NOT_EMPTY, ENOTEMPTY},   {ERROR_NOT_SAME_DEVICE, EXDEV},
        {ERROR_BROKEN_PIPE, EPIPE},         {ERROR_NO_DATA, EPIPE},
        {ERROR_INVALID_PARAMETER, EINVAL},  {ERROR_NEGATIVE_SEEK, EINVAL},
        {ERROR_BUSY, EBUSY},                {ERROR_CANT_RESOLVE_FILENAME, ENOENT},
    };
    for (const auto& [win, err] : table)
        if (win == code)
            return err;
    return EIO;
}

} // namespace

SystemError SystemErrorFromErrno(int err)
{
    SystemError e;
    e.Code = err;
    e.Name = "E" + std::to_string(err);
    for (const TErrnoName& n : kErrnoNames)
        if (n.Number == err)
            e.Name = n.Name;
    e.Message = std::strerror(err);
    return e;
}

SystemError SystemErrorFromWin32(unsigned long code)
{
    return SystemErrorFromErrno(ErrnoOfWin32(code));
}

SystemError LastWin32Error()
{
    return SystemErrorFromWin32(GetLastError());
}

std::wstring WideFromAnsi(const std::string& text)
{
    if (text.empty())
        return {};
    const UINT cp = SystemAnsiCodePage();
    const int n = MultiByteToWideChar(cp, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(cp, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

std::string AnsiFromWide(const std::wstring& text)
{
    if (text.empty())
        return {};
    const UINT cp = SystemAnsiCodePage();
    const int n = WideCharToMultiByte(cp, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(cp, 0, text.data(), static_cast<int>(text.size()), narrow.data(), n, nullptr, nullptr);
    return narrow;
}

} // namespace platform
