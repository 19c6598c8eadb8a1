// Kernel-thread controls: kswapd_pid, kcompactd_pid and kdamond_cpuset.
#include "vmassist_test_util.h"

#include <cerrno>
#include <thread>

#include <platform/sched.h>

namespace vmassist_test {
namespace {

class VmassistKthreadControlsTest : public VmassistTest {
  protected:
    void TearDown() override {
        for (auto *t : tasks_)
            sim::task_exit(t);
        VmassistTest::TearDown();
    }
    struct task_struct *user_task(const char *comm, uid_t uid = 0) {
        tasks_.push_back(sim::task_create_user(comm, uid));
        return tasks_.back();
    }
    std::vector<struct task_struct *> tasks_;
};

TEST_F(VmassistKthreadControlsTest, KswapdPidShow_GivesKswapd0WithoutNewline) {
    auto *k = sim::task_find_by_comm("kswapd0");
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(read("/proc/kswapd_pid"), std::to_string(k->pid));
}

TEST_F(VmassistKthreadControlsTest, KcompactdPidShow_GivesKcompactd0WithoutNewline) {
    auto *k = sim::task_find_by_comm("kcompactd0");
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(read("/proc/kcompactd_pid"), std::to_string(k->pid));
}

// init, first on the task list, renames itself like each daemon: it has user memory, so it is
// never reported.
TEST_F(VmassistKthreadControlsTest, PidNodes_IgnoreUserTaskOfThatName) {
    struct task_struct *init = sim::task_find_by_comm("init");
    ASSERT_NE(init, nullptr);
    ASSERT_EQ(init->pid, 1);
    const struct {
        const char *comm;
        const char *node;
    } daemons[] = {{"kswapd0", "/proc/kswapd_pid"}, {"kcompactd0", "/proc/kcompactd_pid"}};
    for (const auto &d : daemons) {
        SCOPED_TRACE(d.comm);
        auto *k = sim::task_find_by_comm(d.comm);
        ASSERT_NE(k, nullptr);
        set_task_comm(init, d.comm);
        EXPECT_EQ(read(d.node), std::to_string(k->pid));
        set_task_comm(init, "init");
    }
}

TEST_F(VmassistKthreadControlsTest, PidNodes_RefuseWrites) {
    // Root passes the mode; the node has no write routine.
    EXPECT_EQ(write("/proc/kcompactd_pid", "1"), -EIO);
    EXPECT_EQ(write("/proc/kswapd_pid", "1"), -EIO);
    sim::TaskScope as(user_task("app", 10010));
    EXPECT_EQ(sim::vfs::open("/proc/kswapd_pid", sim::vfs::O_RDONLY_), -EACCES);
}

TEST_F(VmassistKthreadControlsTest, KdamondCpusetShow_FreshLoad) {
    EXPECT_EQ(read("/proc/kdamond_cpuset"), "kdamond pid:-1 cpu_set:\n");
}

TEST_F(VmassistKthreadControlsTest, KdamondCpusetWrite_BindsTaskToCpus) {
    auto *t = user_task("kdamond");
    std::string text = "4,5,6,7;" + std::to_string(t->pid);
    EXPECT_EQ(write("/proc/kdamond_cpuset", text), long(text.size()));
    EXPECT_EQ(sim::cpumask_list(t->cpus_mask), "4-7");
    EXPECT_EQ(read("/proc/kdamond_cpuset"),
              "kdamond pid:" + std::to_string(t->pid) + " cpu_set:" + text + "\n");
}

TEST_F(VmassistKthreadControlsTest, KdamondCpusetWrite_TrailingNewlineKeptInReadBack) {
    auto *t = user_task("kdamond");
    std::string text = "4,5;" + std::to_string(t->pid) + "\n";
    EXPECT_EQ(write("/proc/kdamond_cpuset", text), long(text.size()));
    EXPECT_EQ(sim::cpumask_list(t->cpus_mask), "4-5");
    std::string back = read("/proc/kdamond_cpuset");
    EXPECT_EQ(back.substr(back.size() - 2), "\n\n");
}

TEST_F(VmassistKthreadControlsTest, KdamondCpusetWrite_SecondSemicolonEndsPid) {
    auto *t = user_task("kdamond");
    std::string text = "1;" + std::to_string(t->pid) + ";junk";
    EXPECT_EQ(write("/proc/kdamond_cpuset", text), long(text.size()));
    EXPECT_EQ(sim::cpumask_list(t->cpus_mask), "1");
}

struct RefusedCase {
    const char *desc;
    std::string text;
    const char *pid_after;   // kdamond pid as read back afterwards
    bool param_err;          // the "param err" line is logged
    bool negative_cpu_line;  // the line for a negative CPU number comes first
};

TEST_F(VmassistKthreadControlsTest, KdamondCpusetWrite_Refused) {
    const RefusedCase cases[] = {
        {"pid 0 is refused silently", "0,1;0", "0", false, false},
        {"no semicolon", "4,5", "-1", true, false},
        {"negative cpu", "4,-1;812", "-1", true, true},
        {"empty cpu piece", "4,,5;812", "-1", true, false},
        {"cpu not a number", "4,x;812", "-1", true, false},
        {"pid not a number", "4;abc", "-1", true, false},
        {"cpu beyond the possible cpus", "8;1", "-1", true, false},
        {"cpu far beyond the mask", "64;1", "-1", true, false},
        {"no such task", "1;99999", "99999", false, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.desc);
        ASSERT_EQ(sim::module_unload("vmassist"), 0);
        ASSERT_EQ(sim::module_load("vmassist"), 0);
        mark_log();
        EXPECT_EQ(write("/proc/kdamond_cpuset", c.text), -EINVAL);
        EXPECT_EQ(read("/proc/kdamond_cpuset"),
                  std::string("kdamond pid:") + c.pid_after + " cpu_set:" + c.text + "\n");
        std::vector<std::string> want;
        if (c.negative_cpu_line)
            want.push_back("Failed to convert string to integer");
        if (c.param_err)
            want.push_back("kdamond_cpuset_input_parse: param err(" + c.text + ")");
        EXPECT_EQ(log(), want);
    }
}

TEST_F(VmassistKthreadControlsTest, KdamondCpusetWrite_NegativeCpuLoggedAtDefaultLevel) {
    EXPECT_EQ(write("/proc/kdamond_cpuset", "4,-1;812"), -EINVAL);
    auto recs = sim::log_records_since(mark_);
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(recs[0].level, 4);  // the default message level
    EXPECT_EQ(recs[1].level, 3);
}

TEST_F(VmassistKthreadControlsTest, KdamondCpusetWrite_PidBeyond32ndCharacterIsCut) {
    // 28 characters of CPU list and ';' leave three digits of the pid in the parsed part.
    std::string text = std::string(27, '0') + "1;999999";
    EXPECT_EQ(write("/proc/kdamond_cpuset", text), -EINVAL);
    EXPECT_EQ(read("/proc/kdamond_cpuset"), "kdamond pid:999 cpu_set:" + text + "\n");
    EXPECT_TRUE(log().empty());
}

TEST_F(VmassistKthreadControlsTest, KdamondCpusetWrite_TooLongChangesNothing) {
    EXPECT_EQ(write("/proc/kdamond_cpuset", std::string(65, '1')), -EINVAL);
    EXPECT_EQ(read("/proc/kdamond_cpuset"), "kdamond pid:-1 cpu_set:\n");
    EXPECT_TRUE(log().empty());
}

// 64 bytes fill the whole write buffer: the logged text ends where the write did.
TEST_F(VmassistKthreadControlsTest, KdamondCpusetWrite_SixtyFourBytesLoggedWhole) {
    std::string text(64, '9');
    EXPECT_EQ(write("/proc/kdamond_cpuset", text), -EINVAL);
    EXPECT_EQ(log(),
              std::vector<std::string>{"kdamond_cpuset_input_parse: param err(" + text + ")"});
    EXPECT_EQ(read("/proc/kdamond_cpuset"), "kdamond pid:-1 cpu_set:" + text.substr(0, 63) + "\n");
}

TEST_F(VmassistKthreadControlsTest, KdamondCpusetWrite_UnreadableBufferIsEfault) {
    sim::FaultRule rule;
    rule.op = std::string(sim::fault_op::copy_from_user);
    rule.module = "vmassist";
    sim::fault_arm(rule);
    EXPECT_EQ(write("/proc/kdamond_cpuset", "1;1"), -EFAULT);
    EXPECT_EQ(read("/proc/kdamond_cpuset"), "kdamond pid:-1 cpu_set:\n");
}

// A working copy that cannot be allocated takes the error path.
TEST_F(VmassistKthreadControlsTest, KdamondCpusetWrite_NoMemoryForCopyIsParamErr) {
    sim::FaultRule rule;
    rule.op = std::string(sim::fault_op::kmalloc);
    rule.module = "vmassist";
    sim::fault_arm(rule);
    EXPECT_EQ(write("/proc/kdamond_cpuset", "1;1"), -EINVAL);
    EXPECT_EQ(log(), std::vector<std::string>{"kdamond_cpuset_input_parse: param err(1;1)"});
}

TEST_F(VmassistKthreadControlsTest, Nodes_ConcurrentReadersAndWriters) {
    auto *t = user_task("kdamond");
    std::string text = "0,1;" + std::to_string(t->pid);
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; i++) {
        threads.emplace_back([&] {
            for (int j = 0; j < 50; j++) {
                EXPECT_EQ(write("/proc/kdamond_cpuset", text), long(text.size()));
                std::string s;
                EXPECT_EQ(sim::vfs::read_file("/proc/kswapd_pid", &s), 0);
                EXPECT_EQ(sim::vfs::read_file("/proc/kdamond_cpuset", &s), 0);
            }
        });
    }
    for (auto &th : threads)
        th.join();
    EXPECT_EQ(sim::cpumask_list(t->cpus_mask), "0-1");
}

}  // namespace
}  // namespace vmassist_test
