#pragma once
// TLS under the socket's usual interface: with SslEnable set the owner still
// calls Send and reads in OnDataAvailable, but the bytes are encrypted and
// decrypted by OpenSSL. The engine never touches the socket: it sits on a
// pair of memory buffers, and this layer moves ciphertext between the socket
// and that pair from the socket's readiness messages and from events it
// posts to itself (read, write, close; at most one of each kind queued).
// With SslEnable clear every operation is the plain socket's.

#include "net/AsyncSocket.h"
#include "net/KvBufferHandler.h"
#include "net/SslContext.h"
#include "net/X509Certificate.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct ssl_st;
struct bio_st;
struct ssl_session_st;
struct x509_store_ctx_st;

namespace net {

enum TSslMode { sslModeClient, sslModeServer };

// A failure while the objects of one TLS connection are made.
class EOpenSslError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

using TSslVerifyPeerEvent = std::function<void(TCustomAsyncSocket& Sender, int& Ok, TX509Certificate& Cert)>;
using TSslHandshakeDoneEvent = std::function<void(TCustomAsyncSocket& Sender, std::uint16_t ErrCode,
                                                  TX509Certificate& PeerCert, bool& Disconnect)>;
using TSslCliGetSession = std::function<void(TCustomAsyncSocket& Sender, void*& SslSession, bool& FreeSession)>;
using TSslCliNewSession =
    std::function<void(TCustomAsyncSocket& Sender, void* SslSession, bool WasReused, bool& IncRefCount)>;
using TSslCliCertRequest = std::function<void(TCustomAsyncSocket& Sender, TX509Certificate& Cert)>;
using TSslShutDownComplete = std::function<void(TCustomAsyncSocket& Sender, bool Bidirectional, int ErrCode)>;

class TCustomSslAsyncSocket : public TCustomAsyncSocket {
public:
    using TLower = TCustomAsyncSocket;

    TCustomSslAsyncSocket();
    ~TCustomSslAsyncSocket() override;

    void Close() override;
    void Abort() override;
    void Shutdown(int how) override;
    int Send(const void* data, int length) override;
    void PutDataInSendBuffer(const void* data, int length) override;
    int ReceivedCount() override;

    int MessageCount() const override { return TLower::MessageCount() + 2; }
    void WndProc(const platform::TMessage& msg) override;

    // Called by the library's callbacks (they find the socket through the
    // connection's data slot).
    void HandleInfo(int where);
    int HandleVerifyPeer(int ok, x509_store_ctx_st* storeCtx);
    int HandleNewSession(ssl_session_st* session);
    int HandleClientCert(x509_st** cert, evp_pkey_st** key);

protected:
    // ---- the TLS interface, published by TSslAsyncSocket
    // Starts a client handshake on the connected socket.
    void StartSslHandshake();
    TSslContext* SslContext() const { return FSslContext; }
    void SetSslContext(TSslContext* value) { FSslContext = value; }
    // TLS for the next connection or handshake; cleared when a TLS
    // connection ends or fails.
    bool SslEnable() const { return FSslEnable; }
    void SetSslEnable(bool value) { FSslEnable = value; }
    TSslMode SslMode() const { return FSslMode; }
    void SetSslMode(TSslMode value) { FSslMode = value; }
    // Sent as the server name indication (not for an address literal), and
    // the name the certificate must carry when the context verifies.
    std::string SslServerName;
    std::vector<std::string> SslAcceptableHosts;
    const std::string& HandshakeResultText() const { return FHandshakeResultText; }
    const std::string& SslVersion() const { return FSslVersion; }
    int SslVersionNum() const { return FSslVersionNum; }
    const std::string& SslCipher() const { return FSslCipher; }
    int SslSecretBits() const { return FSslSecretBits; }
    int SslTotalBits() const { return FSslTotalBits; }
    const std::string& SslCipherDesc() const { return FSslCipherDesc; }
    bool SslPeerSecureReneg() const { return FSecureReneg; }
    const std::string& SslVerifiedPeerName() const { return FPeerName; }
    TX509Certificate& PeerCert() { return FPeerCert; }
    const TX509Chain& SslCertChain() const { return FPeerChain; }
    unsigned long LastSslError() const { return FLastSslError; }

    TSslVerifyPeerEvent OnSslVerifyPeer;
    TSslHandshakeDoneEvent OnSslHandshakeDone;
    TSslCliGetSession OnSslCliGetSession;
    TSslCliNewSession OnSslCliNewSession;
    TSslCliCertRequest OnSslCliCertRequest;
    TSslShutDownComplete OnSslShutDownComplete;

