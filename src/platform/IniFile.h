#pragma once
#include "platform/SystemError.h"

#include <optional>
#include <string>
#include <vector>

namespace platform {

// Read-only ini profile with the usual Windows rules: section and key names
// without regard to case, the value after the first "=", blanks trimmed, one
// pair of enclosing quotes removed, at most MaxValueLength characters.
class TIniFile {
public:
    static constexpr std::size_t MaxValueLength = 2047;

    // Reads the whole file once; a missing or unreadable file reads as empty
    // and LoadError tells why.
    explicit TIniFile(const std::string& path);
    // For text already in memory.
    static TIniFile FromText(const std::string& text);

    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& def) const;
    long ReadInteger(const std::string& section, const std::string& key, long def) const;
    bool ReadBool(const std::string& section, const std::string& key, bool def) const;
    // Key names of a section in file order (first spelling of each).
    std::vector<std::string> ReadSectionKeys(const std::string& section) const;

    const std::optional<SystemError>& LoadError() const { return loadError_; }

private:
    TIniFile() = default;
    void Parse(const std::string& text);
    const std::string* Find(const std::string& section, const std::string& key) const;

    struct Entry {
        std::string Section;  // upper case
        std::string Key;      // as written
        std::string KeyUpper;
        std::string Value;
    };
    std::vector<Entry> entries_;
    std::optional<SystemError> loadError_;
};

// Integer rules of profile values: optional sign, decimal, "0x"/"0X" or "$"
// hexadecimal; nullopt for empty or invalid text or a value out of range.
std::optional<long> ParseProfileInteger(const std::string& text);

} // namespace platform
