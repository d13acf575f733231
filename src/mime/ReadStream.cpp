#include "mime/ReadStream.h"

#include "mime/MimeException.h"
#include "platform/Files.h"
#include "platform/SystemError.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace mime {

namespace {

[[noreturn]] void ThrowFileError(const std::string& what, const std::string& path, int err)
{
    const platform::SystemError e = platform::SystemErrorFromErrno(err);
    throw EMimeException(what + " \"" + path + "\": " + e.Message + " (" + e.Name + ")");
}

} // namespace

TFileReadStream::TFileReadStream(const std::string& path) : path_(path)
{
    fd_ = platform::OpenForReading(path);
    if (fd_ < 0)
        ThrowFileError("Cannot open file", path, errno);
    // A pipe or a device could be read for ever, or block the whole run.
    if (!platform::IsRegularFile(fd_)) {
        ::close(fd_);
        fd_ = -1;
        throw EMimeException("Cannot open file \"" + path + "\": not a regular file");
    }
}

TFileReadStream::~TFileReadStream()
{
    if (fd_ >= 0)
        ::close(fd_);
}

std::size_t TFileReadStream::Read(char* buffer, std::size_t n)
{
    std::size_t got = 0;
    while (got < n) {
        const ssize_t r = ::read(fd_, buffer + got, n - got);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            ThrowFileError("Cannot read file", path_, errno);
        }
        if (r == 0)
            break;
        got += static_cast<std::size_t>(r);
    }
    return got;
}

std::size_t TStringReadStream::Read(char* buffer, std::size_t n)
{
    const std::size_t k = std::min(n, data_.size() - pos_);
    std::memcpy(buffer, data_.data() + pos_, k);
    pos_ += k;
    return k;
}

bool TBufferedReadStream::Fill()
{
    pos_ = 0;
    end_ = source_->Read(buffer_.data(), buffer_.size());
    return end_ > 0;
}

std::size_t TBufferedReadStream::Read(char* dst, std::size_t n)
{
    std::size_t got = 0;
    while (got < n) {
        if (pos_ == end_ && !Fill())
            break;
        const std::size_t k = std::min(n - got, end_ - pos_);
        std::memcpy(dst + got, buffer_.data() + pos_, k);
        pos_ += k;
        got += k;
    }
    return got;
}

std::unique_ptr<TBufferedReadStream> OpenBufferedFile(const std::string& path)
{
    return std::make_unique<TBufferedReadStream>(std::make_unique<TFileReadStream>(path));
}

} // namespace mime
