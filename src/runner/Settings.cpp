#include "runner/Settings.h"

#include "mime/Charsets.h"
#include "platform/CodePageConv.h"
#include "platform/CodePages.h"
#include "platform/IniFile.h"
#include "platform/TextUtil.h"
#include "runner/kelCryptStr.h"

namespace runner {

TSettings ReadSettingsFile(const std::string& path, std::optional<platform::SystemError>& error)
{
    const platform::TIniFile ini(path);
    error = ini.LoadError();
    return SettingsFromProfile(ini);
}

TSettings SettingsFromProfile(const platform::TIniFile& ini)
{
    const char* sec = SettingsSection;
    TSettings s;
    s.Host = ini.ReadString(sec, "Host", s.Host);
    s.Port = ini.ReadString(sec, "Port", s.Port);
    s.From = ini.ReadString(sec, "From", s.From);
    s.Auth = ini.ReadInteger(sec, "Auth", s.Auth);
    s.Username = ini.ReadString(sec, "Username", s.Username);
    s.Password = UnscramblePassword(ini.ReadString(sec, "Password", ""));
    s.SaveLog = ini.ReadBool(sec, "SaveLog", s.SaveLog);
    s.Language = ini.ReadString(sec, "Language", s.Language);
    s.OemChars = ini.ReadBool(sec, "OemChars", s.OemChars);
    s.UseSSL = ini.ReadBool(sec, "UseSSL", s.UseSSL);
    s.SSLType = ini.ReadInteger(sec, "SSLType", s.SSLType);
    s.VerifyPeer = ini.ReadBool(sec, "VerifyPeer", s.VerifyPeer);
    s.CAFile = ini.ReadString(sec, "CAFile", s.CAFile);
    s.CodePage = ini.ReadString(sec, "CodePage", s.CodePage);
    // A run must never wait for ever.
    s.Timeout = ini.ReadInteger(sec, "Timeout", s.Timeout);
    if (s.Timeout < 1)
        s.Timeout = TSettings::DefaultTimeout;
    s.DataTimeout = ini.ReadInteger(sec, "DataTimeout", s.DataTimeout);
    if (s.DataTimeout < 1)
        s.DataTimeout = TSettings::DefaultDataTimeout;
    s.OAuth.TokenCommand = ini.ReadString(sec, "OAuthTokenCommand", "");
    s.OAuth.TokenUrl = ini.ReadString(sec, "OAuthTokenUrl", "");
    s.OAuth.ClientId = ini.ReadString(sec, "OAuthClientId", "");
    s.OAuth.ClientSecret = UnscramblePassword(ini.ReadString(sec, "OAuthClientSecret", ""));
    s.OAuth.Scope = ini.ReadString(sec, "OAuthScope", "");
    s.OAuth.RefreshToken = UnscramblePassword(ini.ReadString(sec, "OAuthRefreshToken", ""));
    return s;
}

void TOAuthSettings::Override(const TOAuthSettings& given)
{
    for (auto [field, value] : {std::pair {&TokenCommand, &given.TokenCommand}, {&TokenUrl, &given.TokenUrl},
                                {&ClientId, &given.ClientId}, {&ClientSecret, &given.ClientSecret},
                                {&Scope, &given.Scope}, {&RefreshToken, &given.RefreshToken}})
        if (!value->empty())
            *field = *value;
}

namespace {

// The code page a CodePage value names, whether or not it can be used.
unsigned NamedCodePage(const std::string& value)
{
    const std::string v = platform::LowerAscii(platform::Trim(value));
    if (!v.empty() && v.size() <= 5 && v.find_first_not_of("0123456789") == std::string::npos) {
        const auto number = static_cast<std::uint32_t>(std::stoul(v));
        return mime::CodePageToCharset(number).empty() ? 0 : number;
    }
    std::uint32_t cp = 0;
    if (mime::CharsetToCodePage(v, cp) || cp == mime::kCpUnavailable)
        return cp;  // kCpUnavailable: known, but no converter takes it
    return platform::CodePageOfLocaleCharset(value);
}

} // namespace

unsigned CodePageFromSetting(const std::string& value, std::string* problem)
{
    const unsigned cp = NamedCodePage(value);
    const char* why = cp == 0                           ? "unknown character set"
                      : !platform::CodePageAvailable(cp) ? "not available on this system"
                      : !platform::CodePageKeepsAscii(cp) ? "not ASCII-compatible, job scripts cannot be read in it"
                                                          : nullptr;
    if (problem)
        *problem = why ? why : "";
    return why ? 0 : cp;
}

std::optional<std::string> SettingsValueText(const std::string& value)
{
    const auto readsBack = [&value](const std::string& text) {
        const std::string file = std::string("[") + SettingsSection + "]\nValue=" + text + "\n";
        return platform::TIniFile::FromText(file).ReadString(SettingsSection, "Value", value + "?") == value;
    };
    for (const std::string& text : {value, '"' + value + '"'})
        if (readsBack(text))
            return text;
    return std::nullopt;
}

namespace {

// What an OAuth sign-in lacks to get its token.
std::optional<std::string> OAuthProblem(const TSettings& s)
{
    const TOAuthSettings& o = s.OAuth;
    if (!o.TokenCommand.empty())
        return std::nullopt;
    const std::string auth = "Invalid setting Auth=" + std::to_string(s.Auth);
    if (o.TokenUrl.empty())
        return auth + " (the OAuth token needs OAuthTokenCommand or OAuthTokenUrl)";
    if (!platform::LowerAscii(o.TokenUrl).starts_with("https://"))
        return "Invalid setting OAuthTokenUrl=" + o.TokenUrl + " (must start with https://)";
    if (o.ClientId.empty())
        return auth + " (OAuthTokenUrl needs OAuthClientId)";
    if (o.RefreshToken.empty() && o.ClientSecret.empty())
        return auth + " (without OAuthRefreshToken the token is asked for with OAuthClientSecret, which is empty)";
    return std::nullopt;
}

} // namespace

std::optional<std::string> SettingsProblem(const TSettings& s)
{
    if (s.Auth < 0 || s.Auth > AuthOAuthBearer)
        return "Invalid setting Auth=" + std::to_string(s.Auth) + " (allowed: 0 to 8)";
    if (IsOAuth(s.Auth))
        if (auto problem = OAuthProblem(s))
            return problem;
    if (s.SSLType < 0 || s.SSLType > 2)
        return "Invalid setting SSLType=" + std::to_string(s.SSLType) + " (allowed: 0 to 2)";
    std::string why;
    if (!s.CodePage.empty() && CodePageFromSetting(s.CodePage, &why) == 0)
        return "Invalid setting CodePage=" + s.CodePage + " (" + why + ")";
    return std::nullopt;
}

} // namespace runner
