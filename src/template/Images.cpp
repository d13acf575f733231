#include "template/Images.h"

#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/TextUtil.h"

#include <optional>

namespace tmpl {

namespace {

std::optional<std::string> FindImage(const std::string& path, const std::string& templatePath)
{
    const std::string beside = platform::DirectoryOfPath(templatePath) + path;
    for (const std::string& candidate : {path, beside, platform::FileNameOfPath(path)})
        if (platform::FileExists(candidate))
            return candidate;
    return std::nullopt;
}

bool IsHtmlSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

// The value of a tag's SRC attribute: where it stands in the line, without
// its quotes, and the quote that encloses it (0 when unquoted).
struct TSourceValue {
    std::size_t Start = 0;
    std::size_t End = 0;
    char Quote = 0;
};

// Reads the attributes of the tag that starts at start (its name already
// past) up to its closing ">". The first SRC, in any letter case, is the
// one a browser takes. False when the tag has no SRC or is not closed on
// this line.
bool FindSource(const std::string& line, std::size_t i, TSourceValue& source)
{
    bool found = false;
    const std::size_t n = line.size();
    while (i < n) {
        while (i < n && (IsHtmlSpace(line[i]) || line[i] == '/'))
            ++i;
        if (i >= n || line[i] == '>')
            return found && i < n;
        const std::size_t nameStart = i;
        while (i < n && !IsHtmlSpace(line[i]) && line[i] != '/' && line[i] != '>' && line[i] != '=')
            ++i;
        const bool isSource = platform::SameTextAscii(line.substr(nameStart, i - nameStart), "SRC");
        while (i < n && IsHtmlSpace(line[i]))
            ++i;
        if (i >= n || line[i] != '=')
            continue;
        ++i;
        while (i < n && IsHtmlSpace(line[i]))
            ++i;
        TSourceValue value;
        if (i < n && (line[i] == '"' || line[i] == '\'')) {
            value.Quote = line[i];
            value.Start = ++i;
            i = line.find(value.Quote, i);
            if (i == std::string::npos)
                return false;
            value.End = i++;
        } else {
            value.Start = i;
            while (i < n && !IsHtmlSpace(line[i]) && line[i] != '>')
                ++i;
            value.End = i;
        }
        if (isSource && !found) {
            source = value;
            found = true;
        }
    }
    return false;
}

class TImageCollector {
public:
    TImageCollector(const std::string& templatePath, std::vector<std::string>& images,
                    const std::function<void(const std::string&)>& report)
        : templatePath_(templatePath), images_(images), report_(report)
    {
    }

    void RewriteLine(std::string& line);

private:
    const std::string& templatePath_;
    std::vector<std::string>& images_;
    const std::function<void(const std::string&)>& report_;
};

// The tag stays as written; only the value of its SRC changes.
void TImageCollector::RewriteLine(std::string& line)
{
    const auto start = platform::UpperAscii(line).find("<IMG");
    TSourceValue source;
    if (start == std::string::npos || !FindSource(line, start + 4, source))
        return;
    const std::string path = line.substr(source.Start, source.End - source.Start);
    const auto found = FindImage(path, templatePath_);
    if (!found) {
        if (report_)
            report_("File: " + path + " Does not exist");
        return;
    }
    images_.push_back(*found);
    const std::string cid = "cid:IMAGE" + std::to_string(images_.size());
    line.replace(source.Start, source.End - source.Start, source.Quote ? cid : "\"" + cid + "\"");
}

} // namespace

void CollectImages(std::vector<std::string>& lines, const std::string& templatePath, std::vector<std::string>& images,
                   const std::function<void(const std::string&)>& report)
{
    TImageCollector collector(templatePath, images, report);
    for (auto& line : lines)
        collector.RewriteLine(line);
}

} // namespace tmpl
