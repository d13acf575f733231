#include "template/Directives.h"

#include "platform/TextUtil.h"

#include <algorithm>

namespace tmpl {

namespace {

const std::string kDirectiveOpen = "<!--?";
const std::string kDirectiveClose = "?-->";

// The next directive token is the keyword, in any letter case.
bool IsKeyword(TTagTokenizer& tokens, const char* keyword)
{
    return platform::UpperAscii(tokens.NextToken()) == keyword;
}

} // namespace

std::string FixEntities(std::string line)
{
    if (line.find('&') == std::string::npos)
        return line;
    return platform::ReplaceAll(platform::ReplaceAll(line, "&lt;?", "<?"), "?&gt;", "?>");
}

bool ParseDirective(const std::string& line, TTagTokenizer& tokens)
{
    if (line.find(kDirectiveOpen) == std::string::npos)
        return false;
    std::string text = platform::Trim(line);
    text.erase(0, std::min<std::size_t>(kDirectiveOpen.size(), text.size()));
    if (auto end = text.find(kDirectiveClose); end != std::string::npos)
        text.resize(end);
    tokens.TokenizeTag(platform::Trim(text));
    return true;
}

std::vector<std::string> ExtractBlocks(std::vector<std::string> lines, TBlocks& blocks)
{
    TTagTokenizer tokens;
    std::vector<std::string> kept;
    std::size_t i = 0;
    while (i < lines.size()) {
        std::string line = std::move(lines[i++]);
        if (line.find("&lt;?") != std::string::npos)
            line = FixEntities(std::move(line));
        if (!ParseDirective(line, tokens) || !IsKeyword(tokens, "BLOCK")) {
            kept.push_back(std::move(line));
            continue;
        }
        const std::string name = tokens.NextToken();
        std::vector<std::string> body;
        while (i < lines.size()) {
            std::string part = FixEntities(std::move(lines[i++]));
            if (!ParseDirective(part, tokens))
                body.push_back(std::move(part));
            else if (IsKeyword(tokens, "ENDBLOCK"))
                break;
        }
        blocks.AddBlock(name, std::move(body));
    }
    return kept;
}

void PasteBlock(const std::string& blockName, const std::string& target, TTemplateLines& templateLines,
                const TBlocks& blocks, const TVariables& variables, TExpansionBudget& budget)
{
    const long found = blocks.FindBlock(blockName);
    if (found < 0)
        return;
    std::vector<std::string> copy = blocks[static_cast<std::size_t>(found)].Lines;
    SubstitutePlaceholders(copy, variables, budget);
    templateLines.InsertAtPastePoint(target, std::move(copy));
}

void RemoveDirectiveLines(std::vector<std::string>& lines)
{
    std::erase_if(lines, [](const std::string& line) {
        const auto open = line.find(kDirectiveOpen);
        // The opener's "?" may also begin the closer, as in "<!--?-->".
        return open != std::string::npos && line.find(kDirectiveClose, open + kDirectiveOpen.size() - 1) != std::string::npos;
    });
}

} // namespace tmpl
