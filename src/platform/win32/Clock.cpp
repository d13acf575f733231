#include "platform/Clock.h"

#include "platform/System.h"

#include <windows.h>

#include <ctime>

namespace platform {

namespace {

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
    return SystemTimeOf(tm, static_cast<int>(ticks / 10000u % 1000u));
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

std::tm LocalCalendarTime(std::time_t time)
{
    std::tm tm {};
    localtime_s(&tm, &time);
    return tm;
}

} // namespace platform
