#include "mime/HeaderEncoding.h"

#include "mime/Base64.h"
#include "mime/Charsets.h"
#include "mime/MimeException.h"
#include "mime/TextEncoders.h"
#include "platform/CodePageConv.h"
#include "platform/TextUtil.h"

#include <algorithm>

namespace mime {

namespace {

constexpr int kMinFoldColumn = 25;
constexpr int kUnfoldedMaxColumn = 1022;
constexpr int kHeaderMaxColumn = 76;
const std::string kWordJoin = "\r\n\t";

// Bytes escaped in "Q" words of the stateful path.
constexpr TByteSet kStatefulQEscapes =
    TByteSet{}.AddRange(0, 31).AddRange(127, 255) + kRfc822Specials + kQExtraChars;

char CheckedLetter(char encType, const std::string& charset)
{
    if (charset.size() < 2)
        throw EMimeException("Function 'HdrEncodeInLine', invalid CharSet: " + charset);
    const char letter = encType == 'b' ? 'B' : encType == 'q' ? 'Q' : encType;
    if (letter != 'B' && letter != 'Q')
        throw EMimeException("Function 'HdrEncodeInLine', invalid EncType: " + std::string(1, encType));
    return letter;
}

std::string Prefix(const std::string& charset, char letter)
{
    return "=?" + platform::LowerAscii(charset) + "?" + letter + "?";
}

std::string JoinWords(const std::vector<std::string>& words)
{
    std::string out;
    for (const auto& w : words) {
        if (!out.empty())
            out += kWordJoin;
        out += w;
    }
    return out;
}

std::size_t Base64Size(std::size_t n)
{
    return (n + 2) / 3 * 4;
}

std::vector<std::string> QWords(const std::string& text, const TByteSet& specials, const std::string& prefix,
                                bool multiByte, std::uint32_t codePage, bool fold, int maxColumn)
{
    const TByteSet escapes = specials + kQExtraChars;
    const int limit = maxColumn - static_cast<int>(prefix.size()) - 2;
    std::vector<std::string> words;
    int pos = 1;
    while (pos <= static_cast<int>(text.size())) {
        std::string seg = EncodeQuotedPrintableSegment(text, limit, escapes, true, pos, fold, codePage, multiByte);
        if (!seg.empty() && seg.back() == '=')
            seg.pop_back();
        words.push_back(prefix + seg + "?=");
    }
    return words;
}

std::vector<std::string> BWordsSingleByte(const std::string& text, const std::string& prefix, int maxColumn)
{
    const std::size_t limit = static_cast<std::size_t>(std::max(maxColumn - 2, 0));
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    std::vector<std::string> words;
    std::string word = prefix;
    for (std::size_t i = 0; i < text.size(); i += 3) {
        if (word.size() > prefix.size() && word.size() + 4 + 2 > limit) {
            words.push_back(word + "?=");
            word = prefix;
        }
        AppendBase64(bytes + i, std::min<std::size_t>(3, text.size() - i), word);
    }
    words.push_back(word + "?=");
    return words;
}

std::vector<std::string> BWordsMultiByte(const std::string& text, const std::string& prefix,
                                         std::uint32_t codePage, int maxColumn)
{
    const std::size_t room = static_cast<std::size_t>(std::max(maxColumn - static_cast<int>(prefix.size()) - 4, 0));
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t j = i;
        while (j < text.size()) {
            const std::size_t n = CharByteCount(text, j, codePage);
            if (j > i && Base64Size(j + n - i) > room)
                break;
            j += n;
            if (Base64Size(j - i) >= room)
                break;
        }
        words.push_back(prefix + Base64Encode(std::string_view(text).substr(i, j - i)) + "?=");
        i = j;
    }
    return words;
}

// Encoded size of converted bytes in a stateful-path word.
std::size_t StatefulEncodedSize(const std::string& bytes, char letter)
{
    if (letter == 'B')
        return Base64Size(bytes.size());
    std::size_t size = bytes.size();
    for (char c : bytes)
        if (c != ' ' && kStatefulQEscapes.Has(c))
            size += 2;
    return size;
}

std::string StatefulPayload(const std::string& bytes, char letter)
{
    if (letter == 'B')
        return Base64Encode(bytes);
    std::string out;
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == ' ')
            out.push_back('_');
        else if (kStatefulQEscapes.Has(c))
            AppendQpEscape(c, out);
        else
            out.push_back(ch);
    }
    return out;
}

