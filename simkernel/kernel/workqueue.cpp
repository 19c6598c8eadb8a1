// Real model of workqueues (kernel/workqueue.c): worker pools served by kworker kernel
// threads, the PENDING bit, non-reentrant execution, max_active per workqueue, delayed work on
// timers, cancel (waiting for a running instance), and flushes that wait for what was queued
// before them.
#include <cstdarg>
#include <cstdio>
#include <list>
#include <thread>
#include <vector>

#include "simkernel/kernel/module_owner.h"
#include "simkernel/kernel/sched_internal.h"
#include "simkernel/kernel/symbol_name.h"

#include <platform/errno.h>
#include <platform/kthread.h>
#include <platform/printk.h>
#include <platform/workqueue.h>

namespace sim {
namespace {

// One queueing of a work item; seq orders queueings for flushes.
struct Entry {
    struct work_struct *work = nullptr;
    struct workqueue_struct *wq = nullptr;
    uint64_t seq = 0;
};

struct Worker;

struct Pool {
    std::list<Entry> pending;
    std::vector<Worker *> workers;
};

struct Worker {
    Pool *pool;
    struct task_struct *task = nullptr;
    Entry exec;  // work == null while idle
};

}  // namespace
}  // namespace sim

struct workqueue_struct {
    std::string name;
    unsigned int flags;
    int max_active;
    sim::Pool *pool;
    int nr_active = 0;  // items of this workqueue running now
};

