// Tasks, current, the task list, kernel threads and the schedule()/wake-up contract.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "simkernel/kernel/fault.h"
#include "simkernel/kernel/sched_internal.h"
#include "simkernel/kernel/sim_time.h"
#include "simkernel/kernel/task.h"
#include "tests/kernel/sched_test_util.h"

#include <platform/errno.h>
#include <platform/jiffies.h>
#include <platform/kthread.h>
#include <platform/rcupdate.h>
#include <platform/sched.h>

namespace {

TEST(TaskList, BootTasks_HaveKernelPidsAndKinds) {
    struct Row {
        const char *comm;
        pid_t pid;
        unsigned int flags;
        bool has_mm;
    };
    const Row rows[] = {
        {"init", 1, 0, true},
        {"kthreadd", 2, PF_KTHREAD, false},
        {"kcompactd0", 44, PF_KTHREAD, false},
        {"kswapd0", 61, PF_KTHREAD | PF_KSWAPD, false},
        {"sh", 120, 0, true},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.comm);
        struct task_struct *t = sim::task_find_by_comm(r.comm);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->pid, r.pid);
        EXPECT_EQ(t->flags & (PF_KTHREAD | PF_KSWAPD), r.flags);
        EXPECT_EQ(t->mm != nullptr, r.has_mm);
        EXPECT_EQ(t->cred->uid.val, 0u);
    }
    EXPECT_NE(sim::task_find_by_comm("kworker/0:1"), nullptr);
    EXPECT_TRUE(sim::task_find_by_comm("kworker/0:1")->flags & PF_WQ_WORKER);
}

TEST(TaskList, ForEachProcess_WalksInPidOrderWithoutSwapper) {
    std::vector<pid_t> pids;
    struct task_struct *p;
    read_lock(&tasklist_lock);
    for_each_process(p) pids.push_back(p->pid);
    read_unlock(&tasklist_lock);
    ASSERT_FALSE(pids.empty());
    EXPECT_EQ(pids.front(), 1);
    for (size_t i = 1; i < pids.size(); i++)
        EXPECT_LT(pids[i - 1], pids[i]);
}

TEST(TaskList, FindTaskByVpid_FindsLiveTasksOnly) {
    struct task_struct *t = sim::task_create_user("finder", 1000);
    pid_t pid = t->pid;
    rcu_read_lock();
    EXPECT_EQ(find_task_by_vpid(pid), t);
    EXPECT_EQ(find_task_by_vpid(0), nullptr);
    EXPECT_EQ(find_task_by_vpid(1)->pid, 1);
    rcu_read_unlock();
    sim::task_exit(t);
    rcu_read_lock();
    EXPECT_EQ(find_task_by_vpid(pid), nullptr);
    rcu_read_unlock();
}

TEST(TaskList, CpumaskList_FormatsRanges) {
    struct Row {
        unsigned long bits;
        const char *text;
    };
    const Row rows[] = {
        {0xff, "0-7"}, {0x63, "0-1,5-6"}, {0x08, "3"}, {0x00, ""}, {0xa5, "0,2,5,7"}};
    for (const Row &r : rows) {
        struct cpumask m = {{r.bits}};
        EXPECT_EQ(sim::cpumask_list(m), r.text) << "bits " << std::hex << r.bits;
    }
}

TEST(Current, HostThreadWithoutTask_RunsAsShell) {
    EXPECT_STREQ(current->comm, "sh");
    std::string other;
    std::thread([&other] { other = current->comm; }).join();
    EXPECT_EQ(other, "sh");
}

TEST(Current, TaskScope_SwitchesCurrentForThisThreadOnly) {
    struct task_struct *t = sim::task_create_user("com.example.long.name", 10042);
    EXPECT_STREQ(t->comm, "com.example.lon");
    EXPECT_NE(t->mm, nullptr);
    {
        sim::TaskScope scope(t);
        EXPECT_EQ(current, t);
        EXPECT_EQ(current_uid().val, 10042u);
        struct task_struct *seen = nullptr;
        std::thread([&seen] { seen = current; }).join();
        EXPECT_STREQ(seen->comm, "sh");
    }
    EXPECT_STREQ(current->comm, "sh");
    sim::task_exit(t);
}

