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
// The kernel's own code takes read-side sections inline, at the cost of a kernel's preempt
// count: one word of the thread's own holds the nesting depth (low bits) and the number of
// sections it has left (high bits), updated with plain stores. The entry needs no fence:
// synchronize_rcu() makes every running thread execute one (membarrier) before it reads the
// words. Where membarrier is missing, readers update the word with fully ordered operations.
#define RCU_NEST_MASK 0xffffUL
#define RCU_SECTION_ONE (RCU_NEST_MASK + 1)

struct rcu_reader {
    unsigned long state;  // sections left * RCU_SECTION_ONE + nesting; written by its thread
    int self_fence;
    struct rcu_reader *next;  // on the grace-period side's list
};

extern "C" {
extern __thread struct rcu_reader *sim_rcu_self __attribute__((tls_model("initial-exec")));
extern int sim_rcu_gp_waiters;  // grace periods waiting for readers to leave
struct rcu_reader *__rcu_reader_register(void);
void __rcu_read_unlock_special(struct rcu_reader *r);
void __rcu_read_unlock_unbalanced(void);
}

// Entry and exit for a caller that keeps the thread's record between them.
static __always_inline struct rcu_reader *__rcu_read_lock_reader(void) {
    struct rcu_reader *r = sim_rcu_self;
    if (unlikely(!r))
        r = __rcu_reader_register();
    if (unlikely(r->self_fence))
        __atomic_fetch_add(&r->state, 1UL, __ATOMIC_SEQ_CST);
    else
        __atomic_store_n(&r->state, r->state + 1, __ATOMIC_RELAXED);
    __atomic_signal_fence(__ATOMIC_SEQ_CST);
    return r;
}

static __always_inline void __rcu_read_unlock_reader(struct rcu_reader *r) {
    __atomic_signal_fence(__ATOMIC_SEQ_CST);
    unsigned long s = r ? r->state : 0, n = s & RCU_NEST_MASK;
    if (likely(n > 1)) {
        __atomic_store_n(&r->state, s - 1, __ATOMIC_RELAXED);
        return;
    }
    if (unlikely(n == 0)) {
        __rcu_read_unlock_unbalanced();
        return;
    }
    // Release: the section's reads are done before a grace period can see it end.
    if (unlikely(r->self_fence))
        __atomic_exchange_n(&r->state, s - 1 + RCU_SECTION_ONE, __ATOMIC_SEQ_CST);
    else
        __atomic_store_n(&r->state, s - 1 + RCU_SECTION_ONE, __ATOMIC_RELEASE);
    __atomic_signal_fence(__ATOMIC_SEQ_CST);
    if (unlikely(__atomic_load_n(&sim_rcu_gp_waiters, __ATOMIC_SEQ_CST)))
        __rcu_read_unlock_special(r);
}

static __always_inline void rcu_read_lock(void) {
    (void)__rcu_read_lock_reader();
}

static __always_inline void rcu_read_unlock(void) {
    __rcu_read_unlock_reader(sim_rcu_self);
}

// A section whose exit knows the word its entry found (tracepoint calls): nested sections in
// between leave the word as they found it, so the exit stores without reading it back, and
// the thread's next entry does not wait for that read.
struct rcu_sched_token {
    struct rcu_reader *r;
    unsigned long state;  // before the entry
};

static __always_inline struct rcu_sched_token __rcu_sched_enter(void) {
    struct rcu_reader *r = sim_rcu_self;
    if (unlikely(!r))
        r = __rcu_reader_register();
    unsigned long s;
    if (unlikely(r->self_fence)) {
        s = __atomic_fetch_add(&r->state, 1UL, __ATOMIC_SEQ_CST);
    } else {
        s = r->state;
        __atomic_store_n(&r->state, s + 1, __ATOMIC_RELAXED);
    }
    __atomic_signal_fence(__ATOMIC_SEQ_CST);
    return {r, s};
}

static __always_inline void __rcu_sched_exit(struct rcu_sched_token t) {
    __atomic_signal_fence(__ATOMIC_SEQ_CST);
    // Sections in between that were left unbalanced are reported by the general exit.
    if (unlikely(t.r->state != t.state + 1)) {
        __rcu_read_unlock_reader(t.r);
        return;
    }
    if (t.state & RCU_NEST_MASK) {
        __atomic_store_n(&t.r->state, t.state, __ATOMIC_RELAXED);
        return;
    }
    if (unlikely(t.r->self_fence))
        __atomic_exchange_n(&t.r->state, t.state + RCU_SECTION_ONE, __ATOMIC_SEQ_CST);
    else
        __atomic_store_n(&t.r->state, t.state + RCU_SECTION_ONE, __ATOMIC_RELEASE);
    __atomic_signal_fence(__ATOMIC_SEQ_CST);
    if (unlikely(__atomic_load_n(&sim_rcu_gp_waiters, __ATOMIC_SEQ_CST)))
        __rcu_read_unlock_special(t.r);
}

// A call made inside the section returned with sections of its own still open.
static __always_inline bool __rcu_sched_leaked(struct rcu_sched_token t) {
    return (t.r->state & RCU_NEST_MASK) > (t.state & RCU_NEST_MASK) + 1;
}

// Closes what such a call left open, as the kernel puts back the preempt count a timer
// function leaked, so the thread's own exit still ends the section and grace periods go on.
static __always_inline void __rcu_sched_unleak(struct rcu_sched_token t) {
    __atomic_store_n(&t.r->state, (t.r->state & ~RCU_NEST_MASK) | ((t.state & RCU_NEST_MASK) + 1),
                     __ATOMIC_RELAXED);
}
#define __rcu_sched_token struct rcu_sched_token
#else
static __always_inline void rcu_read_lock(void) {
    __rcu_read_lock();
}
static __always_inline void rcu_read_unlock(void) {
    __rcu_read_unlock();
}

#define __rcu_sched_token int
#define __rcu_sched_enter() (__rcu_read_lock(), 0)
#define __rcu_sched_exit(token) ((void)(token), __rcu_read_unlock())
#define __rcu_sched_leaked(token) ((void)(token), false)
#define __rcu_sched_unleak(token) ((void)(token))
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
