#include "mime/ReadStream.h"

#include "mime/MimeException.h"

#include <algorithm>
#include <cstring>

namespace mime {

namespace {

[[noreturn]] void ThrowFileError(const std::string& what, const std::string& path, const platform::SystemError& e)
{
    throw EMimeException(what + " \"" + path + "\": " + e.Message + " (" + e.Name + ")");
}

} // namespace

TFileReadStream::TFileReadStream(const std::string& path, platform::TFileShare share) : path_(path)
{
    if (auto err = file_.Open(path, platform::TFile::TMode::Read, share))
        ThrowFileError("Cannot open file", path, *err);
    // A pipe or a device could be read for ever, or block the whole run.
    if (!file_.IsRegularFile()) {
        file_.Close();
        throw EMimeException("Cannot open file \"" + path + "\": not a regular file");
    }
}

std::size_t TFileReadStream::Read(char* buffer, std::size_t n)
{
    std::size_t got = 0;
    if (auto err = file_.Read(buffer, n, got))
        ThrowFileError("Cannot read file", path_, *err);
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

std::unique_ptr<TBufferedReadStream> OpenBufferedFile(const std::string& path, platform::TFileShare share)
{
    return std::make_unique<TBufferedReadStream>(std::make_unique<TFileReadStream>(path, share));
}

} // namespace mime
