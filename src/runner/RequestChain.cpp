#include "runner/RequestChain.h"

#include "platform/Clock.h"

#include <utility>

namespace runner {

namespace {

constexpr std::uint32_t kStallCheckMs = 250;

} // namespace

std::optional<smtp::TSmtpRequest> NextRequest(smtp::TCustomSslSmtpSender& client, smtp::TSmtpRequest completed)
{
    using namespace smtp;
    const bool auth = client.AuthType != smtpAuthNone;
    // STARTTLS needs EHLO before it, and EHLO is said again over TLS.
    const bool startTls = client.SslType == smtpTlsExplicit;
    const bool ehlo = auth || startTls;
    switch (completed) {
    case smtpConnect: return ehlo ? smtpEhlo : smtpHelo;
    case smtpHelo: return ehlo ? std::nullopt : std::optional(smtpMailFrom);
    case smtpEhlo:
        if (startTls && !client.SslActive())
            return smtpStartTls;
        if (auth)
            return smtpAuth;
        return ehlo ? std::optional(smtpMailFrom) : std::nullopt;
    case smtpStartTls: return smtpEhlo;
    case smtpAuth: return auth ? std::optional(smtpMailFrom) : std::nullopt;
    case smtpMailFrom: return smtpRcptTo;
    case smtpRcptTo: return smtpData;
    case smtpData: return smtpQuit;
    default: return std::nullopt;
    }
}

void StartRequest(smtp::TCustomSslSmtpSender& client, smtp::TSmtpRequest request)
{
    using namespace smtp;
    switch (request) {
    case smtpHelo: client.Helo(); break;
    case smtpEhlo: client.Ehlo(); break;
    case smtpStartTls: client.StartTls(); break;
    case smtpAuth: client.Auth(); break;
    case smtpMailFrom: client.MailFrom(); break;
    case smtpRcptTo: client.RcptTo(); break;
    case smtpData: client.Data(); break;
    case smtpQuit: client.Quit(); break;
    default: throw SmtpException("Request " + std::to_string(static_cast<int>(request)) + " is not in the chain");
    }
}

TStallTimer::TStallTimer(net::TKvWndControl& client, TLimit limitMs, std::function<void()> onStalled)
    : FLimitMs(std::move(limitMs))
    , FLastProgress(platform::TickCount())
    , FOnStalled(std::move(onStalled))
    , FTimer(&client)
{
    FTimer.SetInterval(kStallCheckMs);
    FTimer.SetOnTimer([this](net::TKvTimer&) { Check(); });
}

void TStallTimer::Progress()
{
    FLastProgress = platform::TickCount();
}

void TStallTimer::Check()
{
    if (FFired || net::TickDiff(FLastProgress, platform::TickCount()) < FLimitMs())
        return;
    FFired = true;
    FOnStalled();
}

} // namespace runner
