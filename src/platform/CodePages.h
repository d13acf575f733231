#pragma once
#include <string>

namespace platform {

// The system ANSI code page: the system's own where it has one, else the
// character set of the process locale when it is a known one, UTF-8
// (65001) otherwise. An installation may override
// it (settings key CodePage) for callers that write in a Windows code page.
unsigned SystemAnsiCodePage();
void SetAnsiCodePageOverride(unsigned codePage);  // 0 removes the override

// The OEM code page of the system. Where the system has none, the one that
// goes with the ANSI code page: 437 beside a Western European ANSI code
// page, the ANSI code page itself otherwise.
unsigned SystemOemCodePage();

// Code page of a character-set name as locales write it ("UTF-8",
// "ISO-8859-15", "ANSI_X3.4-1968"); 0 when unknown.
unsigned CodePageOfLocaleCharset(const std::string& name);

inline constexpr unsigned CP_UTF8 = 65001;

} // namespace platform
