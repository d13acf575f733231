#include "platform/System.h"

#include <sys/random.h>

#include <ctime>

namespace platform {

std::uint64_t PerformanceCounter()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000000000u + static_cast<std::uint64_t>(ts.tv_nsec);
}

bool SystemRandomBytes(unsigned char* buffer, std::size_t n)
{
    return getrandom(buffer, n, GRND_NONBLOCK) == static_cast<ssize_t>(n);
}

} // namespace platform
