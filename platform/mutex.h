// Sleeping mutual exclusion (include/linux/mutex.h). The owner is tracked: unlocking a mutex
// the caller does not hold, or locking one it already holds, is reported as lock debugging
// does. A recursive mutex_lock() then sleeps as it would on a kernel (the task deadlocks).
// Uncontended, taking and releasing it is one atomic exchange of the owner each.
#pragma once

#include <platform/compiler.h>
#include <platform/lockdep_types.h>

struct task_struct;

struct mutex {
    struct task_struct *owner;  // null when free
    const char *name;           // lock class name
    int nr_waiters;             // tasks in the slow path; an unlock with none wakes nobody
};

#define __MUTEX_INITIALIZER(lockname) \
    { nullptr, #lockname, 0 }
#define DEFINE_MUTEX(mutexname) struct mutex mutexname = __MUTEX_INITIALIZER(mutexname)

extern "C" {
void __mutex_init(struct mutex *lock, const char *name, struct lock_class_key *key);
void mutex_lock(struct mutex *lock);
int mutex_lock_interruptible(struct mutex *lock);
int mutex_lock_killable(struct mutex *lock);
int mutex_trylock(struct mutex *lock);
void mutex_unlock(struct mutex *lock);
}

#define mutex_init(mutex)                      \
    do {                                       \
        static struct lock_class_key __key;    \
        __mutex_init((mutex), #mutex, &__key); \
    } while (0)

static inline bool mutex_is_locked(struct mutex *lock) {
    return __atomic_load_n(&lock->owner, __ATOMIC_RELAXED) != nullptr;
}
static inline void mutex_destroy(struct mutex *) {}
