#include "template/TemplateLines.h"

#include "platform/TextUtil.h"

namespace tmpl {

namespace {

const std::string kDirectiveOpen = "<!--?";

} // namespace

std::string PastePointKey(const std::string& line)
{
    std::string key;
    for (char c : platform::UpperAscii(platform::Trim(line)))
        if (c != ' ')
            key.push_back(c);
    return key;
}

void TTemplateLines::Assign(std::vector<std::string> lines)
{
    lines_ = std::move(lines);
    pending_.clear();
    points_.clear();
    pointsBuilt_ = false;
}

void TTemplateLines::BuildPastePoints()
{
    points_.clear();
    for (std::size_t i = 0; i < lines_.size(); ++i)
        if (lines_[i].find(kDirectiveOpen) != std::string::npos)
            points_.emplace(PastePointKey(lines_[i]), i);
    pointsBuilt_ = true;
}

bool TTemplateLines::InsertAtPastePoint(const std::string& target, std::vector<std::string> lines)
{
    if (!pointsBuilt_)
        BuildPastePoints();
    auto it = points_.find(kDirectiveOpen + "PASTE" + target + "?-->");
    if (it == points_.end())
        return false;
    auto& waiting = pending_[it->second];
    waiting.insert(waiting.end(), std::make_move_iterator(lines.begin()), std::make_move_iterator(lines.end()));
    return true;
}

std::vector<std::string>& TTemplateLines::Lines()
{
    if (!pending_.empty()) {
        std::vector<std::string> merged;
        for (std::size_t i = 0; i < lines_.size(); ++i) {
            if (auto it = pending_.find(i); it != pending_.end())
                for (auto& line : it->second)
                    merged.push_back(std::move(line));
            merged.push_back(std::move(lines_[i]));
        }
        lines_ = std::move(merged);
        pending_.clear();
    }
    // The caller may change any line, so the paste points are found anew.
    pointsBuilt_ = false;
    return lines_;
}

} // namespace tmpl
