// The ini profile reader and what the program reads with it: the settings,
// profile integers, and the stored forms of values written for it.
#include "FuzzCheck.h"
#include "platform/IniFile.h"
#include "platform/TextUtil.h"
#include "runner/Settings.h"
#include "runner/kelCryptStr.h"

#include <climits>
#include <set>

namespace {

void CheckSection(const platform::TIniFile& ini, const std::string& section)
{
    std::set<std::string> seen;
    for (const std::string& key : ini.ReadSectionKeys(section)) {
        FUZZ_CHECK(seen.insert(platform::UpperAscii(key)).second);  // each key once
        FUZZ_CHECK(ini.ReadString(section, key, "").size() <= platform::TIniFile::MaxValueLength);
        ini.ReadInteger(section, key, 0);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text = fuzz::Bytes(data, size);
    const platform::TIniFile ini = platform::TIniFile::FromText(text);
    for (const char* section : {runner::SettingsSection, "Translations", "Messages"})
        CheckSection(ini, section);

    const runner::TSettings settings = runner::SettingsFromProfile(ini);
    FUZZ_CHECK(settings.Timeout >= 1 && settings.DataTimeout >= 1);
    runner::SettingsProblem(settings);

    if (const auto number = platform::ParseProfileInteger(text))
        FUZZ_CHECK(*number >= INT32_MIN && *number <= INT32_MAX);

    // Any value without a line break that fits the profile can be stored and
    // read back, and a password survives its scrambling.
    const std::string value = text.substr(0, platform::TIniFile::MaxValueLength - 2);
    if (value.find_first_of("\r\n") == std::string::npos)
        FUZZ_CHECK(runner::SettingsValueText(value).has_value());
    FUZZ_CHECK(runner::UnscramblePassword(runner::ScramblePassword(value)) == value);
    return 0;
}
