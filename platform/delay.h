// Delays (include/linux/delay.h). The sleeping forms run on the virtual clock and are declared
// with the scheduler; busy-wait delays have no virtual-time meaning and are not provided.
#pragma once

#include <platform/sched.h>

static inline void ssleep(unsigned int seconds) {
    msleep(seconds * 1000);
}
