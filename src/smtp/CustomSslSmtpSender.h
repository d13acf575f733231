#pragma once
// TLS for the SMTP client, in the two ways SslType selects: implicit TLS,
// where the handshake follows the TCP connection and the whole dialogue,
// greeting included, is encrypted; and explicit TLS, where the client asks
// with STARTTLS after EHLO and then says EHLO again over the protected
// connection. The socket does the TLS work with the settings of a
// TSslContext; this class decides when it starts and turns its outcome into
// request results. No plain-text fall-back is ever attempted.

#include "net/SslContext.h"
#include "smtp/SmtpSender.h"

namespace smtp {

class TCustomSslSmtpSender : public TSmtpSender {
public:
    void Connect() override;
    void Ehlo() override;
    // With smtpTlsExplicit: connect, EHLO, STARTTLS and handshake, EHLO
    // again, then AUTH when AuthType asks for it.
    void Open() override;
    // Request smtpStartTls: "STARTTLS" (220), then the handshake; completes
    // with 0 when the handshake succeeded.
    virtual void StartTls();

    TSmtpSslType SslType = smtpTlsNone;
    net::TSslContext* SslContext() { return SslSocket().SslContext(); }
    void SetSslContext(net::TSslContext* value) { SslSocket().SetSslContext(value); }
    // The last EHLO reply offered STARTTLS.
    bool StartTlsOffered() const { return FStartTlsOffered; }
    // The connection runs over TLS (from the start of its handshake on).
    bool SslActive() { return SslSocket().SslEnable(); }

    // The client's own event at the end of a handshake (Sender: the socket).
    net::TSslHandshakeDoneEvent OnSslHandshakeDone;
    // Events kept by the socket.
    const net::TSslVerifyPeerEvent& OnSslVerifyPeer() { return SslSocket().OnSslVerifyPeer; }
    void SetOnSslVerifyPeer(net::TSslVerifyPeerEvent handler) { SslSocket().OnSslVerifyPeer = std::move(handler); }
    const net::TSslCliGetSession& OnSslCliGetSession() { return SslSocket().OnSslCliGetSession; }
    void SetOnSslCliGetSession(net::TSslCliGetSession handler) { SslSocket().OnSslCliGetSession = std::move(handler); }
    const net::TSslCliNewSession& OnSslCliNewSession() { return SslSocket().OnSslCliNewSession; }
    void SetOnSslCliNewSession(net::TSslCliNewSession handler) { SslSocket().OnSslCliNewSession = std::move(handler); }
    const net::TSslCliCertRequest& OnSslCliCertRequest() { return SslSocket().OnSslCliCertRequest; }
    void SetOnSslCliCertRequest(net::TSslCliCertRequest handler) { SslSocket().OnSslCliCertRequest = std::move(handler); }

protected:
    std::unique_ptr<net::TAsyncSocket> CreateSocket() override;
    // Reads the STARTTLS offer of an EHLO reply, then the engine's reading.
    void DoResponse(const std::string& line) override;
    void SocketSessionConnected(std::uint16_t errCode) override;
    void StartChainStep(TSmtpChainStep step) override;
    net::TSslAsyncSocket& SslSocket();

private:
    // Hooks the handshake's end, switches TLS on and starts the handshake
    // (raises what the start raises).
    void StartHandshake();
    void StartTlsReplied();
    void SslHandshakeDone(std::uint16_t errCode, net::TX509Certificate& peerCert, bool& disconnect);
    // Ends the request with the client's own 500 and text, sending nothing.
    void RefuseStartTls(const std::string& text);
    // Ends a request that failed with 500 on a connection that must go: its
    // close is not reported a second time.
    void FailAndClose();

    bool FStartTlsOffered = false;
};

} // namespace smtp
