// Real model of the kernel's clocks and timers on a virtual clock (kernel/time/timekeeping.c,
// timer.c, jiffies.c): monotonic, boot and wall time, jiffies at HZ, timer_list in expiry
// order, and the host's control of time (time_advance, real-time mode).
#include <atomic>
#include <cassert>
#include <chrono>
#include <map>
#include <thread>
#include <unordered_map>

#include "simkernel/kernel/sched_internal.h"
#include "simkernel/kernel/sim_time.h"

#include <platform/printk.h>
#include <platform/timekeeping.h>
#include <platform/timer.h>

extern "C" {
u64 jiffies_64 = INITIAL_JIFFIES;
}

namespace sim {
namespace {

std::atomic<uint64_t> mono_ns{0};
std::atomic<int64_t> wall_offset_ns{0};  // wall clock minus monotonic clock

// Pending timers, keyed by expiry and then arming order; guarded by sched_mutex().
struct TimerBase {
    using Key = std::pair<uint64_t, uint64_t>;
    std::map<Key, struct timer_list *> queue;
    std::unordered_map<struct timer_list *, Key> index;
    uint64_t seq = 0;
    struct timer_list *running = nullptr;
};

TimerBase &timers() {
    static TimerBase b;
    return b;
}

struct hlist_node **const pending_mark = reinterpret_cast<struct hlist_node **>(&timers);

uint64_t jiffies_to_mono_ns(unsigned long j) {
    long ticks = (long)(j - INITIAL_JIFFIES);
    return ticks <= 0 ? 0 : (uint64_t)ticks * TICK_NSEC;
}

void clock_set(uint64_t ns) {
    mono_ns.store(ns, std::memory_order_release);
    __atomic_store_n(&jiffies_64, (u64)INITIAL_JIFFIES + ns / TICK_NSEC, __ATOMIC_RELAXED);
}

bool detach_locked(struct timer_list *t) {
    TimerBase &b = timers();
    auto it = b.index.find(t);
    if (it == b.index.end())
        return false;
    b.queue.erase(it->second);
    b.index.erase(it);
    __atomic_store_n(&t->entry.pprev, nullptr, __ATOMIC_RELAXED);
    return true;
}

void enqueue_locked(struct timer_list *t, uint64_t ns) {
    TimerBase &b = timers();
    detach_locked(t);
    TimerBase::Key k{ns, b.seq++};
    b.queue.emplace(k, t);
    b.index.emplace(t, k);
    __atomic_store_n(&t->entry.pprev, pending_mark, __ATOMIC_RELAXED);
}

// Fires the earliest timer due at or before `until`; false if none is.
bool fire_next(uint64_t until) {
    TimerBase &b = timers();
    struct timer_list *t;
    {
        std::lock_guard g(sched_mutex());
        if (b.queue.empty() || b.queue.begin()->first.first > until)
            return false;
        auto it = b.queue.begin();
        t = it->second;
        if (it->first.first > mono_ns.load())
            clock_set(it->first.first);
        detach_locked(t);
        b.running = t;
    }
    t->function(t);
    std::lock_guard g(sched_mutex());
    b.running = nullptr;
    // del_timer_sync() callers wait on the timer.
    sched_wake_locked(t);
    return true;
}

std::mutex advance_lock;  // one caller moves time at a time

struct Realtime {
    std::mutex lock;
    std::jthread thread;
    std::atomic<bool> on{false};
};

Realtime &realtime() {
    static Realtime r;
    return r;
}

}  // namespace

uint64_t clock_monotonic_ns() {
    return mono_ns.load(std::memory_order_acquire);
}

void clock_set_wall(int64_t seconds) {
    wall_offset_ns.store(seconds * NSEC_PER_SEC - (int64_t)clock_monotonic_ns());
}

void timer_add_ns(struct timer_list *timer, uint64_t ns) {
    std::lock_guard g(sched_mutex());
    enqueue_locked(timer, ns);
}

int timer_mod_locked(struct timer_list *timer, unsigned long expires) {
    int was_pending = timer_pending(timer);
    timer->expires = expires;
    enqueue_locked(timer, jiffies_to_mono_ns(expires));
    return was_pending;
}

bool timer_del_locked(struct timer_list *timer) {
    return detach_locked(timer);
}

void time_advance(uint64_t ns) {
    assert(!current_host().kthread && "time_advance() called from a kernel thread");
    std::lock_guard g(advance_lock);
    // Threads woken before the call arm their timers at the time they were woken.
    settle();
    uint64_t end = clock_monotonic_ns() + ns;
    while (fire_next(end))
        settle();
    {
        std::lock_guard s(sched_mutex());
        clock_set(end);
    }
    settle();
}

void realtime_start() {
    Realtime &r = realtime();
    std::lock_guard g(r.lock);
    if (r.on.exchange(true))
        return;
    r.thread = std::jthread([](std::stop_token st) {
        using clk = std::chrono::steady_clock;
        auto last = clk::now();
        while (!st.stop_requested()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            auto now = clk::now();
            time_advance((uint64_t)std::chrono::nanoseconds(now - last).count());
            last = now;
        }
    });
}

void realtime_stop() {
    Realtime &r = realtime();
    std::lock_guard g(r.lock);
    if (!r.on.exchange(false))
        return;
    r.thread.request_stop();
    r.thread.join();
}

bool realtime_enabled() {
    return realtime().on.load();
}

}  // namespace sim

