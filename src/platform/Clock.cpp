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
