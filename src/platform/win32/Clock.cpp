#include "platform/Clock.h"

#include <windows.h>

#include <ctime>

namespace platform {

namespace {

std::string FormatNow(const char* pattern)
{
    std::time_t now = std::time(nullptr);
    std::tm tm {};
    localtime_s(&tm, &now);
    char buf[64];
    std::size_t n = std::strftime(buf, sizeof buf, pattern, &tm);
    return std::string(buf, n);
}

TSystemTime FromSystemTime(const SYSTEMTIME& st)
{
    TSystemTime t;
    t.Year = st.wYear;
    t.Month = st.wMonth;
    t.Day = st.wDay;
    t.DayOfWeek = st.wDayOfWeek;
    t.Hour = st.wHour;
    t.Minute = st.wMinute;
    t.Second = st.wSecond;
    t.Millisecond = st.wMilliseconds;
    return t;
}

} // namespace

std::string LocalDateText()
{
    return FormatNow("%d/%b/%y");
}

std::string LocalTimeText()
{
    return FormatNow("%H:%M:%S");
}

// Through the C runtime, like the log's date and time: the zone is TZ when
// set, else the system's.
TSystemTime LocalTimeNow(int& biasMinutes)
{
    FILETIME ft {};
    GetSystemTimeAsFileTime(&ft);
    const std::uint64_t ticks = static_cast<std::uint64_t>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime;
    const std::time_t seconds = static_cast<std::time_t>(ticks / 10000000u - 11644473600u);
    _tzset();
    std::tm tm {};
    if (localtime_s(&tm, &seconds) != 0) {
        biasMinutes = 0;
        return UtcTimeNow();
    }
    biasMinutes = static_cast<int>((_timezone + (tm.tm_isdst > 0 ? _dstbias : 0)) / 60);
    TSystemTime t;
    t.Year = tm.tm_year + 1900;
    t.Month = tm.tm_mon + 1;
    t.Day = tm.tm_mday;
    t.DayOfWeek = tm.tm_wday;
    t.Hour = tm.tm_hour;
    t.Minute = tm.tm_min;
    t.Second = tm.tm_sec;
    t.Millisecond = static_cast<int>(ticks / 10000u % 1000u);
    return t;
}

TSystemTime UtcTimeNow()
{
    SYSTEMTIME st {};
    GetSystemTime(&st);
    return FromSystemTime(st);
}

std::uint64_t SystemTimeAsFileTime()
{
    FILETIME ft {};
    GetSystemTimeAsFileTime(&ft);
    return static_cast<std::uint64_t>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime;
}

} // namespace platform
