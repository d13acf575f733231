#pragma once
#include <string>

namespace platform {

// The system ANSI code page: the character set of the process locale when
// it is a known one, UTF-8 (65001) otherwise. An installation may override
// it (settings key CodePage) for callers that write in a Windows code page.
unsigned SystemAnsiCodePage();
void SetAnsiCodePageOverride(unsigned codePage);  // 0 removes the override

// The OEM code page that goes with the ANSI one: 437 beside a Western
// European ANSI code page, the ANSI code page itself otherwise (a system
// without DOS code pages has nothing better to offer).
unsigned SystemOemCodePage();

// Code page of a locale's character-set name (as nl_langinfo(CODESET)
// reports it); 0 when unknown.
unsigned CodePageOfLocaleCharset(const std::string& name);

inline constexpr unsigned CP_UTF8 = 65001;

} // namespace platform
