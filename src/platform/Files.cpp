#include "platform/Files.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

bool FileExists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
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
    std::string data = line + "\r\n";
    const char* p = data.data();
    size_t left = data.size();
    while (left > 0) {
        ssize_t n = ::write(fd_, p, left);
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

void TAppendFile::Close()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

} // namespace platform
