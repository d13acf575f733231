// Host names to addresses through getaddrinfo, which both systems have.
#include "platform/System.h"

#include "SystemSockets.h"

#include <algorithm>
#include <cerrno>

namespace platform {

namespace {

int SystemFamily(TLookupFamily family)
{
    switch (family) {
    case TLookupFamily::IPv4: return AF_INET;
    case TLookupFamily::IPv6: return AF_INET6;
    default: return AF_UNSPEC;
    }
}

} // namespace

int SystemLookup(const std::string& host, TLookupFamily family, std::vector<TSockAddr>& addresses)
{
    EnsureSockets();
    addrinfo hints {};
    hints.ai_family = SystemFamily(family);
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* list = nullptr;
    errno = 0;
    const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &list);
    if (rc != 0)
        return LookupError(rc);
    for (const addrinfo* item = list; item; item = item->ai_next) {
        if (item->ai_family != AF_INET && item->ai_family != AF_INET6)
            continue;
        TSockAddr addr;
        std::copy_n(reinterpret_cast<const unsigned char*>(item->ai_addr), item->ai_addrlen, addr.Storage.begin());
        addr.Length = static_cast<int>(item->ai_addrlen);
        addresses.push_back(addr);
    }
    ::freeaddrinfo(list);
    return 0;
}

} // namespace platform
