#pragma once
// The non-blocking SMTP client: one socket, one request at a time, each
// request ending in exactly one OnRequestDone delivered from the message loop.

#include "mime/HeaderBlock.h"
#include "mime/SmtpHeaderLines.h"
#include "net/KvWndControl.h"
#include "net/TimeoutAsyncSocket.h"
#include "platform/Files.h"
#include "platform/PublishedComponent.h"
#include "smtp/SmtpReply.h"
#include "smtp/SmtpTypes.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace smtp {

class TCustomSmtpClient;
class TAuthCrypto;

using TSmtpDisplay = std::function<void(TCustomSmtpClient& Sender, const std::string& Msg)>;
using TSmtpRequestDone =
    std::function<void(TCustomSmtpClient& Sender, TSmtpRequest RqType, std::uint16_t ErrorCode)>;
using TSmtpSessionEvent = std::function<void(TCustomSmtpClient& Sender, std::uint16_t ErrCode)>;
using TSmtpRcptToErrorEvent = std::function<void(
    TCustomSmtpClient& Sender, std::uint16_t ErrorCode, int RcptNameIdx, TSmtpRcptToErrorAction& Action)>;
using TSmtpGetDataEvent =
    std::function<void(TCustomSmtpClient& Sender, int LineNum, std::string& MsgLine, int MaxLen, bool& More)>;
using TSmtpHeaderLineEvent = std::function<void(TCustomSmtpClient& Sender, std::string& Msg, int Size)>;
using TSmtpMessageDataSentEvent = std::function<void(TCustomSmtpClient& Sender, int Size)>;
using TSmtpProcessHeaderEvent = std::function<void(TCustomSmtpClient& Sender, mime::TSmtpHeaderLines& HdrLines)>;

class TCustomSmtpClient : public net::TKvWndControl {
public:
    using TContinuation = std::function<void()>;

    TCustomSmtpClient();
    ~TCustomSmtpClient() override;

    // Requests: each returns at once and ends in one OnRequestDone; misuse
    // raises SmtpException from the call instead.
    virtual void Connect();
    virtual void Helo();
    virtual void Ehlo();
    virtual void Vrfy();
    virtual void MailFrom();
    virtual void RcptTo();
    virtual void Quit();
    virtual void Rset();
    // Closes at once; a running request is reported by the connection end.
    virtual void Abort();

    // ---- message transfer and request chains ----
    virtual void Auth();
    // Header block and message lines; a composer prepares its message in an
    // override and then calls this one.
    virtual void Data();
    virtual void MailFromSIZE();
    // Chains that report once: connect + HELO, or connect + EHLO + AUTH.
    virtual void Open();
    // Chain of MAIL FROM, RCPT TO and DATA.
    virtual void Mail();
    // Runs the transfer into a counter; reports "200 MessageSize=<n>".
    virtual void CalcMsgSize();
    // Writes the message as it would be sent (without the dot doubling and
    // the final ".") to a new file; needs SendMode smtpToStream.
    virtual void SendToFile(const std::string& fileName);
    // Raises SmtpException after falling back to the system charset.
    void SetCharSet(const std::string& value);
    const std::string& CharSet() const { return FHeaderFields.CharSet(); }
    std::uint32_t CharSetCodePage() const { return FHeaderFields.CharSetCodePage(); }
    bool CharSetMultiByte() const { return FHeaderFields.CharSetMultiByte(); }
    std::int64_t MessageSize() const { return FMessageSize; }
    // The Message-ID value of the last header block built.
    const std::string& MessageId() const { return FMessageId; }
    // The header lines of the current (or last) message.
    mime::TSmtpHeaderLines& HeaderLines();
    TSmtpProcessHeaderEvent OnProcessHeader;
    // ---- end of message transfer and request chains ----

    // Appends the addresses of the To, Cc and Bcc texts to RcptName.
    void ParseRecipients(const std::string& to, const std::string& cc, const std::string& bcc);

    // Declares the text, integer and list properties for access by name.
    virtual void PublishProperties(platform::TPublishedComponent& entry);

