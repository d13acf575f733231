#pragma once
#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>

namespace smtp {

// One reply line as the engine reads it.
struct TSmtpReplyLine {
    int StatusCode = 0;        // 0 when the line carries no number
    bool Continuation = false; // "-" right after the code: more lines follow
};

// Leading white space, an optional sign, then the decimal code. A huge
// number is capped so that it can never read as 0 once cut to 16 bits.
TSmtpReplyLine ParseReplyLine(const std::string& line);

// The reply codes that mean success for the command in flight: at most 16.
// An empty list accepts every code below 500.
class TSmtpAcceptedCodes {
public:
    static constexpr std::size_t MaxCodes = 16;

    TSmtpAcceptedCodes() = default;
    TSmtpAcceptedCodes(std::initializer_list<int> codes) { Assign(codes); }

    // Codes beyond the sixteenth are dropped.
    void Assign(std::initializer_list<int> codes);
    bool Empty() const { return count_ == 0; }
    bool Accepts(int statusCode) const;

private:
    std::array<int, MaxCodes> codes_ {};
    std::size_t count_ = 0;
};

// The SIZE line of an EHLO reply ("250-SIZE 10240000"). Returns false when the
// line is not one; otherwise maxSize is the advertised limit, 0 when absent or
// not a number.
bool ParseEhloSizeLine(const std::string& line, std::int64_t& maxSize);

} // namespace smtp