    // ---- replaced socket operations
    int DoRecv(void* buffer, int length) override;
    void TryToSend() override;
    void TriggerSessionConnected(std::uint16_t errCode) override;
    void DoFdRead(std::uint16_t errCode) override;
    void DoFdWrite(std::uint16_t errCode) override;
    void DoFdClose(std::uint16_t errCode) override;
    void InternalClose(bool shutdown, std::uint16_t errCode) override;
    void AllocateMsgHandlers() override;
    void FreeMsgHandlers() override;

    virtual void TriggerSslHandshakeDone(std::uint16_t errCode);
    virtual void TriggerSslVerifyPeer(int& ok, TX509Certificate& cert);
    virtual void TriggerSslShutDownComplete(std::uint16_t errCode);

    // Builds the objects of one connection (EOpenSslError on failure).
    void InitSSLConnection(bool clientMode);
    // Keeps the earliest queued library error and its text for the owner.
    void HandleSslError();

private:
    enum TSslEvent : unsigned { sslFdRead = 1, sslFdWrite = 2, sslFdClose = 4 };
    enum class TRead { Progress, Idle, Ended };

    bool Active() const { return FSslEnable && FSsl; }
    bool HandshakeFinished() const { return FSsl && FHandshakePhase >= 4 && FHandshakePhase != 3; }
    bool DecryptedWaiting() const;
    bool PlaintextQueued();
    // Still the same TLS connection after an event was raised.
    bool Same(std::uint64_t gen) const { return gen == FTlsGen && FSsl; }

    void TriggerEvent(TSslEvent kind);
    void WMSslEvent(const platform::TMessage& msg);
    void Pump();
    void RaiseHandshakeDoneIfPending();
    TRead ReadIntoEngine();
    bool DriveEngine();
    void OnPeerCloseAlert();
    void DeliverDecrypted();
    void DiscardDecrypted();
    bool FlushCiphertext();
    void SslReadHandler();
    void SslWriteHandler();
    void SslCloseHandler(std::uint16_t errCode);
    void SendCloseNotify();
    // Ends TLS on this socket: a handshake that never ended is reported as
    // failed, then the objects go and SslEnable is cleared. False when the
    // report's handler closed the socket already.
    bool EndTls();
    void FreeTls();
    void ResetResults();
    void CollectResults();
    void FailStart(const std::exception& e);
    void CreateObjects();
    void ApplyServerName();
    void OfferSession();
    void LoadLibrary();

    TSslContext* FSslContext = nullptr;
    bool FSslEnable = false;
    TSslMode FSslMode = sslModeClient;
    bool FLibraryLoaded = false;

    ssl_st* FSsl = nullptr;
    bio_st* FSslBio = nullptr; // plaintext side, on top of the engine
    bio_st* FIBio = nullptr;   // the engine's side of the pair
    bio_st* FNBio = nullptr;   // the network side of the pair
    TKvBufferHandler FPlain {16384};
    std::uint64_t FTlsGen = 1;
    int FInCallback = 0;

    int FHandshakePhase = 0; // 0 none, 1 starting, 2 running, 3 failed, 4 done, 5 closing, 6 closed
    int FShutdownState = 0;  // 0 none, 1 started, 2 complete
    bool FCloseRequested = false;
    bool FPeerEof = false;
    bool FReadWanted = false;
    bool FRecvPending = false;
    bool FSendRetry = false;
    bool FInPumpSend = false;
    unsigned FPosted = 0;
    bool FAllPlainWritten = true;
    bool FDataSentOwed = false;
    int FPendingWriteLen = -1;
    int FNetworkError = 0;
    int FHandshakeCount = 0;
    bool FRenegotiating = false;
    bool FHandshakeDonePending = false;
    bool FHandshakeDoneReported = false;

    unsigned long FLastSslError = 0;
    std::string FHandshakeResultText;
    std::string FSslVersion = "Unknown";
    int FSslVersionNum = 0;
    std::string FSslCipher = "Unknown";
    int FSslSecretBits = 0;
    int FSslTotalBits = 0;
    std::string FSslCipherDesc;
    bool FSecureReneg = false;
    std::string FPeerName;
    TX509Certificate FPeerCert;
    TX509Chain FPeerChain;

    std::uint32_t FMsgSslEvent = 0;
    std::uint32_t FMsgSslReset = 0;
};

} // namespace net
