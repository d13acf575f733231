#include "template/Blocks.h"

#include "platform/TextUtil.h"

namespace tmpl {

void TBlocks::AddBlock(const std::string& name, std::vector<std::string> lines)
{
    std::string upper = platform::UpperAscii(name);
    first_.emplace(upper, blocks_.size());
    blocks_.push_back(TBlock {std::move(upper), std::move(lines)});
}

long TBlocks::FindBlock(const std::string& name) const
{
    auto it = first_.find(platform::UpperAscii(name));
    return it == first_.end() ? -1 : static_cast<long>(it->second);
}

void TBlocks::FreeBlocks()
{
    blocks_.clear();
    blocks_.shrink_to_fit();
    first_.clear();
}

} // namespace tmpl
