// Spin locks and interrupt state, mutexes (sleeping waiters, owner checks), rw-semaphores and
// RCU grace periods.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "simkernel/kernel/lock_hold.h"
#include "simkernel/kernel/locking.h"
#include "simkernel/kernel/printk_log.h"
#include "simkernel/kernel/sched_internal.h"
#include "simkernel/kernel/sim_time.h"
#include "tests/kernel/sched_test_util.h"

#include <platform/irqflags.h>
#include <platform/kthread.h>
#include <platform/mutex.h>
#include <platform/rcupdate.h>
#include <platform/rwsem.h>
#include <platform/spinlock.h>
#include <platform/wait.h>

namespace {

DEFINE_SPINLOCK(test_spin);
DEFINE_MUTEX(test_mutex);
DECLARE_RWSEM(test_rwsem);

TEST(SpinLock, IrqForms_TrackTheCallersInterruptState) {
    ASSERT_FALSE(irqs_disabled());
    spin_lock_irq(&test_spin);
    EXPECT_TRUE(irqs_disabled());
    EXPECT_EQ(sim::preempt_count_now(), 1);
    spin_unlock_irq(&test_spin);
    EXPECT_FALSE(irqs_disabled());
    EXPECT_EQ(sim::preempt_count_now(), 0);

    unsigned long outer, inner;
    local_irq_save(outer);
    spin_lock_irqsave(&test_spin, inner);
    spin_unlock_irqrestore(&test_spin, inner);
    EXPECT_TRUE(sim::irqs_disabled_now());  // restored to the caller's masked state
    local_irq_restore(outer);
    EXPECT_FALSE(sim::irqs_disabled_now());
}

TEST(SpinLock, UnlockIrq_ReenablesEvenIfCallerHadMasked) {
    local_irq_disable();
    spin_lock_irq(&test_spin);
    spin_unlock_irq(&test_spin);
    EXPECT_FALSE(sim::irqs_disabled_now());  // as the kernel does: unconditionally
}

TEST(SpinLock, Trylock_FailsWhileHeld) {
    spin_lock(&test_spin);
    EXPECT_TRUE(spin_is_locked(&test_spin));
    int other = -1;
    std::thread([&other] { other = spin_trylock(&test_spin); }).join();
    EXPECT_EQ(other, 0);
    spin_unlock(&test_spin);
    EXPECT_EQ(spin_trylock(&test_spin), 1);
    spin_unlock(&test_spin);
}

// A held acquirer keeps the lock until released, then unlocks as usual; other classes and
// later acquisitions are not held.
TEST(SpinLock, LockHold_KeepsOneAcquirerOfTheClass) {
    DEFINE_SPINLOCK(other_spin);
    std::atomic<bool> unlocked{false};
    std::thread holder;
    {
        sim::LockHold hold("test_spin");
        spin_lock(&other_spin);
        spin_unlock(&other_spin);
        holder = std::thread([&unlocked] {
            spin_lock(&test_spin);
            spin_unlock(&test_spin);
            unlocked = true;
        });
        hold.wait_held();
        EXPECT_EQ(spin_trylock(&test_spin), 0);
        EXPECT_FALSE(unlocked);
    }
    holder.join();
    EXPECT_TRUE(unlocked);
    EXPECT_EQ(spin_trylock(&test_spin), 1);
    spin_unlock(&test_spin);
}

TEST(RwLock, ReadersShareWritersExclude) {
    DEFINE_RWLOCK(lock);
    read_lock(&lock);
    int w = -1, r = -1;
    std::thread([&] {
        w = write_trylock(&lock);
        r = read_trylock(&lock);
        if (r)
            read_unlock(&lock);
    }).join();
    EXPECT_EQ(w, 0);
    EXPECT_EQ(r, 1);
    read_unlock(&lock);
    EXPECT_EQ(write_trylock(&lock), 1);
    write_unlock(&lock);
}

struct MutexUser {
    struct mutex *lock;
    std::atomic<int> stage{0};
    bool recurse = false;
};

// Takes the mutex (twice if asked), notes each stage, sleeps holding it until stopped.
int mutex_user(void *data) {
    auto *u = static_cast<MutexUser *>(data);
    mutex_lock(u->lock);
    u->stage = 1;
    if (u->recurse) {
        mutex_lock(u->lock);
        u->stage = 2;
    }
    // Then sleep until stopped, as an idle kernel thread does.
    sim::kthread_idle_main(nullptr);
    mutex_unlock(u->lock);
    return 0;
}

TEST(Mutex, BlockedWaiter_SleepsAndGetsTheLockOnRelease) {
    MutexUser holder{&test_mutex}, waiter{&test_mutex};
    struct task_struct *a = kthread_run(mutex_user, &holder, "simtest-holder");
    sim::settle();
    ASSERT_EQ(holder.stage.load(), 1);
    EXPECT_TRUE(mutex_is_locked(&test_mutex));
    EXPECT_EQ(test_mutex.owner, a);
    struct task_struct *b = kthread_run(mutex_user, &waiter, "simtest-waiter");
    sim::settle();  // returns: the waiter sleeps on the mutex
    EXPECT_EQ(waiter.stage.load(), 0);
    EXPECT_EQ(mutex_trylock(&test_mutex), 0);
    kthread_stop(a);
    sim::settle();
    EXPECT_EQ(waiter.stage.load(), 1);
    EXPECT_EQ(test_mutex.owner, b);
    kthread_stop(b);
    EXPECT_FALSE(mutex_is_locked(&test_mutex));
}

TEST(Mutex, RecursiveLock_WarnsAndDeadlocksUntilReleased) {
    struct mutex m;
    mutex_init(&m);
    MutexUser u{&m};
    u.recurse = true;
    uint64_t mark = sim::log_next_seq();
    struct task_struct *t = kthread_run(mutex_user, &u, "simtest-recurse");
    sim::settle();
    EXPECT_EQ(u.stage.load(), 1);  // stuck in the second mutex_lock()
    EXPECT_TRUE(simtest::log_has(mark, "WARNING: possible recursive locking detected"));
    EXPECT_TRUE(simtest::log_has(mark, "simtest-recurse/"));
    EXPECT_TRUE(simtest::log_has(mark, "(&m)"));
    mark = sim::log_next_seq();
    mutex_unlock(&m);  // by another task: warned, and released as the kernel does
    EXPECT_TRUE(simtest::log_has(mark, "WARNING: bad unlock balance detected!"));
    EXPECT_TRUE(simtest::log_has(mark, "sh/120 is trying to release lock (&m)"));
    sim::settle();
    EXPECT_EQ(u.stage.load(), 2);
    kthread_stop(t);
    EXPECT_FALSE(mutex_is_locked(&m));
}

TEST(Mutex, UnlockOfFreeMutex_WarnsAndStaysFree) {
    uint64_t mark = sim::log_next_seq();
    mutex_unlock(&test_mutex);
    EXPECT_TRUE(simtest::log_has(mark, "is trying to release lock (test_mutex)"));
    EXPECT_FALSE(mutex_is_locked(&test_mutex));
    EXPECT_EQ(mutex_trylock(&test_mutex), 1);
    mutex_unlock(&test_mutex);
}

struct RwsemUser {
    bool writer;
    std::atomic<int> stage{0};
};

int rwsem_user(void *data) {
    auto *u = static_cast<RwsemUser *>(data);
    if (u->writer)
        down_write(&test_rwsem);
    else
        down_read(&test_rwsem);
    u->stage = 1;
    // Then sleep until stopped, as an idle kernel thread does.
    sim::kthread_idle_main(nullptr);
    if (u->writer)
        up_write(&test_rwsem);
    else
        up_read(&test_rwsem);
    return 0;
}

TEST(Rwsem, ReadersShare_WriterWaitsForThem) {
    RwsemUser r1{false}, r2{false}, w{true};
    struct task_struct *a = kthread_run(rwsem_user, &r1, "simtest-r1");
    struct task_struct *b = kthread_run(rwsem_user, &r2, "simtest-r2");
    sim::settle();
    EXPECT_EQ(r1.stage + r2.stage, 2);
    struct task_struct *c = kthread_run(rwsem_user, &w, "simtest-w");
    sim::settle();
    EXPECT_EQ(w.stage.load(), 0);
    kthread_stop(a);
    sim::settle();
    EXPECT_EQ(w.stage.load(), 0);
    kthread_stop(b);
    sim::settle();
    EXPECT_EQ(w.stage.load(), 1);
    EXPECT_EQ(down_read_trylock(&test_rwsem), 0);
    kthread_stop(c);
    EXPECT_EQ(down_read_trylock(&test_rwsem), 1);
    up_read(&test_rwsem);
}

struct RcuState {
    wait_queue_head_t wq;
    int leave = 0;
    std::atomic<int> in_section{0}, synced{0};
};

int rcu_reader(void *data) {
    auto *s = static_cast<RcuState *>(data);
    rcu_read_lock();
    rcu_read_lock();  // nested: the section ends at the outer unlock
    s->in_section = 1;
    wait_event(s->wq, READ_ONCE(s->leave) >= 1);
    rcu_read_unlock();
    s->in_section = 2;
    wait_event(s->wq, READ_ONCE(s->leave) >= 2);
    rcu_read_unlock();
    s->in_section = 0;
    return 0;
}

int rcu_syncer(void *data) {
    auto *s = static_cast<RcuState *>(data);
    synchronize_rcu();
    s->synced = 1;
    return 0;
}

TEST(Rcu, SynchronizeRcu_WaitsForReadersInsideWhenCalled) {
    RcuState s;
    init_waitqueue_head(&s.wq);
    struct task_struct *r = kthread_run(rcu_reader, &s, "simtest-reader");
    get_task_struct(r);
    sim::settle();
    ASSERT_EQ(s.in_section.load(), 1);
    struct task_struct *w = kthread_run(rcu_syncer, &s, "simtest-syncer");
    get_task_struct(w);
    sim::settle();
    EXPECT_EQ(s.synced.load(), 0);
    WRITE_ONCE(s.leave, 1);
    wake_up_all(&s.wq);
    sim::settle();
    EXPECT_EQ(s.in_section.load(), 2);
    EXPECT_EQ(s.synced.load(), 0);  // still nested inside
    WRITE_ONCE(s.leave, 2);
    wake_up_all(&s.wq);
    sim::settle();
    EXPECT_EQ(s.synced.load(), 1);
    put_task_struct(r);
    put_task_struct(w);
}

TEST(Rcu, SynchronizeRcu_IgnoresReadersThatStartLater) {
    synchronize_rcu();  // no reader: returns at once
    EXPECT_FALSE(rcu_read_lock_held());
    rcu_read_lock();
    EXPECT_TRUE(rcu_read_lock_held());
    rcu_read_unlock();
}

}  // namespace
