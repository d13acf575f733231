#include "platform/Clock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace platform {
namespace {

// Runs with a given TZ value and puts the previous one back.
class ZoneTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (const char* tz = std::getenv("TZ"))
            saved_ = tz;
    }
    void TearDown() override
    {
        if (saved_)
            setenv("TZ", saved_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    static void UseZone(const char* tz)
    {
        setenv("TZ", tz, 1);
        tzset();
    }

private:
    std::optional<std::string> saved_;
};

TEST_F(ZoneTest, BiasIsMinutesToAddForUtc)
{
    struct Case {
        const char* Zone;
        int Bias;
    };
    for (const Case& c : {Case{"UTC0", 0}, Case{"XYZ-5:30", -330}, Case{"ABC+3", 180}, Case{"NPT-5:45", -345}}) {
        UseZone(c.Zone);
        EXPECT_EQ(TimeZoneBias(), c.Bias) << c.Zone;
    }
}

TEST_F(ZoneTest, DaylightSavingInForceCounts)
{
    // Summer time all year round except one minute: the daylight offset applies.
    UseZone("AAA+2BBB+1,J1/0:00:30,J365/23:59:59");
    std::time_t now = std::time(nullptr);
    std::tm tm {};
    localtime_r(&now, &tm);
    EXPECT_EQ(TimeZoneBias(), tm.tm_isdst > 0 ? 60 : 120);
}

int MinutesOfDay(const TSystemTime& t)
{
    return t.Hour * 60 + t.Minute;
}

TEST_F(ZoneTest, LocalPlusBiasIsUtc)
{
    UseZone("XYZ-5:30");
    int bias = 0;
    const TSystemTime local = LocalTimeNow(bias);
    const TSystemTime utc = UtcTimeNow();
    const int diff = ((MinutesOfDay(local) + bias - MinutesOfDay(utc)) % 1440 + 1440) % 1440;
    EXPECT_TRUE(diff == 0 || diff == 1439) << diff;  // a minute may turn between the two reads
    EXPECT_GE(local.Millisecond, 0);
    EXPECT_LT(local.Millisecond, 1000);
    EXPECT_GE(local.Month, 1);
    EXPECT_LE(local.Month, 12);
    EXPECT_GE(local.DayOfWeek, 0);
    EXPECT_LE(local.DayOfWeek, 6);
}

} // namespace
} // namespace platform

TEST(FileTime, CountsHundredNanosecondsSince1601)
{
    const std::time_t before = std::time(nullptr);
    const std::uint64_t fileTime = platform::SystemTimeAsFileTime();
    const std::time_t after = std::time(nullptr);
    const auto seconds = static_cast<std::time_t>(fileTime / 10000000u - 11644473600u);
    EXPECT_GE(seconds, before);
    EXPECT_LE(seconds, after);
}
