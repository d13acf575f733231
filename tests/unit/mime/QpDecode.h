#pragma once
// Decodes quoted-printable lines as a reader does: soft breaks join lines,
// every "=" and two hex digits is one byte.
#include <string>
#include <vector>

namespace mime {

inline std::string DecodeQp(const std::vector<std::string>& lines)
{
    std::string out;
    for (const auto& l : lines) {
        std::size_t i = 0;
        while (i < l.size()) {
            if (l[i] != '=') {
                out.push_back(l[i++]);
            } else if (i + 2 < l.size()) {
                out.push_back(static_cast<char>(std::stoi(l.substr(i + 1, 2), nullptr, 16)));
                i += 3;
            } else {
                break;  // the soft break
            }
        }
    }
    return out;
}

} // namespace mime
