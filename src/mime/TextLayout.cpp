#include "mime/TextLayout.h"

namespace mime {

namespace {

bool IsHtmlBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

// UTF-8 of the characters that show nothing in a plain text.
constexpr std::string_view kInvisible[] = {
    "\xC2\xAD",      // soft hyphen
    "\xE2\x80\x8B",  // zero-width space
    "\xE2\x80\x8C",  // zero-width non-joiner
    "\xE2\x80\x8D",  // zero-width joiner
    "\xE2\x81\xA0",  // word joiner
    "\xEF\xBB\xBF",  // zero-width no-break space (byte order mark)
};
constexpr std::string_view kNoBreakSpace = "\xC2\xA0";

std::size_t InvisibleLength(std::string_view text, std::size_t at)
{
    for (std::string_view c : kInvisible)
        if (text.substr(at, c.size()) == c)
            return c.size();
    return 0;
}

// The first bytes of the characters that Text treats specially.
bool MayStartSpecial(char c)
{
    return IsHtmlBlank(c) || c == '\xC2' || c == '\xE2' || c == '\xEF';
}

std::string_view TrimBlanks(std::string_view s)
{
    while (!s.empty() && IsHtmlBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsHtmlBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

} // namespace

void TTextLayout::StartLine()
{
    if (started_)
        return;
    line_.clear();
    for (TPrefix& p : prefixes_) {
        line_ += p.Used ? p.Rest : p.First;
        p.Used = true;
    }
    textStart_ = line_.size();
    started_ = true;
    pendingSpace_ = false;
}

void TTextLayout::Append(std::string_view piece)
{
    StartLine();
    if (pendingSpace_)
        line_ += ' ';
    pendingSpace_ = false;
    line_ += piece;
}

void TTextLayout::HardSpace()
{
    Append(" ");
}

void TTextLayout::Text(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        if (IsHtmlBlank(text[i])) {
            pendingSpace_ = started_;
            ++i;
        } else if (const std::size_t n = InvisibleLength(text, i)) {
            i += n;
        } else if (text.substr(i, kNoBreakSpace.size()) == kNoBreakSpace) {
            HardSpace();
            i += kNoBreakSpace.size();
        } else {
            std::size_t j = i + 1;
            while (j < text.size() && !MayStartSpecial(text[j]))
                ++j;
            Append(text.substr(i, j - i));
            i = j;
        }
    }
}

void TTextLayout::Preformatted(std::string_view text)
{
    for (char c : text) {
        if (c == '\n')
            Break();
        else if (c != '\r')
            Append(std::string_view(&c, 1));
    }
}

void TTextLayout::Word(std::string_view word)
{
    pendingSpace_ = started_;
    Append(word);
}

void TTextLayout::Line(std::string_view text)
{
    EndLine();
    if (text.empty()) {
        lines_.emplace_back();
        return;
    }
    Append(text);
    EndLine();
}

void TTextLayout::EndLine()
{
    if (!started_)
        return;
    while (line_.size() > textStart_ && IsHtmlBlank(line_.back()))
        line_.pop_back();
    // A line whose text was only blanks is a blank line, without its prefix.
    lines_.push_back(line_.size() > textStart_ ? line_ : std::string());
    line_.clear();
    started_ = false;
    pendingSpace_ = false;
}

void TTextLayout::Break()
{
    if (started_)
        EndLine();
    else
        lines_.emplace_back();
}

void TTextLayout::EndParagraph()
{
    EndLine();
    lines_.emplace_back();
}

void TTextLayout::PushPrefix(std::string first, std::string rest)
{
    prefixes_.push_back({std::move(first), std::move(rest), false});
}

void TTextLayout::PopPrefix()
{
    if (!prefixes_.empty())
        prefixes_.pop_back();
}

TTextLayout::TMark TTextLayout::Mark() const
{
    return {lines_.size(), started_ ? line_.size() : std::string::npos};
}

std::string TTextLayout::TextSince(const TMark& mark) const
{
    std::string text;
    for (std::size_t i = mark.Line; i <= lines_.size(); ++i) {
        const bool current = i == lines_.size();
        if (current && !started_)
            break;
        const std::string& line = current ? line_ : lines_[i];
        std::size_t from = current ? textStart_ : 0;
        if (i == mark.Line && mark.Column != std::string::npos)
            from = mark.Column;
        if (from < line.size())
            text.append(line, from).push_back(' ');
    }
    return std::string(TrimBlanks(text));
}

std::vector<std::string> TTextLayout::Finish()
{
    EndLine();
    std::vector<std::string> out;
    for (std::string& line : lines_) {
        if (line.empty() && (out.empty() || out.back().empty()))
            continue;
        out.push_back(std::move(line));
    }
    if (!out.empty() && out.back().empty())
        out.pop_back();
    lines_.clear();
    return out;
}

} // namespace mime
