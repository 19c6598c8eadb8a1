// Real model of the scheduler's sleep and wake-up contract (kernel/sched/core.c, kernel/time/
// timer.c sleeps): task states, wake-ups, timed sleeps on the virtual clock, CPU affinity, and
// settle(), which knows which kernel threads are runnable. A sleeper waits on the object it
// needs (its task, a lock, a timer) and only wake-ups of that object reach it.
#include <atomic>
#include <cassert>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "simkernel/kernel/sched_internal.h"
#include "simkernel/kernel/sim_time.h"

#include <platform/errno.h>
#include <platform/jiffies.h>
#include <platform/printk.h>
#include <platform/timer.h>

extern "C" {
const unsigned int nr_cpu_ids = NR_CPUS;
const struct cpumask __cpu_online_mask = {{(1UL << NR_CPUS) - 1}};
const struct cpumask __cpu_possible_mask = {{(1UL << NR_CPUS) - 1}};
}

namespace sim {
namespace {

// Sleepers are queued by channel in a small hash table, as the kernel hashes bit and var
// waits: a wake-up walks one short chain instead of waking every sleeper.
constexpr size_t NR_CHAN_BUCKETS = 64;

struct Sched {
    std::mutex lock;
    std::vector<HostThread *> kthreads;  // live kernel threads
    HostThread *buckets[NR_CHAN_BUCKETS] = {};
    // settle() callers wait here, woken when a kernel thread sleeps or exits.
    std::condition_variable settle_cv;
    int settle_waiters = 0;
    std::atomic<uint64_t> wakeups{0};
};

Sched &sched() {
    static Sched s;
    return s;
}

thread_local HostThread tls_plain_host;
thread_local HostThread *tls_host;

bool kthread_idle(const HostThread *h) {
    return h->exited || (h->blocked && !h->pred());
}

HostThread **bucket_of(const void *chan) {
    uintptr_t v = reinterpret_cast<uintptr_t>(chan);
    v ^= v >> 17;
    v *= 0x9e3779b97f4a7c15ULL;
    return &sched().buckets[v >> 58];
}

void chan_enqueue(HostThread *h) {
    HostThread **pp = bucket_of(h->chan);
    while (*pp)
        pp = &(*pp)->chan_next;
    h->chan_next = nullptr;
    *pp = h;
}

void chan_dequeue(HostThread *h) {
    for (HostThread **pp = bucket_of(h->chan); *pp; pp = &(*pp)->chan_next) {
        if (*pp == h) {
            *pp = h->chan_next;
            break;
        }
    }
    h->chan_next = nullptr;
}

void notify(HostThread *h) {
    h->woken = true;
    sched().wakeups.fetch_add(1, std::memory_order_relaxed);
    h->cv.notify_one();
}

// A kernel thread went to sleep or ended: settle() may now find the phone quiet.
void settle_note_locked() {
    Sched &s = sched();
    if (s.settle_waiters) {
        s.wakeups.fetch_add((uint64_t)s.settle_waiters, std::memory_order_relaxed);
        s.settle_cv.notify_all();
    }
}

}  // namespace

std::mutex &sched_mutex() {
    return sched().lock;
}

HostThread &current_host() {
    return tls_host ? *tls_host : tls_plain_host;
}
void host_thread_bind(HostThread *h) {
    tls_host = h;
}

void kthread_host_add(HostThread *h) {
    std::lock_guard g(sched().lock);
    sched().kthreads.push_back(h);
}

void kthread_host_exit(HostThread *h) {
    std::lock_guard g(sched().lock);
    h->exited = true;
    std::erase(sched().kthreads, h);
    sched_wake_locked(h);
    settle_note_locked();
}

void sched_block(std::unique_lock<std::mutex> &lk, const void *chan, WaitPred pred) {
    HostThread &h = current_host();
    h.pred = pred;
    h.chan = chan;
    h.blocked = true;
    chan_enqueue(&h);
    using clock = std::chrono::steady_clock;
    do {
        h.woken = false;
        if (h.kthread) {
            settle_note_locked();
            h.cv.wait(lk);
        } else {
            // The host thread (a test, the shell) waits for kernel threads, which never take
            // this long in virtual time: report the hang as the hung-task detector would.
            auto deadline = clock::now() + std::chrono::seconds(60);
            if (h.cv.wait_until(lk, deadline) == std::cv_status::timeout && !pred()) {
                struct task_struct *t = get_current();
                std::fprintf(stderr, "INFO: task %s:%d blocked for more than 60 seconds.\n",
                             t->comm, t->pid);
            }
        }
    } while (!pred());
    chan_dequeue(&h);
    h.blocked = false;
    h.woken = false;
    h.chan = nullptr;
}

int sched_wake_locked(const void *chan, int nr) {
    int n = 0;
    for (HostThread *h = *bucket_of(chan); h; h = h->chan_next) {
        if (h->chan != chan || h->woken || !h->pred())
            continue;
        notify(h);
        if (++n == nr)
            break;
    }
    return n;
}

void sched_kick_locked(HostThread *h) {
    if (h->blocked && !h->woken)
        notify(h);
}

uint64_t sched_wakeups() {
    return sched().wakeups.load(std::memory_order_relaxed);
}

void settle() {
    assert(!current_host().kthread && "settle() called from a kernel thread");
    Sched &s = sched();
    std::unique_lock lk(s.lock);
    auto all_idle = [&s] {
        for (const HostThread *h : s.kthreads)
            if (!kthread_idle(h))
                return false;
        return true;
    };
    s.settle_waiters++;
    // A thread that never sleeps is a hang in the code under test; say which one it is.
    while (!s.settle_cv.wait_for(lk, std::chrono::seconds(30), all_idle)) {
        for (const HostThread *h : s.kthreads)
            if (!kthread_idle(h))
                std::fprintf(stderr, "settle: kernel thread %s/%d still running\n", h->task->comm,
                             h->task->pid);
    }
    s.settle_waiters--;
}

// The sleeper in schedule() waits on its task; only a wake-up of that task reaches it.
int try_to_wake_up_locked(struct task_struct *t, unsigned int state) {
    if (!(__atomic_load_n(&t->state, __ATOMIC_SEQ_CST) & state))
        return 0;
    __atomic_store_n(&t->state, (long)TASK_RUNNING, __ATOMIC_SEQ_CST);
    sched_wake_locked(t);
    return 1;
}

void might_sleep_check(const char *where) {
    if (preempt_count_now() == 0 && !irqs_disabled())
        return;
    printk(KERN_ERR "BUG: sleeping function called from invalid context at %s\n", where);
    printk(KERN_ERR "in_atomic(): %d, irqs_disabled(): %d, pid: %d, name: %s\n",
           preempt_count_now() != 0, irqs_disabled(), current->pid, current->comm);
}

}  // namespace sim

