// Atomic operations (include/linux/atomic.h, Documentation/atomic_t.txt) on the compiler's
// __atomic builtins, which ThreadSanitizer understands. As in the kernel: operations that return
// nothing are unordered; value-returning ones (_return, fetch_, xchg, cmpxchg, _and_test, ...)
// are fully ordered unless named _relaxed, _acquire or _release; a failed cmpxchg is unordered.
#pragma once

#include <platform/barrier.h>
#include <platform/compiler.h>

typedef struct {
    int counter;
} atomic_t;

typedef struct {
    s64 counter;
} atomic64_t;

typedef struct {
    long counter;
} atomic_long_t;

#define ATOMIC_INIT(i) \
    { (i) }
#define ATOMIC64_INIT(i) \
    { (i) }
#define ATOMIC_LONG_INIT(i) \
    { (i) }

// atomic_t
static __always_inline int atomic_read(const atomic_t *v) {
    return __atomic_load_n(&v->counter, __ATOMIC_RELAXED);
}
static __always_inline int atomic_read_acquire(const atomic_t *v) {
    return __atomic_load_n(&v->counter, __ATOMIC_ACQUIRE);
}
static __always_inline void atomic_set(atomic_t *v, int i) {
    __atomic_store_n(&v->counter, i, __ATOMIC_RELAXED);
}
static __always_inline void atomic_set_release(atomic_t *v, int i) {
    __atomic_store_n(&v->counter, i, __ATOMIC_RELEASE);
}
static __always_inline void atomic_add(int i, atomic_t *v) {
    __atomic_fetch_add(&v->counter, i, __ATOMIC_RELAXED);
}
static __always_inline void atomic_sub(int i, atomic_t *v) {
    __atomic_fetch_sub(&v->counter, i, __ATOMIC_RELAXED);
}
static __always_inline void atomic_and(int i, atomic_t *v) {
    __atomic_fetch_and(&v->counter, i, __ATOMIC_RELAXED);
}
static __always_inline void atomic_or(int i, atomic_t *v) {
    __atomic_fetch_or(&v->counter, i, __ATOMIC_RELAXED);
}
static __always_inline void atomic_xor(int i, atomic_t *v) {
    __atomic_fetch_xor(&v->counter, i, __ATOMIC_RELAXED);
}
static __always_inline void atomic_andnot(int i, atomic_t *v) {
    __atomic_fetch_and(&v->counter, ~i, __ATOMIC_RELAXED);
}
static __always_inline void atomic_inc(atomic_t *v) {
    __atomic_fetch_add(&v->counter, 1, __ATOMIC_RELAXED);
}
static __always_inline void atomic_dec(atomic_t *v) {
    __atomic_fetch_sub(&v->counter, 1, __ATOMIC_RELAXED);
}
static __always_inline int atomic_add_return(int i, atomic_t *v) {
    return __atomic_add_fetch(&v->counter, i, __ATOMIC_SEQ_CST);
}
static __always_inline int atomic_sub_return(int i, atomic_t *v) {
    return __atomic_sub_fetch(&v->counter, i, __ATOMIC_SEQ_CST);
}
static __always_inline int atomic_inc_return(atomic_t *v) {
    return __atomic_add_fetch(&v->counter, 1, __ATOMIC_SEQ_CST);
}
static __always_inline int atomic_dec_return(atomic_t *v) {
    return __atomic_sub_fetch(&v->counter, 1, __ATOMIC_SEQ_CST);
}
static __always_inline int atomic_fetch_add(int i, atomic_t *v) {
    return __atomic_fetch_add(&v->counter, i, __ATOMIC_SEQ_CST);
}
static __always_inline int atomic_fetch_sub(int i, atomic_t *v) {
    return __atomic_fetch_sub(&v->counter, i, __ATOMIC_SEQ_CST);
}
static __always_inline int atomic_fetch_and(int i, atomic_t *v) {
    return __atomic_fetch_and(&v->counter, i, __ATOMIC_SEQ_CST);
}
static __always_inline int atomic_fetch_or(int i, atomic_t *v) {
    return __atomic_fetch_or(&v->counter, i, __ATOMIC_SEQ_CST);
}
static __always_inline int atomic_fetch_xor(int i, atomic_t *v) {
    return __atomic_fetch_xor(&v->counter, i, __ATOMIC_SEQ_CST);
}
static __always_inline int atomic_fetch_andnot(int i, atomic_t *v) {
    return __atomic_fetch_and(&v->counter, ~i, __ATOMIC_SEQ_CST);
}
static __always_inline int atomic_fetch_inc(atomic_t *v) {
    return __atomic_fetch_add(&v->counter, 1, __ATOMIC_SEQ_CST);
}
static __always_inline int atomic_fetch_dec(atomic_t *v) {
    return __atomic_fetch_sub(&v->counter, 1, __ATOMIC_SEQ_CST);
}
static __always_inline int atomic_xchg(atomic_t *v, int i) {
    return __atomic_exchange_n(&v->counter, i, __ATOMIC_SEQ_CST);
}
// Stores new when the value is old; returns the value found.
static __always_inline int atomic_cmpxchg(atomic_t *v, int old, int new_value) {
    __atomic_compare_exchange_n(&v->counter, &old, new_value, false, __ATOMIC_SEQ_CST,
                                __ATOMIC_RELAXED);
    return old;
}
// Like cmpxchg, but on failure updates *old with the value found.
static __always_inline bool atomic_try_cmpxchg(atomic_t *v, int *old, int new_value) {
    return __atomic_compare_exchange_n(&v->counter, old, new_value, false, __ATOMIC_SEQ_CST,
                                       __ATOMIC_RELAXED);
}
static __always_inline int atomic_add_return_relaxed(int i, atomic_t *v) {
    return __atomic_add_fetch(&v->counter, i, __ATOMIC_RELAXED);
}
static __always_inline int atomic_sub_return_relaxed(int i, atomic_t *v) {
    return __atomic_sub_fetch(&v->counter, i, __ATOMIC_RELAXED);
}
static __always_inline int atomic_inc_return_relaxed(atomic_t *v) {
    return __atomic_add_fetch(&v->counter, 1, __ATOMIC_RELAXED);
}
static __always_inline int atomic_dec_return_relaxed(atomic_t *v) {
    return __atomic_sub_fetch(&v->counter, 1, __ATOMIC_RELAXED);
}
static __always_inline int atomic_fetch_add_relaxed(int i, atomic_t *v) {
    return __atomic_fetch_add(&v->counter, i, __ATOMIC_RELAXED);
}
static __always_inline int atomic_fetch_sub_relaxed(int i, atomic_t *v) {
    return __atomic_fetch_sub(&v->counter, i, __ATOMIC_RELAXED);
}
static __always_inline int atomic_fetch_and_relaxed(int i, atomic_t *v) {
    return __atomic_fetch_and(&v->counter, i, __ATOMIC_RELAXED);
}
static __always_inline int atomic_fetch_or_relaxed(int i, atomic_t *v) {
    return __atomic_fetch_or(&v->counter, i, __ATOMIC_RELAXED);
}
static __always_inline int atomic_fetch_xor_relaxed(int i, atomic_t *v) {
    return __atomic_fetch_xor(&v->counter, i, __ATOMIC_RELAXED);
}
static __always_inline int atomic_fetch_andnot_relaxed(int i, atomic_t *v) {
    return __atomic_fetch_and(&v->counter, ~i, __ATOMIC_RELAXED);
}
static __always_inline int atomic_fetch_inc_relaxed(atomic_t *v) {
    return __atomic_fetch_add(&v->counter, 1, __ATOMIC_RELAXED);
}
static __always_inline int atomic_fetch_dec_relaxed(atomic_t *v) {
    return __atomic_fetch_sub(&v->counter, 1, __ATOMIC_RELAXED);
}
static __always_inline int atomic_xchg_relaxed(atomic_t *v, int i) {
    return __atomic_exchange_n(&v->counter, i, __ATOMIC_RELAXED);
}
// Stores new when the value is old; returns the value found.
static __always_inline int atomic_cmpxchg_relaxed(atomic_t *v, int old, int new_value) {
    __atomic_compare_exchange_n(&v->counter, &old, new_value, false, __ATOMIC_RELAXED,
                                __ATOMIC_RELAXED);
    return old;
}
// Like cmpxchg, but on failure updates *old with the value found.
static __always_inline bool atomic_try_cmpxchg_relaxed(atomic_t *v, int *old, int new_value) {
    return __atomic_compare_exchange_n(&v->counter, old, new_value, false, __ATOMIC_RELAXED,
                                       __ATOMIC_RELAXED);
}
static __always_inline int atomic_add_return_acquire(int i, atomic_t *v) {
    return __atomic_add_fetch(&v->counter, i, __ATOMIC_ACQUIRE);
}
static __always_inline int atomic_sub_return_acquire(int i, atomic_t *v) {
    return __atomic_sub_fetch(&v->counter, i, __ATOMIC_ACQUIRE);
}
static __always_inline int atomic_inc_return_acquire(atomic_t *v) {
    return __atomic_add_fetch(&v->counter, 1, __ATOMIC_ACQUIRE);
}
static __always_inline int atomic_dec_return_acquire(atomic_t *v) {
    return __atomic_sub_fetch(&v->counter, 1, __ATOMIC_ACQUIRE);
}
static __always_inline int atomic_fetch_add_acquire(int i, atomic_t *v) {
    return __atomic_fetch_add(&v->counter, i, __ATOMIC_ACQUIRE);
}
static __always_inline int atomic_fetch_sub_acquire(int i, atomic_t *v) {
    return __atomic_fetch_sub(&v->counter, i, __ATOMIC_ACQUIRE);
}
static __always_inline int atomic_fetch_and_acquire(int i, atomic_t *v) {
    return __atomic_fetch_and(&v->counter, i, __ATOMIC_ACQUIRE);
}
static __always_inline int atomic_fetch_or_acquire(int i, atomic_t *v) {
    return __atomic_fetch_or(&v->counter, i, __ATOMIC_ACQUIRE);
}
static __always_inline int atomic_fetch_xor_acquire(int i, atomic_t *v) {
    return __atomic_fetch_xor(&v->counter, i, __ATOMIC_ACQUIRE);
}
static __always_inline int atomic_fetch_andnot_acquire(int i, atomic_t *v) {
    return __atomic_fetch_and(&v->counter, ~i, __ATOMIC_ACQUIRE);
}
static __always_inline int atomic_fetch_inc_acquire(atomic_t *v) {
    return __atomic_fetch_add(&v->counter, 1, __ATOMIC_ACQUIRE);
}
static __always_inline int atomic_fetch_dec_acquire(atomic_t *v) {
    return __atomic_fetch_sub(&v->counter, 1, __ATOMIC_ACQUIRE);
}
static __always_inline int atomic_xchg_acquire(atomic_t *v, int i) {
    return __atomic_exchange_n(&v->counter, i, __ATOMIC_ACQUIRE);
}
// Stores new when the value is old; returns the value found.
static __always_inline int atomic_cmpxchg_acquire(atomic_t *v, int old, int new_value) {
    __atomic_compare_exchange_n(&v->counter, &old, new_value, false, __ATOMIC_ACQUIRE,
                                __ATOMIC_RELAXED);
    return old;
}
// Like cmpxchg, but on failure updates *old with the value found.
static __always_inline bool atomic_try_cmpxchg_acquire(atomic_t *v, int *old, int new_value) {
    return __atomic_compare_exchange_n(&v->counter, old, new_value, false, __ATOMIC_ACQUIRE,
                                       __ATOMIC_RELAXED);
}
static __always_inline int atomic_add_return_release(int i, atomic_t *v) {
    return __atomic_add_fetch(&v->counter, i, __ATOMIC_RELEASE);
}
static __always_inline int atomic_sub_return_release(int i, atomic_t *v) {
    return __atomic_sub_fetch(&v->counter, i, __ATOMIC_RELEASE);
}
static __always_inline int atomic_inc_return_release(atomic_t *v) {
    return __atomic_add_fetch(&v->counter, 1, __ATOMIC_RELEASE);
}
static __always_inline int atomic_dec_return_release(atomic_t *v) {
    return __atomic_sub_fetch(&v->counter, 1, __ATOMIC_RELEASE);
}
static __always_inline int atomic_fetch_add_release(int i, atomic_t *v) {
    return __atomic_fetch_add(&v->counter, i, __ATOMIC_RELEASE);
}
static __always_inline int atomic_fetch_sub_release(int i, atomic_t *v) {
    return __atomic_fetch_sub(&v->counter, i, __ATOMIC_RELEASE);
}
static __always_inline int atomic_fetch_and_release(int i, atomic_t *v) {
    return __atomic_fetch_and(&v->counter, i, __ATOMIC_RELEASE);
}
static __always_inline int atomic_fetch_or_release(int i, atomic_t *v) {
    return __atomic_fetch_or(&v->counter, i, __ATOMIC_RELEASE);
}
static __always_inline int atomic_fetch_xor_release(int i, atomic_t *v) {
    return __atomic_fetch_xor(&v->counter, i, __ATOMIC_RELEASE);
}
static __always_inline int atomic_fetch_andnot_release(int i, atomic_t *v) {
    return __atomic_fetch_and(&v->counter, ~i, __ATOMIC_RELEASE);
}
static __always_inline int atomic_fetch_inc_release(atomic_t *v) {
    return __atomic_fetch_add(&v->counter, 1, __ATOMIC_RELEASE);
}
static __always_inline int atomic_fetch_dec_release(atomic_t *v) {
    return __atomic_fetch_sub(&v->counter, 1, __ATOMIC_RELEASE);
}
static __always_inline int atomic_xchg_release(atomic_t *v, int i) {
    return __atomic_exchange_n(&v->counter, i, __ATOMIC_RELEASE);
}
// Stores new when the value is old; returns the value found.
static __always_inline int atomic_cmpxchg_release(atomic_t *v, int old, int new_value) {
    __atomic_compare_exchange_n(&v->counter, &old, new_value, false, __ATOMIC_RELEASE,
                                __ATOMIC_RELAXED);
    return old;
}
// Like cmpxchg, but on failure updates *old with the value found.
static __always_inline bool atomic_try_cmpxchg_release(atomic_t *v, int *old, int new_value) {
    return __atomic_compare_exchange_n(&v->counter, old, new_value, false, __ATOMIC_RELEASE,
                                       __ATOMIC_RELAXED);
}
static __always_inline bool atomic_sub_and_test(int i, atomic_t *v) {
    return atomic_sub_return(i, v) == 0;
}
static __always_inline bool atomic_dec_and_test(atomic_t *v) {
    return atomic_dec_return(v) == 0;
}
static __always_inline bool atomic_inc_and_test(atomic_t *v) {
    return atomic_inc_return(v) == 0;
}
static __always_inline bool atomic_add_negative(int i, atomic_t *v) {
    return atomic_add_return(i, v) < 0;
}
// Adds a unless the value is u; returns the value found.
static __always_inline int atomic_fetch_add_unless(atomic_t *v, int a, int u) {
    int c = atomic_read(v);
    do {
        if (unlikely(c == u))
            break;
    } while (!atomic_try_cmpxchg(v, &c, c + a));
    return c;
}
static __always_inline bool atomic_add_unless(atomic_t *v, int a, int u) {
    return atomic_fetch_add_unless(v, a, u) != u;
}
static __always_inline bool atomic_inc_not_zero(atomic_t *v) {
    return atomic_add_unless(v, 1, 0);
}
// Decrements unless that would go below zero; returns the old value minus one either way.
static __always_inline int atomic_dec_if_positive(atomic_t *v) {
    int c = atomic_read(v);
    do {
        if (unlikely(c - 1 < 0))
            break;
    } while (!atomic_try_cmpxchg(v, &c, c - 1));
    return c - 1;
}

