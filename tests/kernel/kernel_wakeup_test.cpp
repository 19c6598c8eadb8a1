// Which host threads a wake-up reaches: only the tasks waiting on the released object (a task,
// a wait queue, a mutex, an rw-semaphore, a worker pool, a grace period), counted by the
// scheduler's wake-up counter around each release.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "simkernel/fs/vfs.h"
#include "simkernel/kernel/sched_internal.h"
#include "simkernel/kernel/sim_time.h"

#include <platform/kthread.h>
#include <platform/mutex.h>
#include <platform/rcupdate.h>
#include <platform/rwsem.h>
#include <platform/sched.h>
#include <platform/wait.h>
#include <platform/workqueue.h>

namespace {

// Host threads the call woke.
template <class F>
uint64_t woken_by(F &&f) {
    uint64_t before = sim::sched_wakeups();
    f();
    return sim::sched_wakeups() - before;
}

// Sleeps in schedule() until stopped, counting the times it came back from it.
int counting_sleeper(void *data) {
    auto *returns = static_cast<std::atomic<int> *>(data);
    for (;;) {
        set_current_state(TASK_INTERRUPTIBLE);
        if (kthread_should_stop())
            break;
        schedule();
        returns->fetch_add(1);
    }
    __set_current_state(TASK_RUNNING);
    return 0;
}

TEST(Wakeup, WakeUpProcess_ReachesOnlyThatTask) {
    std::atomic<int> ra{0}, rb{0};
    struct task_struct *a = kthread_run(counting_sleeper, &ra, "simtest-a");
    struct task_struct *b = kthread_run(counting_sleeper, &rb, "simtest-b");
    sim::settle();
    EXPECT_EQ(woken_by([&] { EXPECT_EQ(wake_up_process(a), 1); }), 1u);
    sim::settle();
    EXPECT_EQ(ra.load(), 1);
    EXPECT_EQ(rb.load(), 0);
    // A task that is running already is not woken again.
    EXPECT_EQ(woken_by([&] { EXPECT_EQ(wake_up_state(b, TASK_UNINTERRUPTIBLE), 0); }), 0u);
    kthread_stop(a);
    kthread_stop(b);
}

struct QueueWaiter {
    wait_queue_head_t *wq;
    std::atomic<bool> flag{false};
    std::atomic<bool> done{false};
};

int queue_waiter(void *data) {
    auto *w = static_cast<QueueWaiter *>(data);
    wait_event(*w->wq, w->flag.load() || kthread_should_stop());
    w->done = true;
    sim::kthread_idle_main(nullptr);
    return 0;
}

TEST(Wakeup, WaitQueue_WakesItsOwnWaitersOnly) {
    DECLARE_WAIT_QUEUE_HEAD(wq1);
    DECLARE_WAIT_QUEUE_HEAD(wq2);
    QueueWaiter w1{&wq1}, w2{&wq2};
    struct task_struct *t1 = kthread_run(queue_waiter, &w1, "simtest-wq1");
    struct task_struct *t2 = kthread_run(queue_waiter, &w2, "simtest-wq2");
    sim::settle();
    w1.flag = true;
    EXPECT_EQ(woken_by([&] { wake_up(&wq1); }), 1u);
    sim::settle();
    EXPECT_TRUE(w1.done);
    EXPECT_FALSE(w2.done);
    // Nobody waits on wq1 any more.
    EXPECT_EQ(woken_by([&] { wake_up_all(&wq1); }), 0u);
    w2.flag = true;
    wake_up(&wq2);
    sim::settle();
    EXPECT_TRUE(w2.done);
    kthread_stop(t1);
    kthread_stop(t2);
}

struct MutexWaiter {
    struct mutex *lock;
    std::atomic<int> got{0};
};

// Takes the mutex, notes it, and holds it until stopped.
int mutex_waiter(void *data) {
    auto *w = static_cast<MutexWaiter *>(data);
    mutex_lock(w->lock);
    w->got = 1;
    sim::kthread_idle_main(nullptr);
    mutex_unlock(w->lock);
    return 0;
}

TEST(Wakeup, MutexUnlock_WakesOneWaiterAndNoneWithoutWaiters) {
    struct mutex m;
    mutex_init(&m);
    EXPECT_EQ(woken_by([&] {
                  mutex_lock(&m);
                  mutex_unlock(&m);
              }),
              0u);
    mutex_lock(&m);
    MutexWaiter w1{&m}, w2{&m};
    struct task_struct *t1 = kthread_run(mutex_waiter, &w1, "simtest-m1");
    struct task_struct *t2 = kthread_run(mutex_waiter, &w2, "simtest-m2");
    sim::settle();  // both sleep on the mutex
    EXPECT_EQ(m.nr_waiters, 2);
    EXPECT_EQ(woken_by([&] { mutex_unlock(&m); }), 1u);
    sim::settle();
    EXPECT_EQ(w1.got + w2.got, 1);
    // The one holding it now lets the other in when stopped.
    bool first = w1.got;
    kthread_stop(first ? t1 : t2);
    sim::settle();
    EXPECT_EQ(w1.got + w2.got, 2);
    EXPECT_EQ(m.nr_waiters, 0);
    kthread_stop(first ? t2 : t1);
    EXPECT_FALSE(mutex_is_locked(&m));
}

struct SemUser {
    struct rw_semaphore *sem;
    bool writer;
    std::atomic<int> got{0};
};

int sem_user(void *data) {
    auto *u = static_cast<SemUser *>(data);
    if (u->writer)
        down_write(u->sem);
    else
        down_read(u->sem);
    u->got = 1;
    sim::kthread_idle_main(nullptr);
    if (u->writer)
        up_write(u->sem);
    else
        up_read(u->sem);
    return 0;
}

TEST(Wakeup, Rwsem_WriterReleaseWakesReadersAndLastReaderOneWriter) {
    struct rw_semaphore sem;
    init_rwsem(&sem);
    down_write(&sem);
    SemUser r1{&sem, false}, r2{&sem, false};
    struct task_struct *t1 = kthread_run(sem_user, &r1, "simtest-r1");
    struct task_struct *t2 = kthread_run(sem_user, &r2, "simtest-r2");
    sim::settle();
    EXPECT_EQ(r1.got + r2.got, 0);
    EXPECT_EQ(woken_by([&] { up_write(&sem); }), 2u);
    sim::settle();
    EXPECT_EQ(r1.got + r2.got, 2);
    kthread_stop(t1);
    kthread_stop(t2);
    // Two read holds of this task: the first release lets nobody in, the last the writer.
    down_read(&sem);
    down_read(&sem);
    SemUser w{&sem, true};
    struct task_struct *tw = kthread_run(sem_user, &w, "simtest-w");
    sim::settle();
    EXPECT_EQ(w.got.load(), 0);
    EXPECT_EQ(woken_by([&] { up_read(&sem); }), 0u);
    EXPECT_EQ(woken_by([&] { up_read(&sem); }), 1u);
    sim::settle();
    EXPECT_EQ(w.got.load(), 1);
    kthread_stop(tw);
}

int work_runs;
void count_work(struct work_struct *) {
    __atomic_fetch_add(&work_runs, 1, __ATOMIC_SEQ_CST);
}

TEST(Wakeup, QueueWork_WakesOneWorker) {
    struct work_struct w;
    INIT_WORK(&w, count_work);
    sim::settle();
    work_runs = 0;
    EXPECT_EQ(woken_by([&] { EXPECT_TRUE(queue_work(system_wq, &w)); }), 1u);
    sim::settle();
    EXPECT_EQ(__atomic_load_n(&work_runs, __ATOMIC_SEQ_CST), 1);
    // Nothing queued, nothing running: a flush wakes nobody.
    EXPECT_EQ(woken_by([&] { EXPECT_FALSE(flush_work(&w)); }), 0u);
}

TEST(Wakeup, NodeRead_WakesNoKernelThread) {
    sim::settle();
    std::string text;
    EXPECT_EQ(woken_by([&] { EXPECT_EQ(sim::vfs::read_file("/proc/meminfo", &text), 0); }), 0u);
    EXPECT_NE(text.find("MemTotal:"), std::string::npos);
}

// A grace period waits for a section open when it began, nested or not, and a reader leaving
// wakes it.
TEST(Wakeup, SynchronizeRcu_WaitsForTheOpenSectionAndIsWokenByItsEnd) {
    std::atomic<int> step{0};
    std::thread reader([&] {
        rcu_read_lock();
        rcu_read_lock();
        step = 1;
        while (step != 2)
            std::this_thread::yield();
        rcu_read_unlock();  // still inside the outer section
        step = 3;
        while (step != 4)
            std::this_thread::yield();
        rcu_read_unlock();
    });
    while (step != 1)
        std::this_thread::yield();
    std::atomic<bool> done{false};
    std::thread syncer([&] {
        synchronize_rcu();
        done = true;
    });
    while (__atomic_load_n(&sim_rcu_gp_waiters, __ATOMIC_SEQ_CST) == 0)
        std::this_thread::yield();
    step = 2;
    while (step != 3)
        std::this_thread::yield();
    EXPECT_FALSE(done);
    step = 4;
    reader.join();
    syncer.join();
    EXPECT_TRUE(done);
}

// Records of threads that have ended are reused, and a grace period does not wait for them.
TEST(Wakeup, RcuReadersOfEndedThreads_DoNotHoldGracePeriods) {
    for (int i = 0; i < 4; i++) {
        std::thread t([] {
            rcu_read_lock();
            EXPECT_TRUE(rcu_read_lock_held());
            rcu_read_unlock();
            EXPECT_FALSE(rcu_read_lock_held());
        });
        t.join();
    }
    synchronize_rcu();
    EXPECT_FALSE(rcu_read_lock_held());
}

}  // namespace