bool IsHighSurrogate(char16_t u)
{
    return u >= 0xD800 && u <= 0xDBFF;
}

// Number of UTF-16 units from the start of rest that form the next word:
// all when they fit, else the longest run that fits (found by bisection),
// at least one character, never half a surrogate pair.
std::size_t NextRunLength(std::u16string_view rest, std::uint32_t codePage, char letter, std::size_t limit)
{
    auto fits = [&](std::size_t k) {
        return StatefulEncodedSize(platform::Utf16ToCodePage(rest.substr(0, k), codePage), letter) <= limit;
    };
    if (fits(rest.size()))
        return rest.size();
    std::size_t lo = 1, hi = std::min(rest.size(), std::max<std::size_t>(limit, 1)), best = 1;
    while (lo <= hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (fits(mid)) {
            best = mid;
            lo = mid + 1;
        } else {
            hi = mid - 1;
        }
    }
    if (best < rest.size() && IsHighSurrogate(rest[best - 1]))
        best = best > 1 ? best - 1 : 2;
    return best;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

// Where a header line may be folded without changing what a parser reads
// back: before a run of blanks (the blank then begins the next line) and, in
// an address list, after a comma between two addresses (the next line then
// begins with TAB). Folds are never put inside quoted strings or angle
// brackets of an address list, nor before the first character of the value.
class THeaderFolder {
public:
    THeaderFolder(TFoldStyle style, std::uint32_t codePage, bool multiByte)
        : style_(style), codePage_(codePage), multiByte_(multiByte)
    {
    }

    // Cuts one stretch of the line (the first, or one that follows a fold
    // already in it) into physical lines; no fold goes in before index from.
    void Fold(const std::string& text, std::size_t from, bool first, std::vector<std::string>& out);

private:
    enum class TCut { None, BeforeBlank, AfterComma };

    TCut CutAt(const std::string& text, std::size_t i, std::size_t from, std::size_t lastSolid) const;
    void Track(const std::string& text, std::size_t& i);

    TFoldStyle style_;
    std::uint32_t codePage_;
    bool multiByte_;
    bool quoted_ = false;
    int angle_ = 0;
};

THeaderFolder::TCut THeaderFolder::CutAt(const std::string& text, std::size_t i, std::size_t from,
                                         std::size_t lastSolid) const
{
    if (i <= from || i >= lastSolid || quoted_ || angle_ > 0)
        return TCut::None;
    if (IsBlank(text[i]) && !IsBlank(text[i - 1]))
        return TCut::BeforeBlank;
    if (style_ == TFoldStyle::AddressList && text[i - 1] == ',' && !IsBlank(text[i]))
        return TCut::AfterComma;
    return TCut::None;
}

// Steps over the character at i, following quotes and angle brackets of an
// address list.
void THeaderFolder::Track(const std::string& text, std::size_t& i)
{
    const std::size_t n = multiByte_ ? std::max<std::size_t>(CharByteCount(text, i, codePage_), 1) : 1;
    if (n == 1 && style_ == TFoldStyle::AddressList) {
        const char c = text[i];
        if (quoted_ && c == '\\' && i + 1 < text.size() && (text[i + 1] == '"' || text[i + 1] == '\\'))
            ++i;
        else if (c == '"')
            quoted_ = !quoted_;
        else if (!quoted_ && c == '<')
            ++angle_;
        else if (!quoted_ && c == '>' && angle_ > 0)
            --angle_;
    }
    i += n;
}

void THeaderFolder::Fold(const std::string& text, std::size_t from, bool first, std::vector<std::string>& out)
{
    const std::size_t lastSolid = text.find_last_not_of(" \t");
    if (lastSolid == std::string::npos) {
        if (first)
            out.push_back(text);  // a blank continuation line would end the header block
        return;
    }
    std::size_t start = 0;
    std::size_t fold = 0;
    std::string prefix;
    TCut foldCut = TCut::None;
    auto width = [&](std::size_t end) { return prefix.size() + end - start; };
    auto emit = [&](std::size_t end) {
        out.push_back(prefix + text.substr(start, end - start));
        prefix = foldCut == TCut::AfterComma ? "\t" : "";
        start = end;
    };
    for (std::size_t i = 0; i < text.size() && i <= lastSolid;) {
        const TCut cut = CutAt(text, i, from, lastSolid);
        if (cut != TCut::None) {
            if (width(i) > static_cast<std::size_t>(kHeaderMaxColumn) && fold > start)
                emit(fold);
            fold = i;
            foldCut = cut;
        }
        Track(text, i);
    }
    if (width(text.size()) > static_cast<std::size_t>(kHeaderMaxColumn) && fold > start)
        emit(fold);
    out.push_back(prefix + text.substr(start));
}

// Index of the first character of the value of a header line.
std::size_t ValueStart(const std::string& line)
{
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos)
        return 0;
    const std::size_t value = line.find_first_not_of(" \t", colon + 1);
    return value == std::string::npos ? line.size() : value;
}

} // namespace