TEST(SetCpusAllowed, MasksWithoutOnlineCpu_AreRejected) {
    struct task_struct *t = sim::task_create_user("pinned", 0);
    struct Row {
        unsigned long bits;
        int ret;
        const char *after;
        int weight;
    };
    const Row rows[] = {
        {0x63, 0, "0-1,5-6", 4},
        {0x00, -EINVAL, "0-1,5-6", 4},
        {0x100, -EINVAL, "0-1,5-6", 4},  // CPU 8 does not exist
        {0x80, 0, "7", 1},
    };
    for (const Row &r : rows) {
        struct cpumask m = {{r.bits}};
        EXPECT_EQ(set_cpus_allowed_ptr(t, &m), r.ret) << std::hex << r.bits;
        EXPECT_EQ(sim::cpumask_list(t->cpus_mask), r.after);
        EXPECT_EQ(t->nr_cpus_allowed, r.weight);
    }
    sim::task_exit(t);
}

// A thread body that records that it ran, sleeps until stopped and returns 7.
int sleeper(void *data) {
    static_cast<std::atomic<int> *>(data)->fetch_add(1);
    // Then sleep until stopped, as an idle kernel thread does.
    sim::kthread_idle_main(nullptr);
    return 7;
}

TEST(Kthread, Create_DoesNotRunUntilWoken) {
    std::atomic<int> runs{0};
    struct task_struct *t = kthread_create(sleeper, &runs, "simtest-%s-%d", "sleeper", 12345);
    ASSERT_FALSE(IS_ERR(t));
    sim::settle();
    EXPECT_EQ(runs.load(), 0);
    EXPECT_STREQ(t->comm, "simtest-sleeper");
    EXPECT_TRUE(t->flags & PF_KTHREAD);
    EXPECT_EQ(t->mm, nullptr);
    EXPECT_EQ(READ_ONCE(t->state), TASK_UNINTERRUPTIBLE);
    EXPECT_EQ(wake_up_process(t), 1);
    sim::settle();
    EXPECT_EQ(runs.load(), 1);
    EXPECT_EQ(READ_ONCE(t->state), TASK_INTERRUPTIBLE);
    EXPECT_EQ(kthread_stop(t), 7);
}

TEST(Kthread, StopBeforeFirstWakeup_ReturnsEintrWithoutRunning) {
    std::atomic<int> runs{0};
    struct task_struct *t = kthread_create(sleeper, &runs, "simtest-never");
    ASSERT_FALSE(IS_ERR(t));
    EXPECT_EQ(kthread_stop(t), -EINTR);
    EXPECT_EQ(runs.load(), 0);
}

TEST(Kthread, Run_LeavesTaskListWhenStopped) {
    std::atomic<int> runs{0};
    struct task_struct *t = kthread_run(sleeper, &runs, "simtest-run");
    ASSERT_FALSE(IS_ERR(t));
    pid_t pid = t->pid;
    sim::settle();
    EXPECT_EQ(sim::task_find_by_comm("simtest-run"), t);
    EXPECT_EQ(kthread_stop(t), 7);
    rcu_read_lock();
    EXPECT_EQ(find_task_by_vpid(pid), nullptr);
    rcu_read_unlock();
}

struct WindowState {
    std::atomic<bool> marked{false}, go{false}, returned{false};
};

// Marks itself sleeping, then lets the test wake it before it calls schedule().
int window_sleeper(void *data) {
    auto *w = static_cast<WindowState *>(data);
    set_current_state(TASK_INTERRUPTIBLE);
    w->marked = true;
    while (!w->go)
        std::this_thread::yield();
    schedule();
    w->returned = true;
    return 0;
}

TEST(Schedule, WakeupBeforeSchedule_MakesScheduleReturn) {
    WindowState w;
    struct task_struct *t = kthread_run(window_sleeper, &w, "simtest-window");
    ASSERT_FALSE(IS_ERR(t));
    get_task_struct(t);
    while (!w.marked)
        std::this_thread::yield();
    EXPECT_EQ(wake_up_process(t), 1);
    EXPECT_EQ(wake_up_process(t), 0);  // already running
    w.go = true;
    sim::settle();
    EXPECT_TRUE(w.returned);
    put_task_struct(t);
}

