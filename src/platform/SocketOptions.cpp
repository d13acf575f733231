#include "platform/SocketForms.h"

namespace platform {

int SocketSetReuseAddress(TSocketHandle socket, bool on)
{
    return SetIntOption(socket, SOL_SOCKET, SO_REUSEADDR, on ? 1 : 0);
}

int SocketSetKeepAlive(TSocketHandle socket, bool on)
{
    return SetIntOption(socket, SOL_SOCKET, SO_KEEPALIVE, on ? 1 : 0);
}

int SocketSetNoDelay(TSocketHandle socket, bool on)
{
    return SetIntOption(socket, IPPROTO_TCP, TCP_NODELAY, on ? 1 : 0);
}

int SocketNoDelay(TSocketHandle socket, bool& on)
{
    int value = 0;
    const int err = GetIntOption(socket, IPPROTO_TCP, TCP_NODELAY, value);
    on = value != 0;
    return err;
}

int SocketSendBufferSize(TSocketHandle socket, int& size)
{
    return GetIntOption(socket, SOL_SOCKET, SO_SNDBUF, size);
}

int SocketReceiveBufferSize(TSocketHandle socket, int& size)
{
    return GetIntOption(socket, SOL_SOCKET, SO_RCVBUF, size);
}

} // namespace platform
