#include "platform/IniFile.h"

#include "platform/Files.h"
#include "platform/TextUtil.h"

#include <cerrno>
#include <climits>

namespace platform {

TIniFile::TIniFile(const std::string& path)
{
    std::vector<std::string> lines;
    loadError_ = ReadTextLines(path, lines);
    std::string text;
    for (auto& l : lines)
        text.append(l).push_back('\n');
    Parse(text);
}

TIniFile TIniFile::FromText(const std::string& text)
{
    TIniFile ini;
    ini.Parse(text);
    return ini;
}

void TIniFile::Parse(const std::string& text)
{
    std::string body = text;
    if (body.rfind("\xEF\xBB\xBF", 0) == 0)  // editors may write a UTF-8 mark
        body.erase(0, 3);
    std::string section;
    bool inSection = false;
    for (auto& raw : SplitTextLines(body)) {
        std::string line = Trim(raw);
        if (line.empty())
            continue;
        if (line[0] == '[') {
            auto close = line.find(']');
            section = UpperAscii(Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1)));
            inSection = true;
            continue;
        }
        auto eq = line.find('=');
        if (!inSection || eq == std::string::npos)
            continue;
        Entry e;
        e.Section = section;
        e.Key = Trim(line.substr(0, eq));
        e.KeyUpper = UpperAscii(e.Key);
        std::string value = Trim(line.substr(eq + 1));
        if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
            value = value.substr(1, value.size() - 2);
        if (value.size() > MaxValueLength)
            value.resize(MaxValueLength);
        e.Value = std::move(value);
        entries_.push_back(std::move(e));
    }
}

const std::string* TIniFile::Find(const std::string& section, const std::string& key) const
{
    const std::string s = UpperAscii(section), k = UpperAscii(key);
    for (auto& e : entries_)
        if (e.Section == s && e.KeyUpper == k)
            return &e.Value;
    return nullptr;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& def) const
{
    const std::string* v = Find(section, key);
    return v ? *v : def;
}

long TIniFile::ReadInteger(const std::string& section, const std::string& key, long def) const
{
    return ParseProfileInteger(ReadString(section, key, "")).value_or(def);
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool def) const
{
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

std::vector<std::string> TIniFile::ReadSectionKeys(const std::string& section) const
{
    const std::string s = UpperAscii(section);
    std::vector<std::string> keys, seen;
    for (auto& e : entries_) {
        if (e.Section != s)
            continue;
        bool dup = false;
        for (auto& k : seen)
            dup = dup || k == e.KeyUpper;
        if (dup)
            continue;
        seen.push_back(e.KeyUpper);
        keys.push_back(e.Key);
    }
    return keys;
}

std::optional<long> ParseProfileInteger(const std::string& text)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    int base = 10;
    if (text.compare(i, 1, "$") == 0) {
        base = 16;
        i += 1;
    } else if (text.size() > i + 2 && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= text.size())
        return std::nullopt;
    long long value = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return std::nullopt;
        value = value * base + d;
        if (value > static_cast<long long>(UINT32_MAX) + 1)
            return std::nullopt;
    }
    if (negative)
        value = -value;
    // Hexadecimal values cover the full 32-bit pattern, as "$FFFFFFFF" = -1.
    if (base == 16 && value > INT32_MAX && value <= static_cast<long long>(UINT32_MAX))
        value -= static_cast<long long>(UINT32_MAX) + 1;
    if (value < INT32_MIN || value > INT32_MAX)
        return std::nullopt;
    return static_cast<long>(value);
}

} // namespace platform
