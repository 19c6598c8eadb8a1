// Read-copy update (include/linux/rcupdate.h). Read-side sections nest per thread;
// synchronize_rcu() returns once every reader that was inside a section when it was called has
// left it.
#pragma once

#include <platform/compiler.h>

#define __rcu

extern "C" {
void __rcu_read_lock(void);
void __rcu_read_unlock(void);
void synchronize_rcu(void);
int rcu_read_lock_held(void);
}

#ifdef SIM_HOST
// The kernel's own code takes read-side sections inline, as a kernel's preempt count costs: a
// nesting count and a counter that is odd inside a section, both the thread's own. The entry
// needs no fence: synchronize_rcu() makes every running thread execute one (membarrier) before
// it reads the counters. A thread that cannot be fenced that way fences itself.
struct rcu_reader {
    unsigned long ctr;  // odd inside a section; written only by its thread
    int nesting;
    int self_fence;
    struct rcu_reader *next;  // on the grace-period side's list
};

extern "C" {
extern __thread struct rcu_reader *sim_rcu_self __attribute__((tls_model("initial-exec")));
extern int sim_rcu_gp_waiters;  // grace periods waiting for readers to leave
struct rcu_reader *__rcu_reader_register(void);
void __rcu_read_unlock_special(struct rcu_reader *r);
}

static __always_inline void rcu_read_lock(void) {
    struct rcu_reader *r = sim_rcu_self;
    if (unlikely(!r))
        r = __rcu_reader_register();
    if (r->nesting++ == 0) {
        __atomic_store_n(&r->ctr, r->ctr + 1, __ATOMIC_RELAXED);
        if (unlikely(r->self_fence))
            __atomic_thread_fence(__ATOMIC_SEQ_CST);
        __atomic_signal_fence(__ATOMIC_SEQ_CST);
    }
}

static __always_inline void rcu_read_unlock(void) {
    struct rcu_reader *r = sim_rcu_self;
    int n = r ? --r->nesting : -1;
    if (likely(n > 0))
        return;
    // Release: the section's reads are done before a grace period can see it end.
    if (likely(n == 0)) {
        __atomic_store_n(&r->ctr, r->ctr + 1, __ATOMIC_RELEASE);
        __atomic_signal_fence(__ATOMIC_SEQ_CST);
        if (unlikely(r->self_fence))
            __atomic_thread_fence(__ATOMIC_SEQ_CST);
        if (likely(!__atomic_load_n(&sim_rcu_gp_waiters, __ATOMIC_RELAXED)))
            return;
    }
    __rcu_read_unlock_special(r);
}
#else
static __always_inline void rcu_read_lock(void) {
    __rcu_read_lock();
}
static __always_inline void rcu_read_unlock(void) {
    __rcu_read_unlock();
}
#endif

// Since 5.0 one grace period covers the sched and bh flavours too.
static __always_inline void rcu_read_lock_sched(void) {
    rcu_read_lock();
}
static __always_inline void rcu_read_unlock_sched(void) {
    rcu_read_unlock();
}
static __always_inline void rcu_read_lock_bh(void) {
    rcu_read_lock();
}
static __always_inline void rcu_read_unlock_bh(void) {
    rcu_read_unlock();
}
#define synchronize_rcu_tasks() synchronize_rcu()

#define rcu_dereference(p) __atomic_load_n(&(p), __ATOMIC_ACQUIRE)
#define rcu_dereference_raw(p) rcu_dereference(p)
#define rcu_dereference_sched(p) rcu_dereference(p)
#define rcu_dereference_protected(p, c) (p)
#define rcu_access_pointer(p) READ_ONCE(p)
#define rcu_assign_pointer(p, v) __atomic_store_n(&(p), (v), __ATOMIC_RELEASE)
#define RCU_INIT_POINTER(p, v) WRITE_ONCE(p, v)
