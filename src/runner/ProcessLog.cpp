#include "runner/ProcessLog.h"

#include "platform/Clock.h"
#include "platform/Paths.h"

#include <algorithm>

namespace runner {

std::string TProcessLog::FormatLine(const std::string& message)
{
    // Date and time are read separately, as the log has always done.
    std::string date = platform::LocalDateText();
    std::string time = platform::LocalTimeText();
    return "[" + date + " " + time + "] " + message;
}

void TProcessLog::Display(const std::string& line)
{
    while (displayMemo_.size() > MaxOldLines)
        displayMemo_.pop_front();
    displayMemo_.push_back(line);
    if (OnLine)
        OnLine(line);
}

void TProcessLog::SetDisplayMemo(const std::vector<std::string>& lines)
{
    const std::size_t keep = std::min(lines.size(), MaxOldLines + 1);
    displayMemo_.assign(lines.end() - static_cast<std::ptrdiff_t>(keep), lines.end());
}

void TProcessLog::AddLogLine(const std::string& message)
{
    std::string line = FormatLine(message);
    Display(line);
    if (!logOpen_)
        return;
    if (auto err = file_.WriteLine(line))
        Display("*** Exception" + err->Name + ": " + err->Message + " writing to log file ***");
}

std::string TProcessLog::ComputeLogPath(const std::string& logArg, const std::string& programDir)
{
    if (logArg.empty())
        return programDir + platform::PathDelim + "plonemail.log";
    if (platform::HasDirectoryPart(logArg))
        return logArg;
    return programDir + platform::PathDelim + logArg;
}

void TProcessLog::OpenLogFile(const std::string& logArg, const std::string& programDir)
{
    logPath_ = ComputeLogPath(logArg, programDir);
    logOpen_ = !file_.Open(logPath_).has_value();
    if (!logOpen_)
        AddLogLine("*** Unable to open log file ***");
}

void TProcessLog::CloseLogFile()
{
    if (!logOpen_)
        return;
    logOpen_ = false;
    file_.Close();
}

} // namespace runner
