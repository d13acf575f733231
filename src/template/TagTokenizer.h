#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace tmpl {

// Splits the text of one tag (job-script tag, template directive or image
// tag) into tokens: quoted texts, upper-cased identifiers, numbers and "=".
// Tokens are numbered from 1, as the cursor counts them.
class TTagTokenizer {
public:
    // A tag holds at most this many tokens; further ones are dropped.
    static constexpr std::size_t MaxTokens = 150;

    // Tokenizes the text between the first "<" and the first ">" of the
    // line; no tokens when either is missing or ">" comes first.
    void ParseTag(const std::string& line);
    // Tokenizes the whole text and puts the cursor before the first token.
    void TokenizeTag(const std::string& text);

    const std::string& NextToken();
    const std::string& CurrentToken() const { return Token(TokenCursor); }
    // Token number i (1-based); empty text outside 1..TokenCount().
    const std::string& Token(long i) const;
    std::size_t TokenCount() const { return Tokens.size(); }

    // Numbers take the decimal separator of the process locale unless one is
    // set here (empty optional: the locale's again).
    void SetDecimalSeparator(std::optional<std::string> separator) { decimalSeparator_ = std::move(separator); }

    std::vector<std::string> Tokens;
    long TokenCursor = 0;

private:
    std::string DecimalSeparator() const;

    std::optional<std::string> decimalSeparator_;
};

} // namespace tmpl
