// Compiler helpers (include/linux/compiler.h, include/linux/kernel.h).
#pragma once

#include <platform/types.h>

#define likely(x) __builtin_expect(!!(x), 1)
#define unlikely(x) __builtin_expect(!!(x), 0)
#define __printf(a, b) __attribute__((format(printf, a, b)))
#define __maybe_unused __attribute__((unused))
#define __always_unused __attribute__((unused))
#define __must_check __attribute__((warn_unused_result))
// Host code (simkernel, phonesim, tests) is built with SIM_HOST, because libstdc++ uses these
// two names as identifiers.
#ifndef SIM_HOST
#define __init
#define __exit
#endif
#define __user
#define __iomem
#define __force
// Spelled exactly as the C library spells it, so both definitions may meet.
#ifndef __always_inline
#define __always_inline __inline __attribute__((__always_inline__))
#endif

#define READ_ONCE(x) __atomic_load_n(&(x), __ATOMIC_RELAXED)
#define WRITE_ONCE(x, v) __atomic_store_n(&(x), (v), __ATOMIC_RELAXED)

#define barrier() __asm__ __volatile__("" ::: "memory")

#define container_of(ptr, type, member) ((type *)((char *)(ptr) - __builtin_offsetof(type, member)))

#define ARRAY_SIZE(arr) (sizeof(arr) / sizeof((arr)[0]))
#define DIV_ROUND_UP(n, d) (((n) + (d)-1) / (d))
#define BITS_PER_LONG 64
#define BITS_TO_LONGS(nr) DIV_ROUND_UP(nr, BITS_PER_LONG)
#define BIT(nr) (1UL << (nr))

#define PAGE_SHIFT 12
#define PAGE_SIZE (1UL << PAGE_SHIFT)
