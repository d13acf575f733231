#pragma once
#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

namespace tmpl {

// The lines of the loaded template with the blocks pasted so far.
// Pastes are kept beside the template and put in place when the lines are
// asked for, so that many pastes cost no more than the lines they add.
// Paste points are the marker lines the template had when it was assigned
// or last asked for: text that a pending paste brings in is no paste point.
class TTemplateLines {
public:
    TTemplateLines() = default;
    explicit TTemplateLines(std::vector<std::string> lines) { Assign(std::move(lines)); }

    // Replaces the template; pastes not yet in place go with the old one.
    void Assign(std::vector<std::string> lines);
    void Clear() { Assign({}); }
    bool Empty() const { return lines_.empty(); }

    // Puts the lines before the first paste point of the target (upper case,
    // without spaces), after the lines pasted there before. False when the
    // template has no such point.
    bool InsertAtPastePoint(const std::string& target, std::vector<std::string> lines);

    // All lines with the pastes in place, open for changes.
    std::vector<std::string>& Lines();

private:
    void BuildPastePoints();

    std::vector<std::string> lines_;
    // Index of a marker line -> lines waiting to go before it, in order.
    std::unordered_map<std::size_t, std::vector<std::string>> pending_;
    // "<!--?PASTE" + target + "?-->" -> index of its first marker line.
    std::unordered_map<std::string, std::size_t> points_;
    bool pointsBuilt_ = false;
};

// The text of a directive line as paste points compare it: trimmed, upper
// case and without spaces.
std::string PastePointKey(const std::string& line);

} // namespace tmpl
