#include "platform/Files.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// Writes all bytes, retrying short writes and interrupts.
std::optional<SystemError> WriteAll(int fd, const char* p, size_t left)
{
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return SystemErrorFromErrno(errno);
        }
        p += n;
        left -= static_cast<size_t>(n);
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

std::optional<SystemError> CreateEmptyFile(const std::string& path)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return SystemErrorFromErrno(errno);
    ::close(fd);
    return std::nullopt;
}

bool DeleteFileAt(const std::string& path)
{
    return ::unlink(path.c_str()) == 0;
}

std::vector<std::string> SplitTextLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::string::size_type start = 0;
    const auto n = text.size();
    while (start < n) {
        auto end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
        if (text[end] == '\r' && start < n && text[start] == '\n')
            ++start;
    }
    return lines;
}

std::optional<SystemError> ReadTextLines(const std::string& path, std::vector<std::string>& lines)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return SystemErrorFromErrno(errno);
    std::string text;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            auto err = SystemErrorFromErrno(errno);
            ::close(fd);
            return err;
        }
        if (n == 0)
            break;
        text.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    lines = SplitTextLines(text);
    return std::nullopt;
}

TAppendFile::~TAppendFile()
{
    Close();
}

std::optional<SystemError> TAppendFile::Open(const std::string& path)
{
    Close();
    fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0)
        return SystemErrorFromErrno(errno);
    return std::nullopt;
}

std::optional<SystemError> TAppendFile::WriteLine(const std::string& line)
{
    if (fd_ < 0)
        return SystemErrorFromErrno(EBADF);
    // One write per line, so concurrent appenders never interleave within it.
    const std::string data = line + "\r\n";
    return WriteAll(fd_, data.data(), data.size());
}

void TAppendFile::Close()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

EFileStreamError::EFileStreamError(const std::string& action, const std::string& path, const SystemError& error)
    : std::runtime_error("Cannot " + action + " file \"" + path + "\": " + error.Message), Error(error)
{
}

TBufferedFileStream::TBufferedFileStream(const std::string& path, std::size_t bufferSize)
    : path_(path), bufferSize_(bufferSize == 0 ? 1 : bufferSize)
{
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0)
        throw EFileStreamError("create", path, SystemErrorFromErrno(errno));
    buffer_.reserve(bufferSize_);
}

TBufferedFileStream::~TBufferedFileStream()
{
    if (fd_ >= 0)
        ::close(fd_);
}

void TBufferedFileStream::Write(std::string_view data)
{
    if (fd_ < 0)
        throw EFileStreamError("write to", path_, SystemErrorFromErrno(EBADF));
    if (buffer_.size() + data.size() > bufferSize_)
        Flush();
    if (data.size() >= bufferSize_) {
        if (auto err = WriteAll(fd_, data.data(), data.size()))
            throw EFileStreamError("write to", path_, *err);
        return;
    }
    buffer_.append(data);
}

void TBufferedFileStream::Flush()
{
    if (buffer_.empty())
        return;
    auto err = WriteAll(fd_, buffer_.data(), buffer_.size());
    buffer_.clear();
    if (err)
        throw EFileStreamError("write to", path_, *err);
}

void TBufferedFileStream::Close()
{
    if (fd_ < 0)
        return;
    std::optional<SystemError> err = WriteAll(fd_, buffer_.data(), buffer_.size());
    buffer_.clear();
    if (::close(fd_) != 0 && !err)
        err = SystemErrorFromErrno(errno);
    fd_ = -1;
    if (err)
        throw EFileStreamError("write to", path_, *err);
}

} // namespace platform
