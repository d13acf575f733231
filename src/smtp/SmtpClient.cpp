#include "smtp/SmtpClient.h"

#include "mime/Charsets.h"
#include "platform/SystemError.h"
#include "smtp/AuthCrypto.h"
#include "smtp/SmtpAddress.h"

#include <algorithm>
#include <utility>

namespace smtp {

namespace {

bool IsProxyError(int code)
{
    return (code >= 20000 && code <= 20017) || (code >= 21000 && code <= 21599);
}

// The reported code is 16 bits wide; a failure must never read as 0.
std::uint16_t ErrorCode16(int code)
{
    const auto cut = static_cast<std::uint16_t>(code);
    return (code != 0 && cut == 0) ? SmtpClientError : cut;
}

std::string StripLineEnd(std::string line)
{
    if (!line.empty() && line.back() == '\n') {
        line.pop_back();
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
    }
    return line;
}

} // namespace

TCustomSmtpClient::TCustomSmtpClient()
{
    // The window is taken now so that completions can always be posted.
    WindowHandle();
}

TCustomSmtpClient::~TCustomSmtpClient()
{
    if (FSocket) {
        // The socket stays quiet while it goes: no event may reach a half-destroyed client.
        FSocket->OnDnsLookupDone = nullptr;
        FSocket->OnSessionConnected = nullptr;
        FSocket->OnDataAvailable = nullptr;
        FSocket->OnSessionClosed = nullptr;
        FSocket->OnDataSent = nullptr;
        FSocket->AbortHook = nullptr;
        FSocket.reset();
    }
}

std::unique_ptr<net::TAsyncSocket> TCustomSmtpClient::CreateSocket()
{
    return std::make_unique<net::TAsyncSocket>();
}

net::TAsyncSocket& TCustomSmtpClient::Socket()
{
    if (!FSocket) {
        // Created on first use rather than in the constructor, so that the
        // factory of the most derived class is the one called.
        FSocket = CreateSocket();
        FSocket->SetLineMode(true);
        // A command or the end of the message must not wait for the
        // acknowledgement of an earlier write.
        FSocket->ComponentOptions.Include(net::wsoTcpNoDelay);
        FSocket->SetBufSize(SendBufferSize);
        FSocket->OnSessionClosed = [this](auto&, std::uint16_t errCode) { SocketSessionClosed(errCode); };
        FSocket->AbortHook = [this] { AbortOnError(); };
        FSocket->OnLineLimitExceeded = [this](auto&, int length, bool& clearData) {
            SocketLineLimitExceeded(length, clearData);
        };
        FSocket->SetMultiThreaded(MultiThreaded());
        FSocket->SetMessagePumpHook(MessagePumpHook());
        FSocket->SetOnBgException(OnBgException());
    }
    return *FSocket;
}

// ---- properties ----

void TCustomSmtpClient::SetWrapMsgMaxLineLen(int value)
{
    FWrapMsgMaxLineLen = std::clamp(value, 16, 1022);
}

void TCustomSmtpClient::SetContentType(TSmtpContentType value)
{
    FContentType = value;
    FContentTypeText = mime::ContentTypeText(value);
}

TSmtpShareMode TCustomSmtpClient::ShareMode() const
{
    switch (FShareFlags) {
    case 0: return smtpShareCompat;
    case 32: return smtpShareDenyWrite;
    case 48: return smtpShareDenyRead;
    case 64: return smtpShareDenyNone;
    default: return smtpShareExclusive;
    }
}

void TCustomSmtpClient::SetShareMode(TSmtpShareMode value)
{
    FShareFlags = static_cast<unsigned>(value) * 16;
}

void TCustomSmtpClient::SetMultiThreaded(bool value)
{
    net::TKvWndControl::SetMultiThreaded(value);
    if (FSocket)
        FSocket->SetMultiThreaded(value);
}

void TCustomSmtpClient::SetMessagePumpHook(TPumpHook hook)
{
    net::TKvWndControl::SetMessagePumpHook(hook);
    if (FSocket)
        FSocket->SetMessagePumpHook(std::move(hook));
}

void TCustomSmtpClient::SetOnBgException(TBgExceptionEvent handler)
{
    net::TKvWndControl::SetOnBgException(handler);
    if (FSocket)
        FSocket->SetOnBgException(std::move(handler));
}

void TCustomSmtpClient::AttachThread()
{
    net::TKvWndControl::AttachThread();
    Socket().AttachThread();
}

void TCustomSmtpClient::DetachThread()
{
    net::TKvWndControl::DetachThread();
    Socket().DetachThread();
}

void TCustomSmtpClient::AbortOnError()
{
    try {
        Abort();
    } catch (...) {
        // Already failing: the abort is best effort.
    }
    net::TKvWndControl::AbortOnError();
}

// ---- messages ----

void TCustomSmtpClient::AllocateMsgHandlers()
{
    net::TKvWndControl::AllocateMsgHandlers();
    FMsgRequestDone = AllocateMessage();
    FMsgNextData = AllocateMessage();
}

void TCustomSmtpClient::FreeMsgHandlers()
{
    FreeMessage(FMsgNextData);
    FreeMessage(FMsgRequestDone);
    net::TKvWndControl::FreeMsgHandlers();
}

void TCustomSmtpClient::WndProc(const platform::TMessage& msg)
{
    try {
        if (msg.Msg == FMsgRequestDone && FMsgRequestDone != 0) {
            WMRequestDone(msg);
            return;
        }
        if (msg.Msg == FMsgNextData && FMsgNextData != 0) {
            WMNextData(msg);
            return;
        }
    } catch (const std::exception& e) {
        HandleBgException(e, "Unknown");
        return;
    }
    net::TKvWndControl::WndProc(msg);
}

void TCustomSmtpClient::WMRequestDone(const platform::TMessage& msg)
{
    if (OnRequestDone)
        OnRequestDone(*this, static_cast<TSmtpRequest>(msg.LParam), static_cast<std::uint16_t>(msg.WParam));
}

// ---- events ----

void TCustomSmtpClient::DoDisplay(const std::string& msg)
{
    if (OnDisplay)
        OnDisplay(*this, msg);
}

void TCustomSmtpClient::DoCommand(const std::string& cmd)
{
    if (OnCommand)
        OnCommand(*this, cmd);
}

void TCustomSmtpClient::DoResponse(const std::string& line)
{
    if (FLastStep == TSmtpChainStep::Ehlo)
        ReadEhloLine(line);
    if (OnResponse)
        OnResponse(*this, line);
}

void TCustomSmtpClient::ReadEhloLine(const std::string& line)
{
    ReadAuthCapability(line);
    if (!FSizeAdvertised && ParseEhloSizeLine(line, FMaxMessageSize))
        FSizeAdvertised = true;
}

void TCustomSmtpClient::DoGetData(int lineNum, std::string& msgLine, int maxLen, bool& more)
{
    if (OnGetData)
        OnGetData(*this, lineNum, msgLine, maxLen, more);
    else
        more = false;
}

void TCustomSmtpClient::DoHeaderLine(std::string& msg, int size)
{
    if (OnHeaderLine)
        OnHeaderLine(*this, msg, size);
}

void TCustomSmtpClient::DoMessageDataSent(int size)
{
    if (OnMessageDataSent)
        OnMessageDataSent(*this, size);
}

void TCustomSmtpClient::DoSessionConnected(std::uint16_t errCode)
{
    if (OnSessionConnected)
        OnSessionConnected(*this, errCode);
}

void TCustomSmtpClient::DoSessionClosed(std::uint16_t errCode)
{
    if (OnSessionClosed)
        OnSessionClosed(*this, errCode);
}

// ---- request machinery ----

void TCustomSmtpClient::SetState(TSmtpState value)
{
    if (FState == value)
        return;
    FState = value;
    NotifyStateChange();
}

void TCustomSmtpClient::CheckReady() const
{
    if (FState != smtpReady && FState != smtpInternalReady)
        throw SmtpException("SMTP component not ready");
}

void TCustomSmtpClient::CheckConnected() const
{
    if (!FConnected)
        throw SmtpException("SMTP component not connected");
}

void TCustomSmtpClient::BeginRequest(TSmtpRequest request, bool needsConnection)
{
    CheckReady();
    if (needsConnection)
        CheckConnected();
    if (!FInChain) {
        FRequestType = request;
        FErrorMessage.clear();
    }
}

void TCustomSmtpClient::RecordError()
{
    if (FErrorMessage.empty())
        FErrorMessage = FLastResponse;
}

void TCustomSmtpClient::ExecAsync(TSmtpRequest request, const std::string& command,
                                  TSmtpAcceptedCodes accepted, TContinuation done)
{
    CheckReady();
    CheckConnected();
    if (!FInChain)
        FRequestType = request;
    FAcceptedCodes = accepted;
    FRequestDoneSent = false;
    FReplyHandler = [this] { CheckReply(); };
    FCommandDone = std::move(done);
    SetState(smtpWaitingResponse);
    SendCommand(command);
}

void TCustomSmtpClient::SendCommand(const std::string& cmd)
{
    DoCommand(cmd);
    DoDisplay("> " + cmd);
    if (FSocket && FSocket->State() == net::wsConnected)
        FSocket->SendText(cmd + "\r\n");
}

bool TCustomSmtpClient::TakeReplyLine()
{
    DoDisplay("< " + FLastResponse);
    const TSmtpReplyLine reply = ParseReplyLine(FLastResponse);
    FStatusCode = reply.StatusCode;
    return !reply.Continuation;
}

void TCustomSmtpClient::CheckReply()
{
    if (!TakeReplyLine())
        return;
    if (FStatusCode == 0)
        FStatusCode = SmtpProtocolError;
    if (FAcceptedCodes.Accepts(FStatusCode)) {
        FRequestResult = 0;
    } else {
        FRequestResult = FStatusCode;
        RecordError();
    }
    if (FCommandDone) {
        // The continuation may issue the next command, which sets a new one.
        const TContinuation done = std::exchange(FCommandDone, nullptr);
        done();
        return;
    }
    // An accepted QUIT is reported when the server closes the connection; a
    // refused one at once, as the server may well keep the line open.
    if (FRequestType == smtpQuit && FConnected && FRequestResult == 0)
        return;
    DoRequestDone(FRequestResult);
}

void TCustomSmtpClient::DoRequestDone(int errorCode)
{
    if (FRequestDoneSent)
        return;
    FRequestDoneSent = true;
    if (FChainContinuation) {
        if (FState != smtpAbort)
            FState = smtpInternalReady;
        TContinuation next = FChainContinuation;
        next();
        return;
    }
    SetState(smtpReady);
    FInChain = false;
    // The request travels with the message: a report names the request that
    // ended even when the caller has started another one before it arrives.
    PostMessage(FMsgRequestDone, ErrorCode16(errorCode), FRequestType);
}

// ---- connecting ----

std::string TCustomSmtpClient::SocketErrorText(int errCode) const
{
    return net::WSocketErrorDesc(errCode);
}

void TCustomSmtpClient::Connect()
{
    CheckReady();
    if (FConnected)
        throw SmtpException("SMTP component already connected");
    if (!FInChain)
        FRequestType = smtpConnect;
    FRequestDoneSent = false;
    FRequestResult = 0;
    FExtendedSmtp = false;
    FErrorMessage.clear();
    FLastResponse.clear();
    net::TAsyncSocket& socket = Socket();
    SetState(smtpDnsLookup);
    try {
        socket.SetSocketErrs(SocketErrs);
        socket.OnDataSent = nullptr;
        socket.OnDnsLookupDone = [this](auto&, std::uint16_t errCode) { SocketDnsLookupDone(errCode); };
        socket.SetSocketFamily(SocketFamily);
        socket.SetAddr(Host);
        socket.DnsLookup(Host);
    } catch (...) {
        // A refusal before any lookup started is misuse reported by the call.
        if (FState == smtpDnsLookup)
            SetState(smtpReady);
        throw;
    }
}

void TCustomSmtpClient::SocketDnsLookupDone(std::uint16_t errCode)
{
    if (errCode != 0) {
        FLastResponse = "500 " + SocketErrorText(errCode) + " (Winsock error #" + std::to_string(errCode) + ")";
        FStatusCode = 500;
        RecordError();
        FRequestResult = errCode;
        DoSessionConnected(errCode);
        DoSessionClosed(errCode);
        DoRequestDone(errCode);
        return;
    }
    StartSocketConnect();
}

void TCustomSmtpClient::StartSocketConnect()
{
    net::TAsyncSocket& socket = Socket();
    try {
        socket.SetAddr(socket.LookupResult());
        socket.SetLocalAddr(LocalAddr);
        socket.SetLocalAddr6(LocalAddr6);
        socket.SetProto("tcp");
        socket.SetPort(Port);
        socket.OnSessionConnected = [this](auto&, std::uint16_t errCode) { SocketSessionConnected(errCode); };
        socket.OnDataAvailable = [this](auto&, std::uint16_t errCode) { SocketDataAvailable(errCode); };
        SetState(smtpConnecting);
        socket.Connect();
    } catch (const std::exception& e) {
        FLastResponse = "500 " + platform::ExceptionClassName(e) + ": " + e.what();
        FStatusCode = 500;
        FRequestResult = 500;
        RecordError();
        // A refusal without a socket error still has to read as a failure.
        const int lastError = socket.LastError();
        DoRequestDone(lastError != 0 ? lastError : SmtpClientError);
        try {
            socket.Abort();
        } catch (...) {
            // The socket is reset by its next connect anyway.
        }
    }
}

void TCustomSmtpClient::SocketSessionConnected(std::uint16_t errCode)
{
    if (errCode == 0) {
        FConnected = true;
        SetState(smtpWaitingBanner);
        return;
    }
    const std::string code = std::to_string(errCode);
    if (IsProxyError(errCode))
        FLastResponse = "500 Connect error - " + FLastResponse + " (#" + code + ")";
    else if (errCode == SmtpProtocolError)
        FLastResponse = "500 Connect error - SMTP Protocol Error (#" + code + ")";
    else
        FLastResponse = "500 Connect error - " + SocketErrorText(errCode) + " (#" + code + ")";
    FStatusCode = 500;
    FConnected = false;
    FRequestResult = 500;
    RecordError();
    DoRequestDone(errCode);
    Socket().Close();
    SetState(smtpReady);
}

void TCustomSmtpClient::SocketSessionClosed(std::uint16_t errCode)
{
    FConnected = false;
    DoSessionClosed(errCode);
    DoRequestDone(FRequestType == smtpQuit ? 0 : SmtpConnectionEnded);
}

// ---- receiving ----

void TCustomSmtpClient::SocketLineLimitExceeded(int length, bool& clearData)
{
    // No sensible reply can follow the rest of such a line: fail and hang up.
    clearData = true;
    FLastResponse = "500 Reply line from " + Host + " too long: " + std::to_string(length) +
                    " bytes without line end";
    FStatusCode = SmtpProtocolError;
    FRequestResult = SmtpProtocolError;
    RecordError();
    DoRequestDone(SmtpProtocolError);
    Socket().Close();
}

void TCustomSmtpClient::SocketDataAvailable(std::uint16_t errCode)
{
    net::TAsyncSocket& socket = Socket();
    if (errCode != 0) {
        FStatusCode = 500;
        RecordError();
        FRequestResult = 500;
        socket.Close();
        return;
    }
    FLastResponse = StripLineEnd(socket.ReceiveText());
    DoResponse(FLastResponse);
    switch (FState) {
    case smtpWaitingBanner:
        HandleBanner();
        break;
    case smtpWaitingResponse:
        if (!FReplyHandler)
            throw SmtpException("Program error: FNext is nil");
        // A copy: the handler may issue the next command, which replaces it.
        {
            const TContinuation handler = FReplyHandler;
            handler();
        }
        break;
    default:
        DoDisplay("< " + FLastResponse);
        break;
    }
}

void TCustomSmtpClient::HandleBanner()
{
    if (!TakeReplyLine())
        return;
    if (FStatusCode == 220) {
        SetState(smtpConnected);
        DoSessionConnected(0);
        DoRequestDone(0);
        return;
    }
    RecordError();
    FRequestResult = FStatusCode;
    Socket().Close();
}

// ---- commands ----

void TCustomSmtpClient::Helo()
{
    BeginRequest(smtpHelo);
    FLastStep = TSmtpChainStep::Helo;
    FSizeAdvertised = false;
    FMaxMessageSize = 0;
    ExecAsync(smtpHelo, "HELO " + HeloName(SignOn), {250});
}

void TCustomSmtpClient::Ehlo()
{
    BeginRequest(smtpEhlo);
    FLastStep = TSmtpChainStep::Ehlo;
    FSizeAdvertised = false;
    FMaxMessageSize = 0;
    FAuthMechanisms.clear();
    ExecAsync(smtpEhlo, "EHLO " + HeloName(SignOn), {250}, [this] {
        if (FConnected && FRequestResult == 0)
            FExtendedSmtp = true;
        DoRequestDone(FRequestResult);
    });
}

void TCustomSmtpClient::Vrfy()
{
    BeginRequest(smtpVrfy);
    FLastStep = TSmtpChainStep::Vrfy;
    ExecAsync(smtpVrfy, "VRFY " + HdrTo, {250});
}

void TCustomSmtpClient::MailFrom()
{
    BeginRequest(smtpMailFrom);
    FLastStep = TSmtpChainStep::MailFrom;
    ExecAsync(smtpMailFrom, "MAIL FROM:<" + ParseAddress(FromName, AddressCodePage()).Address + ">", {250});
}

void TCustomSmtpClient::Rset()
{
    BeginRequest(smtpRset);
    FLastStep = TSmtpChainStep::Rset;
    ExecAsync(smtpRset, "RSET", {250});
}

void TCustomSmtpClient::Quit()
{
    BeginRequest(smtpQuit, false);
    FLastStep = TSmtpChainStep::Quit;
    if (!FConnected) {
        FRequestType = smtpQuit;
        FRequestDoneSent = false;
        DoRequestDone(0);
        return;
    }
    ExecAsync(smtpQuit, "QUIT", {221});
}

void TCustomSmtpClient::RcptTo()
{
    CheckReady();
    if (RcptName.empty())
        throw SmtpException("RcptName list is empty");
    BeginRequest(smtpRcptTo);
    FLastStep = TSmtpChainStep::RcptTo;
    FRecipientIndex = -1;
    RcptToNext();
}

void TCustomSmtpClient::RcptToNext()
{
    if (FRecipientIndex >= 0 && FRequestResult != 0) {
        TSmtpRcptToErrorAction action = srteAbort;
        if (OnRcptToError)
            OnRcptToError(*this, ErrorCode16(FRequestResult), FRecipientIndex, action);
        if (action == srteAbort) {
            DoRequestDone(FRequestResult);
            return;
        }
        if (action == srteIgnore)
            ++FRecipientIndex;
    } else {
        ++FRecipientIndex;
    }
    const auto count = static_cast<int>(RcptName.size());
    if (FRecipientIndex >= count) {
        // The handler emptied the list under our feet: nothing left to send.
        DoRequestDone(FRequestResult);
        return;
    }
    const std::string command = "RCPT TO:<" + ParseAddress(RcptName[FRecipientIndex], AddressCodePage()).Address + ">";
    TContinuation next;
    if (FRecipientIndex < count - 1) {
        next = [this] {
            FState = smtpInternalReady;
            RcptToNext();
        };
    }
    ExecAsync(smtpRcptTo, command, {250, 251}, std::move(next));
}

void TCustomSmtpClient::Abort()
{
    ReleaseAttachmentStream();
    StopStreamOutput();
    SetState(smtpAbort);
    if (FSocket)
        FSocket->Abort();
    // The socket reports a running request through its close; one that had
    // nothing to close (no connection, no lookup) is reported here.
    if (!FRequestDoneSent) {
        FConnected = false;
        DoRequestDone(FRequestType == smtpQuit ? 0 : SmtpConnectionEnded);
    }
    SetState(smtpReady);
}

void TCustomSmtpClient::ParseRecipients(const std::string& to, const std::string& cc, const std::string& bcc)
{
    for (const std::string* text : {&to, &cc, &bcc})
        SplitAddressList(*text, RcptName, AddressCodePage());
}

std::uint32_t TCustomSmtpClient::AddressCodePage() const
{
    return HeaderCodePage ? HeaderCodePage : mime::AnsiCodePage();
}

} // namespace smtp
