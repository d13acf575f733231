#include "platform/Sockets.h"

#include "SystemSockets.h"
#include "platform/SocketForms.h"
#include "platform/System.h"

#include <mstcpip.h>

#include <mutex>

namespace platform {

namespace {

SOCKET Sock(TSocketHandle socket)
{
    return static_cast<SOCKET>(socket);
}

int Result(int rc)
{
    return rc == 0 ? 0 : WSAGetLastError();
}

int SetBlocking(SOCKET s, bool blocking)
{
    u_long nonBlocking = blocking ? 0 : 1;
    return Result(::ioctlsocket(s, FIONBIO, &nonBlocking));
}

bool WaitFor(TSocketHandle socket, bool write, int timeoutMs)
{
    fd_set set;
    FD_ZERO(&set);
    FD_SET(Sock(socket), &set);
    fd_set failed = set;
    timeval limit {timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    return ::select(0, write ? nullptr : &set, write ? &set : nullptr, &failed, &limit) > 0;
}

} // namespace

int SetIntOption(TSocketHandle socket, int level, int name, int value)
{
    return Result(::setsockopt(Sock(socket), level, name, reinterpret_cast<const char*>(&value), sizeof value));
}

int GetIntOption(TSocketHandle socket, int level, int name, int& value)
{
    int length = sizeof value;
    return Result(::getsockopt(Sock(socket), level, name, reinterpret_cast<char*>(&value), &length));
}

void EnsureSockets()
{
    static std::once_flag once;
    std::call_once(once, [] {
        WSADATA data {};
        WSAStartup(MAKEWORD(2, 2), &data);
    });
}

int LastSocketError()
{
    return WSAGetLastError();
}

bool SystemServicePort(const std::string& name, const std::string& proto, std::uint16_t& port)
{
    EnsureSockets();
    // The services database answers per thread here.
    const servent* found = ::getservbyname(name.c_str(), proto.c_str());
    if (!found)
        return false;
    port = ntohs(static_cast<std::uint16_t>(found->s_port));
    return true;
}

bool LookupProtocolNumber(const std::string& name, int& number)
{
    EnsureSockets();
    const protoent* found = ::getprotobyname(name.c_str());
    if (!found)
        return false;
    number = found->p_proto;
    return true;
}

// ------------------------------------------------------------ sockets

TSocketHandle SocketOpen(TAddressFamily family, TSocketKind kind, int protocol, int& err)
{
    EnsureSockets();
    const SOCKET s = ::WSASocketW(SystemFamily(family), SystemType(kind), protocol, nullptr, 0,
                                  WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) {
        err = WSAGetLastError();
        return InvalidSocket;
    }
    err = SetBlocking(s, false);
    if (err != 0) {
        ::closesocket(s);
        return InvalidSocket;
    }
    return static_cast<TSocketHandle>(s);
}

int SocketClose(TSocketHandle socket)
{
    return Result(::closesocket(Sock(socket)));
}

int SocketConnect(TSocketHandle socket, const TSockAddr& addr, bool& inProgress)
{
    inProgress = false;
    if (::connect(Sock(socket), Address(addr), addr.Length) == 0)
        return 0;
    const int err = WSAGetLastError();
    if (err == WSAEWOULDBLOCK || err == WSAEINPROGRESS) {
        inProgress = true;
        return 0;
    }
    return err;
}

int SocketBind(TSocketHandle socket, const TSockAddr& addr)
{
    return Result(::bind(Sock(socket), Address(addr), addr.Length));
}

int SocketLocalAddress(TSocketHandle socket, TSockAddr& addr)
{
    int length = static_cast<int>(addr.Storage.size());
    const int rc = ::getsockname(Sock(socket), Address(addr), &length);
    addr.Length = length;
    return Result(rc);
}

int SocketPeerAddress(TSocketHandle socket, TSockAddr& addr)
{
    int length = static_cast<int>(addr.Storage.size());
    const int rc = ::getpeername(Sock(socket), Address(addr), &length);
    addr.Length = length;
    return Result(rc);
}

int SocketShutdown(TSocketHandle socket, int how)
{
    const int sysHow = how == 0 ? SD_RECEIVE : how == 1 ? SD_SEND : SD_BOTH;
    return Result(::shutdown(Sock(socket), sysHow));
}

long SocketSend(TSocketHandle socket, const void* data, std::size_t length, bool outOfBand, int& err)
{
    const int n = ::send(Sock(socket), static_cast<const char*>(data), static_cast<int>(length),
                         outOfBand ? MSG_OOB : 0);
    err = n == SOCKET_ERROR ? WSAGetLastError() : 0;
    return n == SOCKET_ERROR ? -1 : n;
}

long SocketRecv(TSocketHandle socket, void* data, std::size_t length, int& err)
{
    const int n = ::recv(Sock(socket), static_cast<char*>(data), static_cast<int>(length), 0);
    err = n == SOCKET_ERROR ? WSAGetLastError() : 0;
    return n == SOCKET_ERROR ? -1 : n;
}

int SocketReadable(TSocketHandle socket, int& err)
{
    u_long count = 0;
    if (::ioctlsocket(Sock(socket), FIONREAD, &count) != 0) {
        err = WSAGetLastError();
        return -1;
    }
    err = 0;
    return static_cast<int>(count);
}

// A reset by the peer leaves no pending error here: the next receive
// reports it, so a look at the stream tells.
int SocketPendingError(TSocketHandle socket)
{
    int value = 0;
    if (int err = GetIntOption(socket, SOL_SOCKET, SO_ERROR, value))
        return err;
    if (value != 0)
        return value;
    char byte = 0;
    if (::recv(Sock(socket), &byte, 1, MSG_PEEK) != SOCKET_ERROR)
        return 0;
    const int err = WSAGetLastError();
    return err == WSAEWOULDBLOCK || err == WSAENOTCONN ? 0 : err;
}

int SocketSetKeepAliveValues(TSocketHandle socket, int timeMs, int intervalMs)
{
    tcp_keepalive values {};
    values.onoff = 1;
    values.keepalivetime = static_cast<ULONG>(timeMs);
    values.keepaliveinterval = static_cast<ULONG>(intervalMs);
    DWORD returned = 0;
    return Result(::WSAIoctl(Sock(socket), SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned,
                             nullptr, nullptr));
}

int SocketSetLinger(TSocketHandle socket, bool on, int seconds)
{
    linger value {};
    value.l_onoff = on ? 1 : 0;
    value.l_linger = static_cast<u_short>(seconds);
    return Result(::setsockopt(Sock(socket), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&value),
                               sizeof value));
}

int SocketListen(TSocketHandle socket, int backlog)
{
    return Result(::listen(Sock(socket), backlog));
}

TSocketHandle SocketAccept(TSocketHandle listener, int& err)
{
    const SOCKET s = ::accept(Sock(listener), nullptr, nullptr);
    if (s == INVALID_SOCKET) {
        err = WSAGetLastError();
        return InvalidSocket;
    }
    // An accepted socket takes the listener's mode here.
    err = SetBlocking(s, true);
    return static_cast<TSocketHandle>(s);
}

bool SocketWaitReadable(TSocketHandle socket, int timeoutMs)
{
    return WaitFor(socket, false, timeoutMs);
}

bool SocketWaitWritable(TSocketHandle socket, int timeoutMs)
{
    return WaitFor(socket, true, timeoutMs);
}

int SocketSetReceiveTimeout(TSocketHandle socket, int timeoutMs)
{
    const DWORD limit = static_cast<DWORD>(timeoutMs);
    return Result(::setsockopt(Sock(socket), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit),
                               sizeof limit));
}

// Windows has no such signal.
void IgnoreBrokenPipeSignal() {}

int OpenDescriptorCount()
{
    DWORD count = 0;
    return GetProcessHandleCount(GetCurrentProcess(), &count) ? static_cast<int>(count) : -1;
}

} // namespace platform
