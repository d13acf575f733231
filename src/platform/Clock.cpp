#include "platform/Clock.h"

#include <chrono>

namespace platform {

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