namespace sim {
namespace {

// Guarded by sched_mutex().
struct WorkState {
    Pool normal, highpri, unbound;
    uint64_t seq = 0;
    std::vector<std::unique_ptr<Worker>> workers;
};

WorkState &ws() {
    static WorkState s;
    return s;
}

unsigned long *data_bits(struct work_struct *w) {
    return work_data_bits(w);
}

bool running_elsewhere(const Worker *self, const struct work_struct *work) {
    for (const Worker *w : self->pool->workers)
        if (w != self && w->exec.work == work)
            return true;
    return false;
}

// The first queued item this worker may start: not running on another worker (no reentrancy),
// and within its workqueue's max_active.
std::list<Entry>::iterator pick(Worker *self) {
    Pool *p = self->pool;
    for (auto it = p->pending.begin(); it != p->pending.end(); ++it) {
        if (running_elsewhere(self, it->work))
            continue;
        if (it->wq->nr_active >= it->wq->max_active)
            continue;
        return it;
    }
    return p->pending.end();
}

bool worker_should_stop(const Worker *w) {
    return w->task->sim_host->kthread->should_stop.load();
}

int worker_main(void *arg) {
    auto *self = static_cast<Worker *>(arg);
    std::unique_lock lk(sched_mutex());
    for (;;) {
        auto ready = [self] {
            return worker_should_stop(self) || pick(self) != self->pool->pending.end();
        };
        sched_wait(lk, self->pool, ready);
        auto it = pick(self);
        if (it == self->pool->pending.end())
            break;
        self->exec = *it;
        self->pool->pending.erase(it);
        struct work_struct *work = self->exec.work;
        self->exec.wq->nr_active++;
        // The item may be queued again from here on, even by its own function.
        __atomic_fetch_and(data_bits(work), ~WORK_STRUCT_PENDING, __ATOMIC_SEQ_CST);
        resource_remove(work);
        lk.unlock();
        work->func(work);
        lk.lock();
        struct workqueue_struct *wq = self->exec.wq;
        wq->nr_active--;
        self->exec = Entry{};
        // Flushes and cancels of the item and of its workqueue wait on them; another worker of
        // the pool may now start an item this one ran, or one its max_active held back.
        sched_wake_locked(work);
        sched_wake_locked(wq);
        sched_wake_locked(self->pool);
    }
    return 0;
}

void insert_work_locked(struct workqueue_struct *wq, struct work_struct *work) {
    wq->pool->pending.push_back(Entry{work, wq, ++ws().seq});
    // One idle worker is enough for one item.
    sched_wake_locked(wq->pool, 1);
}

// A module's pending item is its resource until it starts or is cancelled.
void note_pending_locked(struct work_struct *work, struct delayed_work *dwork) {
    struct module *owner = module_of_address(reinterpret_cast<const void *>(work->func));
    if (!owner)
        return;
    resource_add(owner, work, "work", symbol_name(reinterpret_cast<const void *>(work->func)),
                 [work, dwork] {
                     if (dwork)
                         cancel_delayed_work_sync(dwork);
                     else
                         cancel_work_sync(work);
                 });
}

bool test_and_set_pending(struct work_struct *work) {
    return __atomic_fetch_or(data_bits(work), WORK_STRUCT_PENDING, __ATOMIC_SEQ_CST) &
           WORK_STRUCT_PENDING;
}

void queue_delayed_locked(int cpu, struct workqueue_struct *wq, struct delayed_work *dwork,
                          unsigned long delay) {
    dwork->wq = wq;
    dwork->cpu = cpu;
    if (!delay) {
        insert_work_locked(wq, &dwork->work);
        return;
    }
    timer_mod_locked(&dwork->timer, jiffies + delay);
}

// try_to_grab_pending(): 1 if the item was pending and is now off its timer and queue (PENDING
// kept, owned by the caller), 0 if it was idle and PENDING is now set, -EAGAIN if it is between
// its timer and its queue, -ENOENT if a cancel is in progress.
int grab_pending_locked(struct work_struct *work, struct delayed_work *dwork) {
    if (dwork && timer_del_locked(&dwork->timer))
        return 1;
    if (!test_and_set_pending(work))
        return 0;
    if (test_bit(WORK_OFFQ_CANCELING_BIT, data_bits(work)))
        return -ENOENT;
    for (Pool *p : {&ws().normal, &ws().highpri, &ws().unbound}) {
        for (auto it = p->pending.begin(); it != p->pending.end(); ++it) {
            if (it->work == work) {
                struct workqueue_struct *wq = it->wq;
                p->pending.erase(it);
                // Flushes waiting for this queueing have nothing left to wait for.
                sched_wake_locked(work);
                sched_wake_locked(wq);
                return 1;
            }
        }
    }
    return -EAGAIN;
}

int grab_pending(std::unique_lock<std::mutex> &lk, struct work_struct *work,
                 struct delayed_work *dwork) {
    for (;;) {
        int ret = grab_pending_locked(work, dwork);
        if (ret != -EAGAIN)
            return ret;
        lk.unlock();
        std::this_thread::yield();
        lk.lock();
    }
}

bool running_anywhere(const struct work_struct *work) {
    for (const auto &w : ws().workers)
        if (w->exec.work == work)
            return true;
    return false;
}

bool cancel_sync(struct work_struct *work, struct delayed_work *dwork) {
    might_sleep_check("kernel/workqueue.c");
    std::unique_lock lk(sched_mutex());
    int ret;
    for (;;) {
        ret = grab_pending(lk, work, dwork);
        if (ret != -ENOENT)
            break;
        // Another task is cancelling it: wait for that cancel to finish.
        auto done = [work] { return !test_bit(WORK_OFFQ_CANCELING_BIT, data_bits(work)); };
        sched_wait(lk, work, done);
    }
    set_bit(WORK_OFFQ_CANCELING_BIT, data_bits(work));
    resource_remove(work);
    auto idle = [work] { return !running_anywhere(work); };
    sched_wait(lk, work, idle);
    __atomic_store_n(&work->data.counter, 0L, __ATOMIC_SEQ_CST);
    sched_wake_locked(work);
    return ret != 0;
}

// Latest queueing of work that is queued or running, 0 if none.
uint64_t latest_seq(const struct work_struct *work) {
    uint64_t seq = 0;
    for (Pool *p : {&ws().normal, &ws().highpri, &ws().unbound})
        for (const Entry &e : p->pending)
            if (e.work == work)
                seq = std::max(seq, e.seq);
    for (const auto &w : ws().workers)
        if (w->exec.work == work)
            seq = std::max(seq, w->exec.seq);
    return seq;
}

template <class Match>
bool any_up_to(uint64_t target, Match match) {
    for (Pool *p : {&ws().normal, &ws().highpri, &ws().unbound})
        for (const Entry &e : p->pending)
            if (e.seq <= target && match(e))
                return true;
    for (const auto &w : ws().workers)
        if (w->exec.work && w->exec.seq <= target && match(w->exec))
            return true;
    return false;
}

// Waits until the latest queueing of work, if any, has run; false if there was none.
bool flush_locked(std::unique_lock<std::mutex> &lk, struct work_struct *work) {
    uint64_t target = latest_seq(work);
    if (!target)
        return false;
    auto done = [work, target] {
        return !any_up_to(target, [work](const Entry &e) { return e.work == work; });
    };
    sched_wait(lk, work, done);
    return true;
}

struct workqueue_struct *new_wq(std::string name, unsigned int flags, int max_active) {
    Pool *pool = (flags & WQ_UNBOUND)   ? &ws().unbound
                 : (flags & WQ_HIGHPRI) ? &ws().highpri
                                        : &ws().normal;
    if (max_active <= 0)
        max_active = WQ_DFL_ACTIVE;
    return new workqueue_struct{std::move(name), flags, max_active, pool};
}

void add_worker(Pool *pool, const char *name) {
    auto w = std::make_unique<Worker>();
    w->pool = pool;
    Worker *raw = w.get();
    {
        std::lock_guard g(sched_mutex());
        pool->workers.push_back(raw);
        ws().workers.push_back(std::move(w));
    }
    raw->task = kthread_create_kernel(worker_main, raw, name, PF_WQ_WORKER);
    wake_up_process(raw->task);
}

}  // namespace

void workqueue_boot() {
    WorkState &s = ws();
    add_worker(&s.normal, "kworker/0:1");
    add_worker(&s.highpri, "kworker/0:1H");
    add_worker(&s.normal, "kworker/1:1");
    add_worker(&s.unbound, "kworker/u16:0");
    add_worker(&s.unbound, "kworker/u16:1");
    system_wq = new_wq("events", 0, 0);
    system_highpri_wq = new_wq("events_highpri", WQ_HIGHPRI, 0);
    system_long_wq = new_wq("events_long", 0, 0);
    system_unbound_wq = new_wq("events_unbound", WQ_UNBOUND, WQ_MAX_ACTIVE);
    system_freezable_wq = new_wq("events_freezable", WQ_FREEZABLE, 0);
    system_power_efficient_wq = new_wq("events_power_efficient", WQ_POWER_EFFICIENT, 0);
}

void workqueue_shutdown() {
    for (const auto &w : ws().workers)
        kthread_stop(w->task);
    std::lock_guard g(sched_mutex());
    for (Pool *p : {&ws().normal, &ws().highpri, &ws().unbound}) {
        p->pending.clear();
        p->workers.clear();
    }
    ws().workers.clear();
}

}  // namespace sim