extern "C" {

void schedule(void) {
    struct task_struct *t = current;
    if (sim::preempt_count_now() != 0)
        printk(KERN_ERR "BUG: scheduling while atomic: %s/%d/0x%08x\n", t->comm, t->pid,
               sim::preempt_count_now());
    std::unique_lock lk(sim::sched_mutex());
    auto running = [t] { return __atomic_load_n(&t->state, __ATOMIC_SEQ_CST) == TASK_RUNNING; };
    sim::sched_wait(lk, t, running);
}

int wake_up_state(struct task_struct *tsk, unsigned int state) {
    std::lock_guard g(sim::sched_mutex());
    return sim::try_to_wake_up_locked(tsk, state);
}

int wake_up_process(struct task_struct *tsk) {
    return wake_up_state(tsk, TASK_NORMAL);
}

namespace {
struct process_timer {
    struct timer_list timer;
    struct task_struct *task;
};

void process_timeout(struct timer_list *t) {
    wake_up_process(container_of(t, struct process_timer, timer)->task);
}
}  // namespace

long schedule_timeout(long timeout) {
    if (timeout == MAX_SCHEDULE_TIMEOUT) {
        schedule();
        return timeout;
    }
    if (timeout < 0) {
        printk(KERN_ERR "schedule_timeout: wrong timeout value %lx\n", timeout);
        __set_current_state(TASK_RUNNING);
        return 0;
    }
    unsigned long expire = timeout + jiffies;
    struct process_timer timer;
    timer.task = current;
    timer_setup(&timer.timer, process_timeout, 0);
    mod_timer(&timer.timer, expire);
    schedule();
    del_timer_sync(&timer.timer);
    timeout = expire - jiffies;
    return timeout < 0 ? 0 : timeout;
}

long schedule_timeout_interruptible(long timeout) {
    __set_current_state(TASK_INTERRUPTIBLE);
    return schedule_timeout(timeout);
}

long schedule_timeout_uninterruptible(long timeout) {
    __set_current_state(TASK_UNINTERRUPTIBLE);
    return schedule_timeout(timeout);
}

void msleep(unsigned int msecs) {
    unsigned long timeout = msecs_to_jiffies(msecs) + 1;
    while (timeout)
        timeout = schedule_timeout_uninterruptible(timeout);
}

unsigned long msleep_interruptible(unsigned int msecs) {
    unsigned long timeout = msecs_to_jiffies(msecs) + 1;
    while (timeout && !signal_pending(current))
        timeout = schedule_timeout_interruptible(timeout);
    return jiffies_to_msecs(timeout);
}

// An hrtimer sleep: wakes at the lower bound, nanosecond-exact on the virtual clock.
void usleep_range(unsigned long min, unsigned long max) {
    (void)max;
    uint64_t deadline = sim::clock_monotonic_ns() + (uint64_t)min * NSEC_PER_USEC;
    while (sim::clock_monotonic_ns() < deadline) {
        struct process_timer timer;
        timer.task = current;
        timer_setup(&timer.timer, process_timeout, 0);
        __set_current_state(TASK_UNINTERRUPTIBLE);
        sim::timer_add_ns(&timer.timer, deadline);
        schedule();
        del_timer_sync(&timer.timer);
    }
}

// Host threads are preempted by the host; a voluntary reschedule is a yield.
int _cond_resched(void) {
    std::this_thread::yield();
    return 0;
}

void yield(void) {
    std::this_thread::yield();
}

int set_cpus_allowed_ptr(struct task_struct *p, const struct cpumask *new_mask) {
    if (!cpumask_intersects(cpu_online_mask, new_mask))
        return -EINVAL;
    std::lock_guard g(sim::sched_mutex());
    cpumask_copy(&p->cpus_mask, new_mask);
    p->nr_cpus_allowed = (int)cpumask_weight(new_mask);
    return 0;
}

}  // extern "C"
