#include "mime/TextEncoders.h"

#include "mime/Charsets.h"

#include <algorithm>

namespace mime {

namespace {

int TextLength(const std::string& text)
{
    return static_cast<int>(std::min<std::size_t>(text.size(), kPositionPastEnd - 1));
}

// Byte at a 1-based position.
unsigned char At(const std::string& text, int pos)
{
    return static_cast<unsigned char>(text[static_cast<std::size_t>(pos) - 1]);
}

bool MatchesAt(const std::string& text, int pos, const std::string& what)
{
    return text.compare(static_cast<std::size_t>(pos) - 1, what.size(), what) == 0;
}

// State of one WrapText scan.
struct TWrapScan {
    int Column = 1;
    int BreakPos = 0;
    char Quote = 0;
    bool HardBreak = false;
};

// Looks at the byte at pos (steps 2 to 5 of a scan); pos may move to the
// end of a matched break string.
void ScanByte(const std::string& text, const std::string& breakString, const TByteSet& breakChars,
              int maxColumn, const TByteSet& quoteChars, bool forceBreak, int start, int& pos,
              TWrapScan& s)
{
    const unsigned char c = At(text, pos);
    if (!breakString.empty() && c == static_cast<unsigned char>(breakString[0]) && s.Quote == 0 &&
        MatchesAt(text, pos, breakString)) {
        pos += static_cast<int>(breakString.size()) - 1;
        s.BreakPos = pos;
        s.HardBreak = true;
    } else if (breakChars.Has(c) && s.Quote == 0) {
        s.BreakPos = pos;
    } else if (quoteChars.Has(c) && (s.Quote == 0 || s.Quote == static_cast<char>(c))) {
        if (s.Quote != 0) {
            s.Quote = 0;
            if (forceBreak && s.Column >= maxColumn && s.BreakPos < start)
                s.BreakPos = pos;
        } else {
            s.Quote = static_cast<char>(c);
            if (forceBreak && pos > start)
                s.BreakPos = pos - 1;
        }
    } else if (forceBreak && s.Quote == 0 && s.Column >= maxColumn && s.BreakPos < start) {
        s.BreakPos = pos;
    }
}

// A run of multi-byte characters is cut like any other run under force-break:
// before the character that would pass maxColumn, or after the one that
// reaches it, so that no line outgrows maxColumn and no character is split.
void ForceBreakAroundCharacter(int maxColumn, bool forceBreak, int start, int pos, int n, TWrapScan& s)
{
    if (!forceBreak || s.Quote != 0 || s.BreakPos >= start)
        return;
    const int lastColumn = s.Column + n - 1;
    if (lastColumn > maxColumn && pos > start)
        s.BreakPos = pos - 1;
    else if (lastColumn >= maxColumn)
        s.BreakPos = pos + n - 1;
}

bool IsQpLiteral(unsigned char c, const TByteSet& extraChars)
{
    return c >= 32 && c <= 126 && c != '=' && !extraChars.Has(c);
}

void AppendQpByte(unsigned char c, const TByteSet& extraChars, bool spaceAsUnderscore, std::string& out)
{
    if (c == ' ' && spaceAsUnderscore)
        out.push_back('_');
    else if (IsQpLiteral(c, extraChars))
        out.push_back(static_cast<char>(c));
    else
        AppendQpEscape(c, out);
}

} // namespace

void AppendQpEscape(unsigned char c, std::string& out)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    out.push_back('=');
    out.push_back(kHex[c >> 4]);
    out.push_back(kHex[c & 15]);
}

bool NeedsEncoding(const std::string& text)
{
    return std::any_of(text.begin(), text.end(), [](char ch) {
        const auto c = static_cast<unsigned char>(ch);
        return !(c == '\t' || c == '\n' || c == '\r' || (c >= 32 && c <= 126));
    });
}

std::string WrapText(const std::string& text, const std::string& breakString, const TByteSet& breakChars,
                     int maxColumn, const TByteSet& quoteChars, int& position, bool forceBreak,
                     std::uint32_t codePage, bool multiByte)
{
    const int len = TextLength(text);
    const int start = std::max(position, 1);
    const bool stepChars = multiByte && codePage != kCpUtf7;
    TWrapScan s;
    int pos = start;
    bool cut = false;
    while (pos <= len) {
        const std::size_t n = stepChars ? CharByteCount(text, static_cast<std::size_t>(pos) - 1, codePage) : 1;
        if (n > 1) {
            ForceBreakAroundCharacter(maxColumn, forceBreak, start, pos, static_cast<int>(n), s);
            pos += static_cast<int>(n) - 1;
            s.Column += static_cast<int>(n) - 1;
        } else {
            ScanByte(text, breakString, breakChars, maxColumn, quoteChars, forceBreak, start, pos, s);
        }
        ++pos;
        ++s.Column;
        if (s.Quote != 0)
            continue;
        cut = s.HardBreak || (s.Column > maxColumn && s.BreakPos >= start);
        if (cut)
            break;
    }
    if (!cut) {
        position = kPositionPastEnd;
        return start <= len ? text.substr(static_cast<std::size_t>(start) - 1) : std::string{};
    }
    const int lineEnd = s.HardBreak ? s.BreakPos - static_cast<int>(breakString.size()) : s.BreakPos;
    std::string line = text.substr(static_cast<std::size_t>(start) - 1, static_cast<std::size_t>(std::max(lineEnd - start + 1, 0)));
    position = s.BreakPos + 1;
    if (!s.HardBreak && position < len && At(text, position) == '\r' && At(text, position + 1) == '\n')
        position += 2;
    return line;
}

std::string EncodeQuotedPrintableSegment(const std::string& text, int limit, const TByteSet& extraChars,
                                         bool spaceAsUnderscore, int& position, bool limitLength,
                                         std::uint32_t codePage, bool multiByte)
{
    const int len = TextLength(text);
    // Without a length limit the whole rest must fit: three characters per
    // byte, and one more because a byte is written only below the cap.
    const std::size_t cap = static_cast<std::size_t>(
        std::max<long long>(limitLength ? limit : 3LL * len + 1, 16));
    if (position < 1)
        position = 1;
    std::string out;
    while (position <= len) {
        const std::size_t n = multiByte ? CharByteCount(text, static_cast<std::size_t>(position) - 1, codePage) : 1;
        const unsigned char c = At(text, position);
        const bool fits = n > 1 ? out.size() + 3 * n < cap
                        : (IsQpLiteral(c, extraChars) || (c == ' ' && spaceAsUnderscore)) ? out.size() + 1 < cap
                                                                                          : out.size() + 3 < cap;
        if (!fits) {
            out.push_back('=');
            return out;
        }
        for (std::size_t k = 0; k < n; ++k)
            AppendQpByte(At(text, position + static_cast<int>(k)), extraChars, spaceAsUnderscore, out);
        position += static_cast<int>(n);
    }
    return out;
}

} // namespace mime
