#include "platform/CodePageConv.h"

#include "IconvNames.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <utility>

namespace platform {

namespace {

struct NamedCodePage {
    unsigned CodePage;
    const char* Name;
};

// Code pages whose iconv name is not simply "CP" + number.
constexpr NamedCodePage kIconvNames[] = {
    {65001, "UTF-8"},       {65000, "UTF-7"},         {1200, "UTF-16LE"},
    {1201, "UTF-16BE"},     {12000, "UTF-32LE"},      {12001, "UTF-32BE"},
    {20127, "ASCII"},       {28591, "ISO-8859-1"},    {28592, "ISO-8859-2"},
    {28593, "ISO-8859-3"},  {28594, "ISO-8859-4"},    {28595, "ISO-8859-5"},
    {28596, "ISO-8859-6"},  {708, "ISO-8859-6"},      {28597, "ISO-8859-7"},
    {28598, "ISO-8859-8"},  {38598, "ISO-8859-8"},    {28599, "ISO-8859-9"},
    {28603, "ISO-8859-13"}, {28605, "ISO-8859-15"},   {50220, "ISO-2022-JP"},
    {50221, "ISO-2022-JP"}, {50222, "ISO-2022-JP-2"}, {50225, "ISO-2022-KR"},
    {50227, "ISO-2022-CN"}, {50229, "ISO-2022-CN"},   {51932, "EUC-JP"},
    {20936, "GB2312"},      {936, "CP936"},           {52936, "HZ-GB-2312"},
    {54936, "GB18030"},     {51936, "EUC-CN"},        {20866, "KOI8-R"},
    {21866, "KOI8-U"},      {51949, "EUC-KR"},        {10000, "MACINTOSH"},
    {10007, "MAC-CYRILLIC"}, {10029, "MAC-CENTRALEUROPE"}, {20261, "T.61-8BIT"},
    {858, "IBM858"},        {1047, "IBM1047"},
};

// The UTF-16 form used between the two halves of a conversion.
constexpr const char* kUtf16Native =
    std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

// EBCDIC and other IBM code pages go by IBM<n> in iconv; the Windows
// numbers 20273 ... 20924 are IBM273 ... IBM924.
bool IsIbmNumbered(unsigned cp)
{
    return cp == 37 || cp == 500 || cp == 870 || cp == 875 || cp == 1026 ||
           (cp >= 1140 && cp <= 1149) || (cp >= 20273 && cp <= 20924);
}

class TIconv {
public:
    TIconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~TIconv()
    {
        if (Ok())
            iconv_close(cd_);
    }
    TIconv(const TIconv&) = delete;
    TIconv& operator=(const TIconv&) = delete;

    bool Ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts as much of [in, in + inLeft) as possible, appending to out.
    // Returns 0 when all input was taken, else the errno that stopped it
    // (EILSEQ or EINVAL); in and inLeft are advanced past what was taken.
    int Convert(const char*& in, std::size_t& inLeft, std::string& out)
    {
        for (;;) {
            char* src = const_cast<char*>(in);
            const int err = Step(&src, &inLeft, out);
            in = src;
            if (err != E2BIG)
                return err;
        }
    }

    // Ends the conversion: writes what the converter still holds, and the
    // sequence that returns a stateful encoding to its initial state.
    void Finish(std::string& out)
    {
        while (Step(nullptr, nullptr, out) == E2BIG) {
        }
    }

private:
    int Step(char** src, std::size_t* srcLeft, std::string& out)
    {
        const std::size_t used = out.size();
        const std::size_t room = std::max<std::size_t>(64, (srcLeft ? *srcLeft : 0) * 2);
        out.resize(used + room);
        char* dst = out.data() + used;
        std::size_t dstLeft = room;
        const std::size_t rc = iconv(cd_, src, srcLeft, &dst, &dstLeft);
        const int err = rc == static_cast<std::size_t>(-1) ? errno : 0;
        out.resize(out.size() - dstLeft);
        return err;
    }

    iconv_t cd_;
};

} // namespace

std::string IconvNameOfCodePage(unsigned codePage)
{
    for (const auto& e : kIconvNames)
        if (e.CodePage == codePage)
            return e.Name;
    if (IsIbmNumbered(codePage))
    {
        const std::string number = std::to_string(codePage >= 20000 ? codePage - 20000 : codePage);
        return "IBM" + std::string(number.size() < 3 ? 3 - number.size() : 0, '0') + number;
    }
    if (codePage == 0 || codePage > 65535)
        return {};
    return "CP" + std::to_string(codePage);
}

bool CodePageAvailable(unsigned codePage)
{
    const std::string name = IconvNameOfCodePage(codePage);
    return !name.empty() && TIconv(name.c_str(), kUtf16Native).Ok();
}

std::u16string CodePageToUtf16(std::string_view text, unsigned codePage)
{
    const std::string name = IconvNameOfCodePage(codePage);
    if (name.empty() || text.empty())
        return {};
    TIconv cd(kUtf16Native, name.c_str());
    if (!cd.Ok())
        return {};
    std::string wide;
    const char* in = text.data();
    std::size_t left = text.size();
    const char16_t question = u'?';
    while (left > 0) {
        const int err = cd.Convert(in, left, wide);
        if (err == 0)
            break;
        // A byte that starts no valid character (or a truncated one at the
        // end) stands for one replacement character.
        wide.append(reinterpret_cast<const char*>(&question), sizeof question);
        if (err != EILSEQ)
            break;
        ++in;
        --left;
    }
    // Decoders that hold a letter back for a combining mark that may follow
    // (windows-1255, windows-1258) give it up only when flushed.
    cd.Finish(wide);
    std::u16string result(wide.size() / 2, u'\0');
    std::memcpy(result.data(), wide.data(), result.size() * sizeof(char16_t));
    return result;
}

std::string Utf16ToCodePage(std::u16string_view text, unsigned codePage)
{
    const std::string name = IconvNameOfCodePage(codePage);
    if (name.empty() || text.empty())
        return {};
    TIconv cd(name.c_str(), kUtf16Native);
    if (!cd.Ok())
        return {};
    std::string out;
    const char* in = reinterpret_cast<const char*>(text.data());
    std::size_t left = text.size() * sizeof(char16_t);
    const char16_t question[] = u"?";
    while (left > 0) {
        const int err = cd.Convert(in, left, out);
        if (err == 0)
            break;
        // The replacement goes through the same converter, so that a
        // stateful target stays consistent and an EBCDIC target gets its "?".
        const char* q = reinterpret_cast<const char*>(question);
        std::size_t qLeft = sizeof(char16_t);
        if (cd.Convert(q, qLeft, out) != 0)
            out.push_back('?');
        if (err != EILSEQ)
            break;
        char16_t units[2] = {0, 0};
        std::memcpy(units, in, std::min(left, sizeof units));
        const bool pair = left >= 4 && units[0] >= 0xD800 && units[0] <= 0xDBFF && units[1] >= 0xDC00 &&
                          units[1] <= 0xDFFF;
        const std::size_t skip = std::min<std::size_t>(pair ? 4 : 2, left);
        in += skip;
        left -= skip;
    }
    cd.Finish(out);
    return out;
}

} // namespace platform
