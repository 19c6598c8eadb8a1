// RTC time helpers (include/linux/rtc.h, drivers/rtc/lib.c).
#pragma once

#include <platform/compiler.h>

struct rtc_time {
    int tm_sec;
    int tm_min;
    int tm_hour;
    int tm_mday;
    int tm_mon;   // 0 to 11
    int tm_year;  // years since 1900
    int tm_wday;  // 0 is Sunday
    int tm_yday;  // 0 to 365
    int tm_isdst;
};

static inline bool is_leap_year(unsigned int year) {
    return (!(year % 4) && (year % 100)) || !(year % 400);
}

extern "C" {
// Seconds since the epoch (UTC) into a calendar breakdown; tm_isdst is 0.
void rtc_time64_to_tm(time64_t time, struct rtc_time *tm);
time64_t rtc_tm_to_time64(struct rtc_time *tm);
int rtc_month_days(unsigned int month, unsigned int year);
int rtc_year_days(unsigned int day, unsigned int month, unsigned int year);
// 0 when every field is in range, else -EINVAL.
int rtc_valid_tm(struct rtc_time *tm);
}