std::string HdrEncodeInLine(const std::string& text, const TByteSet& specials, char encType, bool multiByte,
                            std::uint32_t codePage, bool fold, int maxColumn, const std::string& charset)
{
    if (fold && maxColumn < kMinFoldColumn)
        maxColumn = kMinFoldColumn;
    const char letter = CheckedLetter(encType, charset);
    if (text.empty())
        return {};
    const std::string prefix = Prefix(charset, letter);
    if (letter == 'Q')
        return JoinWords(QWords(text, specials, prefix, multiByte, codePage, fold, maxColumn));
    const int column = fold ? maxColumn : kUnfoldedMaxColumn;
    return JoinWords(multiByte ? BWordsMultiByte(text, prefix, codePage, column)
                               : BWordsSingleByte(text, prefix, column));
}

std::string EncodeStatefulHeaderText(std::uint32_t codePage, const std::string& charset, char encType,
                                     int maxColumn, bool fold, const std::string& text,
                                     std::uint32_t sourceCodePage)
{
    const char letter = (encType == 'B' || encType == 'b') ? 'B' : 'Q';
    const std::u16string wide = platform::CodePageToUtf16(text, sourceCodePage ? sourceCodePage : AnsiCodePage());
    if (wide.empty())
        return {};
    const std::string prefix = Prefix(charset, letter);
    const int limit = (fold ? maxColumn : kUnfoldedMaxColumn) - 4 - static_cast<int>(prefix.size()) - 2;
    const std::size_t room = static_cast<std::size_t>(std::max(limit, 1));
    std::vector<std::string> words;
    std::u16string_view rest = wide;
    while (!rest.empty()) {
        const std::size_t k = NextRunLength(rest, codePage, letter, room);
        const std::string bytes = platform::Utf16ToCodePage(rest.substr(0, k), codePage);
        if (bytes.empty())
            return {};
        words.push_back(prefix + StatefulPayload(bytes, letter) + "?=");
        rest.remove_prefix(k);
    }
    return JoinWords(words);
}

void FoldHeaderLine(std::vector<std::string>& headerLines, const std::string& line, std::uint32_t codePage,
                    bool multiByte, TFoldStyle style)
{
    THeaderFolder folder(style, codePage, multiByte);
    std::size_t start = 0;
    for (bool first = true;; first = false) {
        // A fold already in the line stays: CR LF before a blank.
        std::size_t end = line.find("\r\n", start);
        while (end != std::string::npos && (end + 2 >= line.size() || !IsBlank(line[end + 2])))
            end = line.find("\r\n", end + 1);
        const std::string stretch = line.substr(start, end == std::string::npos ? std::string::npos : end - start);
        folder.Fold(stretch, first ? ValueStart(stretch) : 0, first, headerLines);
        if (end == std::string::npos)
            return;
        start = end + 2;
    }
}

} // namespace mime
