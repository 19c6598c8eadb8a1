// Real model of the kernel's locks (kernel/locking/spinlock.c, qrwlock.c, mutex.c, rwsem.c):
// spinning locks on atomic words with acquire/release ordering, per-thread interrupt masking
// and preemption count, and sleeping mutexes and rw-semaphores with owner checks.
#include <thread>

#include "simkernel/kernel/lock_hold.h"
#include "simkernel/kernel/locking.h"
#include "simkernel/kernel/sched_internal.h"

#include <platform/irqflags.h>
#include <platform/mutex.h>
#include <platform/printk.h>
#include <platform/rwsem.h>
#include <platform/spinlock.h>

extern "C" {
__thread bool sim_irqs_off __attribute__((tls_model("initial-exec")));
}

namespace sim {
namespace {

__thread int tls_preempt_count __attribute__((tls_model("initial-exec")));

void spin_acquire(unsigned int *word) {
    while (__atomic_exchange_n(word, 1u, __ATOMIC_ACQUIRE))
        while (__atomic_load_n(word, __ATOMIC_RELAXED))
            std::this_thread::yield();
}

void spin_release(unsigned int *word) {
    __atomic_store_n(word, 0u, __ATOMIC_RELEASE);
}

constexpr unsigned int RW_WRITER = 1u << 31;

bool read_try(rwlock_t *lock) {
    unsigned int v = __atomic_load_n(&lock->cnts, __ATOMIC_RELAXED);
    return !(v & RW_WRITER) && __atomic_compare_exchange_n(&lock->cnts, &v, v + 1, false,
                                                           __ATOMIC_ACQUIRE, __ATOMIC_RELAXED);
}

bool write_try(rwlock_t *lock) {
    unsigned int v = 0;
    return __atomic_compare_exchange_n(&lock->cnts, &v, RW_WRITER, false, __ATOMIC_ACQUIRE,
                                       __ATOMIC_RELAXED);
}

void lockdep_header(const char *what) {
    printk(KERN_WARNING "=====================================\n");
    printk(KERN_WARNING "WARNING: %s\n", what);
    printk(KERN_WARNING "-------------------------------------\n");
}

void warn_recursive(const struct mutex *lock, const struct task_struct *t) {
    lockdep_header("possible recursive locking detected");
    printk(KERN_WARNING "%s/%d is trying to acquire lock:\n", t->comm, t->pid);
    printk(KERN_WARNING " (%s)\n", lock->name);
    printk(KERN_WARNING "but task is already holding lock:\n");
    printk(KERN_WARNING " (%s)\n", lock->name);
    printk(KERN_WARNING "*** DEADLOCK ***\n");
}

void warn_bad_unlock(const char *name, const struct task_struct *t) {
    lockdep_header("bad unlock balance detected!");
    printk(KERN_WARNING "%s/%d is trying to release lock (%s) at:\n", t->comm, t->pid, name);
    printk(KERN_WARNING "but there are no more locks to release!\n");
}

}  // namespace

bool irqs_disabled_now() {
    return sim_irqs_off;
}
int preempt_count_now() {
    return tls_preempt_count;
}

}  // namespace sim

