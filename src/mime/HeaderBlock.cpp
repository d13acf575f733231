#include "mime/HeaderBlock.h"

#include "mime/Charsets.h"
#include "platform/HostName.h"
#include "platform/RandomSource.h"
#include "platform/TextUtil.h"

#include <cstdio>
#include <cstdlib>

namespace mime {

namespace {

constexpr const char* kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::uint32_t kMessageIdGroupLimit = 65535;

std::string Formatted(const char* pattern, auto... values)
{
    char buf[96];
    const int n = std::snprintf(buf, sizeof buf, pattern, values...);
    return std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
}

const char* NameAt(const char* const* names, int count, int index)
{
    return index >= 0 && index < count ? names[index] : "???";
}

void AddPriorityLines(TSmtpPriority priority, TSmtpHeaderLines& lines)
{
    if (priority == smtpPriorityNone)
        return;
    lines.Add("X-Priority: " + std::to_string(static_cast<int>(priority)));
    if (priority <= smtpPriorityHigh) {
        lines.Add("Priority: urgent");
        lines.Add("X-MSMail-Priority: High");
    } else if (priority == smtpPriorityNormal) {
        lines.Add("Priority: Normal");
        lines.Add("X-MSMail-Priority: Normal");
    } else {
        lines.Add("Priority: non-urgent");
        lines.Add("X-MSMail-Priority: Low");
    }
}

// The address header of a trimmed field, stored back trimmed.
void AddAddressField(TSmtpHeaderLines& lines, const char* name, std::string& field)
{
    field = platform::Trim(field);
    if (!field.empty())
        lines.AddAddrHdr(name, field);
}

void AddStandardLines(THeaderFields& f, TSmtpHeaderLines& lines, std::string& messageId)
{
    AddAddressField(lines, "Reply-To: ", f.HdrReplyTo);
    AddAddressField(lines, "Return-Path: ", f.HdrReturnPath);
    AddAddressField(lines, "From: ", f.HdrFrom);
    AddAddressField(lines, "To: ", f.HdrTo);
    AddAddressField(lines, "Cc: ", f.HdrCc);
    f.HdrSubject = platform::Trim(f.HdrSubject);
    lines.AddHdr("Subject: ", f.HdrSubject);
    f.HdrSender = platform::Trim(f.HdrSender);
    if (!f.HdrSender.empty())
        lines.AddAddrHdr("Sender: ", f.HdrSender);
    else if (!f.HdrFrom.empty())
        lines.AddAddrHdr("Sender: ", f.HdrFrom);
    lines.Add("Mime-Version: 1.0");
    lines.Add("Content-Type: " + ContentTypeText(f.ContentType) + "; charset=\"" + f.CharSet() + "\"");
    lines.Add("Date: " + HeaderDateNow());
    AddPriorityLines(f.HdrPriority, lines);
    messageId = NewMessageId();
    lines.Add("Message-ID: <" + messageId + ">");
    if (f.ConfirmReceipt && !f.HdrFrom.empty())
        lines.AddAddrHdr("Disposition-Notification-To: ", f.HdrFrom);
    if (!f.XMailer.empty())
        lines.AddHdr("X-Mailer: ", ExpandXMailer(f.XMailer));
}

} // namespace

std::string ContentTypeText(TSmtpContentType type)
{
    return type == smtpHtml ? "text/html" : "text/plain";
}

TCharsetChoice ResolveCharset(const std::string& value)
{
    TCharsetChoice choice;
    choice.Name = platform::LowerAscii(platform::Trim(value));
    std::uint32_t codePage = 0;
    if (choice.Name.empty() || !CharsetToCodePage(choice.Name, codePage)) {
        choice.Supported = choice.Name.empty();
        codePage = AnsiCodePage();
        choice.Name = CodePageToCharset(codePage);
    }
    choice.CodePage = codePage;
    choice.MultiByte = IsMultiByteCodePage(codePage);
    return choice;
}

ECharsetNotSupported::ECharsetNotSupported(const std::string& value)
    : std::runtime_error("Charset \"" + value + "\" is not supported")
{
}

THeaderFields::THeaderFields() : charset_(ResolveCharset({})) {}

void THeaderFields::SetCharSet(const std::string& value)
{
    charset_ = ResolveCharset(value);
    if (!charset_.Supported)
        throw ECharsetNotSupported(value);
}

void ApplyHeaderSettings(const THeaderFields& fields, TSmtpHeaderLines& lines)
{
    lines.SetDefaultEncoding(fields.DefaultEncoding);
    lines.SetCharSet(fields.CharSet(), fields.CharSetCodePage(), fields.CharSetMultiByte());
    lines.SetFoldHeaders(fields.FoldHeaders);
    lines.SetAllow8bitChars(fields.Allow8bitChars);
    lines.SetConvertToCharset(fields.ConvertToCharset);
}

std::string BuildHeaderBlock(THeaderFields& fields, TSmtpHeaderLines& lines, const THeaderHook& processHeader)
{
    lines.Clear();
    ApplyHeaderSettings(fields, lines);
    if (fields.OwnHeaders)
        return {};
    std::string messageId;
    AddStandardLines(fields, lines, messageId);
    if (processHeader)
        processHeader(lines);
    lines.Add("");
    return messageId;
}

std::string FormatHeaderDate(const platform::TSystemTime& local, int biasMinutes)
{
    const int offset = std::abs(biasMinutes);
    return Formatted("%s, %d %s %04d %02d:%02d:%02d %c%02d%02d", NameAt(kDayNames, 7, local.DayOfWeek), local.Day,
                     NameAt(kMonthNames, 12, local.Month - 1), local.Year, local.Hour, local.Minute, local.Second,
                     biasMinutes > 0 ? '-' : '+', offset / 60, offset % 60);
}

std::string HeaderDateNow()
{
    int bias = 0;
    const platform::TSystemTime local = platform::LocalTimeNow(bias);
    return FormatHeaderDate(local, bias);
}

std::string FormatMessageId(const platform::TSystemTime& utc, const std::array<std::uint32_t, 4>& groups,
                            const std::string& hostName)
{
    return Formatted("%04d%02d%02d%02d%02d%02d%03d.%04X%04X%04X%04X@", utc.Year, utc.Month, utc.Day, utc.Hour,
                     utc.Minute, utc.Second, utc.Millisecond, groups[0] & 0xFFFF, groups[1] & 0xFFFF,
                     groups[2] & 0xFFFF, groups[3] & 0xFFFF) +
           hostName;
}

std::string NewMessageId()
{
    const platform::TSystemTime utc = platform::UtcTimeNow();
    std::array<std::uint32_t, 4> groups {};
    for (auto& g : groups)
        g = platform::RandomBelow(kMessageIdGroupLimit);
    const std::string host = platform::LocalHostName();
    if (host.empty())
        throw EHostNameFailed();
    return FormatMessageId(utc, groups, host);
}

std::string ExpandXMailer(const std::string& text)
{
    static const std::string kMarker = "%VER%";
    std::string out;
    std::size_t start = 0;
    const std::string upper = platform::UpperAscii(text);
    for (std::size_t at; (at = upper.find(kMarker, start)) != std::string::npos; start = at + kMarker.size())
        out += text.substr(start, at - start) + kComponentVersion;
    return out + text.substr(start);
}

} // namespace mime
