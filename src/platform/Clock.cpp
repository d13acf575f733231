#include "platform/Clock.h"

#include "platform/System.h"

#include <chrono>
#include <ctime>

namespace platform {

namespace {

std::string FormatNow(const char* pattern)
{
    const std::tm tm = LocalCalendarTime(std::time(nullptr));
    char buf[64];
    const std::size_t n = std::strftime(buf, sizeof buf, pattern, &tm);
    return std::string(buf, n);
}

} // namespace

TSystemTime SystemTimeOf(const std::tm& tm, int millisecond)
{
    TSystemTime t;
    t.Year = tm.tm_year + 1900;
    t.Month = tm.tm_mon + 1;
    t.Day = tm.tm_mday;
    t.DayOfWeek = tm.tm_wday;
    t.Hour = tm.tm_hour;
    t.Minute = tm.tm_min;
    t.Second = tm.tm_sec;
    t.Millisecond = millisecond;
    return t;
}

std::string LocalDateText()
{
    return FormatNow("%d/%b/%y");
}

std::string LocalTimeText()
{
    return FormatNow("%H:%M:%S");
}

std::uint32_t TickCount()
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    return static_cast<std::uint32_t>(ms.count());
}

TSystemTime LocalTimeNow()
{
    int bias = 0;
    return LocalTimeNow(bias);
}

int TimeZoneBias()
{
    int bias = 0;
    LocalTimeNow(bias);
    return bias;
}

std::int64_t UnixTimeNow()
{
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace platform
