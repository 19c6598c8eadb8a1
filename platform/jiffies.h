// Jiffies (include/linux/jiffies.h) at HZ 250. jiffies_64 moves with the monotonic clock and is
// read atomically, so a module's read of jiffies never tears or races with the tick.
#pragma once

#include <platform/types.h>

#include <climits>

#define HZ 250
#define MSEC_PER_SEC 1000L
#define USEC_PER_MSEC 1000L
#define USEC_PER_SEC 1000000L
#define NSEC_PER_USEC 1000L
#define NSEC_PER_MSEC 1000000L
#define NSEC_PER_SEC 1000000000L
#define TICK_NSEC ((NSEC_PER_SEC + HZ / 2) / HZ)

// Five minutes before the 32-bit wrap, so wrap bugs show early.
#define INITIAL_JIFFIES ((unsigned long)(unsigned int)(-300 * HZ))
#define MAX_JIFFY_OFFSET ((LONG_MAX >> 1) - 1)

extern "C" {
extern u64 jiffies_64;
u64 get_jiffies_64(void);
unsigned long __msecs_to_jiffies(const unsigned int m);
unsigned long __usecs_to_jiffies(const unsigned int u);
}

#define jiffies ((unsigned long)__atomic_load_n(&jiffies_64, __ATOMIC_RELAXED))

#define time_after(a, b) ((long)((b) - (a)) < 0)
#define time_before(a, b) time_after(b, a)
#define time_after_eq(a, b) ((long)((a) - (b)) >= 0)
#define time_before_eq(a, b) time_after_eq(b, a)
#define time_in_range(a, b, c) (time_after_eq(a, b) && time_before_eq(a, c))
#define time_is_before_jiffies(a) time_after(jiffies, a)
#define time_is_after_jiffies(a) time_before(jiffies, a)

static inline unsigned int jiffies_to_msecs(const unsigned long j) {
    return (unsigned int)((MSEC_PER_SEC / HZ) * j);
}

static inline unsigned int jiffies_to_usecs(const unsigned long j) {
    return (unsigned int)((USEC_PER_SEC / HZ) * j);
}

static inline u64 jiffies_to_nsecs(const unsigned long j) {
    return (u64)j * TICK_NSEC;
}

// HZ divides 1000: round up to whole ticks.
static inline unsigned long _msecs_to_jiffies(const unsigned int m) {
    return (m + (MSEC_PER_SEC / HZ) - 1) / (MSEC_PER_SEC / HZ);
}

static __always_inline unsigned long msecs_to_jiffies(const unsigned int m) {
    if (__builtin_constant_p(m)) {
        if ((int)m < 0)
            return MAX_JIFFY_OFFSET;
        return _msecs_to_jiffies(m);
    }
    return __msecs_to_jiffies(m);
}

static inline unsigned long _usecs_to_jiffies(const unsigned int u) {
    return (u + (USEC_PER_SEC / HZ) - 1) / (USEC_PER_SEC / HZ);
}

static __always_inline unsigned long usecs_to_jiffies(const unsigned int u) {
    if (__builtin_constant_p(u)) {
        if (u > jiffies_to_usecs(MAX_JIFFY_OFFSET))
            return MAX_JIFFY_OFFSET;
        return _usecs_to_jiffies(u);
    }
    return __usecs_to_jiffies(u);
}
