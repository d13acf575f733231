#pragma once
#include "platform/Files.h"

#include <array>
#include <cstddef>
#include <memory>
#include <string>

namespace mime {

// A source of bytes for attachment encoders (a file, or a stream that an
// application supplies).
class TStream {
public:
    virtual ~TStream() = default;
    // Reads up to n bytes; fewer only at the end. Throws EMimeException on
    // a read error.
    virtual std::size_t Read(char* buffer, std::size_t n) = 0;
};

// A file opened for reading with a sharing mode. Throws EMimeException
// naming the file and the system's reason when it cannot be opened or read.
class TFileReadStream : public TStream {
public:
    explicit TFileReadStream(const std::string& path, platform::TFileShare share = platform::TFileShare::DenyWrite);
    TFileReadStream(const TFileReadStream&) = delete;
    TFileReadStream& operator=(const TFileReadStream&) = delete;

    std::size_t Read(char* buffer, std::size_t n) override;

private:
    std::string path_;
    platform::TFile file_;
};

// Bytes held in memory.
class TStringReadStream : public TStream {
public:
    explicit TStringReadStream(std::string data) : data_(std::move(data)) {}
    std::size_t Read(char* buffer, std::size_t n) override;

private:
    std::string data_;
    std::size_t pos_ = 0;
};

// Reads a source through a 4096-byte buffer, so that encoders can take one
// byte at a time cheaply.
class TBufferedReadStream {
public:
    static constexpr std::size_t kBufferSize = 4096;

    explicit TBufferedReadStream(std::unique_ptr<TStream> source) : source_(std::move(source)) {}

    // Next byte, or -1 at the end.
    int ReadByte()
    {
        if (pos_ == end_ && !Fill())
            return -1;
        return static_cast<unsigned char>(buffer_[pos_++]);
    }
    // Next byte without taking it, or -1 at the end.
    int PeekByte()
    {
        if (pos_ == end_ && !Fill())
            return -1;
        return static_cast<unsigned char>(buffer_[pos_]);
    }
    // Up to n bytes; fewer only at the end.
    std::size_t Read(char* dst, std::size_t n);
    // True while the position is before the end of the source.
    bool More() { return pos_ < end_ || Fill(); }

private:
    bool Fill();

    std::unique_ptr<TStream> source_;
    std::array<char, kBufferSize> buffer_{};
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
};

// Opens a file for the encoders (TFileReadStream behind the buffer).
std::unique_ptr<TBufferedReadStream> OpenBufferedFile(const std::string& path,
                                                      platform::TFileShare share = platform::TFileShare::DenyWrite);

} // namespace mime
