#include "smtp/CustomSslSmtpSender.h"

#include "platform/SystemError.h"
#include "platform/TextUtil.h"

namespace smtp {

std::unique_ptr<net::TAsyncSocket> TCustomSslSmtpSender::CreateSocket()
{
    auto socket = std::make_unique<net::TSslAsyncSocket>();
    socket->SetSslMode(net::sslModeClient);
    return socket;
}

net::TSslAsyncSocket& TCustomSslSmtpSender::SslSocket()
{
    return dynamic_cast<net::TSslAsyncSocket&>(Socket());
}

void TCustomSslSmtpSender::Connect()
{
    // A refused connect must leave a live TLS connection as it is.
    CheckReady();
    if (FConnected)
        throw SmtpException("SMTP component already connected");
    FStartTlsOffered = false;
    SslSocket().SetSslEnable(false);
    TSmtpSender::Connect();
}

void TCustomSslSmtpSender::Ehlo()
{
    FStartTlsOffered = false;
    TSmtpSender::Ehlo();
}

void TCustomSslSmtpSender::Open()
{
    if (SslType != smtpTlsExplicit) {
        TSmtpSender::Open();
        return;
    }
    if (AuthType == smtpAuthNone)
        StartChain(smtpOpen, {TSmtpChainStep::Connect, TSmtpChainStep::Ehlo, TSmtpChainStep::StartTls});
    else
        StartChain(smtpOpen, {TSmtpChainStep::Connect, TSmtpChainStep::Ehlo, TSmtpChainStep::StartTls,
                              TSmtpChainStep::Auth});
}

void TCustomSslSmtpSender::StartChainStep(TSmtpChainStep step)
{
    if (step != TSmtpChainStep::StartTls) {
        TSmtpSender::StartChainStep(step);
        return;
    }
    // EHLO again over TLS: the AUTH list of the first one no longer counts.
    FPendingSteps.Add(TSmtpChainStep::Ehlo);
    StartTls();
}

void TCustomSslSmtpSender::DoResponse(const std::string& line)
{
    // Only a line of STARTTLS alone is an offer.
    if (FLastStep == TSmtpChainStep::Ehlo) {
        const std::string upper = platform::UpperAscii(platform::Trim(line));
        if (upper.size() > 4 && upper.substr(4, 12) == "STARTTLS")
            FStartTlsOffered = true;
    }
    TSmtpSender::DoResponse(line);
}

// ---- implicit TLS ----

void TCustomSslSmtpSender::SocketSessionConnected(std::uint16_t errCode)
{
    if (SslType != smtpTlsImplicit || errCode != 0) {
        TSmtpSender::SocketSessionConnected(errCode);
        return;
    }
    // The greeting is read only once the handshake has succeeded.
    FConnected = true;
    DoDisplay("! Starting SSL handshake");
    try {
        StartHandshake();
    } catch (const std::exception& e) {
        SslSocket().SetSslEnable(false);
        FErrorMessage = "SSL Handshake failed " + platform::ExceptionClassName(e) + " " + platform::SingleLine(e.what());
        FailAndClose();
    }
}

void TCustomSslSmtpSender::StartHandshake()
{
    net::TSslAsyncSocket& socket = SslSocket();
    socket.OnSslHandshakeDone = [this](net::TCustomAsyncSocket&, std::uint16_t errCode, net::TX509Certificate& cert,
                                       bool& disconnect) { SslHandshakeDone(errCode, cert, disconnect); };
    socket.SetSslEnable(true);
    socket.SslServerName = Host;
    socket.StartSslHandshake();
}

void TCustomSslSmtpSender::SslHandshakeDone(std::uint16_t errCode, net::TX509Certificate& peerCert,
                                            bool& disconnect)
{
    net::TSslAsyncSocket& socket = SslSocket();
    if (OnSslHandshakeDone)
        OnSslHandshakeDone(socket, errCode, peerCert, disconnect);
    if (errCode != 0 || disconnect || socket.State() != net::wsConnected) {
        FErrorMessage = "SSL handshake failed - " + socket.HandshakeResultText();
        DoDisplay(FErrorMessage);
        FailAndClose();
        return;
    }
    DoDisplay(socket.HandshakeResultText());
    if (SslType == smtpTlsImplicit) {
        SetState(smtpWaitingBanner);
        return;
    }
    DoRequestDone(0);
}

void TCustomSslSmtpSender::FailAndClose()
{
    FStatusCode = SmtpClientError;
    FRequestResult = SmtpClientError;
    net::TSslAsyncSocket& socket = SslSocket();
    if (socket.State() == net::wsConnected) {
        FRequestDoneSent = true;
        socket.Close();
        FRequestDoneSent = false;
    }
    FChainContinuation = nullptr;
    DoRequestDone(SmtpClientError);
}

// ---- STARTTLS ----

void TCustomSslSmtpSender::StartTls()
{
    BeginRequest(smtpStartTls);
    if (!FExtendedSmtp)
        RefuseStartTls("500 ESMTP not supported.");
    else if (!FStartTlsOffered)
        RefuseStartTls("500 STARTTLS is not available.");
    else if (SslType == smtpTlsImplicit)
        RefuseStartTls("500 STARTTLS is not supported with a implicite SSL connection");
    else {
        FLastStep = TSmtpChainStep::StartTls;
        ExecAsync(smtpStartTls, "STARTTLS", {220}, [this] { StartTlsReplied(); });
    }
}

void TCustomSslSmtpSender::RefuseStartTls(const std::string& text)
{
    FLastResponse = text;
    FErrorMessage = text;
    FStatusCode = SmtpClientError;
    FRequestResult = SmtpClientError;
    FRequestDoneSent = false;
    FChainContinuation = nullptr;
    if (!FInChain)
        FRequestType = smtpStartTls;
    DoRequestDone(SmtpClientError);
}

void TCustomSslSmtpSender::StartTlsReplied()
{
    if (FRequestResult != 0) {
        DoRequestDone(FRequestResult);
        return;
    }
    DoDisplay("Starting SSL handshake");
    // Whatever came in the clear after the 220 was slipped in by a third
    // party (a server sends nothing before the client's first TLS message):
    // it goes unread. No reply is due until TLS is up.
    SslSocket().DiscardReceived();
    FState = smtpInternalBusy;
    try {
        StartHandshake();
    } catch (const std::exception& e) {
        SslSocket().SetSslEnable(false);
        FLastResponse = platform::ExceptionClassName(e) + " " + platform::SingleLine(e.what());
        RecordError();
        FailAndClose();
    }
}

} // namespace smtp
