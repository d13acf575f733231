#pragma once
// What every fuzz target shares: the entry point libFuzzer calls, and a
// check that stops the run with the broken rule, so that the fuzzer keeps
// the input as a finding.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);

#define FUZZ_CHECK(cond)                                                                                     \
    do {                                                                                                     \
        if (!(cond)) {                                                                                       \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond);                    \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (0)

namespace fuzz {

inline std::string Bytes(const std::uint8_t* data, std::size_t size)
{
    return std::string(reinterpret_cast<const char*>(data), size);
}

// Splits the input at its first NUL byte: the text before and the one
// after (empty when there is none).
inline std::pair<std::string, std::string> SplitAtNul(const std::string& input)
{
    const auto nul = input.find('\0');
    if (nul == std::string::npos)
        return {input, std::string()};
    return {input.substr(0, nul), input.substr(nul + 1)};
}

} // namespace fuzz
