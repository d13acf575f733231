#pragma once
#include "platform/IniFile.h"
#include "platform/SystemError.h"

#include <optional>
#include <string>

namespace runner {

// Where the OAuth 2.0 access token of Auth 7 (XOAUTH2) and 8 (OAUTHBEARER)
// comes from: a command that prints it, or the provider's token endpoint.
// In a job's CFGEMAIL an empty value means not given.
struct TOAuthSettings {
    std::string TokenCommand {};
    std::string TokenUrl {};
    std::string ClientId {};
    std::string ClientSecret {};  // unscrambled
    std::string Scope {};
    std::string RefreshToken {};  // unscrambled

    // Takes the values that `given` holds.
    void Override(const TOAuthSettings& given);
};

// Section SendMail of the settings file; the installation's defaults for
// every mail. The job script may override the server values for one mail.
struct TSettings {
    std::string Host;
    std::string Port = "smtp";
    std::string From;
    long Auth = 0;
    std::string Username;
    std::string Password;  // unscrambled
    bool SaveLog = false;
    std::string Language = "english.lng";
    bool OemChars = false;
    bool UseSSL = false;
    long SSLType = 0;
    // TLS: the server's certificate chain and name must verify, against the
    // certificates of CAFile (PEM; a bare name is taken beside the
    // program) or, without it, the system's trust store.
    bool VerifyPeer = false;
    std::string CAFile;
    // Code page of job scripts when it is not the locale's (name or number).
    std::string CodePage;
    // Seconds a request may make no progress before the run fails.
    long Timeout = DefaultTimeout;
    static constexpr long DefaultTimeout = 60;
    // Seconds the reply to the final "." may take (servers scan the content
    // first; RFC 5321 asks clients to wait 10 minutes); never below Timeout.
    long DataTimeout = DefaultDataTimeout;
    static constexpr long DefaultDataTimeout = 600;
    TOAuthSettings OAuth;
};

inline constexpr long AuthXOAuth2 = 7;
inline constexpr long AuthOAuthBearer = 8;

inline bool IsOAuth(long auth)
{
    return auth == AuthXOAuth2 || auth == AuthOAuthBearer;
}

inline constexpr const char* SettingsSection = "SendMail";

// Reads the settings; keys that are missing or malformed keep their
// defaults. A file that cannot be read is reported through `error`.
TSettings ReadSettingsFile(const std::string& path, std::optional<platform::SystemError>& error);
// The same from a profile already read.
TSettings SettingsFromProfile(const platform::TIniFile& ini);

// Code page named by the CodePage setting: a code-page number or a
// character-set name of the charset table. 0 when it cannot serve job
// scripts (unknown, not convertible here, or not ASCII-compatible), and then
// `problem`, when given, says which.
unsigned CodePageFromSetting(const std::string& value, std::string* problem = nullptr);

// The text to write after "Key=" in the settings file so that reading it
// gives `value` back exactly: the value itself when that holds, otherwise
// the value in double quotes (the reader trims blanks and removes one pair
// of enclosing quotes). nullopt when no text can: a line break, or more
// than the reader keeps.
std::optional<std::string> SettingsValueText(const std::string& value);

// A value the send run cannot work with, as a log line naming key and
// value; nullopt when all is usable.
std::optional<std::string> SettingsProblem(const TSettings& s);

} // namespace runner
