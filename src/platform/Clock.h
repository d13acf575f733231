#pragma once
#include <cstdint>
#include <string>

namespace platform {

// Current local date as "dd/mmm/yy" with the locale's abbreviated month name.
std::string LocalDateText();
// Current local time as "HH:NN:SS", 24-hour.
std::string LocalTimeText();

// Milliseconds of a monotonic clock, wrapping at 32 bits like a tick count.
std::uint32_t TickCount();

} // namespace platform

namespace platform {

// A calendar time with milliseconds.
struct TSystemTime {
    int Year = 0;
    int Month = 0;      // 1 ... 12
    int Day = 0;        // 1 ... 31
    int DayOfWeek = 0;  // 0 = Sunday
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    int Millisecond = 0;
};

// The current local time and the time-zone bias in force at that moment,
// in minutes (UTC = local time + bias; daylight saving included). The zone
// comes from the C library (TZ or the system zone); 0 when it cannot tell.
TSystemTime LocalTimeNow(int& biasMinutes);
TSystemTime LocalTimeNow();
TSystemTime UtcTimeNow();
int TimeZoneBias();

// The current time as a Windows file time: 100-nanosecond units since
// 1601-01-01 UTC.
std::uint64_t SystemTimeAsFileTime();

// The current time in seconds since 1970-01-01 UTC.
std::int64_t UnixTimeNow();

} // namespace platform
