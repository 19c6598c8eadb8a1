// rtc_time64_to_tm against the C library's gmtime over 1970 to 9999, and at the calendar's
// edges. The kernel's tm_yday counts from 1, C's from 0.
#include <cstdint>
#include <ctime>

#include <gtest/gtest.h>

#include <platform/rtc.h>

namespace {

void expect_like_gmtime(time64_t t) {
    time_t ht = static_cast<time_t>(t);
    struct tm want;
    ASSERT_NE(gmtime_r(&ht, &want), nullptr);
    struct rtc_time got;
    rtc_time64_to_tm(t, &got);
    EXPECT_EQ(got.tm_year, want.tm_year) << t;
    EXPECT_EQ(got.tm_mon, want.tm_mon) << t;
    EXPECT_EQ(got.tm_mday, want.tm_mday) << t;
    EXPECT_EQ(got.tm_hour, want.tm_hour) << t;
    EXPECT_EQ(got.tm_min, want.tm_min) << t;
    EXPECT_EQ(got.tm_sec, want.tm_sec) << t;
    EXPECT_EQ(got.tm_wday, want.tm_wday) << t;
    EXPECT_EQ(got.tm_yday, want.tm_yday + 1) << t;
    EXPECT_EQ(got.tm_isdst, 0) << t;
    EXPECT_EQ(rtc_valid_tm(&got), 0) << t;
    EXPECT_EQ(rtc_tm_to_time64(&got), t) << t;
}

constexpr time64_t kEnd = 253402300799;  // 9999-12-31T23:59:59Z

class RtcLibTest : public ::testing::Test {};

TEST_F(RtcLibTest, RtcTime64ToTm_SweepMatchesGmtime) {
    // A stride that is not a whole number of days walks through every time of day too.
    for (time64_t t = 0; t <= kEnd; t += 86400 * 37 + 3607) {
        expect_like_gmtime(t);
        if (HasFailure())
            return;
    }
}

TEST_F(RtcLibTest, RtcTime64ToTm_Edges) {
    const time64_t edges[] = {
        0,
        86399,
        86400,
        68255999,  // 1972-02-29 23:59:59
        951782400,
        951868799,
        951868800,  // 2000-02-29 and 03-01
        978220800,  // 2000-12-31 (yday 366)
        4107542399,
        4107542400,   // 2100-02-28 end, 03-01
        13574563200,  // 2400-02-29
        2147483647,
        2147483648,
        4294967295,
        4294967296,  // 32-bit boundaries
        kEnd - 86400,
        kEnd,
    };
    for (time64_t t : edges)
        expect_like_gmtime(t);

    struct rtc_time tm;
    rtc_time64_to_tm(kEnd, &tm);
    EXPECT_EQ(tm.tm_year, 9999 - 1900);
    EXPECT_EQ(tm.tm_mon, 11);
    EXPECT_EQ(tm.tm_mday, 31);
    EXPECT_EQ(tm.tm_yday, 365);
    rtc_time64_to_tm(978220800, &tm);
    EXPECT_EQ(tm.tm_yday, 366);
}

TEST_F(RtcLibTest, MonthDays_LeapRules) {
    EXPECT_EQ(rtc_month_days(1, 2000), 29);
    EXPECT_EQ(rtc_month_days(1, 2100), 28);
    EXPECT_EQ(rtc_month_days(1, 2400), 29);
    EXPECT_EQ(rtc_month_days(1, 2023), 28);
    EXPECT_EQ(rtc_month_days(11, 2023), 31);
    EXPECT_EQ(rtc_year_days(1, 2, 2024), 60);  // 1 March in a leap year, from 0
}

TEST_F(RtcLibTest, RtcValidTm_RejectsOutOfRangeFields) {
    struct rtc_time good = {0, 0, 0, 29, 1, 100, 0, 0, 0};  // 2000-02-29
    EXPECT_EQ(rtc_valid_tm(&good), 0);
    struct rtc_time bad = good;
    bad.tm_year = 101;  // 2001-02-29
    EXPECT_EQ(rtc_valid_tm(&bad), -22);
    bad = good;
    bad.tm_sec = 60;
    EXPECT_EQ(rtc_valid_tm(&bad), -22);
    bad = good;
    bad.tm_year = 69;
    EXPECT_EQ(rtc_valid_tm(&bad), -22);
}

}  // namespace
