#include "platform/Poller.h"

#include "SystemSockets.h"
#include "Win32Error.h"
#include "platform/EventLoop.h"

namespace platform {

namespace {

// What a readable socket holds: data, the end of the stream, or a failure
// (a reset) that the next receive would report.
unsigned ReadableEvents(SOCKET s)
{
    char byte = 0;
    const int n = ::recv(s, &byte, 1, MSG_PEEK);
    if (n > 0)
        return FdRead;
    if (n == 0)
        return FdRead | FdHangUp;
    const int err = WSAGetLastError();
    if (err == WSAEWOULDBLOCK)
        return 0;
    return FdRead | FdError | FdHangUp;
}

} // namespace

// select over the sockets, woken through a datagram socket that sends to
// itself. (WSAPoll would be simpler, but before Windows 10 2004 it never
// reports a refused connect.) Read interest alone shows a hang-up: select
// cannot watch for one without also reporting unread data.
struct TPoller::TImpl {
    SOCKET Wake = INVALID_SOCKET;
};

TPoller::TPoller()
    : FImpl(std::make_unique<TImpl>())
{
    EnsureSockets();
    SOCKET s = ::WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof addr;
    u_long nonBlocking = 1;
    if (s == INVALID_SOCKET || ::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &length) != 0 ||
        ::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
        const SystemError error = SystemErrorFromWin32(static_cast<unsigned long>(WSAGetLastError()));
        if (s != INVALID_SOCKET)
            ::closesocket(s);
        throw EEventLoopError(error);
    }
    FImpl->Wake = s;
}

TPoller::~TPoller()
{
    ::closesocket(FImpl->Wake);
}

void TPoller::Wait(std::vector<TPollItem>& items, int timeoutMs)
{
    fd_set readable, writable, failed;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(FImpl->Wake, &readable);
    for (const TPollItem& item : items) {
        const SOCKET s = static_cast<SOCKET>(item.Socket);
        if (item.Wanted & FdRead)
            FD_SET(s, &readable);
        if (item.Wanted & FdWrite)
            FD_SET(s, &writable);
        FD_SET(s, &failed);
    }
    timeval limit {timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    const int n = ::select(0, &readable, &writable, &failed, timeoutMs < 0 ? nullptr : &limit);
    for (TPollItem& item : items) {
        item.Ready = 0;
        if (n <= 0)
            continue;
        const SOCKET s = static_cast<SOCKET>(item.Socket);
        if (FD_ISSET(s, &readable))
            item.Ready |= ReadableEvents(s);
        if (FD_ISSET(s, &writable))
            item.Ready |= FdWrite;
        if (FD_ISSET(s, &failed))
            item.Ready |= FdError;
    }
    if (n > 0 && FD_ISSET(FImpl->Wake, &readable)) {
        char drain[64];
        while (::recv(FImpl->Wake, drain, sizeof drain, 0) > 0) {
        }
    }
}

void TPoller::Wake()
{
    const char one = 1;
    // A full queue means the loop wakes anyway.
    ::send(FImpl->Wake, &one, 1, 0);
}

} // namespace platform
