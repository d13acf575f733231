#pragma once
// Input files of the benchmarks.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace bench {

// A size from the environment variable, or the default (1 GiB).
inline std::uint64_t SizeFromEnv(const char* name, std::uint64_t fallback = std::uint64_t {1} << 30)
{
    const char* env = std::getenv(name);
    return env ? std::strtoull(env, nullptr, 10) : fallback;
}

// Writes size bytes of mixed text and binary content.
inline bool CreateFile(const std::string& path, std::uint64_t size)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    std::vector<unsigned char> chunk(1 << 20);
    std::uint32_t x = 2463534242u;
    for (std::size_t i = 0; i < chunk.size(); ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        chunk[i] = (i / 4096) % 2 ? static_cast<unsigned char>(x) : static_cast<unsigned char>(' ' + x % 95);
    }
    bool ok = true;
    for (std::uint64_t left = size; left > 0 && ok;) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, chunk.size()));
        ok = std::fwrite(chunk.data(), 1, n, f) == n;
        left -= n;
    }
    return std::fclose(f) == 0 && ok;
}

} // namespace bench
