#pragma once
#include "platform/Files.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace runner {

// The process log: dated lines kept in a bounded display list and, while
// the log file is open, appended to it one flushed line at a time.
class TProcessLog {
public:
    static constexpr std::size_t MaxOldLines = 200;  // plus the newest

    // Called with every line that reaches the display list.
    std::function<void(const std::string& line)> OnLine;

    void AddLogLine(const std::string& message);
    // Computes LogPath from the /LOG value and opens it for appending.
    void OpenLogFile(const std::string& logArg, const std::string& programDir);
    void CloseLogFile();

    const std::deque<std::string>& DisplayMemo() const { return displayMemo_; }
    // Replaces the display list (the newest lines, if there are too many).
    void SetDisplayMemo(const std::vector<std::string>& lines);
    const std::string& LogPath() const { return logPath_; }
    bool LogOpen() const { return logOpen_; }

    static std::string ComputeLogPath(const std::string& logArg, const std::string& programDir);
    static std::string FormatLine(const std::string& message);

private:
    void Display(const std::string& line);

    std::deque<std::string> displayMemo_;
    std::string logPath_;
    bool logOpen_ = false;
    platform::TAppendFile file_;
};

} // namespace runner
