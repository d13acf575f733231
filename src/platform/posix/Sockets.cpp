#include "platform/Sockets.h"

#include "SocketErrors.h"
#include "SystemSockets.h"
#include "platform/SocketForms.h"
#include "platform/System.h"

#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <utility>

namespace platform {

namespace {

int Fd(TSocketHandle socket)
{
    return static_cast<int>(socket);
}

TSocketHandle Handle(int fd)
{
    return fd < 0 ? InvalidSocket : static_cast<TSocketHandle>(fd);
}

int Result(int rc)
{
    return rc == 0 ? 0 : WsaErrorFromErrno(errno);
}

int AddressOf(int (*query)(int, sockaddr*, socklen_t*), TSocketHandle socket, TSockAddr& addr)
{
    socklen_t length = sizeof addr.Storage;
    const int rc = query(Fd(socket), Address(addr), &length);
    addr.Length = static_cast<int>(length);
    return Result(rc);
}

} // namespace

int SetIntOption(TSocketHandle socket, int level, int name, int value)
{
    return Result(::setsockopt(Fd(socket), level, name, &value, sizeof value));
}

int GetIntOption(TSocketHandle socket, int level, int name, int& value)
{
    socklen_t length = sizeof value;
    return Result(::getsockopt(Fd(socket), level, name, &value, &length));
}

int WsaErrorFromErrno(int err)
{
    static constexpr std::pair<int, int> table[] = {
        {EINTR, 10004}, {EBADF, 10009}, {EACCES, 10013}, {EPERM, 10013}, {EFAULT, 10014},
        {EINVAL, 10022}, {EMFILE, 10024}, {ENFILE, 10024}, {EAGAIN, 10035}, {EINPROGRESS, 10036},
        {EALREADY, 10037}, {ENOTSOCK, 10038}, {EDESTADDRREQ, 10039}, {EMSGSIZE, 10040},
        {EPROTOTYPE, 10041}, {ENOPROTOOPT, 10042}, {EPROTONOSUPPORT, 10043},
        {ESOCKTNOSUPPORT, 10044}, {EOPNOTSUPP, 10045}, {EPFNOSUPPORT, 10046},
        {EAFNOSUPPORT, 10047}, {EADDRINUSE, 10048}, {EADDRNOTAVAIL, 10049}, {ENETDOWN, 10050},
        {ENETUNREACH, 10051}, {ENETRESET, 10052}, {ECONNABORTED, 10053}, {ECONNRESET, 10054},
        {ENOBUFS, 10055}, {ENOMEM, 10055}, {EISCONN, 10056}, {ENOTCONN, 10057},
        {ESHUTDOWN, 10058}, {EPIPE, 10058}, {ETOOMANYREFS, 10059}, {ETIMEDOUT, 10060},
        {ECONNREFUSED, 10061}, {ELOOP, 10062}, {ENAMETOOLONG, 10063}, {EHOSTDOWN, 10064},
        {EHOSTUNREACH, 10065}, {ENOTEMPTY, 10066}, {EUSERS, 10068}, {EDQUOT, 10069},
        {ESTALE, 10070}, {EREMOTE, 10071},
    };
    if (err == 0)
        return 0;
    if (err == EWOULDBLOCK)
        return WsaEWOULDBLOCK;
    for (const auto& [sys, wsa] : table)
        if (sys == err)
            return wsa;
    return err;
}

int WsaErrorFromLookup(int gaiError, int sysErrno)
{
    switch (gaiError) {
    case 0: return 0;
    case EAI_NONAME: return WsaHOST_NOT_FOUND;
    case EAI_AGAIN: return WsaTRY_AGAIN;
    case EAI_FAIL: return WsaNO_RECOVERY;
#ifdef EAI_NODATA
    case EAI_NODATA: return WsaNO_DATA;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY: return WsaNO_DATA;
#endif
    case EAI_FAMILY: return WsaEAFNOSUPPORT;
    case EAI_SERVICE: return WsaSERVICE_NOT_FOUND;
    case EAI_SOCKTYPE: return WsaESOCKTNOSUPPORT;
    case EAI_MEMORY: return WsaENOBUFS;
    case EAI_SYSTEM: return sysErrno != 0 ? WsaErrorFromErrno(sysErrno) : WsaNO_RECOVERY;
    default: return WsaNO_RECOVERY;
    }
}

int LookupError(int gaiError)
{
    return WsaErrorFromLookup(gaiError, errno);
}

int LastSocketError()
{
    return WsaErrorFromErrno(errno);
}

bool SystemServicePort(const std::string& name, const std::string& proto, std::uint16_t& port)
{
    servent entry {};
    servent* found = nullptr;
    std::array<char, 1024> buffer {};
    if (getservbyname_r(name.c_str(), proto.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return false;
    port = ntohs(static_cast<std::uint16_t>(found->s_port));
    return true;
}

bool LookupProtocolNumber(const std::string& name, int& number)
{
    protoent entry {};
    protoent* found = nullptr;
    std::array<char, 1024> buffer {};
    if (getprotobyname_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return false;
    number = found->p_proto;
    return true;
}

// ------------------------------------------------------------ descriptors

TSocketHandle SocketOpen(TAddressFamily family, TSocketKind kind, int protocol, int& err)
{
    const int fd = ::socket(SystemFamily(family), SystemType(kind) | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
    err = fd < 0 ? WsaErrorFromErrno(errno) : 0;
    return Handle(fd);
}

int SocketClose(TSocketHandle socket)
{
    // Linux releases the descriptor even when close reports EINTR: no retry.
    return ::close(Fd(socket)) == 0 || errno == EINTR ? 0 : WsaErrorFromErrno(errno);
}

int SocketConnect(TSocketHandle socket, const TSockAddr& addr, bool& inProgress)
{
    inProgress = false;
    int rc;
    do {
        rc = ::connect(Fd(socket), Address(addr), static_cast<socklen_t>(addr.Length));
    } while (rc != 0 && errno == EINTR);
    if (rc == 0)
        return 0;
    if (errno == EINPROGRESS || errno == EAGAIN) {
        inProgress = true;
        return 0;
    }
    return WsaErrorFromErrno(errno);
}

int SocketBind(TSocketHandle socket, const TSockAddr& addr)
{
    return Result(::bind(Fd(socket), Address(addr), static_cast<socklen_t>(addr.Length)));
}

int SocketLocalAddress(TSocketHandle socket, TSockAddr& addr)
{
    return AddressOf(::getsockname, socket, addr);
}

int SocketPeerAddress(TSocketHandle socket, TSockAddr& addr)
{
    return AddressOf(::getpeername, socket, addr);
}

int SocketShutdown(TSocketHandle socket, int how)
{
    const int sysHow = how == 0 ? SHUT_RD : how == 1 ? SHUT_WR : SHUT_RDWR;
    return Result(::shutdown(Fd(socket), sysHow));
}

long SocketSend(TSocketHandle socket, const void* data, std::size_t length, bool outOfBand, int& err)
{
    const int flags = MSG_NOSIGNAL | (outOfBand ? MSG_OOB : 0);
    ssize_t n;
    do {
        n = ::send(Fd(socket), data, length, flags);
    } while (n < 0 && errno == EINTR);
    err = n < 0 ? WsaErrorFromErrno(errno) : 0;
    return static_cast<long>(n);
}

long SocketRecv(TSocketHandle socket, void* data, std::size_t length, int& err)
{
    ssize_t n;
    do {
        n = ::recv(Fd(socket), data, length, 0);
    } while (n < 0 && errno == EINTR);
    err = n < 0 ? WsaErrorFromErrno(errno) : 0;
    return static_cast<long>(n);
}

int SocketReadable(TSocketHandle socket, int& err)
{
    int count = 0;
    if (::ioctl(Fd(socket), FIONREAD, &count) != 0) {
        err = WsaErrorFromErrno(errno);
        return -1;
    }
    err = 0;
    return count;
}

int SocketPendingError(TSocketHandle socket)
{
    int value = 0;
    if (int err = GetIntOption(socket, SOL_SOCKET, SO_ERROR, value))
        return err;
    return WsaErrorFromErrno(value);
}

int SocketSetKeepAliveValues(TSocketHandle socket, int timeMs, int intervalMs)
{
    const auto seconds = [](int ms) { return ms < 1000 ? 1 : ms / 1000; };
    if (int err = SocketSetKeepAlive(socket, true))
        return err;
    if (int err = SetIntOption(socket, IPPROTO_TCP, TCP_KEEPIDLE, seconds(timeMs)))
        return err;
    return SetIntOption(socket, IPPROTO_TCP, TCP_KEEPINTVL, seconds(intervalMs));
}

int SocketSetLinger(TSocketHandle socket, bool on, int seconds)
{
    linger value {};
    value.l_onoff = on ? 1 : 0;
    value.l_linger = seconds;
    return Result(::setsockopt(Fd(socket), SOL_SOCKET, SO_LINGER, &value, sizeof value));
}

int SocketListen(TSocketHandle socket, int backlog)
{
    return Result(::listen(Fd(socket), backlog));
}

TSocketHandle SocketAccept(TSocketHandle listener, int& err)
{
    int fd;
    do {
        fd = ::accept4(Fd(listener), nullptr, nullptr, SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    err = fd < 0 ? WsaErrorFromErrno(errno) : 0;
    return Handle(fd);
}

namespace {

bool WaitFor(TSocketHandle socket, short events, int timeoutMs)
{
    pollfd p {Fd(socket), events, 0};
    return ::poll(&p, 1, timeoutMs) > 0;
}

} // namespace

bool SocketWaitReadable(TSocketHandle socket, int timeoutMs)
{
    return WaitFor(socket, POLLIN, timeoutMs);
}

bool SocketWaitWritable(TSocketHandle socket, int timeoutMs)
{
    return WaitFor(socket, POLLOUT, timeoutMs);
}

int SocketSetReceiveTimeout(TSocketHandle socket, int timeoutMs)
{
    timeval limit {timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    return Result(::setsockopt(Fd(socket), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit));
}

void IgnoreBrokenPipeSignal()
{
    ::signal(SIGPIPE, SIG_IGN);
}

int OpenDescriptorCount()
{
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir)
        return -1;
    int count = 0;
    while (const dirent* entry = ::readdir(dir))
        if (entry->d_name[0] != '.')
            ++count;
    ::closedir(dir);
    return count - 1; // the directory's own descriptor
}

} // namespace platform
