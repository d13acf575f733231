#include "template/Placeholders.h"

#include "platform/TextUtil.h"

#include <algorithm>

namespace tmpl {

bool TExpansionBudget::Spend(std::size_t bytes)
{
    if (bytes >= left_)
        return false;
    left_ -= bytes + 1;
    return true;
}

namespace {

// Expands one line in time proportional to the text it reads and writes.
// The unread rest is kept reversed, so that a value is put in front of it
// by appending; the finished part never holds a "<?" or "?>".
class TLineExpander {
public:
    TLineExpander(const TVariables& variables, TExpansionBudget& budget) : variables_(variables), budget_(budget) {}

    std::string Expand(const std::string& line);

private:
    // A value being read: it starts at stack index Bottom; Chain names the
    // variables it came from, outermost first.
    struct TRegion {
        std::size_t Bottom;
        std::vector<std::string> Chain;
    };

    bool ExpandNext();
    std::size_t FindClose() const;
    void DropFinishedRegions();

    const TVariables& variables_;
    TExpansionBudget& budget_;
    std::string done_;
    std::string rest_;  // reversed: the next character is rest_.back()
    std::vector<TRegion> regions_;
};

std::string TLineExpander::Expand(const std::string& line)
{
    done_.clear();
    rest_.assign(line.rbegin(), line.rend());
    regions_.clear();
    while (ExpandNext()) {
    }
    done_.append(rest_.rbegin(), rest_.rend());
    return std::move(done_);
}

// Index of the "?" of the first "?>" at or after the "?" of the "<?" on top.
std::size_t TLineExpander::FindClose() const
{
    for (std::size_t k = rest_.size() - 2; k >= 1; --k)
        if (rest_[k] == '?' && rest_[k - 1] == '>')
            return k;
    return std::string::npos;
}

void TLineExpander::DropFinishedRegions()
{
    while (!regions_.empty() && regions_.back().Bottom >= rest_.size())
        regions_.pop_back();
}

// Moves text to the finished part up to the next placeholder and replaces
// it; false when the line is finished.
bool TLineExpander::ExpandNext()
{
    for (;;) {
        if (rest_.size() < 2)
            return false;
        const char c = rest_.back(), d = rest_[rest_.size() - 2];
        if (c == '?' && d == '>')
            return false;
        if (c == '<' && d == '?')
            break;
        done_.push_back(c);
        rest_.pop_back();
    }
    const std::size_t open = rest_.size() - 2;  // the "?" of "<?"
    const std::size_t close = FindClose();
    if (close == std::string::npos)
        return false;
    std::string name;
    if (close < open)
        name.assign(rest_.rbegin() + static_cast<long>(rest_.size() - open), rest_.rend() - static_cast<long>(close + 1));
    const std::string key = platform::UpperAscii(platform::Trim(name));

    DropFinishedRegions();
    std::vector<std::string> chain = regions_.empty() ? std::vector<std::string>() : regions_.back().Chain;
    if (std::find(chain.begin(), chain.end(), key) != chain.end() || chain.size() >= MaxPlaceholderNesting)
        return false;
    const std::string value = variables_.GetVariable(key);
    if (!chain.empty() && !budget_.Spend(value.size()))
        return false;

    rest_.resize(close - 1);
    DropFinishedRegions();
    if (!value.empty()) {
        chain.push_back(key);
        regions_.push_back(TRegion {rest_.size(), std::move(chain)});
        rest_.append(value.rbegin(), value.rend());
    }
    // The last finished character may form a marker with the value's first.
    if (!done_.empty()) {
        rest_.push_back(done_.back());
        done_.pop_back();
    }
    return true;
}

} // namespace

void SubstitutePlaceholders(std::vector<std::string>& lines, const TVariables& variables, TExpansionBudget& budget)
{
    TLineExpander expander(variables, budget);
    for (auto& line : lines)
        if (line.find("<?") != std::string::npos)
            line = expander.Expand(line);
}

void SubstitutePlaceholders(std::vector<std::string>& lines, const TVariables& variables)
{
    TExpansionBudget budget;
    SubstitutePlaceholders(lines, variables, budget);
}

} // namespace tmpl
