#include "platform/CodePages.h"

#include "platform/System.h"

#include <clocale>
#include <langinfo.h>

namespace platform {

unsigned ProcessAnsiCodePage()
{
    // The C and POSIX locales report ASCII; their callers get UTF-8.
    const char* locale = std::setlocale(LC_CTYPE, nullptr);
    if (!locale || std::string(locale) == "C" || std::string(locale) == "POSIX")
        return CP_UTF8;
    unsigned cp = CodePageOfLocaleCharset(nl_langinfo(CODESET));
    return cp != 0 ? cp : CP_UTF8;
}

unsigned SystemOemCodePage()
{
    const unsigned ansi = SystemAnsiCodePage();
    const bool western = ansi == 1252 || ansi == 28591 || ansi == 28605;
    return western ? 437 : ansi;
}

} // namespace platform
