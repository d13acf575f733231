#pragma once
// The runner's request chain, shared by the job's mail and the error report:
// which request follows a completed one, how it is started, and the time
// limit on a request that makes no progress.

#include "net/KvTimer.h"
#include "smtp/CustomSslSmtpSender.h"

#include <cstdint>
#include <functional>
#include <optional>

namespace runner {

// Completion codes of failures the runner detects itself.
inline constexpr std::uint16_t kErrTimedOut = 10060;  // the time limit passed
inline constexpr std::uint16_t kErrClient = 500;      // the client refused to start a request

// The request to start after `completed` succeeded on the client; nullopt
// when nothing follows (after QUIT, or a request the chain does not use).
// It follows from the client's own settings (authentication, TLS), so every
// client of the run goes the same way: Connect, HELO or EHLO, STARTTLS and
// EHLO again for explicit TLS, AUTH, MAIL FROM, RCPT TO, DATA, QUIT.
std::optional<smtp::TSmtpRequest> NextRequest(smtp::TCustomSslSmtpSender& client, smtp::TSmtpRequest completed);

// Starts one request of the chain; the client raises SmtpException when it
// cannot (no recipient for RCPT TO, say).
void StartRequest(smtp::TCustomSslSmtpSender& client, smtp::TSmtpRequest request);

// Calls onStalled once when Progress has not been called for the time
// limit: the client itself would wait for ever on a silent server. The limit
// is asked for at each check, as it depends on what the client waits for.
// Ticks on the client's window.
class TStallTimer {
public:
    using TLimit = std::function<std::uint32_t()>;
    TStallTimer(net::TKvWndControl& client, TLimit limitMs, std::function<void()> onStalled);
    void Progress();

private:
    void Check();

    TLimit FLimitMs;
    std::uint32_t FLastProgress;
    bool FFired = false;
    std::function<void()> FOnStalled;
    net::TKvTimer FTimer;
};

} // namespace runner
