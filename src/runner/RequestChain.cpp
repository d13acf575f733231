#include "runner/RequestChain.h"

#include "platform/Clock.h"

#include <utility>

namespace runner {

namespace {

constexpr std::uint32_t kStallCheckMs = 250;

} // namespace

std::optional<smtp::TSmtpRequest> NextRequest(const smtp::TCustomSmtpClient& client, smtp::TSmtpRequest completed,
                                              [[maybe_unused]] const TSettings& settings)
{
    using namespace smtp;
    const bool auth = client.AuthType != smtpAuthNone;
    switch (completed) {
    case smtpConnect: return auth ? smtpEhlo : smtpHelo;
    case smtpHelo: return auth ? std::nullopt : std::optional(smtpMailFrom);
    case smtpEhlo: return auth ? std::optional(smtpAuth) : std::nullopt;
    case smtpAuth: return auth ? std::optional(smtpMailFrom) : std::nullopt;
    case smtpMailFrom: return smtpRcptTo;
    case smtpRcptTo: return smtpData;
    case smtpData: return smtpQuit;
    default: return std::nullopt;
    }
}

void StartRequest(smtp::TCustomSmtpClient& client, smtp::TSmtpRequest request)
{
    using namespace smtp;
    switch (request) {
    case smtpHelo: client.Helo(); break;
    case smtpEhlo: client.Ehlo(); break;
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
