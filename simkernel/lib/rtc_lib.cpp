// RTC calendar helpers (a real model of drivers/rtc/lib.c, including its 1-based tm_yday).
#include <platform/errno.h>
#include <platform/rtc.h>

namespace {

const unsigned char rtc_days_in_month[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

const unsigned short rtc_ydays[2][13] = {
    {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365},
    {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335, 366}};

}  // namespace

extern "C" {

int rtc_month_days(unsigned int month, unsigned int year) {
    return rtc_days_in_month[month] + (is_leap_year(year) && month == 1);
}

int rtc_year_days(unsigned int day, unsigned int month, unsigned int year) {
    return rtc_ydays[is_leap_year(year)][month] + day - 1;
}

// Cassio Neri and Lorenz Schneider's Euclidean affine functions, on a calendar that starts on
// 1 March so that the leap day comes last.
void rtc_time64_to_tm(time64_t time, struct rtc_time *tm) {
    int days = static_cast<int>(time / 86400);
    int secs = static_cast<int>(time % 86400);
    tm->tm_wday = (days + 4) % 7;

    // Days since 0000-03-01 in the proleptic Gregorian calendar.
    u32 udays = static_cast<u32>(days) + 719468;

    u32 u32tmp = 4 * udays + 3;
    u32 century = u32tmp / 146097;
    u32 day_of_century = u32tmp % 146097 / 4;

    u32tmp = 4 * day_of_century + 3;
    u64 u64tmp = 2939745ULL * u32tmp;
    u32 year_of_century = static_cast<u32>(u64tmp >> 32);
    u32 day_of_year = static_cast<u32>(u64tmp) / 2939745 / 4;

    u32 year = 100 * century + year_of_century;
    bool leap = year_of_century != 0 ? year_of_century % 4 == 0 : century % 4 == 0;

    u32tmp = 2141 * day_of_year + 132377;
    u32 month = u32tmp >> 16;
    u32 day = static_cast<u16>(u32tmp) / 2141;

    bool is_jan_or_feb = day_of_year >= 306;
    year += is_jan_or_feb;
    month = is_jan_or_feb ? month - 12 : month;
    day += 1;
    day_of_year += is_jan_or_feb ? -306 : 31 + 28 + leap;

    tm->tm_year = static_cast<int>(year - 1900);
    tm->tm_mon = static_cast<int>(month);
    tm->tm_mday = static_cast<int>(day);
    tm->tm_yday = static_cast<int>(day_of_year) + 1;

    tm->tm_hour = secs / 3600;
    secs -= tm->tm_hour * 3600;
    tm->tm_min = secs / 60;
    tm->tm_sec = secs - tm->tm_min * 60;
    tm->tm_isdst = 0;
}

int rtc_valid_tm(struct rtc_time *tm) {
    if (tm->tm_year < 70 || tm->tm_year > (INT32_MAX - 1900) ||
        static_cast<unsigned>(tm->tm_mon) >= 12 || tm->tm_mday < 1 ||
        tm->tm_mday > rtc_month_days(tm->tm_mon, static_cast<unsigned>(tm->tm_year) + 1900) ||
        static_cast<unsigned>(tm->tm_hour) >= 24 || static_cast<unsigned>(tm->tm_min) >= 60 ||
        static_cast<unsigned>(tm->tm_sec) >= 60)
        return -EINVAL;
    return 0;
}

// mktime64() of include/linux/time.h: Gauss's algorithm, months counted from March.
time64_t rtc_tm_to_time64(struct rtc_time *tm) {
    unsigned int year = static_cast<unsigned int>(tm->tm_year) + 1900;
    unsigned int mon = static_cast<unsigned int>(tm->tm_mon) + 1;
    if (0 >= static_cast<int>(mon -= 2)) {
        mon += 12;
        year -= 1;
    }
    s64 days = static_cast<s64>(year / 4 - year / 100 + year / 400 + 367 * mon / 12 +
                                static_cast<unsigned int>(tm->tm_mday)) +
               static_cast<s64>(year) * 365 - 719499;
    return ((days * 24 + tm->tm_hour) * 60 + tm->tm_min) * 60 + tm->tm_sec;
}

}  // extern "C"
