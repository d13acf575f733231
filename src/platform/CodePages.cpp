#include "platform/CodePages.h"

#include "platform/TextUtil.h"

#include <clocale>
#include <langinfo.h>

namespace platform {

namespace {

// Set once at start-up from the settings; read everywhere after.
unsigned g_override = 0;

struct LocaleCharset {
    const char* Name;
    unsigned CodePage;
};

// Names glibc reports for the locales one meets, without dashes or case.
constexpr LocaleCharset kLocaleCharsets[] = {
    {"UTF8", 65001},       {"ANSIX3.41968", 20127}, {"ASCII", 20127},
    {"ISO88591", 28591},   {"ISO88592", 28592},     {"ISO88593", 28593},
    {"ISO88594", 28594},   {"ISO88595", 28595},     {"ISO88596", 28596},
    {"ISO88597", 28597},   {"ISO88598", 28598},     {"ISO88599", 28599},
    {"ISO885913", 28603},  {"ISO885915", 28605},    {"KOI8R", 20866},
    {"KOI8U", 21866},      {"CP1250", 1250},        {"CP1251", 1251},
    {"CP1252", 1252},      {"CP1253", 1253},        {"CP1254", 1254},
    {"CP1255", 1255},      {"CP1256", 1256},        {"CP1257", 1257},
    {"CP1258", 1258},      {"EUCJP", 51932},        {"SHIFTJIS", 932},
    {"SJIS", 932},         {"GB2312", 936},         {"GBK", 936},
    {"GB18030", 54936},    {"BIG5", 950},           {"EUCKR", 51949},
    {"TIS620", 874},
};

std::string Normalise(const std::string& name)
{
    std::string out;
    for (char c : UpperAscii(name))
        if (c != '-' && c != '_')
            out.push_back(c);
    return out;
}

} // namespace

unsigned CodePageOfLocaleCharset(const std::string& name)
{
    const std::string n = Normalise(name);
    for (auto& e : kLocaleCharsets)
        if (n == e.Name)
            return e.CodePage;
    return 0;
}

unsigned SystemAnsiCodePage()
{
    if (g_override != 0)
        return g_override;
    // The C and POSIX locales report ASCII; their callers get UTF-8.
    const char* locale = std::setlocale(LC_CTYPE, nullptr);
    if (!locale || std::string(locale) == "C" || std::string(locale) == "POSIX")
        return CP_UTF8;
    unsigned cp = CodePageOfLocaleCharset(nl_langinfo(CODESET));
    return cp != 0 ? cp : CP_UTF8;
}

void SetAnsiCodePageOverride(unsigned codePage)
{
    g_override = codePage;
}

unsigned SystemOemCodePage()
{
    const unsigned ansi = SystemAnsiCodePage();
    const bool western = ansi == 1252 || ansi == 28591 || ansi == 28605;
    return western ? 437 : ansi;
}

} // namespace platform