// atomic64_t
static __always_inline s64 atomic64_read(const atomic64_t *v) {
    return __atomic_load_n(&v->counter, __ATOMIC_RELAXED);
}
static __always_inline s64 atomic64_read_acquire(const atomic64_t *v) {
    return __atomic_load_n(&v->counter, __ATOMIC_ACQUIRE);
}
static __always_inline void atomic64_set(atomic64_t *v, s64 i) {
    __atomic_store_n(&v->counter, i, __ATOMIC_RELAXED);
}
static __always_inline void atomic64_set_release(atomic64_t *v, s64 i) {
    __atomic_store_n(&v->counter, i, __ATOMIC_RELEASE);
}
static __always_inline void atomic64_add(s64 i, atomic64_t *v) {
    __atomic_fetch_add(&v->counter, i, __ATOMIC_RELAXED);
}
static __always_inline void atomic64_sub(s64 i, atomic64_t *v) {
    __atomic_fetch_sub(&v->counter, i, __ATOMIC_RELAXED);
}
static __always_inline void atomic64_and(s64 i, atomic64_t *v) {
    __atomic_fetch_and(&v->counter, i, __ATOMIC_RELAXED);
}
static __always_inline void atomic64_or(s64 i, atomic64_t *v) {
    __atomic_fetch_or(&v->counter, i, __ATOMIC_RELAXED);
}
static __always_inline void atomic64_xor(s64 i, atomic64_t *v) {
    __atomic_fetch_xor(&v->counter, i, __ATOMIC_RELAXED);
}
static __always_inline void atomic64_andnot(s64 i, atomic64_t *v) {
    __atomic_fetch_and(&v->counter, ~i, __ATOMIC_RELAXED);
}
static __always_inline void atomic64_inc(atomic64_t *v) {
    __atomic_fetch_add(&v->counter, 1, __ATOMIC_RELAXED);
}
static __always_inline void atomic64_dec(atomic64_t *v) {
    __atomic_fetch_sub(&v->counter, 1, __ATOMIC_RELAXED);
}
static __always_inline s64 atomic64_add_return(s64 i, atomic64_t *v) {
    return __atomic_add_fetch(&v->counter, i, __ATOMIC_SEQ_CST);
}
static __always_inline s64 atomic64_sub_return(s64 i, atomic64_t *v) {
    return __atomic_sub_fetch(&v->counter, i, __ATOMIC_SEQ_CST);
}
static __always_inline s64 atomic64_inc_return(atomic64_t *v) {
    return __atomic_add_fetch(&v->counter, 1, __ATOMIC_SEQ_CST);
}
static __always_inline s64 atomic64_dec_return(atomic64_t *v) {
    return __atomic_sub_fetch(&v->counter, 1, __ATOMIC_SEQ_CST);
}
static __always_inline s64 atomic64_fetch_add(s64 i, atomic64_t *v) {
    return __atomic_fetch_add(&v->counter, i, __ATOMIC_SEQ_CST);
}
static __always_inline s64 atomic64_fetch_sub(s64 i, atomic64_t *v) {
    return __atomic_fetch_sub(&v->counter, i, __ATOMIC_SEQ_CST);
}
static __always_inline s64 atomic64_fetch_and(s64 i, atomic64_t *v) {
    return __atomic_fetch_and(&v->counter, i, __ATOMIC_SEQ_CST);
}
static __always_inline s64 atomic64_fetch_or(s64 i, atomic64_t *v) {
    return __atomic_fetch_or(&v->counter, i, __ATOMIC_SEQ_CST);
}
static __always_inline s64 atomic64_fetch_xor(s64 i, atomic64_t *v) {
    return __atomic_fetch_xor(&v->counter, i, __ATOMIC_SEQ_CST);
}
static __always_inline s64 atomic64_fetch_andnot(s64 i, atomic64_t *v) {
    return __atomic_fetch_and(&v->counter, ~i, __ATOMIC_SEQ_CST);
}
static __always_inline s64 atomic64_fetch_inc(atomic64_t *v) {
    return __atomic_fetch_add(&v->counter, 1, __ATOMIC_SEQ_CST);
}
static __always_inline s64 atomic64_fetch_dec(atomic64_t *v) {
    return __atomic_fetch_sub(&v->counter, 1, __ATOMIC_SEQ_CST);
}
static __always_inline s64 atomic64_xchg(atomic64_t *v, s64 i) {
    return __atomic_exchange_n(&v->counter, i, __ATOMIC_SEQ_CST);
}
// Stores new when the value is old; returns the value found.
static __always_inline s64 atomic64_cmpxchg(atomic64_t *v, s64 old, s64 new_value) {
    __atomic_compare_exchange_n(&v->counter, &old, new_value, false, __ATOMIC_SEQ_CST,
                                __ATOMIC_RELAXED);
    return old;
}
// Like cmpxchg, but on failure updates *old with the value found.
static __always_inline bool atomic64_try_cmpxchg(atomic64_t *v, s64 *old, s64 new_value) {
    return __atomic_compare_exchange_n(&v->counter, old, new_value, false, __ATOMIC_SEQ_CST,
                                       __ATOMIC_RELAXED);
}
static __always_inline s64 atomic64_add_return_relaxed(s64 i, atomic64_t *v) {
    return __atomic_add_fetch(&v->counter, i, __ATOMIC_RELAXED);
}
static __always_inline s64 atomic64_sub_return_relaxed(s64 i, atomic64_t *v) {
    return __atomic_sub_fetch(&v->counter, i, __ATOMIC_RELAXED);
}
static __always_inline s64 atomic64_inc_return_relaxed(atomic64_t *v) {
    return __atomic_add_fetch(&v->counter, 1, __ATOMIC_RELAXED);
}
static __always_inline s64 atomic64_dec_return_relaxed(atomic64_t *v) {
    return __atomic_sub_fetch(&v->counter, 1, __ATOMIC_RELAXED);
}
static __always_inline s64 atomic64_fetch_add_relaxed(s64 i, atomic64_t *v) {
    return __atomic_fetch_add(&v->counter, i, __ATOMIC_RELAXED);
}
static __always_inline s64 atomic64_fetch_sub_relaxed(s64 i, atomic64_t *v) {
    return __atomic_fetch_sub(&v->counter, i, __ATOMIC_RELAXED);
}
static __always_inline s64 atomic64_fetch_and_relaxed(s64 i, atomic64_t *v) {
    return __atomic_fetch_and(&v->counter, i, __ATOMIC_RELAXED);
}
static __always_inline s64 atomic64_fetch_or_relaxed(s64 i, atomic64_t *v) {
    return __atomic_fetch_or(&v->counter, i, __ATOMIC_RELAXED);
}
static __always_inline s64 atomic64_fetch_xor_relaxed(s64 i, atomic64_t *v) {
    return __atomic_fetch_xor(&v->counter, i, __ATOMIC_RELAXED);
}
static __always_inline s64 atomic64_fetch_andnot_relaxed(s64 i, atomic64_t *v) {
    return __atomic_fetch_and(&v->counter, ~i, __ATOMIC_RELAXED);
}
static __always_inline s64 atomic64_fetch_inc_relaxed(atomic64_t *v) {
    return __atomic_fetch_add(&v->counter, 1, __ATOMIC_RELAXED);
}
static __always_inline s64 atomic64_fetch_dec_relaxed(atomic64_t *v) {
    return __atomic_fetch_sub(&v->counter, 1, __ATOMIC_RELAXED);
}
static __always_inline s64 atomic64_xchg_relaxed(atomic64_t *v, s64 i) {
    return __atomic_exchange_n(&v->counter, i, __ATOMIC_RELAXED);
}
// Stores new when the value is old; returns the value found.
static __always_inline s64 atomic64_cmpxchg_relaxed(atomic64_t *v, s64 old, s64 new_value) {
    __atomic_compare_exchange_n(&v->counter, &old, new_value, false, __ATOMIC_RELAXED,
                                __ATOMIC_RELAXED);
    return old;
}
// Like cmpxchg, but on failure updates *old with the value found.
static __always_inline bool atomic64_try_cmpxchg_relaxed(atomic64_t *v, s64 *old, s64 new_value) {
    return __atomic_compare_exchange_n(&v->counter, old, new_value, false, __ATOMIC_RELAXED,
                                       __ATOMIC_RELAXED);
}
static __always_inline s64 atomic64_add_return_acquire(s64 i, atomic64_t *v) {
    return __atomic_add_fetch(&v->counter, i, __ATOMIC_ACQUIRE);
}
static __always_inline s64 atomic64_sub_return_acquire(s64 i, atomic64_t *v) {
    return __atomic_sub_fetch(&v->counter, i, __ATOMIC_ACQUIRE);
}
static __always_inline s64 atomic64_inc_return_acquire(atomic64_t *v) {
    return __atomic_add_fetch(&v->counter, 1, __ATOMIC_ACQUIRE);
}
static __always_inline s64 atomic64_dec_return_acquire(atomic64_t *v) {
    return __atomic_sub_fetch(&v->counter, 1, __ATOMIC_ACQUIRE);
}
static __always_inline s64 atomic64_fetch_add_acquire(s64 i, atomic64_t *v) {
    return __atomic_fetch_add(&v->counter, i, __ATOMIC_ACQUIRE);
}
static __always_inline s64 atomic64_fetch_sub_acquire(s64 i, atomic64_t *v) {
    return __atomic_fetch_sub(&v->counter, i, __ATOMIC_ACQUIRE);
}
static __always_inline s64 atomic64_fetch_and_acquire(s64 i, atomic64_t *v) {
    return __atomic_fetch_and(&v->counter, i, __ATOMIC_ACQUIRE);
}
static __always_inline s64 atomic64_fetch_or_acquire(s64 i, atomic64_t *v) {
    return __atomic_fetch_or(&v->counter, i, __ATOMIC_ACQUIRE);
}
static __always_inline s64 atomic64_fetch_xor_acquire(s64 i, atomic64_t *v) {
    return __atomic_fetch_xor(&v->counter, i, __ATOMIC_ACQUIRE);
}
static __always_inline s64 atomic64_fetch_andnot_acquire(s64 i, atomic64_t *v) {
    return __atomic_fetch_and(&v->counter, ~i, __ATOMIC_ACQUIRE);
}
static __always_inline s64 atomic64_fetch_inc_acquire(atomic64_t *v) {
    return __atomic_fetch_add(&v->counter, 1, __ATOMIC_ACQUIRE);
}
static __always_inline s64 atomic64_fetch_dec_acquire(atomic64_t *v) {
    return __atomic_fetch_sub(&v->counter, 1, __ATOMIC_ACQUIRE);
}
static __always_inline s64 atomic64_xchg_acquire(atomic64_t *v, s64 i) {
    return __atomic_exchange_n(&v->counter, i, __ATOMIC_ACQUIRE);
}
// Stores new when the value is old; returns the value found.
static __always_inline s64 atomic64_cmpxchg_acquire(atomic64_t *v, s64 old, s64 new_value) {
    __atomic_compare_exchange_n(&v->counter, &old, new_value, false, __ATOMIC_ACQUIRE,
                                __ATOMIC_RELAXED);
    return old;
}
// Like cmpxchg, but on failure updates *old with the value found.
static __always_inline bool atomic64_try_cmpxchg_acquire(atomic64_t *v, s64 *old, s64 new_value) {
    return __atomic_compare_exchange_n(&v->counter, old, new_value, false, __ATOMIC_ACQUIRE,
                                       __ATOMIC_RELAXED);
}
static __always_inline s64 atomic64_add_return_release(s64 i, atomic64_t *v) {
    return __atomic_add_fetch(&v->counter, i, __ATOMIC_RELEASE);
}
static __always_inline s64 atomic64_sub_return_release(s64 i, atomic64_t *v) {
    return __atomic_sub_fetch(&v->counter, i, __ATOMIC_RELEASE);
}
static __always_inline s64 atomic64_inc_return_release(atomic64_t *v) {
    return __atomic_add_fetch(&v->counter, 1, __ATOMIC_RELEASE);
}
static __always_inline s64 atomic64_dec_return_release(atomic64_t *v) {
    return __atomic_sub_fetch(&v->counter, 1, __ATOMIC_RELEASE);
}
static __always_inline s64 atomic64_fetch_add_release(s64 i, atomic64_t *v) {
    return __atomic_fetch_add(&v->counter, i, __ATOMIC_RELEASE);
}
static __always_inline s64 atomic64_fetch_sub_release(s64 i, atomic64_t *v) {
    return __atomic_fetch_sub(&v->counter, i, __ATOMIC_RELEASE);
}
static __always_inline s64 atomic64_fetch_and_release(s64 i, atomic64_t *v) {
    return __atomic_fetch_and(&v->counter, i, __ATOMIC_RELEASE);
}
static __always_inline s64 atomic64_fetch_or_release(s64 i, atomic64_t *v) {
    return __atomic_fetch_or(&v->counter, i, __ATOMIC_RELEASE);
}
static __always_inline s64 atomic64_fetch_xor_release(s64 i, atomic64_t *v) {
    return __atomic_fetch_xor(&v->counter, i, __ATOMIC_RELEASE);
}
static __always_inline s64 atomic64_fetch_andnot_release(s64 i, atomic64_t *v) {
    return __atomic_fetch_and(&v->counter, ~i, __ATOMIC_RELEASE);
}
static __always_inline s64 atomic64_fetch_inc_release(atomic64_t *v) {
    return __atomic_fetch_add(&v->counter, 1, __ATOMIC_RELEASE);
}
static __always_inline s64 atomic64_fetch_dec_release(atomic64_t *v) {
    return __atomic_fetch_sub(&v->counter, 1, __ATOMIC_RELEASE);
}
static __always_inline s64 atomic64_xchg_release(atomic64_t *v, s64 i) {
    return __atomic_exchange_n(&v->counter, i, __ATOMIC_RELEASE);
}
// Stores new when the value is old; returns the value found.
static __always_inline s64 atomic64_cmpxchg_release(atomic64_t *v, s64 old, s64 new_value) {
    __atomic_compare_exchange_n(&v->counter, &old, new_value, false, __ATOMIC_RELEASE,
                                __ATOMIC_RELAXED);
    return old;
}
// Like cmpxchg, but on failure updates *old with the value found.
static __always_inline bool atomic64_try_cmpxchg_release(atomic64_t *v, s64 *old, s64 new_value) {
    return __atomic_compare_exchange_n(&v->counter, old, new_value, false, __ATOMIC_RELEASE,
                                       __ATOMIC_RELAXED);
}
static __always_inline bool atomic64_sub_and_test(s64 i, atomic64_t *v) {
    return atomic64_sub_return(i, v) == 0;
}
static __always_inline bool atomic64_dec_and_test(atomic64_t *v) {
    return atomic64_dec_return(v) == 0;
}
static __always_inline bool atomic64_inc_and_test(atomic64_t *v) {
    return atomic64_inc_return(v) == 0;
}
static __always_inline bool atomic64_add_negative(s64 i, atomic64_t *v) {
    return atomic64_add_return(i, v) < 0;
}
// Adds a unless the value is u; returns the value found.
static __always_inline s64 atomic64_fetch_add_unless(atomic64_t *v, s64 a, s64 u) {
    s64 c = atomic64_read(v);
    do {
        if (unlikely(c == u))
            break;
    } while (!atomic64_try_cmpxchg(v, &c, c + a));
    return c;
}
static __always_inline bool atomic64_add_unless(atomic64_t *v, s64 a, s64 u) {
    return atomic64_fetch_add_unless(v, a, u) != u;
}
static __always_inline bool atomic64_inc_not_zero(atomic64_t *v) {
    return atomic64_add_unless(v, 1, 0);
}
// Decrements unless that would go below zero; returns the old value minus one either way.
static __always_inline s64 atomic64_dec_if_positive(atomic64_t *v) {
    s64 c = atomic64_read(v);
    do {
        if (unlikely(c - 1 < 0))
            break;
    } while (!atomic64_try_cmpxchg(v, &c, c - 1));
    return c - 1;
}

