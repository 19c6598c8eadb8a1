// Clocks, jiffies, timers, timed sleeps and wait_event timeouts on the virtual clock.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "simkernel/kernel/boot.h"
#include "simkernel/kernel/sched_internal.h"
#include "simkernel/kernel/sim_time.h"

#include <platform/jiffies.h>
#include <platform/kthread.h>
#include <platform/timekeeping.h>
#include <platform/timer.h>
#include <platform/wait.h>
#include <platform/workqueue.h>

namespace {

TEST(Jiffies, MsecsToJiffies_RoundsUpToWholeTicks) {
    struct Row {
        unsigned int ms;
        unsigned long j;
    };
    const Row rows[] = {
        {0, 0}, {1, 1}, {4, 1}, {5, 2}, {10, 3}, {1000, 250}, {0x80000000u, MAX_JIFFY_OFFSET}};
    for (const Row &r : rows) {
        volatile unsigned int ms = r.ms;  // the out-of-line __msecs_to_jiffies()
        EXPECT_EQ(msecs_to_jiffies(ms), r.j) << r.ms << " ms";
        EXPECT_EQ(__msecs_to_jiffies(r.ms), r.j) << r.ms << " ms";
    }
    EXPECT_EQ(msecs_to_jiffies(10), 3ul);  // the constant-folded form agrees
    EXPECT_EQ(jiffies_to_msecs(250), 1000u);
    EXPECT_EQ(usecs_to_jiffies(4001), 2ul);
}

TEST(Jiffies, FollowMonotonicClockFromInitialJiffies) {
    EXPECT_EQ(jiffies, INITIAL_JIFFIES + ktime_get_ns() / TICK_NSEC);
    unsigned long before = jiffies;
    sim::time_advance(10 * TICK_NSEC);
    EXPECT_EQ(jiffies, before + 10);
    EXPECT_TRUE(time_after(jiffies, before));
    EXPECT_TRUE(time_before(before, jiffies));
}

// Moves the clock to the next whole second, so the wall clock can be set exactly.
void advance_to_whole_second() {
    sim::time_advance(NSEC_PER_SEC - ktime_get_ns() % NSEC_PER_SEC);
}

TEST(Clocks, WallClock_IsBootWallTimePlusMonotonic) {
    const int64_t boot_wall = sim::kernel_boot_params().wall_clock_start;
    EXPECT_EQ(ktime_get_real_seconds(), boot_wall + ktime_get_seconds());
    advance_to_whole_second();
    sim::clock_set_wall(2000000000);
    struct timespec64 ts;
    ktime_get_real_ts64(&ts);
    EXPECT_EQ(ts.tv_sec, 2000000000);
    EXPECT_EQ(ts.tv_nsec, 0);
    sim::time_advance(1500 * NSEC_PER_MSEC);
    ktime_get_real_ts64(&ts);
    EXPECT_EQ(ts.tv_sec, 2000000001);
    EXPECT_EQ(ts.tv_nsec, 500 * NSEC_PER_MSEC);
    EXPECT_EQ(ktime_get_boottime_ns(), ktime_get_ns());
    advance_to_whole_second();
    sim::clock_set_wall(boot_wall + ktime_get_seconds());
    EXPECT_EQ(ktime_get_real(), boot_wall * NSEC_PER_SEC + ktime_get());
}

TEST(Clocks, Monotonic_MovesOnlyWithTimeAdvance) {
    u64 t0 = ktime_get_ns();
    sim::settle();
    EXPECT_EQ(ktime_get_ns(), t0);
    sim::time_advance(1234);
    EXPECT_EQ(ktime_get_ns(), t0 + 1234);
    EXPECT_EQ(ktime_to_ms(ktime_get()), (s64)(t0 + 1234) / NSEC_PER_MSEC);
}

// Events of one test, in the order they happened, with the clock at each.
struct Trace {
    std::mutex lock;
    std::vector<std::pair<std::string, u64>> events;
    void add(std::string what) {
        std::lock_guard g(lock);
        events.emplace_back(std::move(what), ktime_get_ns());
    }
};
Trace *trace;

struct NamedTimer {
    struct timer_list timer;
    const char *name;
    int fired = 0;
};

void named_timer_fn(struct timer_list *t) {
    NamedTimer *nt = from_timer(nt, t, timer);
    nt->fired++;
    trace->add(nt->name);
}

struct Napper {
    unsigned int ms;
    const char *name;
};

int napper_fn(void *data) {
    auto *n = static_cast<Napper *>(data);
    msleep(n->ms);
    trace->add(n->name);
    // Then sleep until stopped, as an idle kernel thread does.
    sim::kthread_idle_main(nullptr);
    return 0;
}

void traced_work(struct work_struct *) {
    trace->add("delayed work");
}

class VirtualTime : public ::testing::Test {
  protected:
    void SetUp() override {
        trace = &trace_;
        // Start on a tick boundary so expiry times are whole ticks from now.
        sim::time_advance(TICK_NSEC - ktime_get_ns() % TICK_NSEC);
        start_ = ktime_get_ns();
    }
    void TearDown() override { trace = nullptr; }
    Trace trace_;
    u64 start_ = 0;
};

TEST_F(VirtualTime, TimersSleepsAndDelayedWork_FireInExpiryOrderAtTheirTimes) {
    NamedTimer t1{{}, "timer 15ms"};
    timer_setup(&t1.timer, named_timer_fn, 0);
    mod_timer(&t1.timer, jiffies + msecs_to_jiffies(15));  // 4 ticks: 16 ms
    Napper n30{30, "msleep 30"}, n10{10, "msleep 10"};
    struct task_struct *a = kthread_run(napper_fn, &n30, "simtest-nap30");
    struct task_struct *b = kthread_run(napper_fn, &n10, "simtest-nap10");
    struct delayed_work dw;
    INIT_DELAYED_WORK(&dw, traced_work);
    sim::settle();
    schedule_delayed_work(&dw, msecs_to_jiffies(24));  // 6 ticks: 24 ms
    sim::time_advance(100 * NSEC_PER_MSEC);
    // msleep(ms) sleeps msecs_to_jiffies(ms) + 1 ticks; timers due at the same tick fire in the
    // order they were armed.
    const std::vector<std::pair<std::string, u64>> want = {
        {"timer 15ms", 16 * NSEC_PER_MSEC},
        {"msleep 10", 16 * NSEC_PER_MSEC},
        {"delayed work", 24 * NSEC_PER_MSEC},
        {"msleep 30", 36 * NSEC_PER_MSEC},
    };
    ASSERT_EQ(trace_.events.size(), want.size());
    for (size_t i = 0; i < want.size(); i++) {
        EXPECT_EQ(trace_.events[i].first, want[i].first) << i;
        EXPECT_EQ(trace_.events[i].second - start_, want[i].second) << want[i].first;
    }
    EXPECT_EQ(ktime_get_ns() - start_, 100 * NSEC_PER_MSEC);
    kthread_stop(a);
    kthread_stop(b);
}

TEST_F(VirtualTime, ModAndDelTimer_ReportWhetherPending) {
    NamedTimer t{{}, "t"};
    timer_setup(&t.timer, named_timer_fn, 0);
    EXPECT_FALSE(timer_pending(&t.timer));
    EXPECT_EQ(mod_timer(&t.timer, jiffies + 10), 0);
    EXPECT_TRUE(timer_pending(&t.timer));
    EXPECT_EQ(mod_timer(&t.timer, jiffies + 20), 1);
    sim::time_advance(10 * TICK_NSEC);
    EXPECT_EQ(t.fired, 0);  // moved to 20
    EXPECT_EQ(del_timer(&t.timer), 1);
    EXPECT_EQ(del_timer(&t.timer), 0);
    sim::time_advance(20 * TICK_NSEC);
    EXPECT_EQ(t.fired, 0);
    t.timer.expires = jiffies + 1;
    add_timer(&t.timer);
    sim::time_advance(TICK_NSEC);
    EXPECT_EQ(t.fired, 1);
    EXPECT_FALSE(timer_pending(&t.timer));
}

struct Periodic {
    struct timer_list timer;
    int fired = 0;
    unsigned long seen[4] = {};
};

void periodic_fn(struct timer_list *t) {
    Periodic *p = from_timer(p, t, timer);
    p->seen[p->fired] = jiffies;
    if (++p->fired < 4)
        mod_timer(&p->timer, p->timer.expires + 5);
}

TEST_F(VirtualTime, TimerRearmedInCallback_FiresEachPeriodInOneAdvance) {
    Periodic p;
    timer_setup(&p.timer, periodic_fn, 0);
    unsigned long base = jiffies;
    mod_timer(&p.timer, base + 5);
    sim::time_advance(100 * TICK_NSEC);
    ASSERT_EQ(p.fired, 4);
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(p.seen[i], base + 5 * (i + 1)) << i;
}

struct Waiter {
    wait_queue_head_t wq;
    int cond = 0;
    std::atomic<long> result{-100};
    long timeout = 0;
};

int timed_waiter(void *data) {
    auto *w = static_cast<Waiter *>(data);
    w->result = wait_event_timeout(w->wq, READ_ONCE(w->cond) != 0, w->timeout);
    // Then sleep until stopped, as an idle kernel thread does.
    sim::kthread_idle_main(nullptr);
    return 0;
}

TEST_F(VirtualTime, WaitEventTimeout_ReturnsZeroWhenTimeRunsOut) {
    Waiter w;
    init_waitqueue_head(&w.wq);
    w.timeout = HZ;
    struct task_struct *t = kthread_run(timed_waiter, &w, "simtest-waiter");
    sim::time_advance(999 * NSEC_PER_MSEC);
    EXPECT_EQ(w.result.load(), -100);
    sim::time_advance(NSEC_PER_MSEC);
    EXPECT_EQ(w.result.load(), 0);
    EXPECT_FALSE(waitqueue_active(&w.wq));
    kthread_stop(t);
}

TEST_F(VirtualTime, WaitEventTimeout_ConditionMetReturnsJiffiesLeft) {
    Waiter w;
    init_waitqueue_head(&w.wq);
    w.timeout = HZ;
    struct task_struct *t = kthread_run(timed_waiter, &w, "simtest-waiter");
    sim::time_advance(100 * TICK_NSEC);
    wake_up(&w.wq);  // a wake-up without the condition: it sleeps on
    sim::settle();
    EXPECT_EQ(w.result.load(), -100);
    WRITE_ONCE(w.cond, 1);
    wake_up(&w.wq);
    sim::settle();
    EXPECT_EQ(w.result.load(), HZ - 100);
    kthread_stop(t);
}

TEST_F(VirtualTime, WaitEventTimeout_ConditionAlreadyTrueReturnsOne) {
    Waiter w;
    init_waitqueue_head(&w.wq);
    w.cond = 1;
    w.timeout = 0;
    struct task_struct *t = kthread_run(timed_waiter, &w, "simtest-waiter");
    sim::settle();
    EXPECT_EQ(w.result.load(), 1);
    kthread_stop(t);
}

}  // namespace
