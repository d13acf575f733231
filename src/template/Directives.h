#pragma once
#include "template/Blocks.h"
#include "template/Placeholders.h"
#include "template/TagTokenizer.h"
#include "template/TemplateLines.h"
#include "template/Variables.h"

#include <string>
#include <vector>

namespace tmpl {

// Turns an HTML editor's escaped placeholder markers back into "<?" and "?>".
std::string FixEntities(std::string line);

// True when the line holds "<!--?"; the directive's tokens are then in the
// tokenizer, its cursor before the first.
bool ParseDirective(const std::string& line, TTagTokenizer& tokens);

// Cuts the BLOCK ... ENDBLOCK parts out of freshly loaded template lines
// into the block store, fixing escaped markers on the way, and returns the
// lines that remain. A block without its end takes every following line.
std::vector<std::string> ExtractBlocks(std::vector<std::string> lines, TBlocks& blocks);

// Pastes a copy of the named block, with the variables of this moment
// substituted, before the paste point of the target (both names already
// trimmed and upper-cased). An unknown block or target pastes nothing.
void PasteBlock(const std::string& blockName, const std::string& target, TTemplateLines& templateLines,
                const TBlocks& blocks, const TVariables& variables, TExpansionBudget& budget);

// Deletes every line that holds "<!--?" and a "?-->" after it.
void RemoveDirectiveLines(std::vector<std::string>& lines);

} // namespace tmpl
