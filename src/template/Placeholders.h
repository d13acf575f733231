#pragma once
#include "template/Variables.h"

#include <cstddef>
#include <string>
#include <vector>

namespace tmpl {

// How much text values found inside other values may still add. Values
// that refer to each other could otherwise grow a line without end; one
// budget serves a whole job.
class TExpansionBudget {
public:
    static constexpr std::size_t DefaultBytes = 64u * 1024 * 1024;

    explicit TExpansionBudget(std::size_t bytes = DefaultBytes) : left_(bytes) {}
    // Takes the bytes (and one for the expansion itself); false when they
    // are not left.
    bool Spend(std::size_t bytes);

private:
    std::size_t left_;
};

// Nesting depth of values inside values beyond which a line is left as it is.
inline constexpr std::size_t MaxPlaceholderNesting = 16;

// Replaces every "<?name?>" of each line by the variable's value, values
// included. A line is left as it stands from the point where a "?>" comes
// before the next "<?", where a value would contain its own placeholder
// (directly or through others), or where nesting or the budget runs out.
void SubstitutePlaceholders(std::vector<std::string>& lines, const TVariables& variables, TExpansionBudget& budget);
void SubstitutePlaceholders(std::vector<std::string>& lines, const TVariables& variables);

} // namespace tmpl
