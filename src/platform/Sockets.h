#pragma once
// Thin layer over the system's BSD sockets for the asynchronous socket:
// non-blocking TCP descriptors, address texts, service and protocol names,
// and the mapping of system error numbers to the Windows Sockets numbers the
// upper layers report (10061 for a refused connection and so on).
//
// Every call that can fail returns the failure as such a number (0 for
// success); none of them raises.

#include <sys/socket.h>

#include <cstdint>
#include <string>

namespace platform {

// Windows Sockets numbers used by name in the code.
constexpr int WsaEINTR = 10004;
constexpr int WsaEBADF = 10009;
constexpr int WsaEACCES = 10013;
constexpr int WsaEINVAL = 10022;
constexpr int WsaEWOULDBLOCK = 10035;
constexpr int WsaEINPROGRESS = 10036;
constexpr int WsaENOTSOCK = 10038;
constexpr int WsaEPROTONOSUPPORT = 10043;
constexpr int WsaESOCKTNOSUPPORT = 10044;
constexpr int WsaEAFNOSUPPORT = 10047;
constexpr int WsaEADDRINUSE = 10048;
constexpr int WsaENETUNREACH = 10051;
constexpr int WsaECONNABORTED = 10053;
constexpr int WsaECONNRESET = 10054;
constexpr int WsaENOBUFS = 10055;
constexpr int WsaENOTCONN = 10057;
constexpr int WsaESHUTDOWN = 10058;
constexpr int WsaETIMEDOUT = 10060;
constexpr int WsaECONNREFUSED = 10061;
constexpr int WsaEHOSTUNREACH = 10065;
constexpr int WsaNOTINITIALISED = 10093;
constexpr int WsaSERVICE_NOT_FOUND = 10108;
constexpr int WsaHOST_NOT_FOUND = 11001;
constexpr int WsaTRY_AGAIN = 11002;
constexpr int WsaNO_RECOVERY = 11003;
constexpr int WsaNO_DATA = 11004;

// errno -> Windows Sockets number; 0 stays 0, an errno without counterpart
// is returned unchanged (it then reads as "Not a Winsocket error").
int WsaErrorFromErrno(int err);
// getaddrinfo's result -> Windows Sockets number (EAI_SYSTEM uses sysErrno).
int WsaErrorFromLookup(int gaiError, int sysErrno);

// A socket address of either family.
struct TSockAddr {
    sockaddr_storage Storage {};
    socklen_t Length = 0;

    int Family() const { return Storage.ss_family; }
    std::uint16_t Port() const;
    void SetPort(std::uint16_t port);
};

// "a.b.c.d": exactly four decimal parts of at most 255, blanks allowed around
// the whole text. Fills addr (port 0) when it is one.
bool ParseIPv4Literal(const std::string& text, TSockAddr* addr = nullptr);
bool ParseIPv6Literal(const std::string& text, TSockAddr* addr = nullptr);
// The address part as text ("127.0.0.1", "::1").
std::string AddressText(const TSockAddr& addr);

// Port number of a service name for a protocol ("tcp"): the system's services
// database, then a built-in table of the mail services. False when unknown.
bool LookupServicePort(const std::string& name, const std::string& proto, std::uint16_t& port);
// Protocol number of a protocol name from the system's database.
bool LookupProtocolNumber(const std::string& name, int& number);

// A non-blocking, close-on-exec socket; -1 with err set on failure.
int SocketOpen(int family, int type, int protocol, int& err);
// Closes a descriptor; the return is the error of close (normally 0).
int SocketClose(int fd);
// 0 when the connection is established or under way (WsaEWOULDBLOCK is
// returned as 0 too, with inProgress set), else the error.
int SocketConnect(int fd, const TSockAddr& addr, bool& inProgress);
int SocketBind(int fd, const TSockAddr& addr);
int SocketLocalAddress(int fd, TSockAddr& addr);
int SocketPeerAddress(int fd, TSockAddr& addr);
// how: 0 receive, 1 send, 2 both.
int SocketShutdown(int fd, int how);
// Never raises SIGPIPE. Bytes written, or -1 with err set.
long SocketSend(int fd, const void* data, std::size_t length, bool outOfBand, int& err);
// Bytes read (0 at the end of the stream), or -1 with err set.
long SocketRecv(int fd, void* data, std::size_t length, int& err);
// Bytes readable now, or -1 with err set.
int SocketReadable(int fd, int& err);
// The pending error of the socket (a finished connect), cleared by reading.
int SocketPendingError(int fd);
int SocketSetOption(int fd, int level, int name, int value);
int SocketGetOption(int fd, int level, int name, int& value);
// seconds: linger time; on false switches lingering off.
int SocketSetLinger(int fd, bool on, int seconds);
// Keep-alive with the first probe after timeMs and probes every intervalMs.
int SocketSetKeepAliveValues(int fd, int timeMs, int intervalMs);
int SocketSetNoDelay(int fd, bool on);

// Descriptors the process has open now (for leak checks).
int OpenDescriptorCount();

} // namespace platform
