#include "platform/Clock.h"

#include <ctime>

namespace platform {

namespace {

std::string FormatNow(const char* pattern)
{
    std::time_t now = std::time(nullptr);
    std::tm tm {};
    localtime_r(&now, &tm);
    char buf[64];
    std::size_t n = std::strftime(buf, sizeof buf, pattern, &tm);
    return std::string(buf, n);
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

std::uint32_t TickCount()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    std::uint64_t ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
}

} // namespace platform

namespace platform {

namespace {

timespec RealTimeNow()
{
    timespec ts {};
    clock_gettime(CLOCK_REALTIME, &ts);
    return ts;
}

TSystemTime FromTm(const std::tm& tm, long nanoseconds)
{
    TSystemTime t;
    t.Year = tm.tm_year + 1900;
    t.Month = tm.tm_mon + 1;
    t.Day = tm.tm_mday;
    t.DayOfWeek = tm.tm_wday;
    t.Hour = tm.tm_hour;
    t.Minute = tm.tm_min;
    t.Second = tm.tm_sec;
    t.Millisecond = static_cast<int>(nanoseconds / 1000000);
    return t;
}

} // namespace

TSystemTime LocalTimeNow(int& biasMinutes)
{
    const timespec ts = RealTimeNow();
    std::tm tm {};
    tzset();  // localtime_r alone may keep a zone read earlier
    if (localtime_r(&ts.tv_sec, &tm) == nullptr) {
        biasMinutes = 0;
        return UtcTimeNow();
    }
    biasMinutes = static_cast<int>(-tm.tm_gmtoff / 60);
    return FromTm(tm, ts.tv_nsec);
}

TSystemTime LocalTimeNow()
{
    int bias = 0;
    return LocalTimeNow(bias);
}

TSystemTime UtcTimeNow()
{
    const timespec ts = RealTimeNow();
    std::tm tm {};
    gmtime_r(&ts.tv_sec, &tm);
    return FromTm(tm, ts.tv_nsec);
}

int TimeZoneBias()
{
    int bias = 0;
    LocalTimeNow(bias);
    return bias;
}

std::uint64_t SystemTimeAsFileTime()
{
    constexpr std::uint64_t kSecondsFrom1601To1970 = 11644473600u;
    const timespec ts = RealTimeNow();
    return (static_cast<std::uint64_t>(ts.tv_sec) + kSecondsFrom1601To1970) * 10000000u +
           static_cast<std::uint64_t>(ts.tv_nsec) / 100u;
}

std::int64_t UnixTimeNow()
{
    return static_cast<std::int64_t>(RealTimeNow().tv_sec);
}

} // namespace platform
