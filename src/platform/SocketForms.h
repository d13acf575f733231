#pragma once
// The platform layer's socket types in the form of the BSD socket interface
// that both systems have; for the platform layer's own sources.
#include "SystemSockets.h"
#include "platform/Sockets.h"

namespace platform {

// An int option of a socket; 0 or the Windows Sockets number of the failure.
int SetIntOption(TSocketHandle socket, int level, int name, int value);
int GetIntOption(TSocketHandle socket, int level, int name, int& value);

inline int SystemFamily(TAddressFamily family)
{
    switch (family) {
    case TAddressFamily::IPv4: return AF_INET;
    case TAddressFamily::IPv6: return AF_INET6;
    default: return AF_UNSPEC;
    }
}

inline int SystemType(TSocketKind kind)
{
    switch (kind) {
    case TSocketKind::Stream: return SOCK_STREAM;
    case TSocketKind::Datagram: return SOCK_DGRAM;
    default: return SOCK_RAW;
    }
}

inline sockaddr* Address(TSockAddr& addr)
{
    return reinterpret_cast<sockaddr*>(addr.Storage.data());
}

inline const sockaddr* Address(const TSockAddr& addr)
{
    return reinterpret_cast<const sockaddr*>(addr.Storage.data());
}

} // namespace platform
