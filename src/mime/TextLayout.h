#pragma once
// Plain-text lines built from pieces of running text, as a reader of a
// rendered document sees them: blanks between words collapse into one
// space, lines end where blocks end, list markers and quote marks stand
// before the lines they belong to, trailing blanks go, and runs of blank
// lines become one.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace mime {

class TTextLayout {
public:
    // Running text (UTF-8): blanks (space, TAB, CR, LF, FF) collapse into one
    // space between words; a no-break space stays a space of its own and
    // invisible characters (soft hyphen, zero-width spaces and joiners, byte
    // order mark) are left out.
    void Text(std::string_view text);
    // Text kept as written: each LF ends a line, CR is dropped, blanks stay.
    void Preformatted(std::string_view text);
    // A word set apart from the text before it by a space.
    void Word(std::string_view word);
    // A whole line as it is; an empty one is a blank line.
    void Line(std::string_view text);

    // Ends the current line when it holds text.
    void EndLine();
    // A line break: ends the current line even when it is empty.
    void Break();
    // Ends the current line and leaves one blank line before the next text.
    void EndParagraph();

    // Lines that start while a prefix is pushed begin with it: `first` on the
    // first of them (a list marker), `rest` on the others (its indent).
    void PushPrefix(std::string first, std::string rest);
    void PopPrefix();

    // A place in the text, to read back what was written after it.
    struct TMark {
        std::size_t Line = 0;
        std::size_t Column = 0;
    };
    TMark Mark() const;
    // The text written since the mark, its lines joined by spaces, trimmed.
    std::string TextSince(const TMark& mark) const;

    // The finished lines: no blank lines at the start or the end, and never
    // two in a row.
    std::vector<std::string> Finish();

private:
    struct TPrefix {
        std::string First;
        std::string Rest;
        bool Used = false;
    };

    void StartLine();
    void Append(std::string_view piece);
    void HardSpace();

    std::vector<std::string> lines_;
    std::string line_;
    bool started_ = false;        // line_ holds text (and its prefix)
    std::size_t textStart_ = 0;   // where the text of line_ begins after its prefix
    bool pendingSpace_ = false;   // a blank was seen after the last word
    std::vector<TPrefix> prefixes_;
};

} // namespace mime
