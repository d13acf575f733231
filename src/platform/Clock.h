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