    // Published properties without setter logic.
    std::string Host;
    std::string Port = "smtp";
    std::string LocalAddr = "0.0.0.0";
    std::string LocalAddr6 = "::";
    net::TSocketFamily SocketFamily = net::sfIPv4;
    net::TSocketErrs SocketErrs = net::wsErrTech;
    std::string SignOn;
    std::string Username;
    std::string Password;
    TSmtpAuthType AuthType = smtpAuthNone;
    // The OAuth 2.0 access token that XOAUTH2 and OAUTHBEARER present.
    std::string AccessToken;
    // Which NTLM responses AUTH NTLM sends: 0 NTLMv1 (the default), 1 and 2
    // NTLMv1 with extended session security when offered, 3 and above NTLMv2.
    unsigned LmCompatLevel = 0;
    std::string FromName;
    std::vector<std::string> RcptName;
    std::vector<std::string> MailMessage;
    std::string HdrFrom, HdrTo, HdrCc, HdrReplyTo, HdrReturnPath, HdrSubject, HdrSender;
    TSmtpPriority HdrPriority = smtpPriorityNone;
    bool ConfirmReceipt = false;
    bool ConvertToCharset = false;
    bool WrapMessageText = false;
    TSmtpDefaultEncoding DefaultEncoding = smtpEnc7bit;
    bool Allow8bitChars = true;
    bool FoldHeaders = false;
    bool OwnHeaders = false;
    TSmtpSendMode SendMode = smtpToSocket;
    std::string XMailer = "plonemail SMTP client V%VER%";
    // Code page of the header texts (Hdr* fields); 0: the system ANSI code
    // page. A caller that has converted them to UTF-8 says so here.
    std::uint32_t HeaderCodePage = 0;
    // The code page in which FromName and RcptName are read.
    std::uint32_t AddressCodePage() const;
    int Tag = 0;

    // Published properties with setter logic.
    int WrapMsgMaxLineLen() const { return FWrapMsgMaxLineLen; }
    void SetWrapMsgMaxLineLen(int value);
    TSmtpContentType ContentType() const { return FContentType; }
    virtual void SetContentType(TSmtpContentType value);
    const std::string& ContentTypeText() const { return FContentTypeText; }
    // Stored as the file-sharing flags (0, 16, 32, 48, 64).
    TSmtpShareMode ShareMode() const;
    void SetShareMode(TSmtpShareMode value);
    unsigned ShareFlags() const { return FShareFlags; }

    // Read-only state.
    TSmtpState State() const { return FState; }
    const std::string& LastResponse() const { return FLastResponse; }
    const std::string& ErrorMessage() const { return FErrorMessage; }
    bool Connected() const { return FConnected; }
    TSmtpRequest RequestType() const { return FRequestType; }
    int StatusCode() const { return FStatusCode; }
    bool ExtendedSmtp() const { return FExtendedSmtp; }
    const std::vector<std::string>& AuthMechanisms() const { return FAuthMechanisms; }
    // The error with which the server refused the access token in the last
    // AUTH, decoded ("status 401, scope ..."); empty when it sent none.
    const std::string& OAuthError() const { return FOAuthError; }
    bool SizeAdvertised() const { return FSizeAdvertised; }
    std::int64_t MaxMessageSize() const { return FMaxMessageSize; }
    // The owned socket, created on first use through CreateSocket.
    net::TAsyncSocket& Socket();
    // The size of the socket's send buffers: the message lines are written
    // in batches of half of it, each in one system write.
    static constexpr int SendBufferSize = 32768;

    // Events.
    TSmtpDisplay OnDisplay;
    TSmtpDisplay OnCommand;
    TSmtpDisplay OnResponse;
    TSmtpRequestDone OnRequestDone;
    TSmtpRcptToErrorEvent OnRcptToError;
    TSmtpSessionEvent OnSessionConnected;
    TSmtpSessionEvent OnSessionClosed;
    TSmtpGetDataEvent OnGetData;
    TSmtpHeaderLineEvent OnHeaderLine;
    TSmtpMessageDataSentEvent OnMessageDataSent;

    // Passed on to the socket as well.
    void SetMultiThreaded(bool value) override;
    void SetMessagePumpHook(TPumpHook hook) override;
    void SetOnBgException(TBgExceptionEvent handler) override;
    void AttachThread() override;
    void DetachThread() override;
    void AbortOnError() override;
    int MessageCount() const override { return net::TKvWndControl::MessageCount() + 2; }
    void WndProc(const platform::TMessage& msg) override;

protected:
    // The socket factory: a derived class returns its own kind of socket.
    virtual std::unique_ptr<net::TAsyncSocket> CreateSocket();

