#include "runner/kelCryptStr.h"

#include <string_view>

namespace runner {

namespace {

// Both alphabets are shared with every writer of settings files.
constexpr std::string_view kPlain = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::string_view kScrambled = "naCSOjkrx5lbychGXqFHe6AQLtVM4I07K8N9sgZJ2fuDTodBPvYWziU3pRwE1m";
static_assert(kPlain.size() == 62 && kScrambled.size() == 62);

// Maps every character through `from` -> `to`, where the alphabet `to`
// (or `from`) is rotated left by the character's zero-based position.
std::string Substitute(const std::string& text, bool scramble)
{
    const std::size_t n = kPlain.size();
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const std::size_t shift = i % n;
        if (scramble) {
            auto q = kPlain.find(c);
            out.push_back(q == std::string_view::npos ? c : kScrambled[(q + shift) % n]);
        } else {
            auto p = kScrambled.find(c);
            out.push_back(p == std::string_view::npos ? c : kPlain[(p + n - shift) % n]);
        }
    }
    return out;
}

} // namespace

std::string UnscramblePassword(const std::string& stored)
{
    return Substitute(stored, false);
}

std::string ScramblePassword(const std::string& plain)
{
    return Substitute(plain, true);
}

} // namespace runner
