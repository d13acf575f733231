#pragma once
// Thin layer over the system's sockets for the asynchronous socket:
// non-blocking TCP sockets, address texts, service and protocol names, and
// the Windows Sockets error numbers the upper layers report (10061 for a
// refused connection and so on), whatever the system's own numbers are.
//
// Every call that can fail returns the failure as such a number (0 for
// success); none of them raises.

#include <array>
#include <cstddef>
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
constexpr int WsaEADDRNOTAVAIL = 10049;
constexpr int WsaENETDOWN = 10050;
constexpr int WsaENETUNREACH = 10051;
constexpr int WsaECONNABORTED = 10053;
constexpr int WsaECONNRESET = 10054;
constexpr int WsaENOBUFS = 10055;
constexpr int WsaENOTCONN = 10057;
constexpr int WsaESHUTDOWN = 10058;
constexpr int WsaETIMEDOUT = 10060;
constexpr int WsaECONNREFUSED = 10061;
constexpr int WsaEHOSTDOWN = 10064;
constexpr int WsaEHOSTUNREACH = 10065;
constexpr int WsaNOTINITIALISED = 10093;
constexpr int WsaSERVICE_NOT_FOUND = 10108;
constexpr int WsaHOST_NOT_FOUND = 11001;
constexpr int WsaTRY_AGAIN = 11002;
constexpr int WsaNO_RECOVERY = 11003;
constexpr int WsaNO_DATA = 11004;

// A socket of the system: a descriptor number here, a pointer-sized handle
// on Windows; both fit the word a posted message carries.
using TSocketHandle = std::uintptr_t;
inline constexpr TSocketHandle InvalidSocket = ~TSocketHandle {0};

enum class TAddressFamily { Unspecified, IPv4, IPv6 };
enum class TSocketKind { Stream, Datagram, Raw };

// IP protocol numbers; the same on every system.
constexpr int IpProtoTcp = 6;
constexpr int IpProtoUdp = 17;
constexpr int IpProtoRaw = 255;

// A socket address of either family, in the system's own layout.
struct TSockAddr {
    alignas(8) std::array<unsigned char, 128> Storage {};
    int Length = 0;

    TAddressFamily Family() const;
    std::uint16_t Port() const;
    void SetPort(std::uint16_t port);
    // 255.255.255.255
    bool IsIPv4Broadcast() const;
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

// The Windows Sockets number of the last failed socket call of this thread.
int LastSocketError();

// A non-blocking socket that no child process inherits; InvalidSocket with
// err set on failure.
TSocketHandle SocketOpen(TAddressFamily family, TSocketKind kind, int protocol, int& err);
// Closes a socket; the return is the error of the close (normally 0).
int SocketClose(TSocketHandle socket);
// 0 when the connection is established or under way (WsaEWOULDBLOCK is
// returned as 0 too, with inProgress set), else the error.
int SocketConnect(TSocketHandle socket, const TSockAddr& addr, bool& inProgress);
int SocketBind(TSocketHandle socket, const TSockAddr& addr);
int SocketLocalAddress(TSocketHandle socket, TSockAddr& addr);
int SocketPeerAddress(TSocketHandle socket, TSockAddr& addr);
// how: 0 receive, 1 send, 2 both.
int SocketShutdown(TSocketHandle socket, int how);
// Never raises SIGPIPE. Bytes written, or -1 with err set.
long SocketSend(TSocketHandle socket, const void* data, std::size_t length, bool outOfBand, int& err);
// Bytes read (0 at the end of the stream), or -1 with err set.
long SocketRecv(TSocketHandle socket, void* data, std::size_t length, int& err);
// Bytes readable now, or -1 with err set.
int SocketReadable(TSocketHandle socket, int& err);
// The pending error of the socket (a finished connect, a reset by the
// peer), cleared by reading.
int SocketPendingError(TSocketHandle socket);
int SocketSetReuseAddress(TSocketHandle socket, bool on);
int SocketSetKeepAlive(TSocketHandle socket, bool on);
// Keep-alive with the first probe after timeMs and probes every intervalMs.
int SocketSetKeepAliveValues(TSocketHandle socket, int timeMs, int intervalMs);
int SocketSetNoDelay(TSocketHandle socket, bool on);
int SocketNoDelay(TSocketHandle socket, bool& on);
// seconds: linger time; on false switches lingering off.
int SocketSetLinger(TSocketHandle socket, bool on, int seconds);
int SocketSendBufferSize(TSocketHandle socket, int& size);
int SocketReceiveBufferSize(TSocketHandle socket, int& size);

// For servers (the tests' among them): listening, and a blocking accept
// whose socket is blocking too.
int SocketListen(TSocketHandle socket, int backlog);
TSocketHandle SocketAccept(TSocketHandle listener, int& err);
// Waits up to timeoutMs for the socket to become readable (a connection to
// accept, data, the end of the stream, an error) or writable (a connect
// that ended); false on time-out.
bool SocketWaitReadable(TSocketHandle socket, int timeoutMs);
bool SocketWaitWritable(TSocketHandle socket, int timeoutMs);
// A blocking receive gives up after timeoutMs.
int SocketSetReceiveTimeout(TSocketHandle socket, int timeoutMs);
// Writes to a socket whose peer has gone end in an error instead of a
// signal that ends the process, also for libraries that write to sockets
// themselves (OpenSSL's socket BIO in servers).
void IgnoreBrokenPipeSignal();

// Sockets and files the process has open now (for leak checks); -1 when
// the system cannot tell.
int OpenDescriptorCount();

} // namespace platform
