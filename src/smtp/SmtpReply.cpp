#include "smtp/SmtpReply.h"

#include <algorithm>
#include <charconv>

namespace smtp {

namespace {

constexpr int MaxStatusCode = 65535;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

} // namespace

TSmtpReplyLine ParseReplyLine(const std::string& line)
{
    TSmtpReplyLine reply;
    std::size_t i = 0;
    while (i < line.size() && IsBlank(line[i]))
        ++i;
    bool negative = false;
    if (i < line.size() && (line[i] == '+' || line[i] == '-')) {
        negative = line[i] == '-';
        ++i;
    }
    const std::size_t digitsStart = i;
    int code = 0;
    for (; i < line.size() && IsDigit(line[i]); ++i)
        code = std::min(MaxStatusCode, code * 10 + (line[i] - '0'));
    reply.StatusCode = negative ? -code : code;
    // A line without a number is never a continuation: it is a protocol error.
    reply.Continuation = i > digitsStart && i < line.size() && line[i] == '-';
    return reply;
}

void TSmtpAcceptedCodes::Assign(std::initializer_list<int> codes)
{
    count_ = 0;
    for (int code : codes) {
        if (count_ == MaxCodes)
            break;
        codes_[count_++] = code;
    }
}

bool TSmtpAcceptedCodes::Accepts(int statusCode) const
{
    if (count_ == 0)
        return statusCode < 500;
    for (std::size_t i = 0; i < count_; ++i)
        if (codes_[i] == statusCode)
            return true;
    return false;
}

bool ParseEhloSizeLine(const std::string& line, std::int64_t& maxSize)
{
    if (line.size() < 8 || line.compare(4, 4, "SIZE") != 0)
        return false;
    maxSize = 0;
    if (line.size() <= 9)
        return true;
    std::size_t first = 8;
    while (first < line.size() && IsBlank(line[first]))
        ++first;
    std::size_t last = line.size();
    while (last > first && IsBlank(line[last - 1]))
        --last;
    std::int64_t value = 0;
    const char* begin = line.data() + first;
    const char* end = line.data() + last;
    auto [ptr, ec] = std::from_chars(begin, end, value);
    if (ec == std::errc() && ptr == end && begin != end && value >= 0)
        maxSize = value;
    return true;
}

} // namespace smtp
