// Memory barriers (include/asm-generic/barrier.h) on the compiler's atomics.
#pragma once

#include <platform/compiler.h>

#if defined(__SANITIZE_THREAD__)
#define SIM_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define SIM_TSAN 1
#endif
#endif

#ifdef SIM_TSAN
// ThreadSanitizer does not model stand-alone fences; a fully ordered operation on one shared
// word gives it the same happens-before edges (and orders a little more than a fence would).
inline int sim_tsan_fence_word;
#define __sim_fence(order) ((void)__atomic_fetch_add(&sim_tsan_fence_word, 0, (order)))
#else
#define __sim_fence(order) __atomic_thread_fence(order)
#endif

#define smp_mb() __sim_fence(__ATOMIC_SEQ_CST)
#define smp_rmb() __sim_fence(__ATOMIC_ACQUIRE)
#define smp_wmb() __sim_fence(__ATOMIC_RELEASE)
#define mb() smp_mb()
#define rmb() smp_rmb()
#define wmb() smp_wmb()
#define smp_mb__before_atomic() smp_mb()
#define smp_mb__after_atomic() smp_mb()

#define smp_store_release(p, v) __atomic_store_n((p), (v), __ATOMIC_RELEASE)
#define smp_load_acquire(p) __atomic_load_n((p), __ATOMIC_ACQUIRE)
// A store followed by a full barrier.
#define smp_store_mb(var, value) ((void)__atomic_exchange_n(&(var), (value), __ATOMIC_SEQ_CST))
