#pragma once
#include <cstdint>
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

enum TSmtpContentType { smtpHtml, smtpPlainText };

enum TSmtpPriority {
    smtpPriorityNone,
    smtpPriorityHighest,
    smtpPriorityHigh,
    smtpPriorityNormal,
    smtpPriorityLow,
    smtpPriorityLowest,
};

enum TSmtpDefaultEncoding { smtpEnc7bit, smtpEnc8bit, smtpEncQuotedPrintable, smtpEncBase64 };

enum TSmtpShareMode {
    smtpShareCompat,
    smtpShareExclusive,
    smtpShareDenyWrite,
    smtpShareDenyRead,
    smtpShareDenyNone,
};

enum TSmtpProxyType { smtpNoProxy, smtpSocks4, smtpSocks4A, smtpSocks5, smtpHttpProxy };

enum TSmtpRcptToErrorAction { srteAbort, srteRetry, srteIgnore };

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
