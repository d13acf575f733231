#include "platform/Files.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

int OpenFlags(TFile::TMode mode)
{
    switch (mode) {
    case TFile::TMode::Read: return O_RDONLY;
    case TFile::TMode::Append: return O_WRONLY | O_APPEND | O_CREAT;
    default: return O_WRONLY | O_CREAT | O_TRUNC;
    }
}

// Retries short writes and interrupts.
std::optional<SystemError> WriteAll(int fd, const char* data, std::size_t n)
{
    while (n > 0) {
        const ssize_t w = ::write(fd, data, n);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return SystemErrorFromErrno(errno);
        }
        data += w;
        n -= static_cast<std::size_t>(w);
    }
    return std::nullopt;
}

} // namespace

bool FileExists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool DeleteFileAt(const std::string& path)
{
    return ::unlink(path.c_str()) == 0;
}

TFile::~TFile()
{
    Close();
}

// No mandatory sharing here: every mode opens alike. Opening without delay
// skips the wait for the other end of a named pipe; then reads and writes
// block as usual.
std::optional<SystemError> TFile::Open(const std::string& path, TMode mode, TFileShare)
{
    Close();
    const int fd = ::open(path.c_str(), OpenFlags(mode) | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0)
        return SystemErrorFromErrno(errno);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    FHandle = fd;
    return std::nullopt;
}

bool TFile::IsRegularFile() const
{
    struct stat st {};
    return ::fstat(static_cast<int>(FHandle), &st) == 0 && S_ISREG(st.st_mode);
}

std::optional<SystemError> TFile::Read(char* buffer, std::size_t n, std::size_t& got)
{
    got = 0;
    while (got < n) {
        const ssize_t r = ::read(static_cast<int>(FHandle), buffer + got, n - got);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return SystemErrorFromErrno(errno);
        }
        if (r == 0)
            break;
        got += static_cast<std::size_t>(r);
    }
    return std::nullopt;
}

std::optional<SystemError> TFile::Write(const char* data, std::size_t n)
{
    return WriteAll(static_cast<int>(FHandle), data, n);
}

std::optional<SystemError> TFile::Close()
{
    if (FHandle == NoHandle)
        return std::nullopt;
    const int rc = ::close(static_cast<int>(FHandle));
    FHandle = NoHandle;
    if (rc != 0 && errno != EINTR)
        return SystemErrorFromErrno(errno);
    return std::nullopt;
}

std::optional<SystemError> ReplaceOwnerOnlyFile(const std::string& path, const std::string& text)
{
    const std::string temporary = path + ".new" + std::to_string(::getpid());
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return SystemErrorFromErrno(errno);
    // An older file of that name may have had wider permissions.
    std::optional<SystemError> err = ::fchmod(fd, 0600) == 0 ? WriteAll(fd, text.data(), text.size())
                                                              : SystemErrorFromErrno(errno);
    if (::close(fd) != 0 && !err)
        err = SystemErrorFromErrno(errno);
    if (!err && ::rename(temporary.c_str(), path.c_str()) != 0)
        err = SystemErrorFromErrno(errno);
    if (err)
        ::unlink(temporary.c_str());
    return err;
}

} // namespace platform
