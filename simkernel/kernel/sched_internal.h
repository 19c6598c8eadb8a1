// Internal to the scheduler area: the one scheduler lock, sleeping on it, host threads and
// task records. Every sleep of a kernel thread goes through sched_wait(), so settle() can tell
// a sleeping thread (its wake-up condition false) from a runnable one, and every wake-up names
// what it releases, so only the threads waiting for that are woken.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "simkernel/kernel/locking.h"

#include <platform/sched.h>

struct module;
struct timer_list;

namespace sim {

// Guards task states, sleeping locks, timers and workqueue lists.
std::mutex &sched_mutex();

// A sleeper's wake-up condition, tested under sched_mutex() by the sleeper, by its wakers and by
// settle().
struct WaitPred {
    bool (*fn)(const void *ctx);
    const void *ctx;
    bool operator()() const { return fn(ctx); }
};

// One per host thread that runs kernel code. Kernel threads count for settle(). A blocked thread
// sleeps on its own condition variable, queued on the channel (the object it waits for: a task,
// a lock, a timer, a worker pool) that its wakers name.
struct HostThread {
    struct task_struct *task = nullptr;
    bool kthread = false;
    bool blocked = false;
    bool exited = false;
    bool woken = false;  // notified since it last tested its condition
    WaitPred pred{};
    const void *chan = nullptr;
    HostThread *chan_next = nullptr;
    std::condition_variable cv;
};

HostThread &current_host();
void host_thread_bind(HostThread *h);  // the calling host thread is h (a kernel thread)
void kthread_host_add(HostThread *h);
void kthread_host_exit(HostThread *h);  // h's thread returns from its function

// Sleeps on chan (lk holds sched_mutex()) until pred holds.
void sched_block(std::unique_lock<std::mutex> &lk, const void *chan, WaitPred pred);

// Sleeps on chan (lk holds sched_mutex()) until cond() holds.
template <class Cond>
void sched_wait(std::unique_lock<std::mutex> &lk, const void *chan, const Cond &cond) {
    if (cond())
        return;
    sched_block(lk, chan,
                WaitPred{[](const void *c) { return (*static_cast<const Cond *>(c))(); }, &cond});
}

// Wakes the threads sleeping on chan whose condition now holds, at most nr of them (0: all);
// returns how many. Threads sleeping on other channels are not disturbed. Called with
// sched_mutex() held.
int sched_wake_locked(const void *chan, int nr = 0);
// Makes h, if it sleeps, test its condition again whatever it sleeps on.
void sched_kick_locked(HostThread *h);
// Host threads woken so far by wake-ups (each thread counted once per wake-up).
uint64_t sched_wakeups();

// Wakes t if its state is in `state`; called with sched_mutex() held.
int try_to_wake_up_locked(struct task_struct *t, unsigned int state);

// Host side of a task.
struct KthreadInfo {
    int (*threadfn)(void *) = nullptr;
    void *data = nullptr;
    int result = 0;
    std::atomic<bool> should_stop{false};
    HostThread host;
};

}  // namespace sim

struct sim_task_host {
    struct cred cred {};
    std::unique_ptr<struct mm_struct> mm;
    std::unique_ptr<sim::KthreadInfo> kthread;
    struct module *owner = nullptr;  // module whose code the kernel thread runs
};

namespace sim {

// A new task (usage 1, state TASK_NEW, not yet on the task list).
struct task_struct *task_alloc(const char *comm, unsigned int flags, uid_t uid, bool with_mm);
// Puts t on the task list, giving it the next pid.
void task_attach(struct task_struct *t);
// Takes t off the task list and waits for RCU readers that may still see it.
void task_detach(struct task_struct *t);
// The task the calling host thread runs as, or null if it has none of its own.
struct task_struct *thread_task();
void set_thread_task(struct task_struct *t);
void set_boot_shell(struct task_struct *sh);
void set_next_pid(pid_t pid);

// Arms timer to fire at monotonic time ns (for sleeps with finer than jiffy resolution).
void timer_add_ns(struct timer_list *timer, uint64_t ns);
// mod_timer() and del_timer() for callers that hold sched_mutex().
int timer_mod_locked(struct timer_list *timer, unsigned long expires);
bool timer_del_locked(struct timer_list *timer);

// Workqueue and kthread halves of boot and shutdown.
void workqueue_boot();
void workqueue_shutdown();
struct task_struct *kthread_create_kernel(int (*threadfn)(void *), void *data, const char *name,
                                          unsigned int extra_flags);
void kthreads_stop_all();
// A kernel thread body that sleeps until it is stopped.
int kthread_idle_main(void *);

// Warns, as might_sleep() does, if the caller may not sleep here.
void might_sleep_check(const char *where);

}  // namespace sim
