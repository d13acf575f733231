#include "platform/MediaTypes.h"

#include "platform/Files.h"
#include "platform/TextUtil.h"

#include <algorithm>
#include <string_view>
#include <vector>

namespace platform {

namespace {

// The blank-separated words of a line, up to a "#".
std::vector<std::string_view> Words(std::string_view line)
{
    line = line.substr(0, line.find('#'));
    std::vector<std::string_view> words;
    constexpr std::string_view kBlanks = " \t\v\f";
    for (auto start = line.find_first_not_of(kBlanks); start != std::string_view::npos;) {
        const auto end = line.find_first_of(kBlanks, start);
        words.push_back(line.substr(start, end - start));
        start = line.find_first_not_of(kBlanks, end);
    }
    return words;
}

} // namespace

// Read without iostreams, whose locale set-up would add a third of a
// megabyte of touched library pages to every mail with an attachment, and
// walked in place rather than split into lines.
std::string MediaTypeFromTable(const std::string& tablePath, const std::string& extension)
{
    const std::string wanted = LowerAscii(extension);
    std::string table;
    if (wanted.empty() || ReadFileText(tablePath, table))
        return {};
    std::string_view rest(table);
    while (!rest.empty()) {
        const auto end = std::min(rest.find_first_of("\r\n"), rest.size());
        const auto words = Words(rest.substr(0, end));
        rest.remove_prefix(std::min(end + 1, rest.size()));
        for (std::size_t i = 1; i < words.size(); ++i)
            if (LowerAscii(std::string(words[i])) == wanted)
                return std::string(words[0]);
    }
    return {};
}

} // namespace platform