extern "C" {

struct workqueue_struct *system_wq;
struct workqueue_struct *system_highpri_wq;
struct workqueue_struct *system_long_wq;
struct workqueue_struct *system_unbound_wq;
struct workqueue_struct *system_freezable_wq;
struct workqueue_struct *system_power_efficient_wq;

struct workqueue_struct *alloc_workqueue(const char *fmt, unsigned int flags, int max_active, ...) {
    char name[24];  // WQ_NAME_LEN
    va_list ap;
    va_start(ap, max_active);
    vsnprintf(name, sizeof(name), fmt, ap);
    va_end(ap);
    if (flags & __WQ_ORDERED)
        max_active = 1;
    struct workqueue_struct *wq = sim::new_wq(name, flags, max_active);
    sim::resource_add(SIM_CALLER_MODULE(), wq, "workqueue", name, [wq] { destroy_workqueue(wq); });
    return wq;
}

void drain_workqueue(struct workqueue_struct *wq) {
    for (;;) {
        flush_workqueue(wq);
        std::lock_guard g(sim::sched_mutex());
        if (!sim::any_up_to(UINT64_MAX, [wq](const sim::Entry &e) { return e.wq == wq; }))
            return;
    }
}

void destroy_workqueue(struct workqueue_struct *wq) {
    sim::resource_remove(wq);
    drain_workqueue(wq);
    delete wq;
}

bool queue_work_on(int cpu, struct workqueue_struct *wq, struct work_struct *work) {
    (void)cpu;
    std::lock_guard g(sim::sched_mutex());
    if (sim::test_and_set_pending(work))
        return false;
    sim::note_pending_locked(work, nullptr);
    sim::insert_work_locked(wq, work);
    return true;
}

bool queue_delayed_work_on(int cpu, struct workqueue_struct *wq, struct delayed_work *dwork,
                           unsigned long delay) {
    std::lock_guard g(sim::sched_mutex());
    if (sim::test_and_set_pending(&dwork->work))
        return false;
    sim::note_pending_locked(&dwork->work, dwork);
    sim::queue_delayed_locked(cpu, wq, dwork, delay);
    return true;
}

bool mod_delayed_work_on(int cpu, struct workqueue_struct *wq, struct delayed_work *dwork,
                         unsigned long delay) {
    std::unique_lock lk(sim::sched_mutex());
    int ret = sim::grab_pending(lk, &dwork->work, dwork);
    if (ret >= 0) {
        if (ret == 0)
            sim::note_pending_locked(&dwork->work, dwork);
        sim::queue_delayed_locked(cpu, wq, dwork, delay);
    }
    // -ENOENT (a cancel in progress) counts as pending, as in the kernel.
    return ret != 0;
}

void delayed_work_timer_fn(struct timer_list *t) {
    struct delayed_work *dwork = from_timer(dwork, t, timer);
    std::lock_guard g(sim::sched_mutex());
    sim::insert_work_locked(dwork->wq, &dwork->work);
}

bool cancel_work_sync(struct work_struct *work) {
    return sim::cancel_sync(work, nullptr);
}

bool cancel_delayed_work_sync(struct delayed_work *dwork) {
    return sim::cancel_sync(&dwork->work, dwork);
}

bool cancel_delayed_work(struct delayed_work *dwork) {
    std::unique_lock lk(sim::sched_mutex());
    int ret = sim::grab_pending(lk, &dwork->work, dwork);
    if (ret < 0)
        return false;
    sim::resource_remove(&dwork->work);
    __atomic_fetch_and(sim::data_bits(&dwork->work), ~WORK_STRUCT_PENDING, __ATOMIC_SEQ_CST);
    return ret != 0;
}

bool flush_work(struct work_struct *work) {
    sim::might_sleep_check("kernel/workqueue.c");
    std::unique_lock lk(sim::sched_mutex());
    return sim::flush_locked(lk, work);
}

bool flush_delayed_work(struct delayed_work *dwork) {
    sim::might_sleep_check("kernel/workqueue.c");
    std::unique_lock lk(sim::sched_mutex());
    if (sim::timer_del_locked(&dwork->timer))
        sim::insert_work_locked(dwork->wq, &dwork->work);
    return sim::flush_locked(lk, &dwork->work);
}

void flush_workqueue(struct workqueue_struct *wq) {
    sim::might_sleep_check("kernel/workqueue.c");
    std::unique_lock lk(sim::sched_mutex());
    uint64_t target = sim::ws().seq;
    auto done = [wq, target] {
        return !sim::any_up_to(target, [wq](const sim::Entry &e) { return e.wq == wq; });
    };
    sim::sched_wait(lk, wq, done);
}

}  // extern "C"
