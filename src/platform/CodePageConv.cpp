#include "platform/CodePageConv.h"

namespace platform {

bool CodePageKeepsAscii(unsigned codePage)
{
    if (!CodePageAvailable(codePage))
        return false;
    std::string ascii = "\t\n\r";
    for (char c = ' '; c < 0x7F; ++c)
        ascii.push_back(c);
    const std::u16string wide(ascii.begin(), ascii.end());
    if (CodePageToUtf16(ascii, codePage) != wide || Utf16ToCodePage(wide, codePage) != ascii)
        return false;
    // Letters of several scripts; one the code page lacks comes out as "?".
    constexpr std::u16string_view probes = u"\u00E9\u00DF\u0416\u03B1\u05D0\u0639\u0E01\u65E5\uD55C\u20AC";
    for (const char16_t letter : probes) {
        const std::string bytes = Utf16ToCodePage(std::u16string_view(&letter, 1), codePage);
        if (bytes != "?" && static_cast<unsigned char>(bytes.front()) < 0x80)
            return false;
    }
    return true;
}

} // namespace platform
