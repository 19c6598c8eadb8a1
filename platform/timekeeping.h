// Kernel clocks (include/linux/timekeeping.h, ktime.h, time64.h). The monotonic clock starts at
// 0 at boot; the wall clock is the boot's wall time plus the monotonic clock; nothing suspends,
// so boot time equals monotonic time.
#pragma once

#include <platform/jiffies.h>

struct timespec64 {
    time64_t tv_sec;
    long tv_nsec;
};

extern "C" {
ktime_t ktime_get(void);
ktime_t ktime_get_real(void);
ktime_t ktime_get_boottime(void);
time64_t ktime_get_seconds(void);
time64_t ktime_get_real_seconds(void);
void ktime_get_real_ts64(struct timespec64 *ts);
void ktime_get_ts64(struct timespec64 *ts);
}

static inline u64 ktime_get_ns(void) {
    return (u64)ktime_get();
}
static inline u64 ktime_get_real_ns(void) {
    return (u64)ktime_get_real();
}
static inline u64 ktime_get_boottime_ns(void) {
    return (u64)ktime_get_boottime();
}
static inline void ktime_get_boottime_ts64(struct timespec64 *ts) {
    ktime_get_ts64(ts);
}

static inline ktime_t ns_to_ktime(u64 ns) {
    return (ktime_t)ns;
}
static inline ktime_t ms_to_ktime(u64 ms) {
    return (ktime_t)(ms * NSEC_PER_MSEC);
}
static inline s64 ktime_to_ns(const ktime_t kt) {
    return kt;
}
static inline s64 ktime_to_us(const ktime_t kt) {
    return kt / NSEC_PER_USEC;
}
static inline s64 ktime_to_ms(const ktime_t kt) {
    return kt / NSEC_PER_MSEC;
}
#define ktime_sub(lhs, rhs) ((lhs) - (rhs))
#define ktime_add(lhs, rhs) ((lhs) + (rhs))
#define ktime_add_ns(kt, nsval) ((kt) + (nsval))
static inline s64 ktime_ms_delta(const ktime_t later, const ktime_t earlier) {
    return ktime_to_ms(ktime_sub(later, earlier));
}
static inline s64 ktime_us_delta(const ktime_t later, const ktime_t earlier) {
    return ktime_to_us(ktime_sub(later, earlier));
}

static inline struct timespec64 ns_to_timespec64(const s64 nsec) {
    struct timespec64 ts = {nsec / NSEC_PER_SEC, (long)(nsec % NSEC_PER_SEC)};
    if (ts.tv_nsec < 0) {
        ts.tv_sec--;
        ts.tv_nsec += NSEC_PER_SEC;
    }
    return ts;
}
static inline s64 timespec64_to_ns(const struct timespec64 *ts) {
    return ts->tv_sec * NSEC_PER_SEC + ts->tv_nsec;
}
