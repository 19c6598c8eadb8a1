// Start-up and stop of vmassist: the nodes and their modes, each failure path of start-up
// through fault injection, and a clean unload and reload.
#include "vmassist_test_util.h"

namespace vmassist_test {
namespace {

struct ProcNode {
    const char *name;
    unsigned mode;
};

// In the order start-up creates them.
const ProcNode kProcNodes[] = {
    {"perflock_records", 0664},   {"zomdlog", 0664},        {"global_reclaim", 0664},
    {"kswapd_pid", 0440},         {"kdamond_cpuset", 0664}, {"kcompactd_pid", 0664},
    {"perflock_exception", 0664},
};

class VmassistStartupTest : public VmassistTest {};

TEST_F(VmassistStartupTest, Init_CreatesProcNodesWithTheirModes) {
    for (const auto &n : kProcNodes)
        EXPECT_EQ(mode(std::string("/proc/") + n.name), n.mode) << n.name;
}

TEST_F(VmassistStartupTest, Init_AddsWriteOnlyFilesToEveryMemoryGroup) {
    for (const char *dir : {"/dev/memcg", "/dev/memcg/apps", "/dev/memcg/system"})
        for (const char *file : {"memory.reclaim_once", "memory.process_fg"})
            EXPECT_EQ(mode(std::string(dir) + "/" + file), 0200u) << dir << " " << file;
}

TEST_F(VmassistStartupTest, Init_StartsReclaimThreadOnItsCpus) {
    auto *t = sim::task_find_by_comm("g_reclaim_threa");
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(sim::cpumask_list(t->cpus_mask), "0-1,5-6");
    EXPECT_NE(sim::wakeup_source_find("reclaim_wakeup_source"), nullptr);
}

TEST_F(VmassistStartupTest, Init_ThreadCreationFailsNodesStillWork) {
    reload_with_fault(sim::fault_op::kthread_create);
    EXPECT_EQ(log_count("vmassist_init: create reclaim thread failed"), 1);
    EXPECT_EQ(sim::task_find_by_comm("g_reclaim_threa"), nullptr);
    // No thread, no wakeup source either.
    EXPECT_EQ(sim::wakeup_source_find("reclaim_wakeup_source"), nullptr);
    for (const auto &n : kProcNodes)
        EXPECT_TRUE(exists(std::string("/proc/") + n.name)) << n.name;
    EXPECT_EQ(write("/proc/global_reclaim", "512"), 3);
    sim::settle();
    EXPECT_EQ(read("/proc/global_reclaim"), "");
    simtest::expect_clean_unload("vmassist");
    ASSERT_EQ(sim::module_load("vmassist"), 0);
}

TEST_F(VmassistStartupTest, Init_WakeupSourceFailsPassesStillRun) {
    reload_with_fault(sim::fault_op::wakeup_source_register);
    EXPECT_EQ(log_count("vmassist_init: register reclaim wakeup source failed"), 1);
    EXPECT_EQ(sim::wakeup_source_find("reclaim_wakeup_source"), nullptr);
    EXPECT_EQ(write("/proc/global_reclaim", "20000000"), 8);
    sim::settle();
    EXPECT_EQ(read("/proc/global_reclaim"), "reclaim 0 pages");
}

TEST_F(VmassistStartupTest, Init_DeclaresGplLicence) {
    auto l = sim::module_list();
    auto it = std::find_if(l.begin(), l.end(), [](const auto &m) { return m.name == "vmassist"; });
    ASSERT_NE(it, l.end());
    EXPECT_EQ(it->license, "GPL");
}

// Each node that cannot be created is missing and logged; the others are there.
TEST_F(VmassistStartupTest, Init_ProcNodeCreationFailsLeavesOnlyThatNodeOut) {
    for (size_t i = 0; i < std::size(kProcNodes); i++) {
        SCOPED_TRACE(kProcNodes[i].name);
        reload_with_fault(sim::fault_op::proc_create, i + 1);
        EXPECT_EQ(
            log_count(std::string("vmassist_init: create ") + kProcNodes[i].name + " node failed"),
            1);
        for (size_t j = 0; j < std::size(kProcNodes); j++)
            EXPECT_EQ(exists(std::string("/proc/") + kProcNodes[j].name), i != j)
                << kProcNodes[j].name;
        // Stop removes only the nodes that exist.
        simtest::expect_clean_unload("vmassist");
        ASSERT_EQ(sim::module_load("vmassist"), 0);
    }
}

TEST_F(VmassistStartupTest, Exit_RemovesEveryNodeAndLeavesNothing) {
    mark_log();
    ASSERT_EQ(sim::module_unload("vmassist"), 0);
    for (const auto &n : kProcNodes)
        EXPECT_FALSE(exists(std::string("/proc/") + n.name)) << n.name;
    EXPECT_FALSE(exists("/dev/memcg/memory.reclaim_once"));
    EXPECT_FALSE(exists("/dev/memcg/apps/memory.process_fg"));
    EXPECT_EQ(sim::task_find_by_comm("g_reclaim_threa"), nullptr);
    EXPECT_EQ(sim::wakeup_source_find("reclaim_wakeup_source"), nullptr);
    for (const auto &line : log())
        EXPECT_EQ(line.find("still"), std::string::npos) << line;
    ASSERT_EQ(sim::module_load("vmassist"), 0);
    EXPECT_EQ(read("/proc/kdamond_cpuset"), "kdamond pid:-1 cpu_set:\n");
}

}  // namespace
}  // namespace vmassist_test
