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

static __always_inline void rcu_read_lock(void) {
    __rcu_read_lock();
}
static __always_inline void rcu_read_unlock(void) {
    __rcu_read_unlock();
}
// Since 5.0 one grace period covers the sched and bh flavours too.
static __always_inline void rcu_read_lock_sched(void) {
    __rcu_read_lock();
}
static __always_inline void rcu_read_unlock_sched(void) {
    __rcu_read_unlock();
}
static __always_inline void rcu_read_lock_bh(void) {
    __rcu_read_lock();
}
static __always_inline void rcu_read_unlock_bh(void) {
    __rcu_read_unlock();
}
#define synchronize_rcu_tasks() synchronize_rcu()

#define rcu_dereference(p) __atomic_load_n(&(p), __ATOMIC_ACQUIRE)
#define rcu_dereference_raw(p) rcu_dereference(p)
#define rcu_dereference_sched(p) rcu_dereference(p)
#define rcu_dereference_protected(p, c) (p)
#define rcu_access_pointer(p) READ_ONCE(p)
#define rcu_assign_pointer(p, v) __atomic_store_n(&(p), (v), __ATOMIC_RELEASE)
#define RCU_INIT_POINTER(p, v) WRITE_ONCE(p, v)
