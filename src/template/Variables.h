#pragma once
#include <string>
#include <unordered_map>
#include <vector>

namespace tmpl {

// The template variables: an ordered list of NAME=value entries with
// upper-case names; the first entry of a name is the one that counts.
class TVariables {
public:
    // Index of the variable (name trimmed, upper-cased), or -1.
    long FindVariable(const std::string& name) const;
    void SetVariable(const std::string& name, const std::string& value);
    // The value, or empty text when the variable was never set.
    std::string GetVariable(const std::string& name) const;

    const std::vector<std::string>& Entries() const { return entries_; }
    void Clear();

private:
    std::vector<std::string> entries_;
    // Name before the first "=" of an entry -> index of its first entry.
    std::unordered_map<std::string, std::size_t> index_;
};

} // namespace tmpl