    virtual void DoDisplay(const std::string& msg);
    virtual void DoCommand(const std::string& cmd);
    // Each reply line before any other processing: reads the EHLO
    // capabilities, then fires OnResponse.
    virtual void DoResponse(const std::string& line);
    virtual void DoRequestDone(int errorCode);
    virtual void NotifyStateChange() {}
    // Body and header hooks of the DATA transfer; the message composers
    // override them (the header-block hook joins with the header lines).
    virtual void DoGetData(int lineNum, std::string& msgLine, int maxLen, bool& more);
    virtual void DoHeaderLine(std::string& msg, int size);
    virtual void DoMessageDataSent(int size);
    virtual void DoSessionConnected(std::uint16_t errCode);
    virtual void DoSessionClosed(std::uint16_t errCode);
    virtual void SendCommand(const std::string& cmd);
    // The socket's connected event.
    virtual void SocketSessionConnected(std::uint16_t errCode);
    // Runs the next step of a request chain.
    virtual void NextChainStep();
    virtual void WMRequestDone(const platform::TMessage& msg);
    // An EHLO reply line, for the AUTH capability.
    virtual void ReadAuthCapability(const std::string& line);

    // ---- message transfer and request chains ----
    // The header-block hook: the composer's additions, then OnProcessHeader.
    virtual void DoProcessHeader(mime::TSmtpHeaderLines& hdrLines);
    // Releases the composer's open attachment stream (Abort, failed copy output).
    virtual void ReleaseAttachmentStream() {}
    // Starts one chain step; a derived class adds the steps it knows.
    virtual void StartChainStep(TSmtpChainStep step);
    void StartChain(TSmtpRequest request, TSmtpChainSteps steps);
    // True while CalcMsgSize runs: the composer adds the size of content it
    // does not produce line by line.
    bool CalculatingSize() const { return FCalculatingSize; }
    void AddMessageSize(std::int64_t bytes) { FMessageSize += bytes; }
    // Finishes a running size calculation or file output without a report.
    void StopStreamOutput();
    // Ends the message in transfer with a failure (a write error, a file
    // that cannot be read): reported as 500 with the failure's text, never
    // completed. A DATA on the socket cannot be finished, so its
    // connection is closed; a session that merely wrote a file stays usable.
    void FailTransfer(const std::exception& e);
    void WMNextData(const platform::TMessage& msg);

    TSmtpChainSteps FPendingSteps;
    // ---- end of message transfer and request chains ----

    void AllocateMsgHandlers() override;
    void FreeMsgHandlers() override;

    // Issues one command of a request: readiness and connection checks, the
    // accepted codes, then the command; done (when set) runs after the reply
    // has been checked instead of the completion report.
    void ExecAsync(TSmtpRequest request, const std::string& command, TSmtpAcceptedCodes accepted,
                   TContinuation done = {});
    void CheckReady() const;
    void CheckConnected() const;
    // The start of every request: readiness (and connection) checks, then,
    // unless a chain runs, the request type and a fresh error message.
    void BeginRequest(TSmtpRequest request, bool needsConnection = true);
    void SetState(TSmtpState value);
    // ErrorMessage keeps the first error text of a request.
    void RecordError();
    // The standard ReplyHandler.
    void CheckReply();
    // Displays and parses LastResponse; false for a continuation line.
    bool TakeReplyLine();

    TSmtpState FState = smtpReady;
    bool FConnected = false;
    TSmtpRequest FRequestType = smtpConnect;
    int FRequestResult = 0;
    int FStatusCode = 0;
    std::string FLastResponse;
    std::string FErrorMessage;
    TSmtpAcceptedCodes FAcceptedCodes;
    TContinuation FReplyHandler;
    TContinuation FCommandDone;
    TContinuation FChainContinuation;
    bool FRequestDoneSent = true; // no request is waiting for its report
    bool FInChain = false;
    TSmtpChainStep FLastStep = TSmtpChainStep::None;
    int FChainResult = 0;
    bool FExtendedSmtp = false;
    std::vector<std::string> FAuthMechanisms;
    bool FSizeAdvertised = false;
    std::int64_t FMaxMessageSize = 0;
    int FRecipientIndex = -1;

private:
    void SocketDnsLookupDone(std::uint16_t errCode);
    void SocketDataAvailable(std::uint16_t errCode);
    void SocketSessionClosed(std::uint16_t errCode);
    void SocketLineLimitExceeded(int length, bool& clearData);
    void StartSocketConnect();
    void HandleBanner();
    void ReadEhloLine(const std::string& line);
    void RcptToNext();

