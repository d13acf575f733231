#include "mime/Charsets.h"

#include "platform/CodePageConv.h"
#include "platform/CodePages.h"

#include <algorithm>
#include <string_view>

namespace mime {

namespace {

struct TRow {
    std::uint32_t CodePage;
    const char* Names;
    const char* DisplayName;
};

// The named rows in search order (rows 2 ... 79).
constexpr TRow kRows[] = {
    {65001, "utf-8", "Unicode (UTF-8)"},
    {1250, "windows-1250", "Central European (Windows)"},
    {1251, "windows-1251", "Cyrillic (Windows)"},
    {1252, "windows-1252", "Western European (Windows)"},
    {1253, "windows-1253", "Greek (Windows)"},
    {1254, "windows-1254", "Turkish (Windows)"},
    {1255, "windows-1255", "Hebrew (Windows)"},
    {1256, "windows-1256", "Arabic (Windows)"},
    {1257, "windows-1257", "Baltic (Windows)"},
    {1258, "windows-1258", "Vietnamese (Windows)"},
    {28591, "iso-8859-1 iso_8859-1:1987 iso-ir-100 iso_8859-1 latin1 l1 ibm819 cp819 csisoatin1",
     "Western European (ISO)"},
    {28592, "iso-8859-2 iso_8859-2:1987 iso-ir-101 iso_8859-2 latin2 l2 csisolatin2",
     "Central European (ISO)"},
    {28593, "iso-8859-3 iso_8859-3:1988 iso-ir-109 iso_8859-3 latin3 l3 csisolatin3", "Latin 3 (ISO)"},
    {28594, "iso-8859-4 iso_8859-4:1988 iso-ir-110 iso_8859-4 latin4 l4 csisolatin4", "Baltic (ISO)"},
    {28595, "iso-8859-5 iso_8859-5:1988 iso-ir-144 iso_8859-5 cyrillic csisolatincyrillic",
     "Cyrillic (ISO)"},
    {28596,
     "iso-8859-6 iso_8859-6:1987 iso-ir-127 iso_8859-6 ecma-114 asmo-708 arabic csisolatinarabic",
     "Arabic (ISO)"},
    {28597,
     "iso-8859-7 iso_8859-7:1987 iso-ir-126 iso_8859-7 elot_928 ecma-118 greek greek8 csisolatingreek",
     "Greek (ISO)"},
    {28598, "iso-8859-8 iso_8859-8:1988 iso-ir-138 iso_8859-8 hebrew csisolatinhebrew",
     "Hebrew (ISO-Visual)"},
    {38598, "iso-8859-8-i csiso88598i", "Hebrew (ISO-Logical)"},
    {28599, "iso-8859-9 iso_8859-9:1989 iso-ir-148 iso_8859-9 latin5 l5 csisolatin5", "Turkish (ISO)"},
    {28603, "iso-8859-13", "Estonian (ISO)"},
    {28605, "iso-8859-15 iso_8859-15 latin-9", "Latin 9 (ISO)"},
    {50220, "iso-2022-jp", "Japanese (JIS)"},
    {50221, "csiso2022jp", ""},
    {50222, "iso-2022-jp-2 csiso2022jp2", ""},
    {50225, "iso-2022-kr csiso2022kr", "Korean (ISO)"},
    {50229, "iso-2022-cn", ""},
    {50227, "x-cp50227", ""},
    {51932, "euc-jp cseucpkdfmtjapanese extended_unix_code_packed_format_for_japanese",
     "Japanese (EUC)"},
    {20936, "gb_2312-80 iso-ir-58 chinese csiso58gb231280", ""},
    {936, "gb2312 csgb2312 gbk cp936 ms936 windows-936", "Chinese Simplified (GB2312)"},
    {52936, "hz-gb-2312", "Chinese Simplified (HZ)"},
    {54936, "gb18030", "Chinese Simplified (GB18030)"},
    {51936, "euc-cn", "Chinese Simplified (EUC)"},
    {20866, "koi8-r cskoi8r", "Cyrillic (KOI8-R)"},
    {21866, "koi8-u", "Cyrillic (KOI8-U)"},
    {1200, "utf-16 utf-16le", "Unicode"},
    {1201, "utf-16be unicodefffe", "Unicode (Big-Endian)"},
    {65000, "utf-7 unicode-1-1-utf-7 csunicode11utf7", "Unicode (UTF-7)"},
    {932, "shift_jis ms_kanji csshiftjis", "Japanese (Shift-JIS)"},
    {950, "big5 csbig5 big-5 cp950", "Chinese Traditional (Big5)"},
    {949, "ks_c_5601-1987 iso-ir-149 ks_c_5601-1989 ksc_5601 korean csksc56011987", "Korean"},
    {51949, "euc-kr", "Korean (EUC)"},
    {874, "windows-874", "Thai (Windows)"},
    {37, "ibm037 cp037 ebcdic-cp-us ebcdic-cp-ca ebcdic-cp-wt ebcdic-cp-n csibm037", ""},
    {437, "ibm437 cp437 437 cspc8codepage437", "OEM United States"},
    {500, "ibm500 cp500 ebcdic-cp-be ebcdic-cp-ch csibm500", ""},
    {850, "ibm850 cp850 cspc850multilingual", "Western European (DOS)"},
    {852, "ibm852 852 cp852 cspcp852", "Central European (DOS)"},
    {855, "ibm855 cp855 855 csibm855", ""},
    {857, "ibm857 cp857 857 csibm857", ""},
    {858, "ibm00858 ccsid00858 cp00858 pc-multilingual-850+euro", ""},
    {860, "ibm860 cp860 860 csibm860", ""},
    {861, "ibm861 cp861 861 cp-is csibm861", ""},
    {862, "ibm862 cp862 862 cspc862latinhebrew", ""},
    {863, "ibm863 cp863 863 csibm863", ""},
    {864, "ibm864 cp864 csibm864", ""},
    {865, "ibm865 cp865 865 csibm865", ""},
    {866, "ibm866 cp866 866 csibm866", "Cyrillic (DOS)"},
    {869, "ibm869 cp869 869 cp-gr csibm869", ""},
    {870, "ibm870 cp870 ebcdic-cp-roece ebcdic-cp-yu csibm870", ""},
    {1026, "ibm1026 cp1026 csibm1026", ""},
    {1047, "ibm1047 ibm-1047", ""},
    {1140, "ibm01140 ccsid01140 cp01140 ebcdic-us-37+euro", ""},
    {1141, "ibm01141 ccsid01141 cp01141 ebcdic-de-273+euro", ""},
    {1142, "ibm01142 ccsid01142 cp01142 ebcdic-dk-277+euro ebcdic-no-277+euro", ""},
    {1143, "ibm01143 ccsid01143 cp01143 ebcdic-fi-278+euro ebcdic-se-278+euro", ""},
    {1144, "ibm01144 ccsid01144 cp01144 ebcdic-it-280+euro", ""},
    {1145, "ibm01145 ccsid01145 cp01145 ebcdic-es-284+euro", ""},
    {1146, "ibm01146 ccsid01146 cp01146 ebcdic-gb-285+euro", ""},
    {1147, "ibm01147 ccsid01147 cp01147 ebcdic-fr-297+euro", ""},
    {1148, "ibm01148 ccsid01148 cp01148 ebcdic-international-500+euro", ""},
    {1149, "ibm01149 ccsid01149 cp01149 ebcdic-is-871+euro", ""},
    {10000, "macintosh mac csmacintosh", "Western European (Mac)"},
    {12000, "utf-32 utf-32le", "Unicode (UTF-32)"},
    {12001, "utf-32be", "Unicode (UTF-32 Big-Endian)"},
    {20127, "us-ascii ascii us ansi_x3.4-1968 iso-ir-6 ansi_x3.4-1986 iso_646.irv:1991 iso646-us ibm367 cp367 csascii",
     "US-ASCII"},
    {20261, "t.61-8bit t.61-7bit iso-ir-103 iso-ir-102 csiso103t618bit csiso102t617bit", ""},
};
static_assert(std::size(kRows) + 2 == kCharsetCount);

TCharsetInfos BuildTable()
{
    TCharsetInfos t;
    const std::uint32_t ansi = platform::SystemAnsiCodePage();
    t[0] = {0, ansi, "", "System ANSI code page"};
    t[1] = {1, kCpUnknown, "", ""};
    for (std::size_t i = 0; i < std::size(kRows); ++i) {
        const auto& r = kRows[i];
        t[i + 2] = {static_cast<unsigned>(i + 2), r.CodePage, r.Names, r.DisplayName};
        if (r.CodePage == ansi && t[0].Names.empty())
            t[0].Names = r.Names;
    }
    return t;
}

bool HasName(const std::string& names, const std::string& name)
{
    std::string_view rest = names;
    while (!rest.empty()) {
        const auto space = rest.find(' ');
        if (rest.substr(0, space) == name)
            return true;
        rest = space == std::string_view::npos ? std::string_view{} : rest.substr(space + 1);
    }
    return false;
}

const TCharsetInfo* RowOfCodePage(std::uint32_t codePage)
{
    if (codePage == 708)
        codePage = 28596;
    for (const auto& row : CharsetInfos())
        if (row.Id != 1 && row.CodePage == codePage)
            return &row;
    return nullptr;
}

struct TRange {
    std::uint32_t First, Last;
};

constexpr TRange kSingleByte[] = {
    {37, 37},       {437, 437},     {500, 500},     {708, 708},     {720, 720},
    {737, 737},     {775, 775},     {850, 850},     {852, 852},     {855, 855},
    {857, 858},     {860, 866},     {869, 869},     {874, 875},     {1026, 1026},
    {1140, 1145},   {1147, 1147},   {1149, 1149},   {1250, 1258},   {10000, 10000},
    {10004, 10007}, {10010, 10010}, {10017, 10017}, {10021, 10021}, {10029, 10029},
    {10079, 10079}, {10081, 10082}, {20105, 20108}, {20127, 20127}, {20269, 20269},
    {20273, 20273}, {20277, 20278}, {20280, 20280}, {20284, 20285}, {20290, 20290},
    {20297, 20297}, {20420, 20420}, {20423, 20424}, {20833, 20833}, {20838, 20838},
    {20866, 20866}, {20871, 20871}, {20880, 20880}, {20905, 20905}, {20924, 20924},
    {21025, 21025}, {21027, 21027}, {21866, 21866}, {28591, 28599}, {28605, 28605},
    {38598, 38598},
};

constexpr TRange kStateful[] = {
    {50220, 50222}, {50225, 50225}, {50227, 50227}, {50229, 50229}, {51932, 51932},
    {52936, 52936}, {54936, 54936}, {57002, 57011},
};

template <std::size_t N>
bool InRanges(const TRange (&ranges)[N], std::uint32_t cp)
{
    return std::any_of(std::begin(ranges), std::end(ranges),
                       [cp](const TRange& r) { return cp >= r.First && cp <= r.Last; });
}

unsigned char ByteAt(const std::string& s, std::size_t i)
{
    return static_cast<unsigned char>(s[i]);
}

bool Between(unsigned char b, unsigned char lo, unsigned char hi)
{
    return b >= lo && b <= hi;
}

std::size_t Utf8Length(const std::string& s, std::size_t i)
{
    const unsigned char lead = ByteAt(s, i);
    const std::size_t want = Between(lead, 0xC2, 0xDF) ? 2
                           : Between(lead, 0xE0, 0xEF) ? 3
                           : Between(lead, 0xF0, 0xF4) ? 4
                                                       : 1;
    std::size_t n = 1;
    while (n < want && i + n < s.size() && Between(ByteAt(s, i + n), 0x80, 0xBF))
        ++n;
    return n == want ? n : 1;
}

std::size_t Utf16Length(const std::string& s, std::size_t i, bool bigEndian)
{
    if (i + 1 >= s.size())
        return s.size() - i;
    const unsigned high = bigEndian ? ByteAt(s, i) : ByteAt(s, i + 1);
    return (Between(static_cast<unsigned char>(high), 0xD8, 0xDB) && i + 3 < s.size()) ? 4 : 2;
}

// Lead-byte rules of the double-byte and EUC code pages.
std::size_t LeadByteLength(const std::string& s, std::size_t i, std::uint32_t cp)
{
    const unsigned char b = ByteAt(s, i);
    switch (cp) {
    case 932:
        return (Between(b, 0x81, 0x9F) || Between(b, 0xE0, 0xFC)) ? 2 : 1;
    case 51932:
        return b == 0x8F ? 3 : (b == 0x8E || Between(b, 0xA1, 0xFE)) ? 2 : 1;
    case 54936:
        if (!Between(b, 0x81, 0xFE))
            return 1;
        return (i + 1 < s.size() && Between(ByteAt(s, i + 1), 0x30, 0x39)) ? 4 : 2;
    case 936: case 949: case 950: case 20936: case 51936: case 51949:
        return Between(b, 0x81, 0xFE) ? 2 : 1;
    default:
        return 1;
    }
}

} // namespace

const TCharsetInfos& CharsetInfos()
{
    static const TCharsetInfos table = BuildTable();
    return table;
}

bool CharsetToCodePage(const std::string& charset, std::uint32_t& codePage)
{
    codePage = kCpUnknown;
    if (charset.empty())
        return false;
    for (const auto& row : CharsetInfos()) {
        if (!HasName(row.Names, charset))
            continue;
        if (!platform::CodePageAvailable(row.CodePage)) {
            codePage = kCpUnavailable;
            return false;
        }
        codePage = row.CodePage;
        return true;
    }
    return false;
}

std::string CodePageToCharset(std::uint32_t codePage)
{
    const TCharsetInfo* row = RowOfCodePage(codePage);
    if (!row)
        return {};
    return row->Names.substr(0, row->Names.find(' '));
}

std::string ConvertCodePage(const std::string& text, std::uint32_t from, std::uint32_t to)
{
    if (text.empty() || from == to)
        return text;
    const std::u16string wide = platform::CodePageToUtf16(text, from);
    if (wide.empty())
        return {};
    return platform::Utf16ToCodePage(wide, to);
}

std::uint32_t AnsiCodePage()
{
    return platform::SystemAnsiCodePage();
}

bool AnsiIsSingleByte()
{
    return IsSingleByteCodePage(AnsiCodePage());
}

bool IsSingleByteCodePage(std::uint32_t codePage)
{
    return InRanges(kSingleByte, codePage);
}

bool IsStatefulCodePage(std::uint32_t codePage)
{
    return InRanges(kStateful, codePage);
}

std::size_t CharByteCount(const std::string& text, std::size_t index, std::uint32_t codePage)
{
    if (index >= text.size())
        return 0;
    std::size_t n = 1;
    switch (codePage) {
    case kCpUtf8: n = Utf8Length(text, index); break;
    case 1200: n = Utf16Length(text, index, false); break;
    case 1201: n = Utf16Length(text, index, true); break;
    case 12000: case 12001: n = 4; break;
    default: n = LeadByteLength(text, index, codePage); break;
    }
    return std::min(n, text.size() - index);
}

} // namespace mime
