#include "platform/Clock.h"

#include "platform/System.h"

#include <ctime>

namespace platform {

namespace {

timespec RealTimeNow()
{
    timespec ts {};
    clock_gettime(CLOCK_REALTIME, &ts);
    return ts;
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
    return SystemTimeOf(tm, static_cast<int>(ts.tv_nsec / 1000000));
}

TSystemTime UtcTimeNow()
{
    const timespec ts = RealTimeNow();
    std::tm tm {};
    gmtime_r(&ts.tv_sec, &tm);
    return SystemTimeOf(tm, static_cast<int>(ts.tv_nsec / 1000000));
}

std::uint64_t SystemTimeAsFileTime()
{
    constexpr std::uint64_t kSecondsFrom1601To1970 = 11644473600u;
    const timespec ts = RealTimeNow();
    return (static_cast<std::uint64_t>(ts.tv_sec) + kSecondsFrom1601To1970) * 10000000u +
           static_cast<std::uint64_t>(ts.tv_nsec) / 100u;
}

std::tm LocalCalendarTime(std::time_t time)
{
    std::tm tm {};
    localtime_r(&time, &tm);
    return tm;
}

} // namespace platform
