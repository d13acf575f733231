#pragma once
// Sockets of the test servers and clients: 127.0.0.1 only, on a port the
// system picks, through the platform layer so that they work on every system.
#include "platform/Sockets.h"

#include <cstdint>
#include <string>

// Returns the listening socket and sets port; with a negative backlog the
// socket is bound but not listening (its port is then free for the moment).
inline platform::TSocketHandle OpenLoopbackListener(int backlog, std::uint16_t& port)
{
    int err = 0;
    const platform::TSocketHandle socket =
        platform::SocketOpen(platform::TAddressFamily::IPv4, platform::TSocketKind::Stream, 0, err);
    platform::SocketSetReuseAddress(socket, true);
    platform::TSockAddr addr;
    platform::ParseIPv4Literal("127.0.0.1", &addr);
    platform::SocketBind(socket, addr);
    if (backlog >= 0)
        platform::SocketListen(socket, backlog);
    platform::SocketLocalAddress(socket, addr);
    port = addr.Port();
    return socket;
}

// A connected client socket to 127.0.0.1:port (InvalidSocket when the
// connect failed or did not complete within a few seconds).
inline platform::TSocketHandle ConnectLoopback(std::uint16_t port)
{
    int err = 0;
    const platform::TSocketHandle socket =
        platform::SocketOpen(platform::TAddressFamily::IPv4, platform::TSocketKind::Stream, 0, err);
    platform::TSockAddr addr;
    platform::ParseIPv4Literal("127.0.0.1", &addr);
    addr.SetPort(port);
    bool inProgress = false;
    if (platform::SocketConnect(socket, addr, inProgress) == 0 &&
        (!inProgress || platform::SocketWaitWritable(socket, 5000)) && platform::SocketPendingError(socket) == 0)
        return socket;
    platform::SocketClose(socket);
    return platform::InvalidSocket;
}

// Sends all bytes on a blocking socket.
inline bool SendAll(platform::TSocketHandle socket, const std::string& bytes)
{
    int err = 0;
    return platform::SocketSend(socket, bytes.data(), bytes.size(), false, err) ==
           static_cast<long>(bytes.size());
}

// A connected pair on 127.0.0.1: first the non-blocking client side, then
// the blocking server side. False when the system refused.
inline bool LoopbackPair(platform::TSocketHandle (&pair)[2])
{
    std::uint16_t port = 0;
    const platform::TSocketHandle listener = OpenLoopbackListener(1, port);
    pair[0] = ConnectLoopback(port);
    int err = 0;
    pair[1] = pair[0] == platform::InvalidSocket ? platform::InvalidSocket : platform::SocketAccept(listener, err);
    platform::SocketClose(listener);
    return pair[1] != platform::InvalidSocket;
}