    // ---- authentication ----
    TSmtpAuthType AutoAuthMechanism() const;
    void StartAuthMechanism(TSmtpAuthType mechanism);
    // Ends the AUTH request with the engine's own 500 and text.
    void RefuseAuth(const std::string& text);
    // Issues the next command of an exchange.
    void AuthNext(const std::string& command, TSmtpAcceptedCodes accepted, TContinuation done = {});
    using TAuthStep = void (TCustomSmtpClient::*)();
    // Issues a mechanism's first command. Its reply leads on to next, one
    // place down the automatic order after a 504, or to the report of the refusal.
    void AuthFirst(TSmtpAuthType mechanism, const std::string& command, int accepted, TAuthStep next);
    void AuthFirstReply(TSmtpAuthType mechanism, TAuthStep next);
    void AuthPlainDone();
    void AuthLoginUser();
    void AuthLoginPassword();
    void AuthCramMd5Answer();
    void AuthCramSha1Answer();
    void AuthCramAnswer(const char* digestName, const char* malformed);
    void AuthNtlm();
    void AuthNtlmAnswer();
    // XOAUTH2 and OAUTHBEARER: the token goes with the first command. A
    // server that refuses it sends its error as a 334 challenge, which is
    // answered with `dummy`; its final reply then ends the request.
    void AuthOAuth(const std::string& command, const std::string& dummy);
    // MD4 and DES, loaded on the first NTLM exchange of this client.
    std::unique_ptr<TAuthCrypto> FNtlmCrypto;
    std::string FOAuthError;
    // ---- end of authentication ----
    // The sentence of a socket error as the engine quotes it.
    std::string SocketErrorText(int errCode) const;

    // ---- message transfer ----
    void BuildHeader();
    void StartLocalTransfer(TSmtpRequest request, const char* name);
    void RunLocalData();
    void TransferStep();
    bool NextHeaderLine();
    bool NextBodyLine();
    // Queues the line; false when the transfer waits for an event first.
    bool SendDataLine(bool dotDoubled);
    void LineQueued();
    void SocketDataSent();
    void EndOfBody();
    bool WriteStreamLine(bool dotDoubled);
    void FinishStreamOutput();

    mime::THeaderFields FHeaderFields;
    std::unique_ptr<mime::TSmtpHeaderLines> FHeaderLines;
    std::string FMessageId;
    std::string FLine; // the one line in transfer
    int FHeaderIndex = -1;
    int FBodyLineNumber = 0;
    bool FMoreLines = true;
    int FLastLineSize = 0;
    int FBatchSize = 0; // bytes of the batch not yet written
    bool FLocalTransfer = false;  // Data started by CalcMsgSize or SendToFile
    // The stream transfer that awaits its next step (0: none); a queued
    // step of an earlier, aborted one is told apart by its number.
    std::uintptr_t FStreamRun = 0;
    std::uintptr_t FStreamRuns = 0;
    bool FCalculatingSize = false;
    std::int64_t FMessageSize = 0;
    TSmtpSendMode FSavedSendMode = smtpToSocket;
    TSmtpDisplay FSavedOnDisplay;
    std::unique_ptr<platform::TBufferedFileStream> FOutFile;
    bool FFileOutput = false;     // SendToFile is running
    // ---- end of message transfer ----

    std::unique_ptr<net::TAsyncSocket> FSocket;
    std::uint32_t FMsgRequestDone = 0;
    std::uint32_t FMsgNextData = 0;
    int FWrapMsgMaxLineLen = 76;
    TSmtpContentType FContentType = smtpPlainText;
    std::string FContentTypeText = "text/plain";
    unsigned FShareFlags = 32;
};

} // namespace smtp
