// Socket addresses and names: the same code on every system, over the
// system's socket headers.
#include "platform/Sockets.h"

#include "SystemSockets.h"
#include "platform/System.h"
#include "platform/TextUtil.h"

#include <cstring>
#include <utility>

namespace platform {

namespace {

static_assert(sizeof(sockaddr_storage) <= sizeof(TSockAddr::Storage));

const sockaddr_storage& Raw(const TSockAddr& addr)
{
    return reinterpret_cast<const sockaddr_storage&>(addr.Storage);
}

} // namespace

TAddressFamily TSockAddr::Family() const
{
    switch (Raw(*this).ss_family) {
    case AF_INET: return TAddressFamily::IPv4;
    case AF_INET6: return TAddressFamily::IPv6;
    default: return TAddressFamily::Unspecified;
    }
}

std::uint16_t TSockAddr::Port() const
{
    if (Family() == TAddressFamily::IPv4)
        return ntohs(reinterpret_cast<const sockaddr_in&>(Storage).sin_port);
    if (Family() == TAddressFamily::IPv6)
        return ntohs(reinterpret_cast<const sockaddr_in6&>(Storage).sin6_port);
    return 0;
}

void TSockAddr::SetPort(std::uint16_t port)
{
    if (Family() == TAddressFamily::IPv4)
        reinterpret_cast<sockaddr_in&>(Storage).sin_port = htons(port);
    else if (Family() == TAddressFamily::IPv6)
        reinterpret_cast<sockaddr_in6&>(Storage).sin6_port = htons(port);
}

bool TSockAddr::IsIPv4Broadcast() const
{
    return Family() == TAddressFamily::IPv4 &&
           reinterpret_cast<const sockaddr_in&>(Storage).sin_addr.s_addr == 0xFFFFFFFFu;
}

bool ParseIPv4Literal(const std::string& text, TSockAddr* addr)
{
    const std::string s = Trim(text);
    std::uint32_t value = 0;
    int parts = 0;
    std::size_t i = 0;
    while (parts < 4) {
        if (i >= s.size() || s[i] < '0' || s[i] > '9')
            return false;
        unsigned part = 0;
        std::size_t digits = 0;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
            part = part * 10 + static_cast<unsigned>(s[i] - '0');
            if (++digits > 3 || part > 255)
                return false;
            ++i;
        }
        value = (value << 8) | part;
        ++parts;
        if (parts < 4) {
            if (i >= s.size() || s[i] != '.')
                return false;
            ++i;
        }
    }
    if (i != s.size())
        return false;
    if (addr) {
        *addr = TSockAddr {};
        auto& in = reinterpret_cast<sockaddr_in&>(addr->Storage);
        in.sin_family = AF_INET;
        in.sin_addr.s_addr = htonl(value);
        addr->Length = sizeof(sockaddr_in);
    }
    return true;
}

bool ParseIPv6Literal(const std::string& text, TSockAddr* addr)
{
    std::string s = Trim(text);
    if (s.size() > 2 && s.front() == '[' && s.back() == ']')
        s = s.substr(1, s.size() - 2);
    in6_addr value {};
    if (s.find(':') == std::string::npos || inet_pton(AF_INET6, s.c_str(), &value) != 1)
        return false;
    if (addr) {
        *addr = TSockAddr {};
        auto& in6 = reinterpret_cast<sockaddr_in6&>(addr->Storage);
        in6.sin6_family = AF_INET6;
        in6.sin6_addr = value;
        addr->Length = sizeof(sockaddr_in6);
    }
    return true;
}

std::string AddressText(const TSockAddr& addr)
{
    char buffer[INET6_ADDRSTRLEN] {};
    const void* raw = nullptr;
    const int family = Raw(addr).ss_family;
    if (family == AF_INET)
        raw = &reinterpret_cast<const sockaddr_in&>(addr.Storage).sin_addr;
    else if (family == AF_INET6)
        raw = &reinterpret_cast<const sockaddr_in6&>(addr.Storage).sin6_addr;
    if (!raw || !inet_ntop(family, raw, buffer, sizeof buffer))
        return {};
    return buffer;
}

bool LookupServicePort(const std::string& name, const std::string& proto, std::uint16_t& port)
{
    if (SystemServicePort(name, proto, port))
        return true;
    // Minimal systems come without a services database; the mail services
    // must still work by name.
    static constexpr std::pair<const char*, std::uint16_t> mail[] = {
        {"smtp", 25}, {"submission", 587}, {"smtps", 465}, {"submissions", 465},
    };
    if (!SameTextAscii(proto, "tcp"))
        return false;
    for (const auto& [service, number] : mail) {
        if (SameTextAscii(name, service)) {
            port = number;
            return true;
        }
    }
    return false;
}

} // namespace platform
