#pragma once
#include <string>
#include <unordered_map>
#include <vector>

namespace tmpl {

struct TBlock {
    std::string Name;  // upper case
    std::vector<std::string> Lines;
};

// The blocks cut out of templates, in the order found; a name may occur
// more than once, and the first block of a name is the one found.
class TBlocks {
public:
    void AddBlock(const std::string& name, std::vector<std::string> lines);
    // Index of the first block with the upper-cased name, or -1.
    long FindBlock(const std::string& name) const;
    void FreeBlocks();

    std::size_t Count() const { return blocks_.size(); }
    const TBlock& operator[](std::size_t i) const { return blocks_[i]; }

private:
    std::vector<TBlock> blocks_;
    std::unordered_map<std::string, std::size_t> first_;
};

} // namespace tmpl
