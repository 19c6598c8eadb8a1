// Shared helpers of the memory-manager tests: reading /proc/meminfo and memory.stat, and a
// group with its own task that a test fills with pages.
#pragma once

#include "simkernel/fs/vfs.h"
#include "simkernel/kernel/sim_time.h"
#include "simkernel/kernel/task.h"
#include "simkernel/mm/mm_host.h"

#include <platform/trace/hooks/vmscan.h>

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <sstream>
#include <string>

namespace mm_test {

// A tune_scan_type probe that overrides the kernel's scan balance while forced_balance is 0
// (equal), 1 (fractions), 2 (anon only) or 3 (file only); -1 leaves it alone.
inline std::atomic<int> forced_balance{-1};
inline void force_scan_type(void *, char *scan_balance) {
    int b = forced_balance.load();
    if (b >= 0)
        *scan_balance = (char)b;
}

// A test whose reclaim may have its scan balance forced through forced_balance.
class ForcedScanTypeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(tracepoint_probe_register(&__tracepoint_android_vh_tune_scan_type,
                                            (void *)force_scan_type, nullptr),
                  0);
    }
    void TearDown() override {
        forced_balance = -1;
        tracepoint_probe_unregister(&__tracepoint_android_vh_tune_scan_type,
                                    (void *)force_scan_type, nullptr);
        tracepoint_synchronize_unregister();
    }
};

// "Key: value kB" or "key value" lines into a map.
inline std::map<std::string, long> read_counters(const std::string &path) {
    std::string text;
    EXPECT_GE(sim::vfs::read_file(path, &text), 0) << path;
    std::map<std::string, long> out;
    std::istringstream in(text);
    std::string key;
    long value;
    while (in >> key >> value) {
        if (key.back() == ':')
            key.pop_back();
        out[key] = value;
        if (in.peek() == ' ')
            in >> std::ws;
        if (in.peek() == 'k')
            in >> key;  // "kB"
    }
    return out;
}

inline std::map<std::string, long> meminfo() {
    return read_counters("/proc/meminfo");
}
inline std::map<std::string, long> vmstat() {
    return read_counters("/proc/vmstat");
}
// mem_used_total of /sys/block/zram0/mm_stat: bytes of memory holding compressed pages.
inline long zram_mem_used() {
    std::string text;
    EXPECT_GE(sim::vfs::read_file("/sys/block/zram0/mm_stat", &text), 0);
    std::istringstream in(text);
    long orig = 0, compr = 0, used = 0;
    in >> orig >> compr >> used;
    return used;
}
inline std::map<std::string, long> memcg_stat(const std::string &group) {
    return read_counters("/dev/memcg/" + group + "/memory.stat");
}

// A group with one process in it; both go away with the object.
class Workload {
  public:
    Workload(const std::string &group, const std::string &comm) : group_(group) {
        EXPECT_EQ(sim::memcg_mkdir(group), 0) << group;
        task_ = sim::task_create_user(comm, 10999);
        EXPECT_EQ(sim::memcg_move_task(task_, sim::memcg_lookup(group)), 0);
    }
    ~Workload() {
        sim::task_exit(task_);
        EXPECT_EQ(sim::memcg_rmdir(group_), 0) << group_;
        sim::settle();
    }
    struct task_struct *task() const {
        return task_;
    }
    struct mem_cgroup *memcg() const {
        return sim::memcg_lookup(group_);
    }
    const std::string &group() const { return group_; }

  private:
    std::string group_;
    struct task_struct *task_;
};

}  // namespace mm_test
