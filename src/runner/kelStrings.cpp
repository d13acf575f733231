#include "runner/kelStrings.h"

namespace runner {

std::vector<std::string> SplitString(const std::string& text, const std::string& separator)
{
    std::vector<std::string> items;
    std::string::size_type start = 0;
    if (!separator.empty()) {
        for (auto pos = text.find(separator); pos != std::string::npos; pos = text.find(separator, start)) {
            items.push_back(text.substr(start, pos - start));
            start = pos + separator.size();
        }
    }
    if (start < text.size())
        items.push_back(text.substr(start));
    return items;
}

} // namespace runner
