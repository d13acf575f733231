#include "template/Images.h"

#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/TextUtil.h"
#include "template/TagTokenizer.h"

#include <optional>

namespace tmpl {

namespace {

std::string DirectoryOf(const std::string& path)
{
    const auto delim = path.rfind(platform::PathDelim);
    return delim == std::string::npos ? std::string() : path.substr(0, delim + 1);
}

std::string FileNameOf(const std::string& path)
{
    const auto delim = path.rfind(platform::PathDelim);
    return delim == std::string::npos ? path : path.substr(delim + 1);
}

std::optional<std::string> FindImage(const std::string& path, const std::string& templatePath)
{
    for (const std::string& candidate : {path, DirectoryOf(templatePath) + path, FileNameOf(path)})
        if (platform::FileExists(candidate))
            return candidate;
    return std::nullopt;
}

// A path as an attribute value, in quotes it cannot contain.
std::string Quoted(const std::string& path)
{
    const char quote = path.find('"') == std::string::npos ? '"' : '\'';
    return quote + path + quote;
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
    std::string SourceAttribute(const std::string& path);

    const std::string& templatePath_;
    std::vector<std::string>& images_;
    const std::function<void(const std::string&)>& report_;
    TTagTokenizer tokens_;
};

std::string TImageCollector::SourceAttribute(const std::string& path)
{
    if (auto found = FindImage(path, templatePath_)) {
        images_.push_back(*found);
        return " SRC=\"cid:IMAGE" + std::to_string(images_.size()) + "\"";
    }
    if (report_)
        report_("File: " + path + " Does not exist");
    return " SRC=" + Quoted(path);
}

void TImageCollector::RewriteLine(std::string& line)
{
    const auto start = platform::UpperAscii(line).find("<IMG");
    if (start == std::string::npos)
        return;
    const auto end = line.find('>', start);
    if (end == std::string::npos)
        return;
    // The path keeps its letter case; everything else of the tag is upper case.
    tokens_.TokenizeTag(line.substr(start, end - start));
    if (tokens_.TokenCount() == 0)
        return;
    std::string tag = "<IMG";
    for (long t = 2; t <= static_cast<long>(tokens_.TokenCount()); ++t) {
        const std::string token = platform::UpperAscii(tokens_.Token(t));
        if (token != "SRC") {
            tag += " " + token;
            continue;
        }
        if (tokens_.Token(t + 1) == "=")
            ++t;
        tag += SourceAttribute(tokens_.Token(++t));
    }
    line = line.substr(0, start) + tag + ">" + line.substr(end + 1);
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