// atomic_long_t
static __always_inline long atomic_long_read(const atomic_long_t *v) {
    return __atomic_load_n(&v->counter, __ATOMIC_RELAXED);
}
static __always_inline long atomic_long_read_acquire(const atomic_long_t *v) {
    return __atomic_load_n(&v->counter, __ATOMIC_ACQUIRE);
}
static __always_inline void atomic_long_set(atomic_long_t *v, long i) {
    __atomic_store_n(&v->counter, i, __ATOMIC_RELAXED);
}
static __always_inline void atomic_long_set_release(atomic_long_t *v, long i) {
    __atomic_store_n(&v->counter, i, __ATOMIC_RELEASE);
}
static __always_inline void atomic_long_add(long i, atomic_long_t *v) {
    __atomic_fetch_add(&v->counter, i, __ATOMIC_RELAXED);
}
static __always_inline void atomic_long_sub(long i, atomic_long_t *v) {
    __atomic_fetch_sub(&v->counter, i, __ATOMIC_RELAXED);
}
static __always_inline void atomic_long_and(long i, atomic_long_t *v) {
    __atomic_fetch_and(&v->counter, i, __ATOMIC_RELAXED);
}
static __always_inline void atomic_long_or(long i, atomic_long_t *v) {
    __atomic_fetch_or(&v->counter, i, __ATOMIC_RELAXED);
}
static __always_inline void atomic_long_xor(long i, atomic_long_t *v) {
    __atomic_fetch_xor(&v->counter, i, __ATOMIC_RELAXED);
}
static __always_inline void atomic_long_andnot(long i, atomic_long_t *v) {
    __atomic_fetch_and(&v->counter, ~i, __ATOMIC_RELAXED);
}
static __always_inline void atomic_long_inc(atomic_long_t *v) {
    __atomic_fetch_add(&v->counter, 1, __ATOMIC_RELAXED);
}
static __always_inline void atomic_long_dec(atomic_long_t *v) {
    __atomic_fetch_sub(&v->counter, 1, __ATOMIC_RELAXED);
}
static __always_inline long atomic_long_add_return(long i, atomic_long_t *v) {
    return __atomic_add_fetch(&v->counter, i, __ATOMIC_SEQ_CST);
}
static __always_inline long atomic_long_sub_return(long i, atomic_long_t *v) {
    return __atomic_sub_fetch(&v->counter, i, __ATOMIC_SEQ_CST);
}
static __always_inline long atomic_long_inc_return(atomic_long_t *v) {
    return __atomic_add_fetch(&v->counter, 1, __ATOMIC_SEQ_CST);
}
static __always_inline long atomic_long_dec_return(atomic_long_t *v) {
    return __atomic_sub_fetch(&v->counter, 1, __ATOMIC_SEQ_CST);
}
static __always_inline long atomic_long_fetch_add(long i, atomic_long_t *v) {
    return __atomic_fetch_add(&v->counter, i, __ATOMIC_SEQ_CST);
}
static __always_inline long atomic_long_fetch_sub(long i, atomic_long_t *v) {
    return __atomic_fetch_sub(&v->counter, i, __ATOMIC_SEQ_CST);
}
static __always_inline long atomic_long_fetch_and(long i, atomic_long_t *v) {
    return __atomic_fetch_and(&v->counter, i, __ATOMIC_SEQ_CST);
}
static __always_inline long atomic_long_fetch_or(long i, atomic_long_t *v) {
    return __atomic_fetch_or(&v->counter, i, __ATOMIC_SEQ_CST);
}
static __always_inline long atomic_long_fetch_xor(long i, atomic_long_t *v) {
    return __atomic_fetch_xor(&v->counter, i, __ATOMIC_SEQ_CST);
}
static __always_inline long atomic_long_fetch_andnot(long i, atomic_long_t *v) {
    return __atomic_fetch_and(&v->counter, ~i, __ATOMIC_SEQ_CST);
}
static __always_inline long atomic_long_fetch_inc(atomic_long_t *v) {
    return __atomic_fetch_add(&v->counter, 1, __ATOMIC_SEQ_CST);
}
static __always_inline long atomic_long_fetch_dec(atomic_long_t *v) {
    return __atomic_fetch_sub(&v->counter, 1, __ATOMIC_SEQ_CST);
}
static __always_inline long atomic_long_xchg(atomic_long_t *v, long i) {
    return __atomic_exchange_n(&v->counter, i, __ATOMIC_SEQ_CST);
}
// Stores new when the value is old; returns the value found.
static __always_inline long atomic_long_cmpxchg(atomic_long_t *v, long old, long new_value) {
    __atomic_compare_exchange_n(&v->counter, &old, new_value, false, __ATOMIC_SEQ_CST,
                                __ATOMIC_RELAXED);
    return old;
}
// Like cmpxchg, but on failure updates *old with the value found.
static __always_inline bool atomic_long_try_cmpxchg(atomic_long_t *v, long *old, long new_value) {
    return __atomic_compare_exchange_n(&v->counter, old, new_value, false, __ATOMIC_SEQ_CST,
                                       __ATOMIC_RELAXED);
}
static __always_inline long atomic_long_add_return_relaxed(long i, atomic_long_t *v) {
    return __atomic_add_fetch(&v->counter, i, __ATOMIC_RELAXED);
}
static __always_inline long atomic_long_sub_return_relaxed(long i, atomic_long_t *v) {
    return __atomic_sub_fetch(&v->counter, i, __ATOMIC_RELAXED);
}
static __always_inline long atomic_long_inc_return_relaxed(atomic_long_t *v) {
    return __atomic_add_fetch(&v->counter, 1, __ATOMIC_RELAXED);
}
static __always_inline long atomic_long_dec_return_relaxed(atomic_long_t *v) {
    return __atomic_sub_fetch(&v->counter, 1, __ATOMIC_RELAXED);
}
static __always_inline long atomic_long_fetch_add_relaxed(long i, atomic_long_t *v) {
    return __atomic_fetch_add(&v->counter, i, __ATOMIC_RELAXED);
}
static __always_inline long atomic_long_fetch_sub_relaxed(long i, atomic_long_t *v) {
    return __atomic_fetch_sub(&v->counter, i, __ATOMIC_RELAXED);
}
static __always_inline long atomic_long_fetch_and_relaxed(long i, atomic_long_t *v) {
    return __atomic_fetch_and(&v->counter, i, __ATOMIC_RELAXED);
}
static __always_inline long atomic_long_fetch_or_relaxed(long i, atomic_long_t *v) {
    return __atomic_fetch_or(&v->counter, i, __ATOMIC_RELAXED);
}
static __always_inline long atomic_long_fetch_xor_relaxed(long i, atomic_long_t *v) {
    return __atomic_fetch_xor(&v->counter, i, __ATOMIC_RELAXED);
}
static __always_inline long atomic_long_fetch_andnot_relaxed(long i, atomic_long_t *v) {
    return __atomic_fetch_and(&v->counter, ~i, __ATOMIC_RELAXED);
}
static __always_inline long atomic_long_fetch_inc_relaxed(atomic_long_t *v) {
    return __atomic_fetch_add(&v->counter, 1, __ATOMIC_RELAXED);
}
static __always_inline long atomic_long_fetch_dec_relaxed(atomic_long_t *v) {
    return __atomic_fetch_sub(&v->counter, 1, __ATOMIC_RELAXED);
}
static __always_inline long atomic_long_xchg_relaxed(atomic_long_t *v, long i) {
    return __atomic_exchange_n(&v->counter, i, __ATOMIC_RELAXED);
}
// Stores new when the value is old; returns the value found.
static __always_inline long atomic_long_cmpxchg_relaxed(atomic_long_t *v, long old,
                                                        long new_value) {
    __atomic_compare_exchange_n(&v->counter, &old, new_value, false, __ATOMIC_RELAXED,
                                __ATOMIC_RELAXED);
    return old;
}
// Like cmpxchg, but on failure updates *old with the value found.
static __always_inline bool atomic_long_try_cmpxchg_relaxed(atomic_long_t *v, long *old,
                                                            long new_value) {
    return __atomic_compare_exchange_n(&v->counter, old, new_value, false, __ATOMIC_RELAXED,
                                       __ATOMIC_RELAXED);
}
static __always_inline long atomic_long_add_return_acquire(long i, atomic_long_t *v) {
    return __atomic_add_fetch(&v->counter, i, __ATOMIC_ACQUIRE);
}
static __always_inline long atomic_long_sub_return_acquire(long i, atomic_long_t *v) {
    return __atomic_sub_fetch(&v->counter, i, __ATOMIC_ACQUIRE);
}
static __always_inline long atomic_long_inc_return_acquire(atomic_long_t *v) {
    return __atomic_add_fetch(&v->counter, 1, __ATOMIC_ACQUIRE);
}
static __always_inline long atomic_long_dec_return_acquire(atomic_long_t *v) {
    return __atomic_sub_fetch(&v->counter, 1, __ATOMIC_ACQUIRE);
}
static __always_inline long atomic_long_fetch_add_acquire(long i, atomic_long_t *v) {
    return __atomic_fetch_add(&v->counter, i, __ATOMIC_ACQUIRE);
}
static __always_inline long atomic_long_fetch_sub_acquire(long i, atomic_long_t *v) {
    return __atomic_fetch_sub(&v->counter, i, __ATOMIC_ACQUIRE);
}
static __always_inline long atomic_long_fetch_and_acquire(long i, atomic_long_t *v) {
    return __atomic_fetch_and(&v->counter, i, __ATOMIC_ACQUIRE);
}
static __always_inline long atomic_long_fetch_or_acquire(long i, atomic_long_t *v) {
    return __atomic_fetch_or(&v->counter, i, __ATOMIC_ACQUIRE);
}
static __always_inline long atomic_long_fetch_xor_acquire(long i, atomic_long_t *v) {
    return __atomic_fetch_xor(&v->counter, i, __ATOMIC_ACQUIRE);
}
static __always_inline long atomic_long_fetch_andnot_acquire(long i, atomic_long_t *v) {
    return __atomic_fetch_and(&v->counter, ~i, __ATOMIC_ACQUIRE);
}
static __always_inline long atomic_long_fetch_inc_acquire(atomic_long_t *v) {
    return __atomic_fetch_add(&v->counter, 1, __ATOMIC_ACQUIRE);
}
static __always_inline long atomic_long_fetch_dec_acquire(atomic_long_t *v) {
    return __atomic_fetch_sub(&v->counter, 1, __ATOMIC_ACQUIRE);
}
static __always_inline long atomic_long_xchg_acquire(atomic_long_t *v, long i) {
    return __atomic_exchange_n(&v->counter, i, __ATOMIC_ACQUIRE);
}
// Stores new when the value is old; returns the value found.
static __always_inline long atomic_long_cmpxchg_acquire(atomic_long_t *v, long old,
                                                        long new_value) {
    __atomic_compare_exchange_n(&v->counter, &old, new_value, false, __ATOMIC_ACQUIRE,
                                __ATOMIC_RELAXED);
    return old;
}
// Like cmpxchg, but on failure updates *old with the value found.
static __always_inline bool atomic_long_try_cmpxchg_acquire(atomic_long_t *v, long *old,
                                                            long new_value) {
    return __atomic_compare_exchange_n(&v->counter, old, new_value, false, __ATOMIC_ACQUIRE,
                                       __ATOMIC_RELAXED);
}
static __always_inline long atomic_long_add_return_release(long i, atomic_long_t *v) {
    return __atomic_add_fetch(&v->counter, i, __ATOMIC_RELEASE);
}
static __always_inline long atomic_long_sub_return_release(long i, atomic_long_t *v) {
    return __atomic_sub_fetch(&v->counter, i, __ATOMIC_RELEASE);
}
static __always_inline long atomic_long_inc_return_release(atomic_long_t *v) {
    return __atomic_add_fetch(&v->counter, 1, __ATOMIC_RELEASE);
}
static __always_inline long atomic_long_dec_return_release(atomic_long_t *v) {
    return __atomic_sub_fetch(&v->counter, 1, __ATOMIC_RELEASE);
}
static __always_inline long atomic_long_fetch_add_release(long i, atomic_long_t *v) {
    return __atomic_fetch_add(&v->counter, i, __ATOMIC_RELEASE);
}
static __always_inline long atomic_long_fetch_sub_release(long i, atomic_long_t *v) {
    return __atomic_fetch_sub(&v->counter, i, __ATOMIC_RELEASE);
}
static __always_inline long atomic_long_fetch_and_release(long i, atomic_long_t *v) {
    return __atomic_fetch_and(&v->counter, i, __ATOMIC_RELEASE);
}
static __always_inline long atomic_long_fetch_or_release(long i, atomic_long_t *v) {
    return __atomic_fetch_or(&v->counter, i, __ATOMIC_RELEASE);
}
static __always_inline long atomic_long_fetch_xor_release(long i, atomic_long_t *v) {
    return __atomic_fetch_xor(&v->counter, i, __ATOMIC_RELEASE);
}
static __always_inline long atomic_long_fetch_andnot_release(long i, atomic_long_t *v) {
    return __atomic_fetch_and(&v->counter, ~i, __ATOMIC_RELEASE);
}
static __always_inline long atomic_long_fetch_inc_release(atomic_long_t *v) {
    return __atomic_fetch_add(&v->counter, 1, __ATOMIC_RELEASE);
}
static __always_inline long atomic_long_fetch_dec_release(atomic_long_t *v) {
    return __atomic_fetch_sub(&v->counter, 1, __ATOMIC_RELEASE);
}
static __always_inline long atomic_long_xchg_release(atomic_long_t *v, long i) {
    return __atomic_exchange_n(&v->counter, i, __ATOMIC_RELEASE);
}
// Stores new when the value is old; returns the value found.
static __always_inline long atomic_long_cmpxchg_release(atomic_long_t *v, long old,
                                                        long new_value) {
    __atomic_compare_exchange_n(&v->counter, &old, new_value, false, __ATOMIC_RELEASE,
                                __ATOMIC_RELAXED);
    return old;
}
// Like cmpxchg, but on failure updates *old with the value found.
static __always_inline bool atomic_long_try_cmpxchg_release(atomic_long_t *v, long *old,
                                                            long new_value) {
    return __atomic_compare_exchange_n(&v->counter, old, new_value, false, __ATOMIC_RELEASE,
                                       __ATOMIC_RELAXED);
}
static __always_inline bool atomic_long_sub_and_test(long i, atomic_long_t *v) {
    return atomic_long_sub_return(i, v) == 0;
}
static __always_inline bool atomic_long_dec_and_test(atomic_long_t *v) {
    return atomic_long_dec_return(v) == 0;
}
static __always_inline bool atomic_long_inc_and_test(atomic_long_t *v) {
    return atomic_long_inc_return(v) == 0;
}
static __always_inline bool atomic_long_add_negative(long i, atomic_long_t *v) {
    return atomic_long_add_return(i, v) < 0;
}
// Adds a unless the value is u; returns the value found.
static __always_inline long atomic_long_fetch_add_unless(atomic_long_t *v, long a, long u) {
    long c = atomic_long_read(v);
    do {
        if (unlikely(c == u))
            break;
    } while (!atomic_long_try_cmpxchg(v, &c, c + a));
    return c;
}
static __always_inline bool atomic_long_add_unless(atomic_long_t *v, long a, long u) {
    return atomic_long_fetch_add_unless(v, a, u) != u;
}
static __always_inline bool atomic_long_inc_not_zero(atomic_long_t *v) {
    return atomic_long_add_unless(v, 1, 0);
}
// Decrements unless that would go below zero; returns the old value minus one either way.
static __always_inline long atomic_long_dec_if_positive(atomic_long_t *v) {
    long c = atomic_long_read(v);
    do {
        if (unlikely(c - 1 < 0))
            break;
    } while (!atomic_long_try_cmpxchg(v, &c, c - 1));
    return c - 1;
}

// On plain variables: fully ordered, returning the old value.
#define xchg(ptr, v) __atomic_exchange_n((ptr), (v), __ATOMIC_SEQ_CST)
#define xchg_relaxed(ptr, v) __atomic_exchange_n((ptr), (v), __ATOMIC_RELAXED)
#define __sim_cmpxchg(ptr, o, n, order)                                                    \
    ({                                                                                     \
        __typeof__(*(ptr)) __old = (o);                                                    \
        __atomic_compare_exchange_n((ptr), &__old, (n), false, (order), __ATOMIC_RELAXED); \
        __old;                                                                             \
    })
#define cmpxchg(ptr, o, n) __sim_cmpxchg((ptr), (o), (n), __ATOMIC_SEQ_CST)
#define cmpxchg_relaxed(ptr, o, n) __sim_cmpxchg((ptr), (o), (n), __ATOMIC_RELAXED)
#define cmpxchg_acquire(ptr, o, n) __sim_cmpxchg((ptr), (o), (n), __ATOMIC_ACQUIRE)
#define cmpxchg_release(ptr, o, n) __sim_cmpxchg((ptr), (o), (n), __ATOMIC_RELEASE)
