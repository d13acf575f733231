#include "net/SslAsyncSocket.h"

#include "net/SslCallbacks.h"
#include "platform/Sockets.h"
#include "platform/TextUtil.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <mutex>

namespace net {

using namespace platform;

namespace {

// Each side of the pair buffers this much; a socket read or write moves at
// most twice that less one.
constexpr int PairBufferSize = 16384;
constexpr int MaxChunk = 2 * PairBufferSize - 1;

TCustomSslAsyncSocket* SocketOf(const SSL* ssl)
{
    return ssl ? static_cast<TCustomSslAsyncSocket*>(SSL_get_app_data(ssl)) : nullptr;
}

void InfoCallback(const SSL* ssl, int where, int)
{
    if (TCustomSslAsyncSocket* socket = SocketOf(ssl))
        socket->HandleInfo(where);
}

int ClientCertCallback(SSL* ssl, X509** cert, EVP_PKEY** key)
{
    TCustomSslAsyncSocket* socket = SocketOf(ssl);
    return socket ? socket->HandleClientCert(cert, key) : 0;
}

// The value after "name=" in a cipher description, up to the next blank.
std::string DescriptionPart(const std::string& desc, const std::string& name)
{
    const std::size_t at = desc.find(name + "=");
    if (at == std::string::npos)
        return {};
    const std::size_t start = at + name.size() + 1;
    const std::size_t end = desc.find_first_of(" \t\r\n", start);
    return desc.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

bool IsAddressLiteral(const std::string& host)
{
    return ParseIPv4Literal(host) || ParseIPv6Literal(host);
}

} // namespace

// ---------------------------------------------------------------- callbacks

int SslVerifyCallback(int ok, X509_STORE_CTX* storeCtx)
{
    auto* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(storeCtx, SSL_get_ex_data_X509_STORE_CTX_idx()));
    TCustomSslAsyncSocket* socket = SocketOf(ssl);
    return socket ? socket->HandleVerifyPeer(ok, storeCtx) : ok;
}

int SslNewSessionCallback(SSL* ssl, SSL_SESSION* session)
{
    TCustomSslAsyncSocket* socket = SocketOf(ssl);
    return socket ? socket->HandleNewSession(session) : 0;
}

// ---------------------------------------------------------------- lifetime

TCustomSslAsyncSocket::TCustomSslAsyncSocket() = default;

TCustomSslAsyncSocket::~TCustomSslAsyncSocket()
{
    FInCallback = 0;
    FreeTls();
    if (FLibraryLoaded)
        TSslLibrary::Unload();
}

void TCustomSslAsyncSocket::AllocateMsgHandlers()
{
    TLower::AllocateMsgHandlers();
    FMsgSslEvent = AllocateMessage();
    FMsgSslReset = AllocateMessage();
}

void TCustomSslAsyncSocket::FreeMsgHandlers()
{
    FreeMessage(FMsgSslReset);
    FreeMessage(FMsgSslEvent);
    TLower::FreeMsgHandlers();
}

void TCustomSslAsyncSocket::WndProc(const platform::TMessage& msg)
{
    try {
        if (msg.Msg == FMsgSslEvent && FMsgSslEvent != 0) {
            WMSslEvent(msg);
            return;
        }
        if (msg.Msg == FMsgSslReset && FMsgSslReset != 0) {
            if (static_cast<std::uint64_t>(msg.WParam) == FTlsGen && !FSslEnable)
                FreeTls();
            return;
        }
    } catch (const std::exception& e) {
        HandleBgException(e, "TCustomSslAsyncSocket.WndProc");
        return;
    }
    TLower::WndProc(msg);
}

void TCustomSslAsyncSocket::LoadLibrary()
{
    if (!FLibraryLoaded) {
        TSslLibrary::Load();
        FLibraryLoaded = true;
    }
}

// ---------------------------------------------------------------- events

// One queued event per kind; a queued one of an earlier TLS connection is
// told apart by its generation.
void TCustomSslAsyncSocket::TriggerEvent(TSslEvent kind)
{
    if ((FPosted & kind) != 0 || Paused())
        return;
    if (KvLogger)
        Log(" TriggerEvent handle=" + std::to_string(Handle()));
    FPosted |= kind;
    PostMessage(FMsgSslEvent, kind, static_cast<std::intptr_t>(FTlsGen));
}

void TCustomSslAsyncSocket::WMSslEvent(const platform::TMessage& msg)
{
    if (static_cast<std::uint64_t>(msg.LParam) != FTlsGen)
        return;
    const auto kind = static_cast<unsigned>(msg.WParam);
    FPosted &= ~kind;
    if (!Active())
        return;
    if (kind == sslFdRead)
        SslReadHandler();
    else if (kind == sslFdWrite)
        SslWriteHandler();
    else if (kind == sslFdClose)
        SslCloseHandler(0);
}

void TCustomSslAsyncSocket::DoFdRead(std::uint16_t errCode)
{
    if (!FSslEnable) {
        TLower::DoFdRead(errCode);
        return;
    }
    if (State() != wsConnected)
        DoFdConnect(errCode); // data overtook the connect notice
    if (Active())
        SslReadHandler();
}

void TCustomSslAsyncSocket::DoFdWrite(std::uint16_t errCode)
{
    if (!FSslEnable) {
        TLower::DoFdWrite(errCode);
        return;
    }
    if (Active())
        SslWriteHandler();
}

void TCustomSslAsyncSocket::DoFdClose(std::uint16_t errCode)
{
    if (!FSslEnable) {
        TLower::DoFdClose(errCode);
        return;
    }
    SslCloseHandler(errCode);
}

// ---------------------------------------------------------------- start

void TCustomSslAsyncSocket::TriggerSessionConnected(std::uint16_t errCode)
{
    TLower::TriggerSessionConnected(errCode);
    // Implicit TLS: the handshake follows the connection, unless the owner
    // started it from OnSessionConnected.
    if (!FSslEnable || errCode != 0 || FSsl || State() != wsConnected)
        return;
    try {
        StartSslHandshake();
    } catch (const std::exception& e) {
        FSslEnable = false;
        FreeTls();
        TLower::InternalClose(false, WsaECONNABORTED);
        HandleBgException(e, "TCustomSslAsyncSocket.TriggerSessionConnected");
    }
}

void TCustomSslAsyncSocket::StartSslHandshake()
{
    if (KvLogger)
        Log(" StartSslHandshake handle=" + std::to_string(Handle()));
    if (!FSslEnable)
        return;
    if (FSsl)
        FreeTls();
    FHandshakePhase = 1;
    FSslMode = sslModeClient;
    try {
        if (!FSslContext)
            throw ESslContextException("SSL requires a context object");
        LoadLibrary();
        if (!FSslContext->IsInitialized())
            FSslContext->InitContext();
        InitSSLConnection(true);
    } catch (const std::exception& e) {
        FHandshakePhase = 0;
        Log(" Fatal error StartSslHandshake handle=" + std::to_string(Handle()));
        if (FHandshakeResultText.empty())
            FHandshakeResultText = SingleLine(e.what());
        if (!FHandshakeDoneReported) {
            FHandshakeDoneReported = true;
            TriggerSslHandshakeDone(1);
        }
        throw;
    }
}

void TCustomSslAsyncSocket::InitSSLConnection(bool clientMode)
{
    if (KvLogger)
        Log(" InitSSLConnection handle=" + std::to_string(Handle()));
    FPeerChain.Clear();
    FPeerCert.Clear();
    ResetResults();
    FHandshakeResultText.clear();
    FLastSslError = 0;
    FReadWanted = FRecvPending = FSendRetry = true;
    try {
        CreateObjects();
        SSL_CTX* ctx = FSslContext->Handle();
        if (FSslContext->SslCertFile.empty() && OnSslCliCertRequest && !SSL_CTX_get_client_cert_cb(ctx))
            SSL_CTX_set_client_cert_cb(ctx, ClientCertCallback);
        OfferSession();
        ApplyServerName();
        if (clientMode)
            SSL_set_connect_state(FSsl);
        else
            SSL_set_accept_state(FSsl);
        SSL_set_info_callback(FSsl, InfoCallback);
        ERR_clear_error();
        if (BIO_set_ssl(FSslBio, FSsl, BIO_NOCLOSE) != 1)
            throw EOpenSslError("Unable to set BIO as SSL");
        // The first engine step writes the client's opening into the pair.
        Log(" Start Ssl ReadBIO");
        const int started = SSL_do_handshake(FSsl);
        const int error = started > 0 ? SSL_ERROR_NONE : SSL_get_error(FSsl, started);
        if (error != SSL_ERROR_NONE && error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
            unsigned long code = 0;
            const std::string library = TakeSslErrors(code);
            FLastSslError = code;
            FHandshakeResultText = (library.empty() ? std::string() : library + " - ") +
                                   "InitSSLConnection: ReadBIO, Retry Reason " +
                                   std::to_string(BIO_get_retry_reason(FSslBio));
            throw EOpenSslError("\r\n" + FHandshakeResultText + "\r\n");
        }
        if (State() == wsConnected) {
            TriggerEvent(sslFdRead);
            TriggerEvent(sslFdWrite);
        }
        SetLastError(-1);
        FHandshakePhase = 2;
    } catch (...) {
        FHandshakePhase = 3;
        FreeTls();
        throw;
    }
}

void TCustomSslAsyncSocket::CreateObjects()
{
    const auto fail = [this](const char* step) {
        unsigned long code = 0;
        const std::string library = TakeSslErrors(code);
        FLastSslError = code;
        FHandshakeResultText = library.empty() ? std::string(step) : library + " - " + step;
        throw EOpenSslError("\r\n" + FHandshakeResultText + "\r\n");
    };
    FSsl = SSL_new(FSslContext->Handle());
    if (!FSsl)
        fail("Error on creating the Ssl object");
    FSslBio = BIO_new(BIO_f_ssl());
    if (!FSslBio)
        fail("Creating SslBIO failed");
    if (BIO_new_bio_pair(&FIBio, PairBufferSize, &FNBio, PairBufferSize) != 1)
        fail("Creating Read/Write BIOs failed");
    // The engine owns its side of the pair from here on.
    SSL_set_bio(FSsl, FIBio, FIBio);
    if (SSL_set_app_data(FSsl, this) != 1)
        fail("SSL_set_ex_data failed");
}

void TCustomSslAsyncSocket::OfferSession()
{
    if (!OnSslCliGetSession)
        return;
    void* session = nullptr;
    bool freeSession = true;
    OnSslCliGetSession(*this, session, freeSession);
    if (!session)
        return;
    auto* saved = static_cast<SSL_SESSION*>(session);
    if (SSL_set_session(FSsl, saved) == 1)
        Log(" Reuse session [" + std::to_string(reinterpret_cast<std::uintptr_t>(saved)) + "]");
    else
        ERR_clear_error();
    if (freeSession)
        SSL_SESSION_free(saved);
}

void TCustomSslAsyncSocket::ApplyServerName()
{
    const bool literal = IsAddressLiteral(SslServerName);
    // Addresses are not names: RFC 6066 sends none for them.
    if (!SslServerName.empty() && !literal && SSL_set_tlsext_host_name(FSsl, SslServerName.c_str()) != 1)
        throw EOpenSslError("Unable to set TLS servername extension");
    if (!FSslContext->SslVerifyPeer() || SslServerName.empty())
        return;
    X509_VERIFY_PARAM* param = SSL_get0_param(FSsl);
    unsigned int hostFlags = 0;
    const unsigned int flagValues[] {X509_CHECK_FLAG_ALWAYS_CHECK_SUBJECT, X509_CHECK_FLAG_NO_WILDCARDS,
                                     X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS, X509_CHECK_FLAG_MULTI_LABEL_WILDCARDS,
                                     X509_CHECK_FLAG_SINGLE_LABEL_SUBDOMAINS, X509_CHECK_FLAG_NEVER_CHECK_SUBJECT};
    for (int i = sslX509_CHECK_FLAG_ALWAYS_CHECK_SUBJECT; i <= sslX509_CHECK_FLAG_NEVER_CHECK_SUBJECT; ++i)
        if (FSslContext->SslCheckHostFlags.Contains(static_cast<TSslCheckHostFlag>(i)))
            hostFlags |= flagValues[i];
    X509_VERIFY_PARAM_set_hostflags(param, hostFlags);
    const int set = literal ? X509_VERIFY_PARAM_set1_ip_asc(param, SslServerName.c_str())
                            : X509_VERIFY_PARAM_set1_host(param, SslServerName.c_str(), 0);
    if (set != 1)
        throw EOpenSslError("Unable to set host varify param");
}

// ---------------------------------------------------------------- engine

bool TCustomSslAsyncSocket::DecryptedWaiting() const
{
    return FSsl && SSL_pending(FSsl) > 0;
}

bool TCustomSslAsyncSocket::PlaintextQueued()
{
    std::lock_guard lock(FPlain.Lock());
    return !FPlain.Empty();
}

// Lets the engine work on the ciphertext it has: the handshake, or the
// next record (which then waits decrypted). False when it failed: the
// connection is then being closed.
bool TCustomSslAsyncSocket::DriveEngine()
{
    ERR_clear_error();
    int result;
    if (!SSL_is_init_finished(FSsl)) {
        result = SSL_do_handshake(FSsl);
    } else {
        char probe;
        result = SSL_peek(FSsl, &probe, 1);
    }
    if (result > 0)
        return true;
    switch (SSL_get_error(FSsl, result)) {
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE:
        FRecvPending = true;
        SetLastError(WsaEWOULDBLOCK);
        return true;
    case SSL_ERROR_ZERO_RETURN:
        OnPeerCloseAlert();
        return true;
    default:
        HandleSslError();
        FNetworkError = WsaECONNABORTED;
        SetLastError(WsaECONNABORTED);
        TriggerEvent(sslFdClose);
        Log(" NetworkError #" + std::to_string(WsaECONNABORTED));
        return false;
    }
}

// The peer's close alert: TLS ends here; it is answered at once.
void TCustomSslAsyncSocket::OnPeerCloseAlert()
{
    FHandshakePhase = std::max(FHandshakePhase, 5);
    if (!(SSL_get_shutdown(FSsl) & SSL_SENT_SHUTDOWN)) {
        SSL_shutdown(FSsl);
        ERR_clear_error();
    }
}

void TCustomSslAsyncSocket::HandleSslError()
{
    unsigned long code = 0;
    std::string text = TakeSslError(code);
    if (code == 0)
        return;
    FLastSslError = code;
    // A refused certificate says why.
    if (ERR_GET_REASON(code) == SSL_R_CERTIFICATE_VERIFY_FAILED && FSsl) {
        const long result = SSL_get_verify_result(FSsl);
        if (result != X509_V_OK)
            text += ": " + std::string(X509_verify_cert_error_string(result));
    }
    FHandshakeResultText = text;
}

void TCustomSslAsyncSocket::RaiseHandshakeDoneIfPending()
{
    if (!FHandshakeDonePending)
        return;
    FHandshakeDonePending = false;
    FHandshakeDoneReported = true;
    TriggerSslHandshakeDone(0);
}

// Runs after every read, write and handshake step: it queues what is due
// and never waits.
void TCustomSslAsyncSocket::Pump()
{
    if (!Active())
        return;
    const std::uint64_t gen = FTlsGen;
    RaiseHandshakeDoneIfPending();
    if (!Same(gen))
        return;
    if (BIO_ctrl_pending(FNBio) > 0) {
        TriggerEvent(sslFdWrite);
    } else if (HandshakeFinished() && !FInPumpSend) {
        if (FSendRetry && PlaintextQueued()) {
            FSendRetry = false;
            FInPumpSend = true;
            TryToSend();
            FInPumpSend = false;
            if (!Same(gen))
                return;
        } else if (FAllPlainWritten && FDataSentOwed) {
            TriggerEvent(sslFdWrite);
        }
    }
    if (!DecryptedWaiting()) {
        if (FReadWanted && BIO_ctrl_get_write_guarantee(FNBio) > 0) {
            FReadWanted = false;
            TriggerEvent(sslFdRead);
        }
    } else if (FRecvPending && HandshakeFinished()) {
        FRecvPending = false;
        TriggerEvent(sslFdRead);
    }
    if (HandshakeFinished() && FCloseRequested && FShutdownState == 0 && !DecryptedWaiting())
        TriggerEvent(sslFdClose);
}

// ---------------------------------------------------------------- reading

// One read of the socket into the network side, then one engine step.
TCustomSslAsyncSocket::TRead TCustomSslAsyncSocket::ReadIntoEngine()
{
    if (FNetworkError != 0 || FPeerEof)
        return TRead::Ended;
    char* space = nullptr;
    const int room = BIO_nwrite0(FNBio, &space);
    if (room <= 0) {
        FReadWanted = true; // the engine must take some first
        return TRead::Idle;
    }
    const int count = TLower::DoRecv(space, std::min(room, MaxChunk));
    if (count < 0) {
        const int err = LastError();
        if (err == WsaEWOULDBLOCK || err == WsaENOTCONN || err <= 10000)
            return TRead::Idle;
        FNetworkError = err;
        TriggerEvent(sslFdClose);
        Log(" NetworkError #" + std::to_string(err));
        return TRead::Ended;
    }
    if (count == 0) {
        FPeerEof = true;
        TriggerEvent(sslFdClose);
        return TRead::Ended;
    }
    BIO_nwrite(FNBio, &space, count);
    if (FPendingWriteLen >= 0) {
        // The write that must be repeated drives the engine.
        FRecvPending = true;
        SetLastError(WsaEWOULDBLOCK);
        if (KvLogger)
            Log("SslBio write operation pending: " + std::to_string(FPendingWriteLen));
        return TRead::Progress;
    }
    return DriveEngine() ? TRead::Progress : TRead::Ended;
}

// Offers decrypted data to the owner until none is left or the owner stops
// reading; a socket without a reader drops it.
void TCustomSslAsyncSocket::DeliverDecrypted()
{
    const std::uint64_t gen = FTlsGen;
    while (Same(gen) && HandshakeFinished() && FPendingWriteLen < 0) {
        if (!DecryptedWaiting()) {
            // Whole records may still wait in the engine's side of the pair.
            if (BIO_ctrl_pending(FIBio) == 0 || !DriveEngine() || !Same(gen) || !DecryptedWaiting())
                return;
        }
        const std::uint64_t before = Delivered();
        if (!TriggerDataAvailable(0)) {
            if (Same(gen))
                DiscardDecrypted();
            continue;
        }
        if (Delivered() == before)
            return; // left for a later event
    }
}

void TCustomSslAsyncSocket::DiscardDecrypted()
{
    char junk[1024];
    while (DecryptedWaiting() && SSL_read(FSsl, junk, sizeof junk) > 0) {
    }
    ERR_clear_error();
}

void TCustomSslAsyncSocket::SslReadHandler()
{
    if (!Active() || FNetworkError != 0)
        return;
    const std::uint64_t gen = FTlsGen;
    if (HandshakeFinished() && FPendingWriteLen < 0 && DecryptedWaiting()) {
        // The socket is read again once the owner has taken this.
        FReadWanted = true;
    } else {
        ReadIntoEngine();
        if (!Same(gen))
            return;
        RaiseHandshakeDoneIfPending(); // before any data: the owner learns of TLS first
        if (!Same(gen))
            return;
    }
    if (FNetworkError == 0)
        DeliverDecrypted();
    if (Same(gen))
        Pump();
}

int TCustomSslAsyncSocket::DoRecv(void* buffer, int length)
{
    if (!FSslEnable)
        return TLower::DoRecv(buffer, length);
    if (FShutdownState != 0) {
        SetLastError(WsaESHUTDOWN);
        return -1;
    }
    if (length <= 0)
        return 0;
    if (FSsl && HandshakeFinished() && FPendingWriteLen < 0 &&
        (DecryptedWaiting() || BIO_ctrl_pending(FIBio) > 0)) {
        ERR_clear_error();
        const int count = SSL_read(FSsl, buffer, length);
        if (count > 0) {
            CountDelivered(count);
            FRecvPending = true;
            Pump();
            return count;
        }
        switch (SSL_get_error(FSsl, count)) {
        case SSL_ERROR_WANT_READ:
        case SSL_ERROR_WANT_WRITE:
            FRecvPending = true;
            Pump();
            SetLastError(WsaEWOULDBLOCK);
            return -1;
        case SSL_ERROR_ZERO_RETURN:
            OnPeerCloseAlert();
            return 0;
        default:
            HandleSslError();
            FNetworkError = WsaECONNABORTED;
            TriggerEvent(sslFdClose);
            SetLastError(WsaECONNABORTED);
            return -1;
        }
    }
    if (FNetworkError != 0) {
        SetLastError(FNetworkError);
        return -1;
    }
    if (State() == wsClosed)
        return 0;
    if (FCloseRequested) {
        TriggerEvent(sslFdClose);
        return 0;
    }
    FRecvPending = true;
    Pump();
    SetLastError(WsaEWOULDBLOCK);
    return -1;
}

int TCustomSslAsyncSocket::ReceivedCount()
{
    if (!FSslEnable)
        return TLower::ReceivedCount();
    return FSsl ? SSL_pending(FSsl) : 0;
}

// ---------------------------------------------------------------- writing

int TCustomSslAsyncSocket::Send(const void* data, int length)
{
    // OnDataSent follows every Send, even one of nothing.
    if (FSslEnable && (State() == wsConnected || State() == wsSocksConnected))
        FDataSentOwed = true;
    return TLower::Send(data, length);
}

void TCustomSslAsyncSocket::PutDataInSendBuffer(const void* data, int length)
{
    if (!FSslEnable) {
        TLower::PutDataInSendBuffer(data, length);
        return;
    }
    if (length <= 0 || !data)
        return;
    {
        std::lock_guard lock(FPlain.Lock());
        FPlain.Write(static_cast<const char*>(data), length);
    }
    FAllPlainWritten = false;
    FDataSentOwed = true;
    SetAllSent(false);
}

// Hands queued plaintext to the engine, one buffer per write. A write the
// engine could not finish is repeated with the same length.
void TCustomSslAsyncSocket::TryToSend()
{
    if (!FSslEnable) {
        TLower::TryToSend();
        return;
    }
    for (;;) {
        int written = 0;
        int error = SSL_ERROR_NONE;
        int length = 0;
        {
            std::lock_guard lock(FPlain.Lock());
            const char* data = nullptr;
            length = Handle() < 0 ? 0 : FPlain.Peek(data);
            if (length == 0)
                break;
            if (FNetworkError != 0 || FCloseRequested) {
                SetLastError(FNetworkError != 0 ? FNetworkError : WsaEWOULDBLOCK);
                TriggerEvent(sslFdClose);
                return;
            }
            if (FShutdownState != 0) {
                SetLastError(WsaESHUTDOWN);
                return;
            }
            if (!HandshakeFinished() || FRenegotiating) {
                FSendRetry = true;
                SetLastError(WsaEWOULDBLOCK);
                return;
            }
            if (FPendingWriteLen >= 0)
                length = FPendingWriteLen;
            ERR_clear_error();
            written = SSL_write(FSsl, data, length);
            if (written > 0)
                FPlain.Remove(written);
            else
                error = SSL_get_error(FSsl, written);
        }
        if (written > 0) {
            FPendingWriteLen = -1;
            CountSent(written);
            continue;
        }
        if (error == SSL_ERROR_WANT_WRITE || error == SSL_ERROR_WANT_READ) {
            FPendingWriteLen = length;
            if (State() == wsConnected) {
                FSendRetry = true;
                SetLastError(WsaEWOULDBLOCK);
                Pump();
            }
            return;
        }
        HandleSslError();
        if (State() == wsConnected) {
            FNetworkError = WsaECONNABORTED;
            SetLastError(WsaECONNABORTED);
            TriggerEvent(sslFdClose);
        }
        return;
    }
    FAllPlainWritten = true;
    SetAllSent(true);
    FSendRetry = true;
    Pump();
}

// Sends the ciphertext the engine produced, straight from the pair's
// buffer; what the system does not take stays there for the next write
// notice. False when the connection failed.
bool TCustomSslAsyncSocket::FlushCiphertext()
{
    const std::uint64_t gen = FTlsGen;
    for (;;) {
        char* data = nullptr;
        const int length = BIO_nread0(FNBio, &data);
        if (length <= 0)
            return true;
        const int sent = SendNow(data, std::min(length, MaxChunk));
        if (sent < 0) {
            const int err = LastError();
            if (err == WsaEWOULDBLOCK) {
                Reenable(FdWrite);
                return true;
            }
            if (err > 10000 && err != WsaENOTCONN) {
                FNetworkError = err;
                TriggerEvent(sslFdClose);
                Log(" NetworkError #" + std::to_string(err));
                return false;
            }
            return true;
        }
        if (sent == 0) {
            if (State() == wsConnected)
                TriggerEvent(sslFdClose);
            return false;
        }
        BIO_nread(FNBio, &data, sent);
        if (OnSendData) {
            OnSendData(*this, sent);
            if (!Same(gen))
                return false;
        }
        if (sent < length) {
            Reenable(FdWrite);
            return true;
        }
    }
}

void TCustomSslAsyncSocket::SslWriteHandler()
{
    if (!Active() || FNetworkError != 0)
        return;
    const std::uint64_t gen = FTlsGen;
    if (!FlushCiphertext() || !Same(gen))
        return;
    if (HandshakeFinished() && BIO_ctrl_pending(FNBio) == 0) {
        if (PlaintextQueued()) {
            TryToSend();
        } else if (FAllPlainWritten && FDataSentOwed) {
            FDataSentOwed = false;
            TriggerDataSent(0);
        }
        if (!Same(gen))
            return;
    }
    Pump();
}

// ---------------------------------------------------------------- closing

void TCustomSslAsyncSocket::SendCloseNotify()
{
    if (SSL_get_shutdown(FSsl) & SSL_SENT_SHUTDOWN)
        return;
    ERR_clear_error();
    SSL_shutdown(FSsl);
    ERR_clear_error();
    FHandshakePhase = std::max(FHandshakePhase, 5);
    FlushCiphertext(); // what the system takes now; the socket closes next
}

void TCustomSslAsyncSocket::Close()
{
    if (!FSslEnable) {
        TLower::Close();
        return;
    }
    if (!FCloseRequested) {
        FCloseRequested = true;
        if (KvLogger)
            Log(" SocketCloseCalled handle=" + std::to_string(Handle()));
    }
    // Decrypted data is delivered first; the close follows from the loop.
    if (HandshakeFinished() && DecryptedWaiting() && FNetworkError == 0 && State() == wsConnected) {
        TriggerEvent(sslFdClose);
        return;
    }
    InternalClose(true, 0);
}

void TCustomSslAsyncSocket::Abort()
{
    if (FSslEnable || FSsl) {
        FSslEnable = false;
        FreeTls();
    }
    TLower::Abort();
}

void TCustomSslAsyncSocket::Shutdown(int how)
{
    if (!Active() || !HandshakeFinished()) {
        TLower::Shutdown(how);
        return;
    }
    if (FShutdownState != 0)
        return;
    Log(" TCustomSslAsyncSocket.ShutDown " + std::to_string(how));
    const std::uint64_t gen = FTlsGen;
    FShutdownState = 1;
    SendCloseNotify();
    if (!Same(gen))
        return;
    DiscardDecrypted();
    FShutdownState = 2;
    FHandshakePhase = 6;
    Log(" SslShutdownCompleted *");
    TriggerSslShutDownComplete(0);
    if (!Same(gen))
        return;
    TLower::Shutdown(how);
    TriggerEvent(sslFdClose);
}

void TCustomSslAsyncSocket::SslCloseHandler(std::uint16_t errCode)
{
    if (State() == wsConnecting || Handle() < 0)
        return;
    const std::uint64_t gen = FTlsGen;
    FCloseRequested = true;
    if (FSsl && FShutdownState == 0) {
        // The last records may still be in the socket: they come first.
        while (FNetworkError == 0 && ReadIntoEngine() == TRead::Progress) {
            RaiseHandshakeDoneIfPending();
            if (!Same(gen))
                return;
            DeliverDecrypted();
            if (!Same(gen))
                return;
        }
        if (FNetworkError == 0)
            DeliverDecrypted();
        if (!Same(gen))
            return;
    }
    const auto code = static_cast<std::uint16_t>(errCode != 0 ? errCode : FNetworkError);
    InternalClose(!FPeerEof && FNetworkError == 0, code);
}

void TCustomSslAsyncSocket::InternalClose(bool shutdown, std::uint16_t errCode)
{
    if (!FSslEnable) {
        TLower::InternalClose(shutdown, errCode);
        return;
    }
    if (shutdown && Active() && HandshakeFinished() && FNetworkError == 0 && !FPeerEof && State() == wsConnected) {
        const std::uint64_t gen = FTlsGen;
        SendCloseNotify();
        if (!Same(gen))
            return;
    }
    if (!EndTls())
        return;
    TLower::InternalClose(shutdown, errCode);
}

bool TCustomSslAsyncSocket::EndTls()
{
    if (FSsl && FHandshakePhase != 0 && FHandshakePhase < 4 && !FHandshakeDoneReported) {
        const std::uint64_t serial = Serial();
        FHandshakeDoneReported = true;
        TriggerSslHandshakeDone(1);
        if (!Current(serial))
            return false; // the report's handler closed the socket itself
    }
    FSslEnable = false;
    FreeTls();
    return true;
}

void TCustomSslAsyncSocket::FreeTls()
{
    if (FSsl && FInCallback > 0) {
        // Not under the engine's feet: the objects go from the loop.
        PostMessage(FMsgSslReset, static_cast<std::uintptr_t>(FTlsGen));
        return;
    }
    if (FSsl)
        SSL_set_shutdown(FSsl, SSL_SENT_SHUTDOWN); // freeing sends nothing
    BIO_free_all(FSslBio); // with its hold on the engine's side of the pair
    SSL_free(FSsl);        // with the engine's side of the pair
    BIO_free(FNBio);
    FSslBio = FIBio = FNBio = nullptr;
    FSsl = nullptr;
    {
        std::lock_guard lock(FPlain.Lock());
        FPlain.DeleteAll();
    }
    ++FTlsGen;
    FPosted = 0;
    ResetResults();
    FHandshakePhase = 0;
    FShutdownState = 0;
    FCloseRequested = FPeerEof = false;
    FReadWanted = FRecvPending = FSendRetry = FInPumpSend = false;
    FAllPlainWritten = true;
    FDataSentOwed = false;
    FPendingWriteLen = -1;
    FNetworkError = 0;
    FHandshakeCount = 0;
    FRenegotiating = FHandshakeDonePending = FHandshakeDoneReported = false;
}

void TCustomSslAsyncSocket::ResetResults()
{
    FSslVersion = "Unknown";
    FSslCipher = "Unknown";
    FSslVersionNum = FSslSecretBits = FSslTotalBits = 0;
    FSslCipherDesc.clear();
    FSecureReneg = false;
    FPeerName.clear();
}

// ---------------------------------------------------------------- handshake end

void TCustomSslAsyncSocket::HandleInfo(int where)
{
    if (where & SSL_CB_HANDSHAKE_START) {
        ++FHandshakeCount;
        if (FHandshakeCount > 1 && SSL_version(FSsl) < TLS1_3_VERSION) {
            const bool allowed = SSL_get_secure_renegotiation_support(FSsl) ||
                                 (SSL_get_options(FSsl) & SSL_OP_ALLOW_UNSAFE_LEGACY_RENEGOTIATION);
            if (!allowed) {
                Log("Renegotiaton not supported or not allowed. Connection closed delayed");
                CloseLater();
            }
            FRenegotiating = true;
        }
    }
    if (where & SSL_CB_HANDSHAKE_DONE) {
        FRenegotiating = false;
        if (!FHandshakeDoneReported)
            FHandshakeDonePending = true;
    }
}

void TCustomSslAsyncSocket::CollectResults()
{
    FSecureReneg = SSL_get_secure_renegotiation_support(FSsl) != 0;
    FSslVersion = SSL_get_version(FSsl);
    FSslVersionNum = SSL_version(FSsl);
    if (const SSL_CIPHER* cipher = SSL_get_current_cipher(FSsl)) {
        FSslCipher = SSL_CIPHER_get_name(cipher);
        FSslSecretBits = SSL_CIPHER_get_bits(cipher, &FSslTotalBits);
        char desc[256] = {};
        SSL_CIPHER_description(cipher, desc, sizeof desc);
        FSslCipherDesc = Trim(desc);
    }
    if (FSslContext && FSslContext->SslVerifyPeer())
        if (const char* name = SSL_get0_peername(FSsl))
            FPeerName = name;
    const std::string au = DescriptionPart(FSslCipherDesc, "Au");
    const std::string kx = DescriptionPart(FSslCipherDesc, "Kx");
    const std::string enc = DescriptionPart(FSslCipherDesc, "Enc");
    const std::string mac = DescriptionPart(FSslCipherDesc, "Mac");
    if (au == "any")
        FHandshakeResultText = "SSL Connected OK with " + FSslVersion + ", cipher " + FSslCipher + ", encryption " +
                               enc + ", message auth " + mac;
    else
        FHandshakeResultText = "SSL Connected OK with " + FSslVersion + ", cipher " + FSslCipher + ", key auth " +
                               au + ", key exchange " + kx + ", encryption " + enc + ", message auth " + mac;
}

void TCustomSslAsyncSocket::TriggerSslHandshakeDone(std::uint16_t errCode)
{
    const std::uint64_t gen = FTlsGen;
    std::uint16_t code = errCode;
    if (FLastSslError != 0) {
        switch (ERR_GET_REASON(FLastSslError)) {
        case SSL_R_HTTPS_PROXY_REQUEST: FHandshakeResultText = "Error, HTTPS proxy request, no SSL handshake"; break;
        case SSL_R_HTTP_REQUEST: FHandshakeResultText = "Error, HTTP request, no SSL handshake"; break;
        case SSL_R_UNKNOWN_PROTOCOL: FHandshakeResultText = "Error, unknown SSL protocol"; break;
        case SSL_R_WRONG_VERSION_NUMBER: FHandshakeResultText = "Error, wrong SSL version"; break;
        default: break;
        }
        const int reason = ERR_GET_REASON(FLastSslError);
        code = static_cast<std::uint16_t>(reason != 0 ? reason : 1);
    } else if (Handle() < 0) {
        code = 1;
    }
    FHandshakePhase = (code != 0 || !FSsl) ? 3 : 4;
    if (FHandshakePhase == 4) {
        CollectResults();
    } else if (FHandshakeResultText.empty()) {
        FHandshakeResultText = FSsl ? "Failed TLS protocol negotiation: " + std::string(SSL_state_string_long(FSsl))
                                    : std::string("Error, connection closed unexpectedly");
    }
    if (KvLogger)
        Log(" SslHandshakeDone(" + std::to_string(code) + ") Handle=" + std::to_string(Handle()) + ". " +
            FHandshakeResultText + ", session reused=" + (FSsl && SSL_session_reused(FSsl) ? "Yes" : "No"));
    FPeerCert.Clear();
    if (FHandshakePhase == 4 && FSslContext && FSslContext->SslVerifyPeer()) {
        if (X509* peer = SSL_get1_peer_certificate(FSsl)) {
            FPeerCert.Assign(peer);
            if (const TX509Certificate* known = FPeerChain.Find(peer)) {
                FPeerCert.VerifyResult = known->VerifyResult;
                FPeerCert.FirstVerifyResult = known->FirstVerifyResult;
                FPeerCert.VerifyDepth = known->VerifyDepth;
            } else {
                FPeerCert.VerifyResult = static_cast<int>(SSL_get_verify_result(FSsl));
            }
            X509_free(peer);
        }
    }
    bool disconnect = false;
    if (OnSslHandshakeDone)
        OnSslHandshakeDone(*this, code, FPeerCert, disconnect);
    if (code == 0 && disconnect && Same(gen))
        Close();
}

int TCustomSslAsyncSocket::HandleVerifyPeer(int ok, X509_STORE_CTX* storeCtx)
{
    static std::mutex lock;
    std::lock_guard guard(lock);
    X509* cert = X509_STORE_CTX_get_current_cert(storeCtx);
    const int error = X509_STORE_CTX_get_error(storeCtx);
    TX509Certificate* entry = FPeerChain.Find(cert);
    if (!entry) {
        entry = &FPeerChain.Add(cert);
        entry->FirstVerifyResult = error;
    }
    entry->VerifyResult = error;
    entry->VerifyDepth = X509_STORE_CTX_get_error_depth(storeCtx);
    if (KvLogger) {
        Log("VCB> VerifyPeer: Subject = " + entry->SubjectOneLine());
        Log("VCB> VerifyPeer: Serial  = $" + entry->SerialNumHex());
        Log("VCB> VerifyPeer: Error   = " + entry->VerifyErrorMsg());
    }
    ++FInCallback;
    try {
        TriggerSslVerifyPeer(ok, *entry);
    } catch (...) {
        ok = 0; // nothing may unwind through the library
    }
    --FInCallback;
    if (ok != 0)
        entry->VerifyResult = X509_V_OK;
    return ok;
}

void TCustomSslAsyncSocket::TriggerSslVerifyPeer(int& ok, TX509Certificate& cert)
{
    if (OnSslVerifyPeer)
        OnSslVerifyPeer(*this, ok, cert);
}

int TCustomSslAsyncSocket::HandleNewSession(SSL_SESSION* session)
{
    if (FSslMode != sslModeClient || !OnSslCliNewSession)
        return 0;
    bool incRefCount = false;
    ++FInCallback;
    try {
        OnSslCliNewSession(*this, session, SSL_session_reused(FSsl) != 0, incRefCount);
    } catch (...) {
        incRefCount = false;
    }
    --FInCallback;
    // 1 tells the library that the owner keeps the session's reference.
    return incRefCount ? 1 : 0;
}

int TCustomSslAsyncSocket::HandleClientCert(X509** cert, EVP_PKEY** key)
{
    if (!OnSslCliCertRequest)
        return 0;
    TX509Certificate offered;
    ++FInCallback;
    try {
        OnSslCliCertRequest(*this, offered);
    } catch (...) {
        offered.Clear();
    }
    --FInCallback;
    if (offered.IsEmpty() || !offered.PrivateKey())
        return 0;
    X509_up_ref(offered.X509());
    EVP_PKEY_up_ref(offered.PrivateKey());
    *cert = offered.X509();
    *key = offered.PrivateKey();
    return 1;
}

void TCustomSslAsyncSocket::TriggerSslShutDownComplete(std::uint16_t errCode)
{
    if (OnSslShutDownComplete)
        OnSslShutDownComplete(*this, false, errCode);
}

} // namespace net
