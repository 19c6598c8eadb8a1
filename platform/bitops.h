// Bit operations (include/linux/bitops.h, asm-generic/bitops/atomic.h, lib/find_bit.c).
// set_bit/clear_bit/change_bit and the test_and_ forms are atomic; the __ forms are not.
#pragma once

#include <platform/compiler.h>

#define BIT_MASK(nr) (1UL << ((nr) % BITS_PER_LONG))
#define BIT_WORD(nr) ((nr) / BITS_PER_LONG)

static inline void set_bit(unsigned int nr, volatile unsigned long *addr) {
    __atomic_fetch_or(addr + BIT_WORD(nr), BIT_MASK(nr), __ATOMIC_RELAXED);
}

static inline void clear_bit(unsigned int nr, volatile unsigned long *addr) {
    __atomic_fetch_and(addr + BIT_WORD(nr), ~BIT_MASK(nr), __ATOMIC_RELAXED);
}

static inline void change_bit(unsigned int nr, volatile unsigned long *addr) {
    __atomic_fetch_xor(addr + BIT_WORD(nr), BIT_MASK(nr), __ATOMIC_RELAXED);
}

// Value-returning atomics are fully ordered in the kernel.
static inline bool test_and_set_bit(unsigned int nr, volatile unsigned long *addr) {
    return __atomic_fetch_or(addr + BIT_WORD(nr), BIT_MASK(nr), __ATOMIC_SEQ_CST) & BIT_MASK(nr);
}

static inline bool test_and_clear_bit(unsigned int nr, volatile unsigned long *addr) {
    return __atomic_fetch_and(addr + BIT_WORD(nr), ~BIT_MASK(nr), __ATOMIC_SEQ_CST) & BIT_MASK(nr);
}

static inline void __set_bit(unsigned int nr, volatile unsigned long *addr) {
    *((unsigned long *)addr + BIT_WORD(nr)) |= BIT_MASK(nr);
}

static inline void __clear_bit(unsigned int nr, volatile unsigned long *addr) {
    *((unsigned long *)addr + BIT_WORD(nr)) &= ~BIT_MASK(nr);
}

static inline bool test_bit(unsigned int nr, const volatile unsigned long *addr) {
    return (__atomic_load_n(addr + BIT_WORD(nr), __ATOMIC_RELAXED) >> (nr % BITS_PER_LONG)) & 1UL;
}

static inline unsigned int hweight32(unsigned int w) {
    return __builtin_popcount(w);
}
static inline unsigned long hweight64(u64 w) {
    return __builtin_popcountll(w);
}
static inline unsigned long hweight_long(unsigned long w) {
    return __builtin_popcountl(w);
}

extern "C" {
// Index of the next set (or clear) bit at or after offset, or size if there is none.
unsigned long find_next_bit(const unsigned long *addr, unsigned long size, unsigned long offset);
unsigned long find_next_zero_bit(const unsigned long *addr, unsigned long size,
                                 unsigned long offset);
}

static inline unsigned long find_first_bit(const unsigned long *addr, unsigned long size) {
    return find_next_bit(addr, size, 0);
}

static inline unsigned long find_first_zero_bit(const unsigned long *addr, unsigned long size) {
    return find_next_zero_bit(addr, size, 0);
}

#define for_each_clear_bit(bit, addr, size)                             \
    for ((bit) = find_next_zero_bit((addr), (size), 0); (bit) < (size); \
         (bit) = find_next_zero_bit((addr), (size), (bit) + 1))

#define for_each_set_bit(bit, addr, size)                          \
    for ((bit) = find_next_bit((addr), (size), 0); (bit) < (size); \
         (bit) = find_next_bit((addr), (size), (bit) + 1))
