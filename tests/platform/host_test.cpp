#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/host.h"

using namespace ferry;

namespace {

void SetTz(const char* tz) {
    if (tz)
        setenv("TZ", tz, 1);
    else
        unsetenv("TZ");
    ReloadTimeZone();
}

} // namespace

TEST(HostTest, NamesOfThisMachine) {
    std::string computer = LocalComputerName();
    EXPECT_LE(computer.size(), 15u);
    EXPECT_EQ(computer.find('.'), std::string::npos);
    std::string host = LocalHostName();
    EXPECT_FALSE(host.empty());
    EXPECT_EQ(host.substr(0, computer.size()), computer);
}

TEST(HostTest, ClockCanBeReplacedAndRestored) {
    ClockFunction old = SetClock([] { return std::time_t(1234); });
    EXPECT_EQ(CurrentTime(), 1234);
    SetClock(old);
    std::time_t now = std::time(nullptr);
    EXPECT_LE(std::llabs(static_cast<long long>(CurrentTime() - now)), 5);
}

TEST(HostTest, LocalTimeFollowsPosixZones) {
    const char* saved = std::getenv("TZ");
    std::string savedTz = saved ? saved : "";
    const std::time_t t = 1796616309; // 2026-12-07 04:05:09 UTC, a Monday
    struct Row {
        const char* tz;
        int hour, minute;
        long offset;
    };
    for (const Row& row : {Row{"AEST-10", 14, 5, 36000}, Row{"EST5", 23, 5, -18000},
                           Row{"IST-5:30", 9, 35, 19800}, Row{"UTC0", 4, 5, 0}}) {
        SetTz(row.tz);
        LocalTimeInfo lt;
        ASSERT_TRUE(GetLocalTime(t, lt));
        EXPECT_EQ(lt.Hour, row.hour) << row.tz;
        EXPECT_EQ(lt.Minute, row.minute) << row.tz;
        EXPECT_EQ(lt.UtcOffsetSeconds, row.offset) << row.tz;
    }
    SetTz("UTC0");
    LocalTimeInfo lt;
    ASSERT_TRUE(GetLocalTime(t, lt));
    EXPECT_EQ(lt.Year, 2026);
    EXPECT_EQ(lt.Month, 12);
    EXPECT_EQ(lt.Day, 7);
    EXPECT_EQ(lt.DayOfWeek, 1);
    SetTz(saved ? savedTz.c_str() : nullptr);
}

TEST(HostTest, LocaleNameAndItsParts) {
    std::string language, territory;
    SplitLocaleName("zh_CN.GB2312@x", language, territory);
    EXPECT_EQ(language, "zh");
    EXPECT_EQ(territory, "CN");
    SplitLocaleName("ja", language, territory);
    EXPECT_EQ(language, "ja");
    EXPECT_EQ(territory, "");
    SplitLocaleName("", language, territory);
    EXPECT_EQ(language, "");
}