extern "C" {

void arch_local_irq_enable(void) {
    sim_irqs_off = false;
}
void arch_local_irq_disable(void) {
    sim_irqs_off = true;
}
unsigned long arch_local_save_flags(void) {
    return sim_irqs_off ? PSR_I_BIT : 0;
}

unsigned long arch_local_irq_save(void) {
    unsigned long flags = arch_local_save_flags();
    sim_irqs_off = true;
    return flags;
}

void arch_local_irq_restore(unsigned long flags) {
    sim_irqs_off = arch_irqs_disabled_flags(flags);
}

void __raw_spin_lock_init(raw_spinlock_t *lock, const char *name, struct lock_class_key *) {
    lock->locked = 0;
    lock->name = name;
}

void __rwlock_init(rwlock_t *lock, const char *name, struct lock_class_key *) {
    lock->cnts = 0;
    lock->name = name;
}

void _raw_spin_lock(raw_spinlock_t *lock) {
    sim::tls_preempt_count++;
    sim::spin_acquire(&lock->locked);
    sim::lock_hold_acquired(lock->name);
}

int _raw_spin_trylock(raw_spinlock_t *lock) {
    sim::tls_preempt_count++;
    if (!__atomic_exchange_n(&lock->locked, 1u, __ATOMIC_ACQUIRE)) {
        sim::lock_hold_acquired(lock->name);
        return 1;
    }
    sim::tls_preempt_count--;
    return 0;
}

void _raw_spin_unlock(raw_spinlock_t *lock) {
    sim::spin_release(&lock->locked);
    sim::tls_preempt_count--;
}

void _raw_spin_lock_bh(raw_spinlock_t *lock) {
    _raw_spin_lock(lock);
}
void _raw_spin_unlock_bh(raw_spinlock_t *lock) {
    _raw_spin_unlock(lock);
}

void _raw_spin_lock_irq(raw_spinlock_t *lock) {
    arch_local_irq_disable();
    _raw_spin_lock(lock);
}

// Re-enables unconditionally, whatever the state before the lock was taken.
void _raw_spin_unlock_irq(raw_spinlock_t *lock) {
    _raw_spin_unlock(lock);
    arch_local_irq_enable();
}

unsigned long _raw_spin_lock_irqsave(raw_spinlock_t *lock) {
    unsigned long flags = arch_local_irq_save();
    _raw_spin_lock(lock);
    return flags;
}

void _raw_spin_unlock_irqrestore(raw_spinlock_t *lock, unsigned long flags) {
    _raw_spin_unlock(lock);
    arch_local_irq_restore(flags);
}

void _raw_read_lock(rwlock_t *lock) {
    sim::tls_preempt_count++;
    while (!sim::read_try(lock))
        std::this_thread::yield();
}

int _raw_read_trylock(rwlock_t *lock) {
    sim::tls_preempt_count++;
    if (sim::read_try(lock))
        return 1;
    sim::tls_preempt_count--;
    return 0;
}

void _raw_read_unlock(rwlock_t *lock) {
    __atomic_fetch_sub(&lock->cnts, 1u, __ATOMIC_RELEASE);
    sim::tls_preempt_count--;
}

void _raw_write_lock(rwlock_t *lock) {
    sim::tls_preempt_count++;
    while (!sim::write_try(lock))
        std::this_thread::yield();
}

int _raw_write_trylock(rwlock_t *lock) {
    sim::tls_preempt_count++;
    if (sim::write_try(lock))
        return 1;
    sim::tls_preempt_count--;
    return 0;
}

void _raw_write_unlock(rwlock_t *lock) {
    __atomic_store_n(&lock->cnts, 0u, __ATOMIC_RELEASE);
    sim::tls_preempt_count--;
}

void _raw_read_lock_irq(rwlock_t *lock) {
    arch_local_irq_disable();
    _raw_read_lock(lock);
}

void _raw_read_unlock_irq(rwlock_t *lock) {
    _raw_read_unlock(lock);
    arch_local_irq_enable();
}

void _raw_write_lock_irq(rwlock_t *lock) {
    arch_local_irq_disable();
    _raw_write_lock(lock);
}

void _raw_write_unlock_irq(rwlock_t *lock) {
    _raw_write_unlock(lock);
    arch_local_irq_enable();
}

unsigned long _raw_read_lock_irqsave(rwlock_t *lock) {
    unsigned long flags = arch_local_irq_save();
    _raw_read_lock(lock);
    return flags;
}

void _raw_read_unlock_irqrestore(rwlock_t *lock, unsigned long flags) {
    _raw_read_unlock(lock);
    arch_local_irq_restore(flags);
}

unsigned long _raw_write_lock_irqsave(rwlock_t *lock) {
    unsigned long flags = arch_local_irq_save();
    _raw_write_lock(lock);
    return flags;
}

void _raw_write_unlock_irqrestore(rwlock_t *lock, unsigned long flags) {
    _raw_write_unlock(lock);
    arch_local_irq_restore(flags);
}

void __mutex_init(struct mutex *lock, const char *name, struct lock_class_key *) {
    lock->owner = nullptr;
    lock->name = name;
    lock->nr_waiters = 0;
}

// The owner is taken and given back with one compare-and-swap each. A task that finds it
// taken counts itself in nr_waiters before it looks at the owner again and sleeps; an unlock
// releases the owner before it reads nr_waiters (both fully ordered), so one of the two sees
// the other and no wake-up is lost.
void mutex_lock(struct mutex *lock) {
    sim::might_sleep_check("kernel/locking/mutex.c");
    struct task_struct *me = current;
    struct task_struct *expected = nullptr;
    if (likely(__atomic_compare_exchange_n(&lock->owner, &expected, me, false, __ATOMIC_ACQUIRE,
                                           __ATOMIC_RELAXED)))
        return;
    std::unique_lock lk(sim::sched_mutex());
    if (__atomic_load_n(&lock->owner, __ATOMIC_RELAXED) == me) {
        lk.unlock();
        sim::warn_recursive(lock, me);
        lk.lock();
    }
    __atomic_fetch_add(&lock->nr_waiters, 1, __ATOMIC_SEQ_CST);
    for (;;) {
        expected = nullptr;
        if (__atomic_compare_exchange_n(&lock->owner, &expected, me, false, __ATOMIC_SEQ_CST,
                                        __ATOMIC_SEQ_CST))
            break;
        auto is_free = [lock] {
            return __atomic_load_n(&lock->owner, __ATOMIC_SEQ_CST) == nullptr;
        };
        sim::sched_wait(lk, lock, is_free);
    }
    __atomic_fetch_sub(&lock->nr_waiters, 1, __ATOMIC_RELAXED);
}

// No signals reach simulated tasks, so these never fail with -EINTR.
int mutex_lock_interruptible(struct mutex *lock) {
    mutex_lock(lock);
    return 0;
}

int mutex_lock_killable(struct mutex *lock) {
    mutex_lock(lock);
    return 0;
}

int mutex_trylock(struct mutex *lock) {
    struct task_struct *expected = nullptr;
    return __atomic_compare_exchange_n(&lock->owner, &expected, current, false, __ATOMIC_ACQUIRE,
                                       __ATOMIC_RELAXED);
}

// As in the kernel, a mutex held by another task is released anyway after the warning.
void mutex_unlock(struct mutex *lock) {
    struct task_struct *me = current;
    struct task_struct *owner = me;
    if (unlikely(!__atomic_compare_exchange_n(&lock->owner, &owner, nullptr, false,
                                              __ATOMIC_SEQ_CST, __ATOMIC_RELAXED))) {
        sim::warn_bad_unlock(lock->name, me);
        if (!owner)
            return;
        __atomic_store_n(&lock->owner, nullptr, __ATOMIC_SEQ_CST);
    }
    if (likely(__atomic_load_n(&lock->nr_waiters, __ATOMIC_SEQ_CST) == 0))
        return;
    // One waiter takes the lock; the next is woken by its unlock.
    std::lock_guard g(sim::sched_mutex());
    sim::sched_wake_locked(lock, 1);
}

void __init_rwsem(struct rw_semaphore *sem, const char *name, struct lock_class_key *) {
    sem->count = 0;
    sem->owner = nullptr;
    sem->name = name;
}

void down_read(struct rw_semaphore *sem) {
    sim::might_sleep_check("kernel/locking/rwsem.c");
    std::unique_lock lk(sim::sched_mutex());
    auto no_writer = [sem] { return sem->count >= 0; };
    sim::sched_wait(lk, sem, no_writer);
    __atomic_store_n(&sem->count, sem->count + 1, __ATOMIC_RELAXED);
}

int down_read_trylock(struct rw_semaphore *sem) {
    std::lock_guard g(sim::sched_mutex());
    if (sem->count < 0)
        return 0;
    __atomic_store_n(&sem->count, sem->count + 1, __ATOMIC_RELAXED);
    return 1;
}

void up_read(struct rw_semaphore *sem) {
    std::lock_guard g(sim::sched_mutex());
    if (sem->count <= 0) {
        sim::warn_bad_unlock(sem->name, current);
        return;
    }
    __atomic_store_n(&sem->count, sem->count - 1, __ATOMIC_RELAXED);
    // Only a writer waits while readers hold the semaphore; the last reader lets one in.
    if (sem->count == 0)
        sim::sched_wake_locked(sem, 1);
}

void down_write(struct rw_semaphore *sem) {
    sim::might_sleep_check("kernel/locking/rwsem.c");
    std::unique_lock lk(sim::sched_mutex());
    auto is_free = [sem] { return sem->count == 0; };
    sim::sched_wait(lk, sem, is_free);
    __atomic_store_n(&sem->count, -1L, __ATOMIC_RELAXED);
    sem->owner = current;
}

int down_write_trylock(struct rw_semaphore *sem) {
    std::lock_guard g(sim::sched_mutex());
    if (sem->count != 0)
        return 0;
    __atomic_store_n(&sem->count, -1L, __ATOMIC_RELAXED);
    sem->owner = current;
    return 1;
}

void up_write(struct rw_semaphore *sem) {
    std::lock_guard g(sim::sched_mutex());
    if (sem->count != -1) {
        sim::warn_bad_unlock(sem->name, current);
        return;
    }
    sem->owner = nullptr;
    __atomic_store_n(&sem->count, 0L, __ATOMIC_RELAXED);
    // Every waiting reader may enter, or one writer.
    sim::sched_wake_locked(sem);
}

void downgrade_write(struct rw_semaphore *sem) {
    std::lock_guard g(sim::sched_mutex());
    sem->owner = nullptr;
    __atomic_store_n(&sem->count, 1L, __ATOMIC_RELAXED);
    sim::sched_wake_locked(sem);
}

}  // extern "C"
