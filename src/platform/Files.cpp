#include "platform/Files.h"

#include <cerrno>

namespace platform {

namespace {

SystemError NotOpen()
{
    return SystemErrorFromErrno(EBADF);
}

} // namespace

std::optional<SystemError> CreateEmptyFile(const std::string& path)
{
    TFile file;
    if (auto err = file.Open(path, TFile::TMode::Create))
        return err;
    return file.Close();
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

std::optional<SystemError> ReadFileText(const std::string& path, std::string& text)
{
    text.clear();
    TFile file;
    if (auto err = file.Open(path, TFile::TMode::Read))
        return err;
    char buf[65536];
    for (;;) {
        std::size_t got = 0;
        if (auto err = file.Read(buf, sizeof buf, got))
            return err;
        text.append(buf, got);
        if (got < sizeof buf)
            break;
    }
    return file.Close();
}

std::optional<SystemError> ReadTextLines(const std::string& path, std::vector<std::string>& lines)
{
    std::string text;
    if (auto err = ReadFileText(path, text))
        return err;
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
    return file_.Open(path, TFile::TMode::Append);
}

std::optional<SystemError> TAppendFile::WriteLine(const std::string& line)
{
    if (!file_.IsOpen())
        return NotOpen();
    // One write per line, so concurrent appenders never interleave within it.
    const std::string data = line + "\r\n";
    return file_.Write(data.data(), data.size());
}

void TAppendFile::Close()
{
    file_.Close();
}

EFileStreamError::EFileStreamError(const std::string& action, const std::string& path, const SystemError& error)
    : std::runtime_error("Cannot " + action + " file \"" + path + "\": " + error.Message), Error(error)
{
}

TBufferedFileStream::TBufferedFileStream(const std::string& path, std::size_t bufferSize)
    : path_(path), bufferSize_(bufferSize == 0 ? 1 : bufferSize)
{
    if (auto err = file_.Open(path, TFile::TMode::Create))
        throw EFileStreamError("create", path, *err);
    buffer_.reserve(bufferSize_);
}

TBufferedFileStream::~TBufferedFileStream() = default;

void TBufferedFileStream::Write(std::string_view data)
{
    if (!file_.IsOpen())
        throw EFileStreamError("write to", path_, NotOpen());
    if (buffer_.size() + data.size() > bufferSize_)
        Flush();
    if (data.size() >= bufferSize_) {
        if (auto err = file_.Write(data.data(), data.size()))
            throw EFileStreamError("write to", path_, *err);
        return;
    }
    buffer_.append(data);
}

void TBufferedFileStream::Flush()
{
    if (buffer_.empty())
        return;
    auto err = file_.Write(buffer_.data(), buffer_.size());
    buffer_.clear();
    if (err)
        throw EFileStreamError("write to", path_, *err);
}

void TBufferedFileStream::Close()
{
    if (!file_.IsOpen())
        return;
    std::optional<SystemError> err = file_.Write(buffer_.data(), buffer_.size());
    buffer_.clear();
    if (auto closeErr = file_.Close(); closeErr && !err)
        err = closeErr;
    if (err)
        throw EFileStreamError("write to", path_, *err);
}

} // namespace platform
