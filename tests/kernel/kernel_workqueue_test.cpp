// Workqueues: PENDING, non-reentrant execution, cancel and flush semantics, delayed work on the
// virtual clock, and work that a module leaves queued.
#include <gtest/gtest.h>

#include <atomic>

#include "simkernel/kernel/sched_internal.h"
#include "simkernel/kernel/sim_time.h"
#include "tests/kernel/sched_test_util.h"

#include <platform/jiffies.h>
#include <platform/kthread.h>
#include <platform/timekeeping.h>
#include <platform/wait.h>
#include <platform/workqueue.h>

namespace {

// A work item whose runs wait at a gate until the test opens it.
struct GatedWork {
    struct work_struct work;
    struct delayed_work dwork;
    wait_queue_head_t gate_wq;
    int gate_open = 0;
    std::atomic<int> starts{0}, ends{0}, running{0}, max_running{0};
};

void gated_run(GatedWork *g) {
    int now = ++g->running;
    int seen = g->max_running.load();
    while (now > seen && !g->max_running.compare_exchange_weak(seen, now)) {
    }
    g->starts++;
    wait_event(g->gate_wq, READ_ONCE(g->gate_open));
    g->running--;
    g->ends++;
}

void gated_fn(struct work_struct *w) {
    gated_run(container_of(w, GatedWork, work));
}
void gated_dfn(struct work_struct *w) {
    gated_run(container_of(to_delayed_work(w), GatedWork, dwork));
}

class Workqueue : public ::testing::Test {
  protected:
    void SetUp() override {
        INIT_WORK(&g_.work, gated_fn);
        INIT_DELAYED_WORK(&g_.dwork, gated_dfn);
        init_waitqueue_head(&g_.gate_wq);
    }
    void TearDown() override {
        open_gate();
        cancel_work_sync(&g_.work);
        cancel_delayed_work_sync(&g_.dwork);
    }
    void open_gate() {
        WRITE_ONCE(g_.gate_open, 1);
        wake_up_all(&g_.gate_wq);
        sim::settle();
    }
    GatedWork g_;
};

TEST_F(Workqueue, QueueWork_WhilePending_ReturnsFalse) {
    struct workqueue_struct *wq = alloc_ordered_workqueue("simtest_ordered", 0);
    GatedWork blocker;
    INIT_WORK(&blocker.work, gated_fn);
    init_waitqueue_head(&blocker.gate_wq);
    ASSERT_TRUE(queue_work(wq, &blocker.work));
    sim::settle();
    EXPECT_TRUE(queue_work(wq, &g_.work));
    EXPECT_FALSE(queue_work(wq, &g_.work));
    sim::settle();
    EXPECT_TRUE(work_pending(&g_.work));
    EXPECT_EQ(g_.starts.load(), 0);  // ordered: behind the blocker
    WRITE_ONCE(blocker.gate_open, 1);
    wake_up_all(&blocker.gate_wq);
    open_gate();
    EXPECT_EQ(g_.starts.load(), 1);
    EXPECT_FALSE(work_pending(&g_.work));
    destroy_workqueue(wq);
}

TEST_F(Workqueue, RequeuedWhileRunning_NeverRunsTwiceAtOnce) {
    ASSERT_TRUE(schedule_work(&g_.work));
    sim::settle();
    ASSERT_EQ(g_.starts.load(), 1);
    EXPECT_FALSE(work_pending(&g_.work));  // cleared before the function runs
    EXPECT_TRUE(schedule_work(&g_.work));
    sim::settle();
    EXPECT_EQ(g_.starts.load(), 1);  // another worker is free, yet it waits
    open_gate();
    EXPECT_EQ(g_.starts.load(), 2);
    EXPECT_EQ(g_.ends.load(), 2);
    EXPECT_EQ(g_.max_running.load(), 1);
}

struct Canceller {
    GatedWork *g;
    std::atomic<int> result{-1};
    bool flush = false;
};

int canceller_fn(void *data) {
    auto *c = static_cast<Canceller *>(data);
    c->result = c->flush ? flush_work(&c->g->work) : cancel_work_sync(&c->g->work);
    // Then sleep until stopped, as an idle kernel thread does.
    sim::kthread_idle_main(nullptr);
    return 0;
}

TEST_F(Workqueue, CancelWorkSync_WaitsForTheRunningInstance) {
    schedule_work(&g_.work);
    sim::settle();
    Canceller c{&g_};
    struct task_struct *t = kthread_run(canceller_fn, &c, "simtest-cancel");
    sim::settle();
    EXPECT_EQ(c.result.load(), -1);                 // still waiting for the run
    EXPECT_FALSE(queue_work(system_wq, &g_.work));  // no requeue while cancelling
    open_gate();
    EXPECT_EQ(c.result.load(), 0);  // it was running, not pending
    EXPECT_EQ(g_.ends.load(), 1);
    EXPECT_TRUE(queue_work(system_wq, &g_.work));
    sim::settle();
    EXPECT_EQ(g_.starts.load(), 2);
    kthread_stop(t);
}

TEST_F(Workqueue, CancelWorkSync_PendingItemNeverRuns) {
    struct workqueue_struct *wq = alloc_ordered_workqueue("simtest_ordered", 0);
    GatedWork blocker;
    INIT_WORK(&blocker.work, gated_fn);
    init_waitqueue_head(&blocker.gate_wq);
    queue_work(wq, &blocker.work);
    queue_work(wq, &g_.work);
    sim::settle();
    EXPECT_TRUE(cancel_work_sync(&g_.work));
    EXPECT_FALSE(cancel_work_sync(&g_.work));
    WRITE_ONCE(blocker.gate_open, 1);
    wake_up_all(&blocker.gate_wq);
    sim::settle();
    EXPECT_EQ(g_.starts.load(), 0);
    destroy_workqueue(wq);
}

TEST_F(Workqueue, FlushWork_WaitsForRunAndReportsIdle) {
    Canceller idle{&g_};
    idle.flush = true;
    struct task_struct *t0 = kthread_run(canceller_fn, &idle, "simtest-flush0");
    sim::settle();
    EXPECT_EQ(idle.result.load(), 0);  // nothing to wait for
    schedule_work(&g_.work);
    sim::settle();
    Canceller c{&g_};
    c.flush = true;
    struct task_struct *t = kthread_run(canceller_fn, &c, "simtest-flush");
    sim::settle();
    EXPECT_EQ(c.result.load(), -1);
    open_gate();
    EXPECT_EQ(c.result.load(), 1);
    kthread_stop(t);
    kthread_stop(t0);
}

TEST_F(Workqueue, DelayedWork_RunsWhenItsDelayHasPassed) {
    open_gate();
    sim::time_advance(TICK_NSEC - ktime_get_ns() % TICK_NSEC);
    EXPECT_TRUE(schedule_delayed_work(&g_.dwork, msecs_to_jiffies(100)));
    EXPECT_FALSE(schedule_delayed_work(&g_.dwork, 1));
    EXPECT_TRUE(delayed_work_pending(&g_.dwork));
    sim::time_advance(96 * NSEC_PER_MSEC);
    EXPECT_EQ(g_.starts.load(), 0);
    sim::time_advance(4 * NSEC_PER_MSEC);
    EXPECT_EQ(g_.starts.load(), 1);
    EXPECT_FALSE(delayed_work_pending(&g_.dwork));
}

TEST_F(Workqueue, ModDelayedWork_RetimesPendingAndQueuesIdle) {
    open_gate();
    EXPECT_FALSE(mod_delayed_work(system_wq, &g_.dwork, 50));  // idle: queued
    EXPECT_TRUE(mod_delayed_work(system_wq, &g_.dwork, 10));   // pending: moved earlier
    sim::time_advance(10 * TICK_NSEC);
    EXPECT_EQ(g_.starts.load(), 1);
    sim::time_advance(50 * TICK_NSEC);
    EXPECT_EQ(g_.starts.load(), 1);
}

TEST_F(Workqueue, CancelDelayedWork_StopsTheTimer) {
    open_gate();
    EXPECT_FALSE(cancel_delayed_work(&g_.dwork));
    schedule_delayed_work(&g_.dwork, 10);
    EXPECT_TRUE(cancel_delayed_work(&g_.dwork));
    EXPECT_FALSE(delayed_work_pending(&g_.dwork));
    sim::time_advance(20 * TICK_NSEC);
    EXPECT_EQ(g_.starts.load(), 0);
}

TEST_F(Workqueue, FlushDelayedWork_RunsItNow) {
    open_gate();
    schedule_delayed_work(&g_.dwork, HZ);
    u64 t0 = ktime_get_ns();
    EXPECT_TRUE(flush_delayed_work(&g_.dwork));
    EXPECT_EQ(g_.starts.load(), 1);
    EXPECT_EQ(ktime_get_ns(), t0);
    sim::time_advance(2 * NSEC_PER_SEC);
    EXPECT_EQ(g_.starts.load(), 1);
}

struct Rearming {
    struct delayed_work dwork;
    std::atomic<int> runs{0};
};

void rearm_fn(struct work_struct *w) {
    Rearming *r = container_of(to_delayed_work(w), Rearming, dwork);
    r->runs++;
    schedule_delayed_work(&r->dwork, 10);
}

TEST_F(Workqueue, SelfRearmingDelayedWork_RunsEachPeriodUntilCancelled) {
    Rearming r;
    INIT_DELAYED_WORK(&r.dwork, rearm_fn);
    schedule_delayed_work(&r.dwork, 10);
    sim::time_advance(50 * TICK_NSEC);
    EXPECT_EQ(r.runs.load(), 5);
    EXPECT_TRUE(cancel_delayed_work_sync(&r.dwork));
    sim::time_advance(50 * TICK_NSEC);
    EXPECT_EQ(r.runs.load(), 5);
}

TEST_F(Workqueue, FlushWorkqueue_WaitsForEverythingQueuedBefore) {
    open_gate();
    struct workqueue_struct *wq = alloc_workqueue("simtest_wq", 0, 0);
    struct work_struct works[4];
    simtest::schedmod_work_runs = 0;
    for (auto &w : works) {
        INIT_WORK(&w, simtest::schedmod_work);
        queue_work(wq, &w);
    }
    flush_workqueue(wq);
    EXPECT_EQ(__atomic_load_n(&simtest::schedmod_work_runs, __ATOMIC_SEQ_CST), 4);
    destroy_workqueue(wq);
}

class ModuleWork : public Workqueue {
  protected:
    simtest::FakeModule mod_ = SIMTEST_SCHEDMOD();
};

TEST_F(ModuleWork, Pending_IsModuleResourceUntilItRuns) {
    struct delayed_work dw;
    INIT_DELAYED_WORK(&dw, simtest::schedmod_work);
    simtest::schedmod_work_runs = 0;
    schedule_delayed_work(&dw, 10);
    auto left = sim::resource_list(mod_.mod());
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].kind, "work");
    EXPECT_EQ(left[0].name, "schedmod_work");
    sim::time_advance(10 * TICK_NSEC);
    EXPECT_EQ(__atomic_load_n(&simtest::schedmod_work_runs, __ATOMIC_SEQ_CST), 1);
    EXPECT_TRUE(sim::resource_list(mod_.mod()).empty());
}

TEST_F(ModuleWork, LeftQueued_IsCancelledByRelease) {
    struct delayed_work dw;
    INIT_DELAYED_WORK(&dw, simtest::schedmod_work);
    simtest::schedmod_work_runs = 0;
    schedule_delayed_work(&dw, 10);
    auto left = sim::resource_release_all(mod_.mod());
    ASSERT_EQ(left.size(), 1u);
    EXPECT_FALSE(delayed_work_pending(&dw));
    sim::time_advance(20 * TICK_NSEC);
    EXPECT_EQ(__atomic_load_n(&simtest::schedmod_work_runs, __ATOMIC_SEQ_CST), 0);
}

}  // namespace
