#pragma once
#include "platform/SystemError.h"

#include <optional>
#include <string>

namespace runner {

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
};

inline constexpr const char* SettingsSection = "SendMail";

// Reads the settings; keys that are missing or malformed keep their
// defaults. A file that cannot be read is reported through `error`.
TSettings ReadSettingsFile(const std::string& path, std::optional<platform::SystemError>& error);

// Code page named by the CodePage setting: a code-page number or a
// character-set name of the charset table; 0 when unknown or unavailable.
unsigned CodePageFromSetting(const std::string& value);

// A value the send run cannot work with, as a log line naming key and
// value; nullopt when all is usable.
std::optional<std::string> SettingsProblem(const TSettings& s);

} // namespace runner
