#include "platform/Poller.h"

#include "SystemSockets.h"
#include "Win32Error.h"
#include "platform/EventLoop.h"

namespace platform {

namespace {

enum class EPeek { Data, End, Nothing, Failed, NotConnected };

// What the next receive would find, without taking it.
EPeek Peek(SOCKET s)
{
    char byte = 0;
    const int n = ::recv(s, &byte, 1, MSG_PEEK);
    if (n != SOCKET_ERROR)
        return n > 0 ? EPeek::Data : EPeek::End;
    switch (WSAGetLastError()) {
    case WSAEWOULDBLOCK: return EPeek::Nothing;
    // A listener (readable: a connection waits) or a connect in progress.
    case WSAENOTCONN:
    case WSAEINVAL: return EPeek::NotConnected;
    default: return EPeek::Failed;
    }
}

// What a readable socket holds: data, the end of the stream, or a failure
// (a reset) that the next receive would report.
unsigned ReadableEvents(SOCKET s)
{
    switch (Peek(s)) {
    case EPeek::Data:
    case EPeek::NotConnected: return FdRead;
    case EPeek::End: return FdRead | FdHangUp;
    case EPeek::Failed: return FdRead | FdError | FdHangUp;
    default: return 0;
    }
}

// Whether select should look at a socket for reading: for data when that is
// wanted; else only for the peer's hang-up, which select cannot tell from
// data, so not while unread data waits (a hang-up behind it shows once the
// data has been read).
bool WatchReadable(const TPollItem& item)
{
    if (item.Wanted & FdRead)
        return true;
    if (!item.WatchEnd)
        return false;
    const EPeek next = Peek(static_cast<SOCKET>(item.Socket));
    return next != EPeek::Data && next != EPeek::NotConnected;
}

} // namespace

// select over the sockets, woken through a datagram socket that sends to
// itself. (WSAPoll would be simpler, but before Windows 10 2004 it never
// reports a refused connect.)
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
        if (WatchReadable(item))
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
            item.Ready |= ReadableEvents(s) & (item.Wanted | FdError | FdHangUp);
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