extern "C" {

u64 get_jiffies_64(void) {
    return __atomic_load_n(&jiffies_64, __ATOMIC_RELAXED);
}

unsigned long __msecs_to_jiffies(const unsigned int m) {
    if ((int)m < 0)
        return MAX_JIFFY_OFFSET;
    return _msecs_to_jiffies(m);
}

unsigned long __usecs_to_jiffies(const unsigned int u) {
    if (u > jiffies_to_usecs(MAX_JIFFY_OFFSET))
        return MAX_JIFFY_OFFSET;
    return _usecs_to_jiffies(u);
}

ktime_t ktime_get(void) {
    return (ktime_t)sim::clock_monotonic_ns();
}
ktime_t ktime_get_boottime(void) {
    return ktime_get();
}
ktime_t ktime_get_real(void) {
    return sim::wall_offset_ns.load() + ktime_get();
}
time64_t ktime_get_seconds(void) {
    return ktime_get() / NSEC_PER_SEC;
}
time64_t ktime_get_real_seconds(void) {
    return ktime_get_real() / NSEC_PER_SEC;
}
void ktime_get_real_ts64(struct timespec64 *ts) {
    *ts = ns_to_timespec64(ktime_get_real());
}
void ktime_get_ts64(struct timespec64 *ts) {
    *ts = ns_to_timespec64(ktime_get());
}

void init_timer_key(struct timer_list *timer, void (*func)(struct timer_list *), unsigned int flags,
                    const char *, struct lock_class_key *) {
    timer->entry.next = nullptr;
    timer->entry.pprev = nullptr;
    timer->function = func;
    timer->flags = flags;
}

int mod_timer(struct timer_list *timer, unsigned long expires) {
    std::lock_guard g(sim::sched_mutex());
    return sim::timer_mod_locked(timer, expires);
}

int timer_reduce(struct timer_list *timer, unsigned long expires) {
    std::lock_guard g(sim::sched_mutex());
    int was_pending = timer_pending(timer);
    if (was_pending && !time_before(expires, timer->expires))
        return 1;
    return sim::timer_mod_locked(timer, expires);
}

void add_timer(struct timer_list *timer) {
    if (timer_pending(timer)) {
        printk(KERN_CRIT "kernel BUG at kernel/time/timer.c: add_timer on a pending timer\n");
        assert(!"add_timer() on a pending timer");
    }
    mod_timer(timer, timer->expires);
}

int del_timer(struct timer_list *timer) {
    std::lock_guard g(sim::sched_mutex());
    return sim::detach_locked(timer);
}

int del_timer_sync(struct timer_list *timer) {
    std::unique_lock lk(sim::sched_mutex());
    int ret = sim::detach_locked(timer);
    auto not_running = [timer] { return sim::timers().running != timer; };
    sim::sched_wait(lk, timer, not_running);
    return ret;
}

}  // extern "C"
