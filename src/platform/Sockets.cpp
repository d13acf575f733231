#include "platform/Sockets.h"

#include "platform/TextUtil.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

namespace platform {

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

// ------------------------------------------------------------- addresses

std::uint16_t TSockAddr::Port() const
{
    if (Family() == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in&>(Storage).sin_port);
    if (Family() == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6&>(Storage).sin6_port);
    return 0;
}

void TSockAddr::SetPort(std::uint16_t port)
{
    if (Family() == AF_INET)
        reinterpret_cast<sockaddr_in&>(Storage).sin_port = htons(port);
    else if (Family() == AF_INET6)
        reinterpret_cast<sockaddr_in6&>(Storage).sin6_port = htons(port);
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
    std::array<char, INET6_ADDRSTRLEN> buffer {};
    const void* raw = nullptr;
    if (addr.Family() == AF_INET)
        raw = &reinterpret_cast<const sockaddr_in&>(addr.Storage).sin_addr;
    else if (addr.Family() == AF_INET6)
        raw = &reinterpret_cast<const sockaddr_in6&>(addr.Storage).sin6_addr;
    if (!raw || !inet_ntop(addr.Family(), raw, buffer.data(), buffer.size()))
        return {};
    return buffer.data();
}

// ---------------------------------------------------------------- names

bool LookupServicePort(const std::string& name, const std::string& proto, std::uint16_t& port)
{
    servent entry {};
    servent* found = nullptr;
    std::array<char, 1024> buffer {};
    if (getservbyname_r(name.c_str(), proto.c_str(), &entry, buffer.data(), buffer.size(), &found) == 0 && found) {
        port = ntohs(static_cast<std::uint16_t>(found->s_port));
        return true;
    }
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

int SocketOpen(int family, int type, int protocol, int& err)
{
    const int fd = ::socket(family, type | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
    err = fd < 0 ? WsaErrorFromErrno(errno) : 0;
    return fd;
}

int SocketClose(int fd)
{
    // Linux releases the descriptor even when close reports EINTR: no retry.
    return ::close(fd) == 0 || errno == EINTR ? 0 : WsaErrorFromErrno(errno);
}

int SocketConnect(int fd, const TSockAddr& addr, bool& inProgress)
{
    inProgress = false;
    int rc;
    do {
        rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr.Storage), addr.Length);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0)
        return 0;
    if (errno == EINPROGRESS || errno == EAGAIN) {
        inProgress = true;
        return 0;
    }
    return WsaErrorFromErrno(errno);
}

int SocketBind(int fd, const TSockAddr& addr)
{
    return ::bind(fd, reinterpret_cast<const sockaddr*>(&addr.Storage), addr.Length) == 0
               ? 0
               : WsaErrorFromErrno(errno);
}

int SocketLocalAddress(int fd, TSockAddr& addr)
{
    addr.Length = sizeof addr.Storage;
    return ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr.Storage), &addr.Length) == 0
               ? 0
               : WsaErrorFromErrno(errno);
}

int SocketPeerAddress(int fd, TSockAddr& addr)
{
    addr.Length = sizeof addr.Storage;
    return ::getpeername(fd, reinterpret_cast<sockaddr*>(&addr.Storage), &addr.Length) == 0
               ? 0
               : WsaErrorFromErrno(errno);
}

int SocketShutdown(int fd, int how)
{
    const int sysHow = how == 0 ? SHUT_RD : how == 1 ? SHUT_WR : SHUT_RDWR;
    return ::shutdown(fd, sysHow) == 0 ? 0 : WsaErrorFromErrno(errno);
}

long SocketSend(int fd, const void* data, std::size_t length, bool outOfBand, int& err)
{
    const int flags = MSG_NOSIGNAL | (outOfBand ? MSG_OOB : 0);
    ssize_t n;
    do {
        n = ::send(fd, data, length, flags);
    } while (n < 0 && errno == EINTR);
    err = n < 0 ? WsaErrorFromErrno(errno) : 0;
    return static_cast<long>(n);
}

long SocketRecv(int fd, void* data, std::size_t length, int& err)
{
    ssize_t n;
    do {
        n = ::recv(fd, data, length, 0);
    } while (n < 0 && errno == EINTR);
    err = n < 0 ? WsaErrorFromErrno(errno) : 0;
    return static_cast<long>(n);
}

int SocketReadable(int fd, int& err)
{
    int count = 0;
    if (::ioctl(fd, FIONREAD, &count) != 0) {
        err = WsaErrorFromErrno(errno);
        return -1;
    }
    err = 0;
    return count;
}

int SocketPendingError(int fd)
{
    int value = 0;
    socklen_t length = sizeof value;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &value, &length) != 0)
        return WsaErrorFromErrno(errno);
    return WsaErrorFromErrno(value);
}

int SocketSetOption(int fd, int level, int name, int value)
{
    return ::setsockopt(fd, level, name, &value, sizeof value) == 0 ? 0 : WsaErrorFromErrno(errno);
}

int SocketGetOption(int fd, int level, int name, int& value)
{
    socklen_t length = sizeof value;
    return ::getsockopt(fd, level, name, &value, &length) == 0 ? 0 : WsaErrorFromErrno(errno);
}

int SocketSetLinger(int fd, bool on, int seconds)
{
    linger value {};
    value.l_onoff = on ? 1 : 0;
    value.l_linger = seconds;
    return ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &value, sizeof value) == 0 ? 0 : WsaErrorFromErrno(errno);
}

int SocketSetKeepAliveValues(int fd, int timeMs, int intervalMs)
{
    const auto seconds = [](int ms) { return ms < 1000 ? 1 : ms / 1000; };
    if (int err = SocketSetOption(fd, SOL_SOCKET, SO_KEEPALIVE, 1))
        return err;
    if (int err = SocketSetOption(fd, IPPROTO_TCP, TCP_KEEPIDLE, seconds(timeMs)))
        return err;
    return SocketSetOption(fd, IPPROTO_TCP, TCP_KEEPINTVL, seconds(intervalMs));
}

int SocketSetNoDelay(int fd, bool on)
{
    return SocketSetOption(fd, IPPROTO_TCP, TCP_NODELAY, on ? 1 : 0);
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
