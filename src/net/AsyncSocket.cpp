#include "net/AsyncSocket.h"

#include "net/KvTimer.h"
#include "platform/Clock.h"
#include "platform/Resolver.h"
#include "platform/TextUtil.h"

#include <algorithm>
#include <ctime>
#include <map>
#include <mutex>

namespace net {

using namespace platform;

namespace {

// Readiness messages posted by the socket itself carry the connection's
// serial above the readiness bits, so that one left over from an earlier
// connection (on a reused descriptor number) is recognised and dropped. A
// system notification carries no serial (tag 0).
constexpr int SerialShift = 8;
constexpr std::uint64_t SerialMask = (std::uint64_t {1} << 55) - 1;

std::uint64_t SerialTag(std::uint64_t serial)
{
    return serial & SerialMask; // serials start at 1: never 0
}

std::intptr_t PostedReadiness(unsigned events, std::uint64_t serial)
{
    return static_cast<std::intptr_t>(events) | static_cast<std::intptr_t>(SerialTag(serial) << SerialShift);
}

std::uint16_t ErrCode16(int code)
{
    return static_cast<std::uint16_t>(code);
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

TLookupFamily LookupFamily(TSocketFamily family)
{
    switch (family) {
    case sfIPv4: return TLookupFamily::IPv4;
    case sfIPv6: return TLookupFamily::IPv6;
    case sfAnyIPv4: return TLookupFamily::AnyIPv4First;
    case sfAnyIPv6: return TLookupFamily::AnyIPv6First;
    default: return TLookupFamily::Any;
    }
}

// An IPv4 literal that DnsLookup answers itself (the all-ones address goes
// to the system like a name).
bool IsOwnIPv4Literal(const std::string& text, TSockAddr* addr)
{
    TSockAddr parsed;
    if (!ParseIPv4Literal(text, &parsed))
        return false;
    if (parsed.IsIPv4Broadcast())
        return false;
    if (addr)
        *addr = parsed;
    return true;
}

// Connection outcomes the system may report at once on a loopback or local
// route; they are reported like the ones that come later.
bool IsConnectOutcome(int err)
{
    switch (err) {
    case WsaECONNREFUSED:
    case WsaENETUNREACH:
    case WsaEHOSTUNREACH:
    case WsaETIMEDOUT:
    case WsaECONNRESET:
    case 10050: // network down
    case 10064: // host down
        return true;
    default:
        return false;
    }
}

} // namespace

// ------------------------------------------------------------ small types

TAsyncSocketOptions::TAsyncSocketOptions(std::initializer_list<TAsyncSocketOption> options)
{
    for (TAsyncSocketOption option : options)
        Include(option);
}

TAsyncSocketOptions& TAsyncSocketOptions::Include(TAsyncSocketOption option)
{
    FBits |= 1u << option;
    return *this;
}

TAsyncSocketOptions& TAsyncSocketOptions::Exclude(TAsyncSocketOption option)
{
    FBits &= ~(1u << option);
    return *this;
}

ESocketException::ESocketException(const std::string& msg, int errorCode, const std::string& errorDesc,
                                   const std::string& friendlyMsg, const std::string& socketFunction,
                                   const std::string& ipAddress, const std::string& port,
                                   const std::string& proto)
    : std::runtime_error(msg)
    , ErrorCode(errorCode)
    , ErrorDesc(errorDesc.empty() ? WSocketErrorDesc(errorCode) : errorDesc)
    , FriendlyMsg(friendlyMsg.empty() ? msg : friendlyMsg)
    , SocketFunction(socketFunction)
    , IPAddress(ipAddress)
    , Port(port)
    , Proto(proto)
{
}

std::string WSocketErrorDesc(int errCode)
{
    static const std::map<int, const char*> texts = {
        {0, "No Error"},
        {10004, "Interrupted system call"},
        {10009, "Bad file number"},
        {10013, "Permission denied"},
        {10014, "Bad address"},
        {10022, "Invalid argument"},
        {10024, "Too many open files"},
        {10035, "Operation would block"},
        {10036, "Operation now in progress"},
        {10037, "Operation already in progress"},
        {10038, "Socket operation on non-socket"},
        {10039, "Destination address required"},
        {10040, "Message too long"},
        {10041, "Protocol wrong type for socket"},
        {10042, "Protocol not available"},
        {10043, "Protocol not supported"},
        {10044, "Socket type not supported"},
        {10045, "Operation not supported on socket"},
        {10046, "Protocol family not supported"},
        {10047, "Address family not supported by protocol family"},
        {10048, "Address already in use"},
        {10049, "Address not available"},
        {10050, "Network is down"},
        {10051, "Network is unreachable"},
        {10052, "Network dropped connection on reset"},
        {10053, "Connection aborted"},
        {10054, "Connection reset by peer"},
        {10055, "No buffer space available"},
        {10056, "Socket is already connected"},
        {10057, "Socket is not connected"},
        {10058, "Can't send after socket shutdown"},
        {10059, "Too many references: can't splice"},
        {10060, "Connection timed out"},
        {10061, "Connection refused"},
        {10062, "Too many levels of symbolic links"},
        {10063, "File name too long"},
        {10064, "Host is down"},
        {10065, "No route to host"},
        {10066, "Directory not empty"},
        {10067, "Too many processes"},
        {10068, "Too many users"},
        {10069, "Disc quota exceeded"},
        {10070, "Stale NFS file handle"},
        {10071, "Too many levels of remote in path"},
        {10091, "Network sub-system is unusable"},
        {10092, "WinSock DLL cannot support this application"},
        {10093, "WinSock not initialized"},
        {10108, "Service not found"},
        {11001, "Host not found"},
        {11002, "Non-authoritative host not found"},
        {11003, "Non-recoverable error"},
        {11004, "No Data"},
    };
    auto it = texts.find(errCode);
    return it != texts.end() ? it->second : "Not a Winsocket error";
}

std::string WSocketErrorText(int errCode)
{
    return WSocketErrorDesc(errCode) + " (#" + std::to_string(errCode) + ")";
}

std::string WSocketGeneralErrorText(int errCode)
{
    if (errCode >= 20000 && errCode <= 20017)
        return "SOCKS - " + WSocketErrorDesc(errCode);
    if (errCode >= 21000 && errCode <= 21599)
        return "HTTP Proxy - " + WSocketErrorDesc(errCode);
    return "Winsock - " + WSocketErrorDesc(errCode);
}

std::uint32_t TAsyncSocketCounter::LastAliveTick() const
{
    const std::uint32_t now = TickCount();
    std::uint32_t best = ConnectTick;
    for (std::uint32_t tick : {LastRecvTick, LastSendTick})
        if (tick != 0 && (best == 0 || TickDiff(tick, now) < TickDiff(best, now)))
            best = tick;
    return best;
}

void TAsyncSocketCounter::SetConnected()
{
    ConnectTick = TickCount();
    ConnectDT = static_cast<std::int64_t>(std::time(nullptr));
    LastRecvTick = 0;
    LastSendTick = 0;
}

// ------------------------------------------------------------ name lookup

// Written by the resolver thread, read on the socket's thread once the
// completion message of the same lookup id arrives.
struct TCustomAsyncSocket::TLookupSlot {
    std::mutex Lock;
    std::uint64_t Id = 0;
    TLookupResult Result;
};

// ------------------------------------------------------- TCustomAsyncSocket

TCustomAsyncSocket::TCustomAsyncSocket()
    : FLookupSlot(std::make_shared<TLookupSlot>())
{
}

TCustomAsyncSocket::~TCustomAsyncSocket()
{
    FDestroying = true;
    try {
        CancelLookup(false);
        if (FHSocket != InvalidSocket)
            CloseHandle();
    } catch (...) {
        // Going away: nothing to report to.
    }
}

void TCustomAsyncSocket::AllocateMsgHandlers()
{
    TKvWndControl::AllocateMsgHandlers();
    FMsgReadiness = AllocateMessage();
    FMsgLookupDone = AllocateMessage();
    FMsgAddrLookupDone = AllocateMessage();
    FMsgCloseDelayed = AllocateMessage();
    FMsgTestException = AllocateMessage();
    FMsgRedeliver = AllocateMessage();
}

void TCustomAsyncSocket::FreeMsgHandlers()
{
    // Readiness is tied to the window: it goes with the numbers.
    if (FHSocket != InvalidSocket && HasWindow())
        WindowHandle()->AsyncSelect(FHSocket, 0, 0);
    FSelected = 0;
    FreeMessage(FMsgRedeliver);
    FreeMessage(FMsgTestException);
    FreeMessage(FMsgCloseDelayed);
    FreeMessage(FMsgAddrLookupDone);
    FreeMessage(FMsgLookupDone);
    FreeMessage(FMsgReadiness);
    TKvWndControl::FreeMsgHandlers();
}

void TCustomAsyncSocket::WndProc(const platform::TMessage& msg)
{
    try {
        if (msg.Msg == FMsgReadiness) {
            WMReadiness(msg);
            return;
        } else if (msg.Msg == FMsgLookupDone) {
            WMLookupDone(msg);
            return;
        } else if (msg.Msg == FMsgCloseDelayed) {
            Close();
            return;
        } else if (msg.Msg == FMsgTestException) {
            throw ESocketException("Test exception in AsyncSocket");
        } else if (msg.Msg == FMsgRedeliver) {
            WMRedeliver(msg);
            return;
        } else if (msg.Msg == FMsgAddrLookupDone) {
            return;
        }
    } catch (const std::exception& e) {
        HandleBgException(e, "TCustomAsyncSocket.WndProc");
        return;
    }
    TKvWndControl::WndProc(msg);
}

void TCustomAsyncSocket::WMRedeliver(const platform::TMessage&) {}

void TCustomAsyncSocket::AbortOnError()
{
    Abort();
}

void TCustomAsyncSocket::AttachThread()
{
    TKvWndControl::AttachThread();
    UpdateSelection();
}

void TCustomAsyncSocket::DetachThread()
{
    TKvWndControl::DetachThread();
}

// ---- properties

void TCustomAsyncSocket::CheckClosed(const char* property)
{
    if (FState != wsClosed)
        RaiseException(std::string("Cannot change ") + property + " if not closed");
}

// Destination settings change only while closed; the same text again is
// accepted at any time. False when nothing was stored.
bool TCustomAsyncSocket::AssignTarget(const std::string& value, std::string& field, bool& assigned,
                                      bool& resolved, const char* property)
{
    const std::string text = Trim(value);
    if (FState != wsClosed) {
        if (!(assigned && text == field))
            CheckClosed(property);
        return false;
    }
    field = text;
    assigned = !text.empty();
    resolved = false;
    return true;
}

void TCustomAsyncSocket::SetAddr(const std::string& value)
{
    if (!AssignTarget(value, FAddr, FAddrAssigned, FAddrResolved, "Addr"))
        return;
    if (ParseIPv4Literal(FAddr))
        FSocketFamily = sfIPv4;
    else if (ParseIPv6Literal(FAddr))
        FSocketFamily = sfIPv6;
    else
        FSocketFamily = FUserFamily;
}

void TCustomAsyncSocket::SetPort(const std::string& value)
{
    AssignTarget(value, FPort, FPortAssigned, FPortResolved, "Port");
}

void TCustomAsyncSocket::SetProto(const std::string& value)
{
    AssignTarget(value, FProto, FProtoAssigned, FProtoResolved, "Proto");
}

void TCustomAsyncSocket::SetSocketFamily(TSocketFamily value)
{
    if (value == FSocketFamily && value == FUserFamily)
        return;
    if (FState != wsClosed || FLookupId != 0) {
        RaiseException("Cannot change SocketFamily when not closed or in DNS lookup");
        return;
    }
    FSocketFamily = value;
    FUserFamily = value;
    FAddrResolved = false;
}

void TCustomAsyncSocket::SetLocalAddr(const std::string& value)
{
    if (value == FLocalAddr)
        return;
    CheckClosed("LocalAddr");
    if (FState == wsClosed)
        FLocalAddr = value.empty() ? "0.0.0.0" : value;
}

void TCustomAsyncSocket::SetLocalAddr6(const std::string& value)
{
    if (value == FLocalAddr6)
        return;
    CheckClosed("LocalAddr6");
    if (FState == wsClosed)
        FLocalAddr6 = value.empty() ? "::" : value;
}

void TCustomAsyncSocket::SetLocalPort(const std::string& value)
{
    if (value == FLocalPort)
        return;
    CheckClosed("LocalPort");
    if (FState == wsClosed) {
        FLocalPort = value.empty() ? "0" : value;
        FLocalPortResolved = false;
    }
}

void TCustomAsyncSocket::SetSendFlags(TSocketSendFlags value)
{
    if (value != wsSendNormal && value != wsSendUrgent) {
        RaiseException("Invalid SendFlags");
        return;
    }
    FSendFlags = value;
}

void TCustomAsyncSocket::CreateCounter()
{
    if (!FCounter)
        FCounter = std::make_unique<TAsyncSocketCounter>();
}

// ---- errors

void TCustomAsyncSocket::RaiseException(const std::string& msg, int errCode, const std::string& friendlyMsg,
                                        const std::string& operation)
{
    if (OnError) {
        OnError(*this);
        return;
    }
    const std::string& text = FSocketErrs == wsErrFriendly && !friendlyMsg.empty() ? friendlyMsg : msg;
    ESocketException e(text, errCode, {}, friendlyMsg, operation, FAddr, FPort, FProto);
    if (onException) {
        onException(*this, e);
        return;
    }
    throw e;
}

void TCustomAsyncSocket::SocketError(const std::string& operation, int errCode)
{
    if (errCode == 0)
        errCode = LastSocketError();
    const std::string desc = WSocketErrorDesc(errCode);
    const std::string tech = desc + " (#" + std::to_string(errCode) + " in " + operation + ")";
    const std::string friendly = desc + " in " + operation;
    if ((errCode == WsaECONNRESET || errCode == WsaENOTCONN) && FHSocket != InvalidSocket && FState != wsClosed)
        InternalClose(false, ErrCode16(errCode));
    FLastError = errCode;
    RaiseException(FSocketErrs == wsErrTech ? tech : friendly, errCode, friendly, operation);
}

// ---- state

void TCustomAsyncSocket::ChangeState(TSocketState newState)
{
    const TSocketState oldState = FState;
    FState = newState;
    if (oldState != newState && !FDestroying)
        TriggerChangeState(oldState, newState);
}

void TCustomAsyncSocket::ResetToDefaults()
{
    FState = wsClosed;
    // Whole new strings: assigning literals here trips a false -Wrestrict of g++ 12.
    FProto = std::string("tcp");
    FProtoAssigned = true;
    FProtoResolved = false;
    FPortAssigned = false;
    FPortResolved = false;
    FAddrAssigned = false;
    FAddrResolved = false;
    FLocalPort = std::string("0");
    FLocalPortResolved = false;
    FLocalAddr = std::string("0.0.0.0");
    FLocalAddr6 = std::string("::");
    LingerOnOff = wsLingerOn;
    LingerTimeout = 0;
    FHSocket = InvalidSocket;
    FSelected = 0;
    FAllSent = true;
    FPaused = false;
    FCloseInvoked = false;
    FConnectAfterLookup = false;
    FConnectError = 0;
    FPeerError = 0;
    FDestText.clear();
}

// Readiness is asked for once per connection (and again after Pause and
// Resume or a move to another thread); each kind is then reported once and
// re-enabled by the operation that consumes it: a read for read readiness, a
// write that could not finish for write readiness.
void TCustomAsyncSocket::UpdateSelection()
{
    if (FHSocket == InvalidSocket)
        return;
    const bool wanted = !FPaused && (FState == wsConnecting || FState == wsConnected || FState == wsSocksConnected);
    if (wanted == (FSelected != 0))
        return;
    const unsigned events = wanted ? FdRead | FdWrite : 0u;
    const int err = WindowHandle()->AsyncSelect(FHSocket, FMsgReadiness, events);
    if (err != 0) {
        SocketError("WSAAsyncSelect", err);
        return;
    }
    FSelected = events;
}

void TCustomAsyncSocket::Reenable(unsigned kind)
{
    if (FHSocket != InvalidSocket && FSelected != 0 && HasWindow())
        WindowHandle()->ReenableSelect(FHSocket, kind);
}

bool TCustomAsyncSocket::SendChainEmpty()
{
    std::lock_guard lock(FBufferHandler.Lock());
    return FBufferHandler.Empty();
}

// ---- name lookup

void TCustomAsyncSocket::CancelLookup(bool notify)
{
    if (FLookupId == 0)
        return;
    platform::CancelLookup(FLookupId);
    FLookupId = 0;
    FConnectAfterLookup = false;
    if (!notify || FDestroying)
        return;
    if (OnDnsLookupDone)
        OnDnsLookupDone(*this, 10004);
    if (FState == wsDnsLookup)
        ChangeState(wsClosed);
}

void TCustomAsyncSocket::CancelDnsLookup()
{
    CancelLookup(true);
}

void TCustomAsyncSocket::DnsLookup(const std::string& hostName)
{
    const std::string host = Trim(hostName);
    if (host.empty()) {
        RaiseException("DNS lookup: invalid host name.", WsaEINVAL);
        TriggerDnsLookupDone(WsaEINVAL);
        return;
    }
    CancelLookup(false);
    FLookupResult.clear();
    FLookupResultList.clear();
    TSockAddr literal;
    if ((FSocketFamily != sfIPv6 && IsOwnIPv4Literal(host, &literal)) ||
        (FSocketFamily != sfIPv4 && ParseIPv6Literal(host, &literal))) {
        FLookupResult = AddressText(literal);
        FLookupResultList.push_back(FLookupResult);
        TriggerDnsLookupDone(0);
        return;
    }
    std::weak_ptr<TMessageWindow> window = WindowRef();
    const std::uint32_t msg = FMsgLookupDone;
    std::shared_ptr<TLookupSlot> slot = FLookupSlot;
    try {
        FLookupId = StartLookup(host, LookupFamily(FSocketFamily),
                                [window, msg, slot](std::uint64_t id, const TLookupResult& result) {
                                    {
                                        std::lock_guard lock(slot->Lock);
                                        slot->Id = id;
                                        slot->Result = result;
                                    }
                                    if (auto target = window.lock())
                                        target->Post(msg, static_cast<std::uintptr_t>(id),
                                                     static_cast<std::intptr_t>(result.Error) << 16);
                                });
    } catch (const std::exception&) {
        FLookupId = 0;
        RaiseException(host + ": can't start DNS lookup - " + WSocketErrorText(WsaENOBUFS), WsaENOBUFS);
    }
}

void TCustomAsyncSocket::WMLookupDone(const platform::TMessage& msg)
{
    const auto id = static_cast<std::uint64_t>(msg.WParam);
    if (id == 0 || id != FLookupId)
        return;
    FLookupId = 0;
    TLookupResult result;
    {
        std::lock_guard lock(FLookupSlot->Lock);
        if (FLookupSlot->Id != id)
            return;
        result = std::move(FLookupSlot->Result);
    }
    const auto errCode = static_cast<std::uint16_t>((msg.LParam >> 16) & 0xFFFF);
    if (errCode == 0) {
        FLookupResultList = std::move(result.Addresses);
        FLookupResult = FLookupResultList.empty() ? std::string() : FLookupResultList.front();
    }
    TriggerDnsLookupDone(errCode);
}

void TCustomAsyncSocket::TriggerDnsLookupDone(std::uint16_t errCode)
{
    if (OnDnsLookupDone)
        OnDnsLookupDone(*this, errCode);
    if (!FConnectAfterLookup)
        return;
    FConnectAfterLookup = false;
    if (errCode != 0) {
        TriggerSessionConnected(errCode);
        // No connection was made; the socket must not stay in lookup state.
        if (FState == wsDnsLookup)
            Close();
        return;
    }
    try {
        TSockAddr addr;
        if (!ParseIPv4Literal(FLookupResult, &addr) && !ParseIPv6Literal(FLookupResult, &addr))
            throw ESocketException("connect: invalid lookup result '" + FLookupResult + "'");
        FSin = addr;
        FAddrResolved = true;
        TSocketNotifyEvent onError = std::move(OnError);
        OnError = nullptr;
        try {
            Connect();
        } catch (...) {
            OnError = std::move(onError);
            throw;
        }
        OnError = std::move(onError);
    } catch (const std::exception& e) {
        HandleBgException(e, "TCustomAsyncSocket.TriggerDNSLookupDone");
    }
}

// ---- connect

bool TCustomAsyncSocket::ResolveProto()
{
    if (FProtoResolved)
        return true;
    int number = 0;
    if (!FProto.empty() && IsDigit(FProto[0])) {
        number = std::atoi(FProto.c_str());
    } else if (SameTextAscii(FProto, "tcp")) {
        number = IpProtoTcp;
    } else if (SameTextAscii(FProto, "udp")) {
        number = IpProtoUdp;
    } else if (SameTextAscii(FProto, "raw")) {
        number = IpProtoRaw;
    } else if (FProto.empty()) {
        RaiseException("connect: Winsock Resolve Proto: Invalid Protocol.");
        return false;
    } else if (!LookupProtocolNumber(FProto, number)) {
        RaiseException("connect: Winsock Resolve Proto: Cannot convert protocol '" + FProto + "' - " +
                           WSocketErrorText(WsaEPROTONOSUPPORT),
                       WsaEPROTONOSUPPORT);
        return false;
    }
    FProtoNumber = number;
    FSocketType = number == IpProtoTcp ? TSocketKind::Stream : number == IpProtoUdp ? TSocketKind::Datagram : TSocketKind::Raw;
    FProtoResolved = true;
    return true;
}

bool TCustomAsyncSocket::ResolvePort(const std::string& port, std::uint16_t& number, const char* what)
{
    if (port.empty()) {
        RaiseException(std::string("connect: Winsock Resolve Port: Invalid ") + what + ".");
        return false;
    }
    if (IsDigit(port[0])) {
        const bool digits = std::all_of(port.begin(), port.end(), IsDigit);
        const long value = digits && port.size() <= 5 ? std::atol(port.c_str()) : -1;
        if (value < 0 || value > 65535) {
            RaiseException("connect: Winsock Resolve Port: Invalid Port.");
            return false;
        }
        number = static_cast<std::uint16_t>(value);
        return true;
    }
    const std::string proto = FProtoNumber == IpProtoUdp ? "udp" : "tcp";
    if (!LookupServicePort(port, proto, number)) {
        RaiseException("connect: Winsock Resolve Port: Cannot convert port '" + port + "' - " +
                           WSocketErrorText(WsaSERVICE_NOT_FOUND),
                       WsaSERVICE_NOT_FOUND);
        return false;
    }
    return true;
}

bool TCustomAsyncSocket::ResolveAddr()
{
    TSockAddr addr;
    const bool literal = (FSocketFamily != sfIPv6 && ParseIPv4Literal(FAddr, &addr)) ||
                         (FSocketFamily != sfIPv4 && ParseIPv6Literal(FAddr, &addr));
    if (!literal) {
        const TLookupResult result = ResolveHost(FAddr, LookupFamily(FSocketFamily));
        if (result.Error != 0 || result.Addresses.empty() ||
            !(ParseIPv4Literal(result.Addresses.front(), &addr) || ParseIPv6Literal(result.Addresses.front(), &addr))) {
            const int err = result.Error != 0 ? result.Error : WsaNO_DATA;
            RaiseException("connect: Winsock Resolve Host: Cannot convert host address '" + FAddr + "' - " +
                               WSocketErrorText(err),
                           err);
            return false;
        }
    }
    FSin = addr;
    FAddrResolved = true;
    return true;
}

bool TCustomAsyncSocket::ResolveForConnect()
{
    if (!ResolveProto())
        return false;
    if (!FPortResolved) {
        if (!ResolvePort(FPort, FPortNumber, "Port"))
            return false;
        FPortResolved = true;
    }
    if (!FLocalPortResolved) {
        if (!ResolvePort(FLocalPort, FLocalPortNumber, "Port"))
            return false;
        FLocalPortResolved = true;
    }
    return true;
}

void TCustomAsyncSocket::Connect()
{
    if ((FHSocket != InvalidSocket && FState != wsClosed && FState != wsDnsLookup) || FConnectAfterLookup) {
        RaiseException("Connect: Socket already in use");
        return;
    }
    if (!FPortAssigned) {
        RaiseException("Connect: No Port Specified");
        return;
    }
    if (!FAddrAssigned) {
        RaiseException("Connect: No IP Address Specified");
        return;
    }
    if (!FProtoAssigned) {
        RaiseException("Connect: No Protocol Specified");
        return;
    }
    if (!ResolveForConnect())
        return;
    if (!FAddrResolved) {
        if (ComponentOptions.Contains(wsoAsyncDnsLookup) && !ParseIPv4Literal(FAddr) && !ParseIPv6Literal(FAddr)) {
            TSocketNotifyEvent onError = std::move(OnError);
            OnError = nullptr;
            ChangeState(wsDnsLookup);
            try {
                DnsLookup(FAddr);
            } catch (...) {
                OnError = std::move(onError);
                throw;
            }
            OnError = std::move(onError);
            FConnectAfterLookup = FLookupId != 0;
            return;
        }
        if (!ResolveAddr())
            return;
    }
    StartConnect();
}

bool TCustomAsyncSocket::ApplyOptions()
{
    if (FSocketType != TSocketKind::Stream)
        return true;
    if (int err = SocketSetReuseAddress(FHSocket, true)) {
        SocketError("setsockopt(SO_REUSEADDR)", err);
        return false;
    }
    if (ComponentOptions.Contains(wsoTcpNoDelay)) {
        if (int err = SocketSetNoDelay(FHSocket, true)) {
            SocketError("setsockopt(IpProtoTcp, TCP_NODELAY)", err);
            return false;
        }
    }
    // A zero-time linger would turn every close into a reset that drops the
    // bytes still on their way: only a real linger time is applied.
    if (LingerOnOff == wsLingerOff || (LingerOnOff == wsLingerOn && LingerTimeout > 0)) {
        if (int err = SocketSetLinger(FHSocket, LingerOnOff == wsLingerOn, LingerTimeout)) {
            SocketError("setsockopt(SO_LINGER)", err);
            return false;
        }
    }
    if (KeepAliveOnOff == wsKeepAliveOnSystem) {
        if (int err = SocketSetKeepAlive(FHSocket, true)) {
            SocketError("setsockopt(SO_KEEPALIVE)", err);
            return false;
        }
    } else if (KeepAliveOnOff == wsKeepAliveOnCustom) {
        if (int err = SocketSetKeepAliveValues(FHSocket, KeepAliveTime, KeepAliveInterval)) {
            SocketError("AsyncSocket_WSAIoctl(SIO_KEEPALIVE_VALS)", err);
            return false;
        }
    }
    return BindLocal();
}

bool TCustomAsyncSocket::BindLocal()
{
    const bool v6 = FSin.Family() == TAddressFamily::IPv6;
    const std::string& local = v6 ? FLocalAddr6 : FLocalAddr;
    const bool anyAddr = local == "0.0.0.0" || local == "::";
    if (FLocalPortNumber == 0 && anyAddr)
        return true;
    TSockAddr addr;
    const bool parsed = v6 ? ParseIPv6Literal(local, &addr) : ParseIPv4Literal(local, &addr);
    if (!parsed) {
        RaiseException("Bind socket failed - " + WSocketErrorText(10049), 10049);
        return false;
    }
    addr.SetPort(FLocalPortNumber);
    if (int err = SocketBind(FHSocket, addr)) {
        const std::string friendly = err == WsaEADDRINUSE || err == WsaEACCES
                                         ? "Another client is using address " + local + ":" + FLocalPort
                                         : std::string();
        FLastError = err;
        RaiseException("Bind socket failed - " + WSocketErrorText(err), err, friendly, "bind");
        return false;
    }
    TSockAddr bound;
    if (int err = SocketLocalAddress(FHSocket, bound)) {
        FLastError = err;
        RaiseException("Winsock get socket name failed - " + WSocketErrorText(err), err);
        return false;
    }
    FLocalPort = std::to_string(bound.Port());
    return true;
}

void TCustomAsyncSocket::StartConnect()
{
    {
        std::lock_guard lock(FBufferHandler.Lock());
        FBufferHandler.DeleteAll();
        FPendingSendBytes = 0;
    }
    if (FSocketType != TSocketKind::Stream) {
        SocketError("Connect (socket)", WsaESOCKTNOSUPPORT);
        return;
    }
    FSin.SetPort(FPortNumber);
    int err = 0;
    FHSocket = SocketOpen(FSin.Family(), FSocketType, FProtoNumber, err);
    if (FHSocket == InvalidSocket) {
        SocketError("Connect (socket)", err);
        return;
    }
    ++FSerial;
    FSelected = 0;
    FConnectError = 0;
    FPeerError = 0;
    SocketSendBufferSize(FHSocket, FSndBufSize);
    SocketReceiveBufferSize(FHSocket, FRcvBufSize);
    ChangeState(wsOpened);
    if (FState != wsOpened) {
        SocketError("Connect (Invalid operation in OnChangeState)", WsaEINVAL);
        return;
    }
    if (!ApplyOptions())
        return;
    FDestText = AddressText(FSin);
    Log("TAsyncSocket will connect to " + FDestText + ":" + std::to_string(FSin.Port()));
    bool inProgress = false;
    err = SocketConnect(FHSocket, FSin, inProgress);
    if (err != 0 && !IsConnectOutcome(err)) {
        FLastError = err;
        SocketError("Connect", err);
        return;
    }
    ChangeState(wsConnecting);
    if (FState != wsConnecting)
        return;
    UpdateSelection();
    if (err != 0) {
        // Reported from the message loop like a refusal that comes later.
        FConnectError = err;
        PostMessage(FMsgReadiness, FHSocket, PostedReadiness(FdError, FSerial));
    }
}

// ---- readiness

void TCustomAsyncSocket::WMReadiness(const platform::TMessage& msg)
{
    const TSocketHandle socket = msg.WParam;
    if (socket != FHSocket || FPaused)
        return;
    const auto tag = static_cast<std::uint64_t>(msg.LParam) >> SerialShift;
    if (tag != 0 && tag != SerialTag(FSerial))
        return;
    const auto events = static_cast<unsigned>(msg.LParam) & 0xFFu;
    const std::uint64_t serial = FSerial;
    const bool connecting = FState == wsConnecting;
    if (connecting) {
        if (!(events & (FdWrite | FdError | FdHangUp)))
            return;
        const int err = FConnectError != 0 ? FConnectError : SocketPendingError(socket);
        FConnectError = 0;
        DoFdConnect(ErrCode16(err));
        if (err != 0 || !Current(serial))
            return;
    }
    if (events & FdRead) {
        DoFdRead(0);
        if (!Current(serial))
            return;
    }
    if ((events & FdWrite) && (!connecting || !SendChainEmpty())) {
        DoFdWrite(0);
        if (!Current(serial))
            return;
    }
    if (events & (FdHangUp | FdError)) {
        int err = (events & FdError) ? SocketPendingError(socket) : 0;
        if (err == 0)
            err = FPeerError;
        DoFdClose(ErrCode16(err));
    }
}

void TCustomAsyncSocket::DoFdConnect(std::uint16_t errCode)
{
    if (FState == wsConnected)
        return;
    const std::uint64_t serial = FSerial;
    ChangeState(wsConnected);
    TriggerSessionConnected(errCode);
    if (!Current(serial))
        return;
    if (errCode != 0) {
        if (FState != wsClosed)
            Close();
        return;
    }
    UpdateSelection();
}

void TCustomAsyncSocket::DoFdRead(std::uint16_t errCode)
{
    if (FState != wsConnected) {
        const std::uint64_t serial = FSerial;
        ChangeState(wsConnected);
        TriggerSessionConnected(errCode);
        if (!Current(serial))
            return;
        UpdateSelection();
    }
    ASyncReceive(errCode, ComponentOptions);
}

void TCustomAsyncSocket::DoFdWrite(std::uint16_t errCode)
{
    const std::uint64_t serial = FSerial;
    TryToSend();
    if (Current(serial) && FAllSent)
        TriggerDataSent(errCode);
}

void TCustomAsyncSocket::DoFdClose(std::uint16_t errCode)
{
    if (FState == wsConnecting || FHSocket == InvalidSocket)
        return;
    const std::uint64_t serial = FSerial;
    if (FState != wsListening) {
        int err = 0;
        if (SocketReadable(FHSocket, err) > 0) {
            TAsyncSocketOptions options = ComponentOptions;
            ASyncReceive(0, options.Exclude(wsoNoReceiveLoop));
            if (!Current(serial))
                return;
        }
    }
    if (!FCloseInvoked) {
        FCloseInvoked = true;
        TriggerSessionClosed(errCode);
    }
    if (Current(serial) && FState != wsClosed)
        Close();
}

void TCustomAsyncSocket::ASyncReceive(std::uint16_t errCode, TAsyncSocketOptions options)
{
    const std::uint64_t serial = FSerial;
    for (;;) {
        FLastError = 0;
        const std::uint64_t before = FDelivered;
        try {
            if (!TriggerDataAvailable(errCode)) {
                char junk[1024];
                if (DoRecv(junk, sizeof junk) < 0 && FLastError == WsaEWOULDBLOCK)
                    break;
            }
        } catch (const std::exception& e) {
            HandleBgException(e, "TCustomAsyncSocket.ASyncReceive");
        }
        if (!Current(serial))
            return;
        if (options.Contains(wsoNoReceiveLoop))
            break;
        if (FLastError != 0) {
            if (FLastError == -1)
                FLastError = 0;
            break;
        }
        if (FDelivered == before)
            break; // the handler left the data: its next read asks for more

        int err = 0;
        const int count = SocketReadable(FHSocket, err);
        if (count < 0) {
            FLastError = err;
            break;
        }
        if (count == 0)
            break;
    }
}

// ---- triggers

bool TCustomAsyncSocket::TriggerDataAvailable(std::uint16_t errCode)
{
    if (!OnDataAvailable)
        return false;
    OnDataAvailable(*this, errCode);
    return true;
}

void TCustomAsyncSocket::TriggerSessionConnected(std::uint16_t errCode)
{
    if (FCounter && FProtoNumber == IpProtoTcp && errCode == 0)
        FCounter->SetConnected();
    FBytesReceived = 0;
    FBytesSent = 0;
    if (OnSessionConnected)
        OnSessionConnected(*this, errCode);
}

void TCustomAsyncSocket::TriggerSessionClosed(std::uint16_t errCode)
{
    if (OnSessionClosed)
        OnSessionClosed(*this, errCode);
}

void TCustomAsyncSocket::TriggerDataSent(std::uint16_t errCode)
{
    if (KvLogger) // the text is made only for a logger: this runs for every send
        Log("TriggerDataSent handle=" + std::to_string(FHSocket));
    if (OnDataSent)
        OnDataSent(*this, errCode);
}

void TCustomAsyncSocket::TriggerChangeState(TSocketState oldState, TSocketState newState)
{
    if (OnChangeState)
        OnChangeState(*this, oldState, newState);
}

// ---- receiving

int TCustomAsyncSocket::DoRecv(void* buffer, int length)
{
    if (FHSocket == InvalidSocket) {
        FLastError = WsaENOTSOCK;
        return -1;
    }
    int err = 0;
    const long count = SocketRecv(FHSocket, buffer, static_cast<std::size_t>(std::max(length, 0)), err);
    Reenable(FdRead);
    if (count < 0) {
        FLastError = err;
        if (err == WsaECONNRESET || err == WsaECONNABORTED || err == WsaETIMEDOUT)
            FPeerError = err;
        return -1;
    }
    CountDelivered(static_cast<int>(count));
    if (count > 0 && FCounter)
        FCounter->LastRecvTick = TickCount();
    return static_cast<int>(count);
}

int TCustomAsyncSocket::Receive(void* buffer, int length)
{
    const int count = DoRecv(buffer, length);
    if (count > 0) {
        FBytesReceived += count;
        if (FCounter)
            FCounter->LastRecvTick = TickCount();
    }
    return count;
}

std::string TCustomAsyncSocket::ReceiveText()
{
    int count = ReceivedCount();
    if (count < 0)
        return {};
    if (count == 0)
        count = 255;
    std::string text(static_cast<std::size_t>(count), '\0');
    const int got = Receive(text.data(), count);
    if (got < 1)
        return {};
    text.resize(static_cast<std::size_t>(got));
    return text;
}

int TCustomAsyncSocket::ReceivedCount()
{
    if (FHSocket == InvalidSocket)
        return 0;
    int err = 0;
    const int count = SocketReadable(FHSocket, err);
    if (count < 0)
        SocketError("ioctlSocket", err);
    return count;
}

// ---- sending

int TCustomAsyncSocket::Send(const void* data, int length)
{
    if (FState != wsConnected && FState != wsSocksConnected) {
        SocketError("Send", WsaENOTCONN);
        return -1;
    }
    FAllSent = false;
    if (length > 0 && data)
        PutDataInSendBuffer(data, length);
    else
        length = 0;
    TryToSend();
    if (FHSocket != InvalidSocket && FAllSent)
        PostWriteReady();
    return length;
}

int TCustomAsyncSocket::SendText(const std::string& text)
{
    if (text.empty())
        return 0;
    return Send(text.data(), static_cast<int>(text.size()));
}

void TCustomAsyncSocket::PutDataInSendBuffer(const void* data, int length)
{
    if (length <= 0 || !data)
        return;
    std::lock_guard lock(FBufferHandler.Lock());
    FBufferHandler.Write(static_cast<const char*>(data), length);
    FPendingSendBytes += length;
    FAllSent = false;
}

void TCustomAsyncSocket::PostWriteReady()
{
    PostMessage(FMsgReadiness, FHSocket, PostedReadiness(FdWrite, FSerial));
}

bool TCustomAsyncSocket::FatalSendError(int errCode) const
{
    switch (errCode) {
    case WsaEINVAL:
    case WsaENOTSOCK:
    case WsaECONNABORTED:
    case WsaECONNRESET:
    case WsaENOTCONN:
    case WsaESHUTDOWN:
        return true;
    default:
        return false;
    }
}

void TCustomAsyncSocket::TryToSend()
{
    const std::uint64_t serial = FSerial;
    int failure = 0;
    for (;;) {
        int count = 0;
        bool partial = false;
        {
            // The chain is locked only while one buffer is written: OnSendData
            // below may queue more data or close the socket.
            std::lock_guard lock(FBufferHandler.Lock());
            const char* data = nullptr;
            const int length = FHSocket == InvalidSocket ? 0 : FBufferHandler.Peek(data);
            if (length == 0) {
                FAllSent = true;
                break;
            }
            count = SendNow(data, length);
            if (count > 0) {
                FPendingSendBytes = std::max<std::int64_t>(0, FPendingSendBytes - count);
                FBytesSent += count;
                FBufferHandler.Remove(count);
                partial = count < length;
            } else if (count < 0 && FLastError != WsaEWOULDBLOCK) {
                failure = FLastError;
            }
        }
        if (count <= 0)
            break;
        if (OnSendData) {
            OnSendData(*this, count);
            if (!Current(serial))
                return;
        }
        if (partial)
            break;
    }
    if (failure != 0 && FatalSendError(failure)) {
        Log(std::string("TCustomAsyncSocket Winsock Send failed - ") + WSocketErrorText(failure));
        // A send from inside the close's own events (the handler of the last
        // line) must not report the close a second time.
        const bool report = !FCloseInvoked;
        FCloseInvoked = true;
        Close();
        if (report)
            TriggerSessionClosed(ErrCode16(failure));
        return;
    }
    if (failure != 0) {
        SocketError("TryToSend failed", failure);
        return;
    }
    if (!FAllSent)
        Reenable(FdWrite);
}

int TCustomAsyncSocket::SendNow(const void* data, int length)
{
    int err = 0;
    const long count = SocketSend(FHSocket, data, static_cast<std::size_t>(length), FSendFlags == wsSendUrgent, err);
    if (count < 0) {
        FLastError = err;
        return -1;
    }
    if (FCounter)
        FCounter->LastSendTick = TickCount();
    return static_cast<int>(count);
}

// ---- closing

void TCustomAsyncSocket::Close()
{
    InternalClose(true, 0);
}

void TCustomAsyncSocket::CloseLater()
{
    PostMessage(FMsgCloseDelayed);
}

void TCustomAsyncSocket::Abort()
{
    CancelLookup(true);
    {
        std::lock_guard lock(FBufferHandler.Lock());
        FBufferHandler.DeleteAll();
        FPendingSendBytes = 0;
    }
    if (FState == wsConnected && FProtoNumber == IpProtoTcp && FHSocket != InvalidSocket) {
        LingerOnOff = wsLingerOff;
        SocketSetLinger(FHSocket, false, 0);
    }
    InternalClose(false, 0);
}

void TCustomAsyncSocket::Shutdown(int how)
{
    if (FHSocket == InvalidSocket)
        return;
    Log("TCustomAsyncSocket.Shutdown " + std::to_string(how) + " handle=" + std::to_string(FHSocket));
    SocketShutdown(FHSocket, how);
}

void TCustomAsyncSocket::CloseHandle()
{
    if (HasWindow()) {
        // Notices the socket posted to itself go with the connection too.
        WindowHandle()->AsyncSelect(FHSocket, 0, 0);
        WindowHandle()->RemoveMessages(FMsgReadiness, FHSocket);
    }
    FSelected = 0;
    const int err = SocketClose(FHSocket);
    FHSocket = InvalidSocket;
    if (err != 0 && !FDestroying)
        SocketError("Disconnect (closesocket)", err);
}

void TCustomAsyncSocket::InternalClose(bool shutdown, std::uint16_t errCode)
{
    CancelLookup(true);
    if (FHSocket != InvalidSocket) {
        if (FState == wsClosed)
            return;
        if (shutdown && FState == wsConnected)
            Shutdown(1);
        CloseHandle();
        ChangeState(wsClosed);
        if (!FDestroying && !FCloseInvoked) {
            FCloseInvoked = true;
            TriggerSessionClosed(errCode);
        }
        if (FHSocket == InvalidSocket) {
            try {
                ResetToDefaults();
            } catch (...) {
            }
        }
        return;
    }
    if (FState != wsClosed) {
        ChangeState(wsClosed);
        ResetToDefaults();
    }
}

void TCustomAsyncSocket::FlushSendBuffer()
{
    while (FHSocket != InvalidSocket && !SendChainEmpty()) {
        TEventLoop::Current().WaitMessage(100);
        PumpMessages();
    }
}

void TCustomAsyncSocket::Pause()
{
    FPaused = true;
    UpdateSelection();
}

void TCustomAsyncSocket::Resume()
{
    FPaused = false;
    UpdateSelection();
}

// ---- peer

std::string TCustomAsyncSocket::GetPeerAddr()
{
    if (FState != wsConnected)
        return "error";
    TSockAddr addr;
    if (int err = SocketPeerAddress(FHSocket, addr)) {
        SocketError("GetPeerAddr", err);
        return "error";
    }
    return AddressText(addr);
}

std::string TCustomAsyncSocket::GetPeerPort()
{
    if (FState != wsConnected)
        return "error";
    TSockAddr addr;
    if (int err = SocketPeerAddress(FHSocket, addr)) {
        SocketError("GetPeerPort", err);
        return "error";
    }
    return std::to_string(addr.Port());
}

} // namespace net
