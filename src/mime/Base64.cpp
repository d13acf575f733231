#include "mime/Base64.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>

namespace mime {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr int kLineBytes = 57;

// Two output characters for every 12-bit value, so a group of three bytes
// takes two look-ups.
constexpr std::array<char, 2 * 4096> MakePairTable()
{
    std::array<char, 2 * 4096> t{};
    for (int v = 0; v < 4096; ++v) {
        t[2 * v] = kAlphabet[v >> 6];
        t[2 * v + 1] = kAlphabet[v & 63];
    }
    return t;
}
constexpr auto kPairs = MakePairTable();

constexpr std::array<signed char, 256> MakeDecodeTable()
{
    std::array<signed char, 256> t{};
    for (auto& v : t)
        v = -1;
    for (int i = 0; i < 64; ++i)
        t[static_cast<unsigned char>(kAlphabet[i])] = static_cast<signed char>(i);
    return t;
}
constexpr auto kDecode = MakeDecodeTable();

} // namespace

char* EncodeBase64To(const unsigned char* bytes, std::size_t n, char* dst)
{
    std::size_t i = 0;
    for (; i + 3 <= n; i += 3, dst += 4) {
        const unsigned v = (unsigned{bytes[i]} << 16) | (unsigned{bytes[i + 1]} << 8) | bytes[i + 2];
        std::memcpy(dst, &kPairs[2 * (v >> 12)], 2);
        std::memcpy(dst + 2, &kPairs[2 * (v & 0xFFF)], 2);
    }
    if (i < n) {
        const unsigned b0 = bytes[i];
        const unsigned b1 = i + 1 < n ? bytes[i + 1] : 0;
        dst[0] = kAlphabet[b0 >> 2];
        dst[1] = kAlphabet[((b0 & 3) << 4) | (b1 >> 4)];
        dst[2] = i + 1 < n ? kAlphabet[(b1 & 15) << 2] : '=';
        dst[3] = '=';
        dst += 4;
    }
    return dst;
}

void AppendBase64(const unsigned char* bytes, std::size_t n, std::string& out)
{
    const std::size_t used = out.size();
    out.resize(used + (n + 2) / 3 * 4);
    EncodeBase64To(bytes, n, out.data() + used);
}

std::string Base64Encode(std::string_view bytes)
{
    std::string out;
    AppendBase64(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), out);
    return out;
}

std::string Base64Decode(std::string_view text)
{
    std::string out;
    out.reserve(text.size() / 4 * 3 + 3);
    unsigned acc = 0;
    int count = 0;  // characters in the current group
    auto flush = [&] {
        // Two characters give one byte, three give two.
        if (count >= 2)
            out.push_back(static_cast<char>(acc >> (count == 2 ? 4 : 10)));
        if (count == 3)
            out.push_back(static_cast<char>((acc >> 2) & 0xFF));
        acc = 0;
        count = 0;
    };
    for (char c : text) {
        if (c == '=') {
            flush();
            continue;
        }
        const int v = kDecode[static_cast<unsigned char>(c)];
        if (v < 0)
            continue;
        acc = (acc << 6) | static_cast<unsigned>(v);
        if (++count == 4) {
            out.push_back(static_cast<char>(acc >> 16));
            out.push_back(static_cast<char>((acc >> 8) & 0xFF));
            out.push_back(static_cast<char>(acc & 0xFF));
            acc = 0;
            count = 0;
        }
    }
    flush();
    return out;
}

std::string Base64EncodeLine(const std::string& text, int& position)
{
    if (position < 1)
        position = 1;
    const std::size_t start = static_cast<std::size_t>(position) - 1;
    if (start >= text.size())
        return {};
    const std::size_t n = std::min<std::size_t>(kLineBytes, text.size() - start);
    std::string line;
    AppendBase64(reinterpret_cast<const unsigned char*>(text.data()) + start, n, line);
    position = start + n >= static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(start + n + 1);
    return line;
}

std::uint64_t Base64EncodedSize(std::uint64_t n)
{
    const std::uint64_t chars = (n + 2) / 3 * 4;
    return chars + 2 * ((chars + 75) / 76);
}

} // namespace mime
