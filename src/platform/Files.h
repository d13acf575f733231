#pragma once
#include "platform/SystemError.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// How others may use a file while it is open: the sharing modes of Windows
// (compatibility, exclusive, deny write, deny read, deny none). Systems
// without mandatory sharing open the file whatever the mode says.
enum class TFileShare { Compat, Exclusive, DenyWrite, DenyRead, DenyNone };

// An open file of the system, closed with the object.
class TFile {
public:
    enum class TMode {
        Read,   // an existing file
        Append, // writes go to the end; created when missing
        Create, // a new, empty file, replacing one that exists
    };

    TFile() = default;
    ~TFile();
    TFile(const TFile&) = delete;
    TFile& operator=(const TFile&) = delete;

    // Never waits for the other end of a named pipe: one without a writer
    // reads as empty, one without a reader cannot be opened for writing.
    std::optional<SystemError> Open(const std::string& path, TMode mode, TFileShare share = TFileShare::DenyNone);
    bool IsOpen() const { return FHandle != NoHandle; }
    // True when the open file is a regular file (not a pipe or a device).
    bool IsRegularFile() const;
    // Reads up to n bytes, fewer only at the end of the file; got is what came.
    std::optional<SystemError> Read(char* buffer, std::size_t n, std::size_t& got);
    // Writes all bytes, with one system call where the system allows.
    std::optional<SystemError> Write(const char* data, std::size_t n);
    std::optional<SystemError> Close();

private:
    static constexpr std::intptr_t NoHandle = -1;
    std::intptr_t FHandle = NoHandle;
};

bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);

// Creates an empty file; on failure returns the system's reason.
std::optional<SystemError> CreateEmptyFile(const std::string& path);

bool DeleteFileAt(const std::string& path);

// Reads a text file into lines; CR LF, LF and CR all end a line, and a last
// line without an ending still counts. Bytes are kept as they are.
std::optional<SystemError> ReadTextLines(const std::string& path, std::vector<std::string>& lines);

// Reads a whole file as it is.
std::optional<SystemError> ReadFileText(const std::string& path, std::string& text);

// Replaces the file with the text, readable and writable by its owner only.
// The text is written to a new file that then takes the name, so a reader
// sees the old content or the new, never a part.
std::optional<SystemError> ReplaceOwnerOnlyFile(const std::string& path, const std::string& text);

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
    bool IsOpen() const { return file_.IsOpen(); }

private:
    TFile file_;
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
    TFile file_;
    std::string buffer_;
    std::size_t bufferSize_;
};

} // namespace platform
