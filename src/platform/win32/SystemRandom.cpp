#include "platform/System.h"

#include <windows.h>
#include <bcrypt.h>

namespace platform {

std::uint64_t PerformanceCounter()
{
    LARGE_INTEGER counter {};
    QueryPerformanceCounter(&counter);
    return static_cast<std::uint64_t>(counter.QuadPart);
}

bool SystemRandomBytes(unsigned char* buffer, std::size_t n)
{
    return BCryptGenRandom(nullptr, buffer, static_cast<ULONG>(n), BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0;
}

} // namespace platform
