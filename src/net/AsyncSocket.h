#pragma once
// The non-blocking TCP client socket: the owner sets the address and port,
// calls Connect and learns everything else from events, which are raised
// from the message loop in a fixed order (connect, read, write, close).
// Outgoing bytes go through a chain of fixed-size buffers, so Send never
// blocks and never fails for lack of room.

#include "net/KvBufferHandler.h"
#include "net/KvWndControl.h"
#include "platform/Sockets.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace net {

enum TSocketState {
    wsInvalidState,
    wsOpened,
    wsBound,
    wsConnecting,
    wsSocksConnected,
    wsConnected,
    wsAccepting,
    wsListening,
    wsClosed,
    wsDnsLookup,
};

enum TSocketFamily { sfAny, sfAnyIPv4, sfAnyIPv6, sfIPv4, sfIPv6 };
enum TSocketSendFlags { wsSendNormal, wsSendUrgent };
enum TSocketLingerOnOff { wsLingerOff, wsLingerOn, wsLingerNoSet };
enum TSocketKeepAliveOnOff { wsKeepAliveOff, wsKeepAliveOnCustom, wsKeepAliveOnSystem };
enum TSocketErrs { wsErrTech, wsErrFriendly };

enum TAsyncSocketOption {
    wsoNoReceiveLoop,
    wsoTcpNoDelay,
    wsoSIO_RCVALL,
    wsoNoHttp10Tunnel,
    wsoNotifyAddressListChange,
    wsoNotifyRoutingInterfaceChange,
    wsoAsyncDnsLookup,
    wsoKvDnsLookup,
};

class TAsyncSocketOptions {
public:
    TAsyncSocketOptions() = default;
    TAsyncSocketOptions(std::initializer_list<TAsyncSocketOption> options);
    bool Contains(TAsyncSocketOption option) const { return (FBits >> option) & 1u; }
    TAsyncSocketOptions& Include(TAsyncSocketOption option);
    TAsyncSocketOptions& Exclude(TAsyncSocketOption option);
    bool operator==(const TAsyncSocketOptions&) const = default;

private:
    unsigned FBits = 0;
};

class ESocketException : public std::runtime_error {
public:
    explicit ESocketException(const std::string& msg, int errorCode = 0, const std::string& errorDesc = {},
                              const std::string& friendlyMsg = {}, const std::string& socketFunction = {},
                              const std::string& ipAddress = {}, const std::string& port = {},
                              const std::string& proto = {});
    int ErrorCode;
    std::string ErrorDesc;
    std::string FriendlyMsg;
    std::string SocketFunction;
    std::string IPAddress;
    std::string Port;
    std::string Proto;
};

// The description of a socket error number ("Connection refused").
std::string WSocketErrorDesc(int errCode);
// The description with its number: "Connection refused (#10061)".
std::string WSocketErrorText(int errCode);
// With the family of the error in front: "Winsock - Connection refused".
std::string WSocketGeneralErrorText(int errCode);

// Activity ticks of a connection (the time-out layer reads them).
struct TAsyncSocketCounter {
    std::uint32_t ConnectTick = 0;
    std::int64_t ConnectDT = 0; // seconds since the epoch
    std::uint32_t LastRecvTick = 0;
    std::uint32_t LastSendTick = 0;
    // The latest of the three ticks (0 counts as never).
    std::uint32_t LastAliveTick() const;
    void SetConnected();
};

class TCustomAsyncSocket;

using TDataAvailable = std::function<void(TCustomAsyncSocket& sender, std::uint16_t errCode)>;
using TDataSent = std::function<void(TCustomAsyncSocket& sender, std::uint16_t errCode)>;
using TSendData = std::function<void(TCustomAsyncSocket& sender, int bytesSent)>;
using TSessionClosed = std::function<void(TCustomAsyncSocket& sender, std::uint16_t errCode)>;
using TSessionConnected = std::function<void(TCustomAsyncSocket& sender, std::uint16_t errCode)>;
using TChangeState =
    std::function<void(TCustomAsyncSocket& sender, TSocketState oldState, TSocketState newState)>;
using TDnsLookupDone = std::function<void(TCustomAsyncSocket& sender, std::uint16_t errCode)>;
using TSocketNotifyEvent = std::function<void(TCustomAsyncSocket& sender)>;
using TKvExceptionEvent = std::function<void(TCustomAsyncSocket& sender, ESocketException& socExcept)>;

class TCustomAsyncSocket : public TKvWndControl {
public:
    TCustomAsyncSocket();
    ~TCustomAsyncSocket() override;

    // ---- requests
    // Starts a name lookup; OnDnsLookupDone follows (inside the call for an
    // address literal, from the message loop otherwise).
    virtual void DnsLookup(const std::string& hostName);
    virtual void CancelDnsLookup();
    virtual void Connect();
    virtual void Close();
    // Posts the close; the socket closes when the message is handled.
    void CloseLater();
    virtual void Abort();
    virtual void Shutdown(int how);
    // Pumps messages until the chain is empty or the socket is gone.
    void FlushSendBuffer();
    void Pause();
    void Resume();

