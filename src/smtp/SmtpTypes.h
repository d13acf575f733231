#pragma once
#include "mime/HeaderBlock.h"

#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>

namespace smtp {

// Names and order of these enumerations are part of the published interface:
// the ordinals travel in events and in the runner's failure texts.
enum TSmtpState {
    smtpReady,
    smtpDnsLookup,
    smtpConnecting,
    smtpConnected,
    smtpInternalReady,
    smtpWaitingBanner,
    smtpWaitingResponse,
    smtpAbort,
    smtpInternalBusy,
};

enum TSmtpRequest {
    smtpConnect,
    smtpHelo,
    smtpMailFrom,
    smtpVrfy,
    smtpRcptTo,
    smtpData,
    smtpQuit,
    smtpRset,
    smtpOpen,
    smtpMail,
    smtpEhlo,
    smtpAuth,
    smtpStartTls,
    smtpCalcMsgSize,
    smtpMailFromSIZE,
    smtpToFile,
    smtpCustom,
};

enum TSmtpAuthType {
    smtpAuthNone,
    smtpAuthPlain,
    smtpAuthLogin,
    smtpAuthCramMD5,
    smtpAuthCramSha1,
    smtpAuthNtlm,
    smtpAuthAutoSelect,
};

enum TSmtpSendMode { smtpToSocket, smtpToStream, smtpCopyToStream };

// The header block's enumerations live with the message composition.
using mime::TSmtpContentType;
using mime::smtpHtml;
using mime::smtpPlainText;

using mime::TSmtpPriority;
using mime::smtpPriorityNone;
using mime::smtpPriorityHighest;
using mime::smtpPriorityHigh;
using mime::smtpPriorityNormal;
using mime::smtpPriorityLow;
using mime::smtpPriorityLowest;

using mime::TSmtpDefaultEncoding;
using mime::smtpEnc7bit;
using mime::smtpEnc8bit;
using mime::smtpEncQuotedPrintable;
using mime::smtpEncBase64;

enum TSmtpShareMode {
    smtpShareCompat,
    smtpShareExclusive,
    smtpShareDenyWrite,
    smtpShareDenyRead,
    smtpShareDenyNone,
};

enum TSmtpProxyType { smtpNoProxy, smtpSocks4, smtpSocks4A, smtpSocks5, smtpHttpProxy };

enum TSmtpRcptToErrorAction { srteAbort, srteRetry, srteIgnore };

// How the client uses TLS: not at all, from the start of the connection, or
// after asking with STARTTLS.
enum TSmtpSslType { smtpTlsNone, smtpTlsImplicit, smtpTlsExplicit };

// Steps of the request chains, in the order a chain starts them.
enum class TSmtpChainStep {
    None,
    Connect,
    Helo,
    Ehlo,
    StartTls,
    Auth,
    Vrfy,
    MailFrom,
    RcptTo,
    Data,
    Quit,
    Rset,
    CalcMsgSize,
    MailFromSIZE,
};

// The pending steps of a request chain.
class TSmtpChainSteps {
public:
    TSmtpChainSteps() = default;
    TSmtpChainSteps(std::initializer_list<TSmtpChainStep> steps)
    {
        for (TSmtpChainStep step : steps)
            FBits |= Bit(step);
    }
    bool Contains(TSmtpChainStep step) const { return (FBits & Bit(step)) != 0; }
    void Add(TSmtpChainStep step) { FBits |= Bit(step); }
    void Remove(TSmtpChainStep step) { FBits &= ~Bit(step); }
    bool Empty() const { return FBits == 0; }
    bool operator==(const TSmtpChainSteps&) const = default;

private:
    static std::uint32_t Bit(TSmtpChainStep step) { return std::uint32_t {1} << static_cast<unsigned>(step); }
    std::uint32_t FBits = 0;
};

// Misuse of the client (a request while busy or not connected, ...), raised
// from the request call itself.
class SmtpException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Completion codes the engine produces itself.
constexpr std::uint16_t SmtpProtocolError = 20600;  // reply line without a number
constexpr std::uint16_t SmtpConnectionEnded = 10004; // the connection ended early
constexpr std::uint16_t SmtpAbortedCode = 426;
constexpr std::uint16_t SmtpClientError = 500;

} // namespace smtp
