#pragma once
#include "mime/Encodings.h"
#include "mime/MimeException.h"
#include "mime/SmtpHeaderLines.h"
#include "platform/Clock.h"

#include <array>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

namespace mime {

enum TSmtpPriority : std::uint8_t {
    smtpPriorityNone = 0,
    smtpPriorityHighest = 1,
    smtpPriorityHigh = 2,
    smtpPriorityNormal = 3,
    smtpPriorityLow = 4,
    smtpPriorityLowest = 5,
};

enum TSmtpContentType : std::uint8_t { smtpHtml = 0, smtpPlainText = 1 };

// The component version that replaces "%VER%" in X-Mailer texts.
inline constexpr const char* kComponentVersion = "8.55";

// "text/html" or "text/plain".
std::string ContentTypeText(TSmtpContentType type);

// A charset name as the client's CharSet property takes it: trimmed and
// lower-cased; empty, unknown and unavailable names select the system ANSI
// charset. Supported is false for the last two.
struct TCharsetChoice {
    std::string Name;
    std::uint32_t CodePage = 0;
    bool MultiByte = false;
    bool Supported = true;
};
TCharsetChoice ResolveCharset(const std::string& value);

// Raised after an unsupported charset has been replaced by the system one;
// the message is "Charset \"<value as given>\" is not supported".
class ECharsetNotSupported : public std::runtime_error {
public:
    explicit ECharsetNotSupported(const std::string& value);
};

// Raised when the local host name for a Message-ID cannot be had.
class EHostNameFailed : public EMimeException {
public:
    EHostNameFailed() : EMimeException("Winsock Get Host Name failed") {}
};

// The client properties the header block is built from, with the defaults
// of a new client.
struct THeaderFields {
    THeaderFields();

    std::string HdrFrom, HdrTo, HdrCc, HdrReplyTo, HdrReturnPath, HdrSubject, HdrSender;
    TSmtpPriority HdrPriority = smtpPriorityNone;
    bool ConfirmReceipt = false;
    std::string XMailer = "plonemail SMTP client V%VER%";
    bool ConvertToCharset = false;
    bool Allow8bitChars = true;
    bool FoldHeaders = false;
    bool OwnHeaders = false;
    TSmtpDefaultEncoding DefaultEncoding = smtpEnc7bit;
    TSmtpContentType ContentType = smtpPlainText;

    const std::string& CharSet() const { return charset_.Name; }
    std::uint32_t CharSetCodePage() const { return charset_.CodePage; }
    bool CharSetMultiByte() const { return charset_.MultiByte; }
    // Stores the resolved charset; throws ECharsetNotSupported after storing
    // the system charset in place of an unsupported one.
    void SetCharSet(const std::string& value);

private:
    TCharsetChoice charset_;
};

// Copies the encoding settings of the fields into the list.
void ApplyHeaderSettings(const THeaderFields& fields, TSmtpHeaderLines& lines);

// Clears the list and fills it with the header block: the settings, then
// (unless OwnHeaders) the standard lines in their fixed order, the hook
// (the composer's changes and OnProcessHeader), and the empty line that
// ends the header. The address fields and the subject are trimmed in place.
// Returns the new Message-ID value (without angle brackets), empty with
// OwnHeaders. Throws EHostNameFailed and the encoder's EMimeException.
using THeaderHook = std::function<void(TSmtpHeaderLines& hdrLines)>;
std::string BuildHeaderBlock(THeaderFields& fields, TSmtpHeaderLines& lines, const THeaderHook& processHeader);

// "Sun, 6 Dec 2026 22:49:03 +0100" from a local time and the zone bias in
// minutes (UTC = local + bias).
std::string FormatHeaderDate(const platform::TSystemTime& local, int biasMinutes);
// The Date value for now.
std::string HeaderDateNow();

// yyyymmddhhnnsszzz "." four groups of four hex digits "@" host.
std::string FormatMessageId(const platform::TSystemTime& utc, const std::array<std::uint32_t, 4>& groups,
                            const std::string& hostName);
// A new Message-ID value: UTC now, four random groups below 65535 and the
// local host name.
std::string NewMessageId();

// Replaces every "%VER%", in any letter case, with the component version.
std::string ExpandXMailer(const std::string& text);

} // namespace mime