    // Bytes accepted (not written), or -1 when not connected.
    virtual int Send(const void* data, int length);
    int SendText(const std::string& text);
    // Appends to the send chain without writing.
    virtual void PutDataInSendBuffer(const void* data, int length);
    int Receive(void* buffer, int length);
    std::string ReceiveText();
    virtual int ReceivedCount();

    std::string GetPeerAddr();
    std::string GetPeerPort();

    // ---- properties
    TSocketState State() const { return FState; }
    int Handle() const { return FHSocket; }
    int LastError() const { return FLastError; }
    const std::string& Addr() const { return FAddr; }
    void SetAddr(const std::string& value);
    const std::string& Port() const { return FPort; }
    void SetPort(const std::string& value);
    const std::string& Proto() const { return FProto; }
    void SetProto(const std::string& value);
    TSocketFamily SocketFamily() const { return FSocketFamily; }
    void SetSocketFamily(TSocketFamily value);
    const std::string& LocalAddr() const { return FLocalAddr; }
    void SetLocalAddr(const std::string& value);
    const std::string& LocalAddr6() const { return FLocalAddr6; }
    void SetLocalAddr6(const std::string& value);
    const std::string& LocalPort() const { return FLocalPort; }
    void SetLocalPort(const std::string& value);
    TSocketSendFlags SendFlags() const { return FSendFlags; }
    void SetSendFlags(TSocketSendFlags value);
    TSocketErrs SocketErrs() const { return FSocketErrs; }
    void SetSocketErrs(TSocketErrs value) { FSocketErrs = value; }
    int BufSize() const { return FBufferHandler.BufSize(); }
    void SetBufSize(int value) { FBufferHandler.SetBufSize(value); }

    TSocketLingerOnOff LingerOnOff = wsLingerOn;
    int LingerTimeout = 0; // seconds
    TSocketKeepAliveOnOff KeepAliveOnOff = wsKeepAliveOff;
    int KeepAliveTime = 0;     // milliseconds
    int KeepAliveInterval = 0; // milliseconds
    TAsyncSocketOptions ComponentOptions;

    const std::string& LookupResult() const { return FLookupResult; }
    const std::vector<std::string>& LookupResultList() const { return FLookupResultList; }
    std::int64_t PendingSendBytes() const { return FPendingSendBytes; }
    bool AllSent() const { return FAllSent; }
    std::int64_t BytesReceived() const { return FBytesReceived; }
    std::int64_t BytesSent() const { return FBytesSent; }
    int SndBufSize() const { return FSndBufSize; }
    int RcvBufSize() const { return FRcvBufSize; }
    TAsyncSocketCounter* Counter() const { return FCounter.get(); }
    virtual void CreateCounter();
    // Buffers the send chain has made so far.
    int SendBuffersCreated() const { return FBufferHandler.BuffersCreated(); }

    // ---- events
    TDataAvailable OnDataAvailable;
    TDataSent OnDataSent;
    TSendData OnSendData;
    TSessionClosed OnSessionClosed;
    TSessionConnected OnSessionConnected;
    TChangeState OnChangeState;
    TDnsLookupDone OnDnsLookupDone;
    TSocketNotifyEvent OnError;
    TKvExceptionEvent onException;

    // ---- component plumbing
    int MessageCount() const override { return TKvWndControl::MessageCount() + 6; }
    void WndProc(const platform::TMessage& msg) override;
    void AbortOnError() override;
    void AttachThread() override;
    void DetachThread() override;

protected:
    // Read and write of the layer: the system here; the TLS layer replaces
    // them. SendNow is one system send; its caller raises OnSendData.
    virtual int DoRecv(void* buffer, int length);
    virtual int SendNow(const void* data, int length);
    virtual void TryToSend();
    // The reading layer counts the bytes it hands out; the receive loop
    // stops when a handler took none.
    void CountDelivered(int count) { FDelivered += static_cast<std::uint64_t>(count); }
    std::uint64_t Delivered() const { return FDelivered; }
    void CountSent(int count) { FBytesSent += count; }
    // A layer that queues data of its own says whether all of it is written.
    void SetAllSent(bool value) { FAllSent = value; }
    bool Paused() const { return FPaused; }
    // A readiness kind that was reported rests until Reenable asks for it
    // again (a layer that reads or writes the socket itself re-arms it).
    void Reenable(unsigned kind);