struct TimeoutState {
    std::atomic<long> left{-1};
    std::atomic<unsigned long> woke_at{0};
};

int timed_sleeper(void *data) {
    auto *s = static_cast<TimeoutState *>(data);
    set_current_state(TASK_INTERRUPTIBLE);
    s->left = schedule_timeout(100);
    s->woke_at = jiffies;
    // Then sleep until stopped, as an idle kernel thread does.
    sim::kthread_idle_main(nullptr);
    return 0;
}

TEST(Schedule, ScheduleTimeout_EarlyWakeupReturnsJiffiesLeft) {
    TimeoutState s;
    struct task_struct *t = kthread_run(timed_sleeper, &s, "simtest-timeout");
    sim::settle();
    unsigned long start = jiffies;
    sim::time_advance(50 * TICK_NSEC);
    EXPECT_EQ(s.left.load(), -1);
    wake_up_process(t);
    sim::settle();
    EXPECT_EQ(s.left.load(), 50);
    EXPECT_EQ(s.woke_at.load(), start + 50);
    kthread_stop(t);
}

TEST(Schedule, ScheduleTimeout_ExpiresAtItsTick) {
    TimeoutState s;
    struct task_struct *t = kthread_run(timed_sleeper, &s, "simtest-timeout");
    sim::settle();
    unsigned long start = jiffies;
    sim::time_advance(99 * TICK_NSEC);
    EXPECT_EQ(s.left.load(), -1);
    sim::time_advance(TICK_NSEC);
    EXPECT_EQ(s.left.load(), 0);
    EXPECT_EQ(s.woke_at.load(), start + 100);
    kthread_stop(t);
}

class ModuleKthread : public ::testing::Test {
  protected:
    void TearDown() override { sim::fault_clear(); }
    simtest::FakeModule mod_ = SIMTEST_SCHEDMOD();
    int runs_ = 0;
};

TEST_F(ModuleKthread, Created_IsModuleResourceUntilStopped) {
    struct task_struct *t = simtest::schedmod_kthread_create(&runs_);
    ASSERT_FALSE(IS_ERR(t));
    auto left = sim::resource_list(mod_.mod());
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].kind, "kthread");
    EXPECT_EQ(left[0].name, "schedmod/0");
    wake_up_process(t);
    sim::settle();
    EXPECT_EQ(kthread_stop(t), 0);
    EXPECT_TRUE(sim::resource_list(mod_.mod()).empty());
}

TEST_F(ModuleKthread, LeftRunning_IsStoppedByRelease) {
    struct task_struct *t = simtest::schedmod_kthread_create(&runs_);
    ASSERT_FALSE(IS_ERR(t));
    wake_up_process(t);
    sim::settle();
    auto left = sim::resource_release_all(mod_.mod());
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].kind, "kthread");
    EXPECT_EQ(sim::task_find_by_comm("schedmod/0"), nullptr);
    EXPECT_EQ(__atomic_load_n(&runs_, __ATOMIC_SEQ_CST), 1);
}

TEST_F(ModuleKthread, InjectedCreateFailure_ReturnsEnomemForThatModuleOnly) {
    sim::FaultRule rule;
    rule.op = std::string(sim::fault_op::kthread_create);
    rule.module = "schedmod";
    sim::fault_arm(rule);
    std::atomic<int> runs{0};
    struct task_struct *kernel_thread = kthread_create(sleeper, &runs, "simtest-kernel");
    ASSERT_FALSE(IS_ERR(kernel_thread));
    struct task_struct *t = simtest::schedmod_kthread_create(&runs_);
    ASSERT_TRUE(IS_ERR(t));
    EXPECT_EQ(PTR_ERR(t), -ENOMEM);
    EXPECT_TRUE(sim::resource_list(mod_.mod()).empty());
    EXPECT_EQ(sim::fault_injected_count(sim::fault_op::kthread_create), 1u);
    kthread_stop(kernel_thread);
}

}  // namespace
