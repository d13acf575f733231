#include "smtp/SmtpReply.h"

#include <gtest/gtest.h>

using namespace smtp;

namespace {

struct ReplyCase {
    std::string Line;
    int Code;
    bool Continuation;
};

TEST(SmtpReply, ParsesCodeSignAndContinuation)
{
    const ReplyCase cases[] = {
        {"250 OK", 250, false},
        {"250-first of several", 250, true},
        {"250", 250, false},
        {"  \t220 banner", 220, false},
        {"+334 challenge", 334, false},
        {"-250 odd", -250, false},
        {"-250-odd", -250, true},
        {"", 0, false},
        {"hello world", 0, false},
        {"-", 0, false},
        {"--", 0, false},          // no number: never waits for more lines
        {std::string(2, '\0') + "250 x", 0, false},
        {"99999999999999999999 huge", 65535, false},
        {"-99999999999999999999", -65535, false},
    };
    for (const auto& c : cases) {
        const TSmtpReplyLine reply = ParseReplyLine(c.Line);
        EXPECT_EQ(reply.StatusCode, c.Code) << c.Line;
        EXPECT_EQ(reply.Continuation, c.Continuation) << c.Line;
    }
}

TEST(SmtpReply, EmptyAcceptedListTakesEverythingBelow500)
{
    const TSmtpAcceptedCodes any;
    EXPECT_TRUE(any.Accepts(499));
    EXPECT_TRUE(any.Accepts(200));
    EXPECT_FALSE(any.Accepts(500));
    EXPECT_FALSE(any.Accepts(20600));
}

TEST(SmtpReply, AcceptedListMatchesOnlyItsCodes)
{
    const TSmtpAcceptedCodes rcpt {250, 251};
    EXPECT_TRUE(rcpt.Accepts(250));
    EXPECT_TRUE(rcpt.Accepts(251));
    EXPECT_FALSE(rcpt.Accepts(252));
    EXPECT_FALSE(rcpt.Accepts(0));
    EXPECT_FALSE(rcpt.Accepts(20600));
}

TEST(SmtpReply, AcceptedListKeepsSixteenCodes)
{
    const TSmtpAcceptedCodes many {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17};
    EXPECT_TRUE(many.Accepts(16));
    EXPECT_FALSE(many.Accepts(17));
}

TEST(SmtpReply, EhloSizeLine)
{
    struct SizeCase {
        std::string Line;
        bool IsSize;
        std::int64_t Max;
    };
    const SizeCase cases[] = {
        {"250-SIZE 10240000", true, 10240000},
        {"250 SIZE 35882577", true, 35882577},
        {"250-SIZE", true, 0},
        {"250-SIZE ", true, 0},
        {"250-SIZE    52428800", true, 52428800},
        {"250-SIZE abc", true, 0},
        {"250-SIZE 12x", true, 0},
        {"250-SIZE 99999999999999999999999", true, 0},
        {"250-size 1000", false, 0},
        {"250-8BITMIME", false, 0},
        {"250 ", false, 0},
        {"", false, 0},
    };
    for (const auto& c : cases) {
        std::int64_t max = -1;
        EXPECT_EQ(ParseEhloSizeLine(c.Line, max), c.IsSize) << c.Line;
        if (c.IsSize) {
            EXPECT_EQ(max, c.Max) << c.Line;
        }
    }
}

} // namespace