    // Event triggers; each layer adds its part and calls the one below.
    // TriggerDataAvailable returns whether a handler took the data.
    virtual bool TriggerDataAvailable(std::uint16_t errCode);
    virtual void TriggerSessionConnected(std::uint16_t errCode);
    virtual void TriggerSessionClosed(std::uint16_t errCode);
    virtual void TriggerDataSent(std::uint16_t errCode);
    virtual void TriggerChangeState(TSocketState oldState, TSocketState newState);
    virtual void TriggerDnsLookupDone(std::uint16_t errCode);

    // Readiness handlers, in the order they run for one notification.
    virtual void DoFdConnect(std::uint16_t errCode);
    virtual void DoFdRead(std::uint16_t errCode);
    virtual void DoFdWrite(std::uint16_t errCode);
    virtual void DoFdClose(std::uint16_t errCode);

    virtual void InternalClose(bool shutdown, std::uint16_t errCode);
    // The receive loop of one readiness notification.
    void ASyncReceive(std::uint16_t errCode, TAsyncSocketOptions options);
    void ChangeState(TSocketState newState);
    // Raises the socket error of operation (code 0: the system's last error).
    void SocketError(const std::string& operation, int errCode);
    // OnError, onException or a raised ESocketException.
    void RaiseException(const std::string& msg, int errCode = 0, const std::string& friendlyMsg = {},
                        const std::string& operation = {});
    void SetLastError(int value) { FLastError = value; }
    bool SendChainEmpty();

    void AllocateMsgHandlers() override;
    void FreeMsgHandlers() override;
    std::uint32_t MsgRedeliver() const { return FMsgRedeliver; }
    // The re-delivery message of buffered received data (line mode).
    virtual void WMRedeliver(const platform::TMessage& msg);
    // Counts every socket that was opened, so that handlers can tell whether
    // the connection they ran for is still the current one.
    std::uint64_t Serial() const { return FSerial; }
    bool Current(std::uint64_t serial) const { return FSerial == serial && FHSocket >= 0; }

private:
    struct TLookupSlot;

    void WMReadiness(const platform::TMessage& msg);
    void WMLookupDone(const platform::TMessage& msg);
    void ResetToDefaults();
    void UpdateSelection();
    void PostWriteReady();
    // Cancels a running lookup; with notify, OnDnsLookupDone(10004) follows.
    void CancelLookup(bool notify);
    bool ResolveForConnect();
    bool ResolveProto();
    bool ResolvePort(const std::string& port, std::uint16_t& number, const char* what);
    bool ResolveAddr();
    bool ApplyOptions();
    bool BindLocal();
    void StartConnect();
    void CloseHandle();
    void CheckClosed(const char* property);
    bool AssignTarget(const std::string& value, std::string& field, bool& assigned, bool& resolved,
                      const char* property);
    bool FatalSendError(int errCode) const;

    int FHSocket = -1;
    std::uint64_t FSerial = 0;
    TSocketState FState = wsClosed;
    int FLastError = 0;
    std::string FAddr;
    std::string FPort;
    std::string FProto = "tcp";
    std::string FLocalAddr = "0.0.0.0";
    std::string FLocalAddr6 = "::";
    std::string FLocalPort = "0";
    TSocketFamily FSocketFamily = sfIPv4;
    TSocketFamily FUserFamily = sfIPv4;
    TSocketSendFlags FSendFlags = wsSendNormal;
    TSocketErrs FSocketErrs = wsErrTech;

    bool FAddrAssigned = false;
    bool FPortAssigned = false;
    bool FProtoAssigned = true;
    bool FAddrResolved = false;
    bool FPortResolved = false;
    bool FProtoResolved = false;
    bool FLocalPortResolved = false;
    platform::TSockAddr FSin;
    std::uint16_t FPortNumber = 0;
    std::uint16_t FLocalPortNumber = 0;
    int FProtoNumber = 6;
    int FSocketType = 0;
    std::string FDestText;

    std::string FLookupResult;
    std::vector<std::string> FLookupResultList;
    std::uint64_t FLookupId = 0;
    std::shared_ptr<TLookupSlot> FLookupSlot;
    bool FConnectAfterLookup = false;

    bool FAllSent = true;
    bool FPaused = false;
    bool FCloseInvoked = false;
    bool FDestroying = false;
    unsigned FSelected = 0;
    int FConnectError = 0;
    int FPeerError = 0;
    TKvBufferHandler FBufferHandler;
    std::int64_t FPendingSendBytes = 0;
    std::int64_t FBytesReceived = 0;
    std::int64_t FBytesSent = 0;
    std::uint64_t FDelivered = 0;
    int FSndBufSize = 0;
    int FRcvBufSize = 0;
    std::unique_ptr<TAsyncSocketCounter> FCounter;

    std::uint32_t FMsgReadiness = 0;
    std::uint32_t FMsgLookupDone = 0;
    std::uint32_t FMsgAddrLookupDone = 0;
    std::uint32_t FMsgCloseDelayed = 0;
    std::uint32_t FMsgTestException = 0;
    std::uint32_t FMsgRedeliver = 0;
};

} // namespace net
