#pragma once
// Optional limits on how long a connect may take and how long a connection
// may stay without traffic. The layer only reports (OnTimeoutExpired, once
// per watch); closing is up to the handler. Both limits are off by default,
// and then no timer is ever made.

#include "net/KvThreadTimer.h"
#include "net/LineAsyncSocket.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace net {

enum TTimeoutReason { tcConnect, tcIdle };

using TTimeoutEvent = std::function<void(TCustomAsyncSocket& sender, TTimeoutReason reason)>;

class TCustomTimeoutAsyncSocket : public TCustomLineAsyncSocket {
public:
    static constexpr std::uint32_t DefaultCheckInterval = 5000;

    ~TCustomTimeoutAsyncSocket() override;

    std::uint32_t ConnectTimeout = 0;       // milliseconds, 0 = off
    std::uint32_t IdleTimeout = 0;          // milliseconds, 0 = off
    std::uint32_t TimeoutCheckInterval = DefaultCheckInterval;
    bool KeepTimerThreadAlive = true;
    TTimeoutEvent OnTimeoutExpired;

    void Connect() override;
    void AttachThread() override;
    void DetachThread() override;

    // The watch's timer; none until a limit first needs it.
    TKvThreadTimer* TimeoutTimer() const { return FTimeoutTimer.get(); }

protected:
    void TriggerSessionConnected(std::uint16_t errCode) override;
    void TriggerSessionClosed(std::uint16_t errCode) override;

private:
    void StartWatch();
    void StopWatch();
    void CheckTimeout();

    std::unique_ptr<TKvThreadTimer> FTimeoutTimer;
    std::uint32_t FConnectStartTick = 0;
    bool FSavedEnabled = false;
};

// The socket with every layer, as the SMTP client uses it.
class TAsyncSocket : public TCustomTimeoutAsyncSocket {
public:
    TAsyncSocket();
};

// The same socket with its TLS interface published: the socket of the
// TLS-capable SMTP client.
class TSslAsyncSocket : public TAsyncSocket {
public:
    using TCustomSslAsyncSocket::StartSslHandshake;
    using TCustomSslAsyncSocket::SslContext;
    using TCustomSslAsyncSocket::SetSslContext;
    using TCustomSslAsyncSocket::SslEnable;
    using TCustomSslAsyncSocket::SetSslEnable;
    using TCustomSslAsyncSocket::SslMode;
    using TCustomSslAsyncSocket::SetSslMode;
    using TCustomSslAsyncSocket::SslServerName;
    using TCustomSslAsyncSocket::SslAcceptableHosts;
    using TCustomSslAsyncSocket::HandshakeResultText;
    using TCustomSslAsyncSocket::SslVersion;
    using TCustomSslAsyncSocket::SslVersionNum;
    using TCustomSslAsyncSocket::SslCipher;
    using TCustomSslAsyncSocket::SslSecretBits;
    using TCustomSslAsyncSocket::SslTotalBits;
    using TCustomSslAsyncSocket::SslCipherDesc;
    using TCustomSslAsyncSocket::SslPeerSecureReneg;
    using TCustomSslAsyncSocket::SslVerifiedPeerName;
    using TCustomSslAsyncSocket::PeerCert;
    using TCustomSslAsyncSocket::SslCertChain;
    using TCustomSslAsyncSocket::LastSslError;
    using TCustomSslAsyncSocket::OnSslVerifyPeer;
    using TCustomSslAsyncSocket::OnSslHandshakeDone;
    using TCustomSslAsyncSocket::OnSslCliGetSession;
    using TCustomSslAsyncSocket::OnSslCliNewSession;
    using TCustomSslAsyncSocket::OnSslCliCertRequest;
    using TCustomSslAsyncSocket::OnSslShutDownComplete;
};

} // namespace net
