#pragma once
#include "platform/SystemError.h"

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);

// Creates an empty file; on failure returns the system's reason.
std::optional<SystemError> CreateEmptyFile(const std::string& path);

bool DeleteFileAt(const std::string& path);

// Reads a text file into lines; CR LF, LF and CR all end a line, and a last
// line without an ending still counts. Bytes are kept as they are.
std::optional<SystemError> ReadTextLines(const std::string& path, std::vector<std::string>& lines);

// Splits a text into lines by the same rules as ReadTextLines.
std::vector<std::string> SplitTextLines(const std::string& text);

// A file opened for appending whole lines; every write reaches the system
// at once, so a crash loses nothing that was written.
class TAppendFile {
public:
    TAppendFile() = default;
    ~TAppendFile();
    TAppendFile(const TAppendFile&) = delete;
    TAppendFile& operator=(const TAppendFile&) = delete;

    // Opens an existing file for appending, or creates it.
    std::optional<SystemError> Open(const std::string& path);
    // Writes the bytes followed by CR LF.
    std::optional<SystemError> WriteLine(const std::string& line);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// A failure of TBufferedFileStream; the message names the file.
class EFileStreamError : public std::runtime_error {
public:
    EFileStreamError(const std::string& action, const std::string& path, const SystemError& error);
    SystemError Error;
};

// A new file written through a buffer. Errors raise EFileStreamError, also
// those of the last flush in Close; the destructor closes without raising.
class TBufferedFileStream {
public:
    // Creates the file, replacing an existing one.
    TBufferedFileStream(const std::string& path, std::size_t bufferSize);
    ~TBufferedFileStream();
    TBufferedFileStream(const TBufferedFileStream&) = delete;
    TBufferedFileStream& operator=(const TBufferedFileStream&) = delete;

    void Write(std::string_view data);
    // Writes what is buffered and closes the file.
    void Close();
    const std::string& Path() const { return path_; }

private:
    void Flush();

    std::string path_;
    int fd_ = -1;
    std::string buffer_;
    std::size_t bufferSize_;
};

} // namespace platform
