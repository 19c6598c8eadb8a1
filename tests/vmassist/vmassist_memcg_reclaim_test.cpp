// reclaim_once and process_fg in the memory groups: reclaim in the writing task from that group
// only, the scan type for listed writers only, and the foreground stop.
#include "vmassist_test_util.h"

#include "../mm/mm_test_util.h"

#include <cerrno>
#include <functional>
#include <mutex>
#include <thread>

#include <platform/sched.h>
#include <platform/trace/hooks/vmscan.h>

namespace vmassist_test {
namespace {

struct HookCall {
    std::string comm;
    int kernel;
    int balance;
};

std::mutex calls_lock;
std::vector<HookCall> calls;
std::function<void()> in_reclaim;  // run once, inside the first hook call
thread_local int kernel_choice;

void kernel_probe(void *, char *scan_balance) {
    kernel_choice = *scan_balance;
}

void record_probe(void *, char *scan_balance) {
    if (current->flags & PF_KSWAPD)
        return;
    std::function<void()> f;
    {
        std::lock_guard<std::mutex> g(calls_lock);
        calls.push_back({current->comm, kernel_choice, *scan_balance});
        f.swap(in_reclaim);
    }
    if (f)
        f();
}

class VmassistMemcgReclaimTest : public VmassistScanProbeTest {
  protected:
    VmassistMemcgReclaimTest() : VmassistScanProbeTest(kernel_probe, record_probe) {}
    void SetUp() override {
        VmassistScanProbeTest::SetUp();
        work_ = std::make_unique<mm_test::Workload>("vmassist_grp", "grp_app");
        EXPECT_EQ(sim::mm_fault_anon(work_->task(), 4096), 0);
        EXPECT_EQ(sim::mm_map_file(work_->task(), "/data/vmassist/grp.so", 4096), 0);
        calls.clear();
        mark_log();
    }
    void TearDown() override {
        VmassistScanProbeTest::TearDown();
        in_reclaim = nullptr;
        work_.reset();
    }
    std::string file(const char *name) const {
        return "/dev/memcg/" + work_->group() + "/memory." + name;
    }
    long stat(const char *key) const { return mm_test::memcg_stat(work_->group())[key]; }
    long anon() const { return stat("inactive_anon") + stat("active_anon"); }
    long cache() const { return stat("inactive_file") + stat("active_file"); }
    // Kilobytes of the reclaimed line, or -1.
    long reclaimed_kbytes() const {
        for (const auto &l : log()) {
            long kb;
            if (std::sscanf(l.c_str(), "vmassist memcg_reclaim_once reclaimed: %ld kbytes", &kb) ==
                1)
                return kb;
        }
        return -1;
    }

    std::unique_ptr<mm_test::Workload> work_;
};

TEST_F(VmassistMemcgReclaimTest, ReclaimOnce_AsShellAnonOnlyInThatGroup) {
    long anon0 = anon(), cache0 = cache();
    long apps0 = mm_test::memcg_stat("apps")["inactive_file"];
    EXPECT_EQ(write(file("reclaim_once"), "20000256"), 8);
    EXPECT_LT(anon(), anon0);
    EXPECT_EQ(cache(), cache0);
    EXPECT_EQ(mm_test::memcg_stat("apps")["inactive_file"], apps0);
    EXPECT_EQ(reclaimed_kbytes() % 4, 0);
    EXPECT_GE(reclaimed_kbytes(), 256 * 4);
    ASSERT_FALSE(calls.empty());
    for (const auto &c : calls) {
        EXPECT_EQ(c.comm, "sh");
        EXPECT_EQ(c.balance, 2);
    }
}

struct WriterCase {
    const char *comm;
    bool forced;
};

TEST_F(VmassistMemcgReclaimTest, ReclaimOnce_ScanTypeOnlyForListedWriters) {
    const WriterCase cases[] = {
        {"zomd@2.0-servic", true},
        {"com.whatsapp", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.comm);
        auto *t = sim::task_create_user(c.comm);
        calls.clear();
        {
            sim::TaskScope as(t);
            EXPECT_EQ(write(file("reclaim_once"), "30000064"), 8);
        }
        sim::task_exit(t);
        ASSERT_FALSE(calls.empty());
        for (const auto &h : calls) {
            EXPECT_EQ(h.comm, c.comm);
            EXPECT_EQ(h.balance, c.forced ? 3 : h.kernel);
        }
    }
}

TEST_F(VmassistMemcgReclaimTest, ReclaimOnce_ZeroPagesReclaimsNothing) {
    for (const char *text : {"0", "20000000"}) {
        mark_log();
        EXPECT_EQ(write(file("reclaim_once"), text), long(strlen(text)));
        EXPECT_EQ(reclaimed_kbytes(), 0);
    }
    EXPECT_TRUE(calls.empty());
}

TEST_F(VmassistMemcgReclaimTest, ReclaimOnce_BlanksAroundNumberAccepted) {
    EXPECT_EQ(write(file("reclaim_once"), "  20000032 \n"), 12);
    EXPECT_GE(reclaimed_kbytes(), 0);
}

TEST_F(VmassistMemcgReclaimTest, ReclaimOnce_BadTextRefused) {
    for (const char *text : {"abc", "-5", "18446744073709551616"}) {
        SCOPED_TRACE(text);
        EXPECT_LT(write(file("reclaim_once"), text), 0);
    }
    EXPECT_EQ(write(file("reclaim_once"), "abc"), -EINVAL);
    EXPECT_EQ(write(file("reclaim_once"), "18446744073709551616"), -ERANGE);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(reclaimed_kbytes(), -1);
}

// The flag set before is cleared by the reclaim's start; set during it, it stops the reclaim
// after its current call.
TEST_F(VmassistMemcgReclaimTest, ReclaimOnce_StopsWhenGroupComesToForeground) {
    EXPECT_EQ(write(file("process_fg"), "1"), 1);
    EXPECT_EQ(write(file("reclaim_once"), "20000300"), 8);
    EXPECT_EQ(log_count("vmassist, memcg reclaim once stop!"), 0);

    mark_log();
    std::string fg = file("process_fg");
    in_reclaim = [fg] { EXPECT_EQ(sim::vfs::write_file(fg, "1"), 1); };
    EXPECT_EQ(write(file("reclaim_once"), "20009999"), 8);
    EXPECT_EQ(log_count("vmassist, memcg reclaim once stop!"), 1);
    EXPECT_GT(reclaimed_kbytes(), 0);
}

TEST_F(VmassistMemcgReclaimTest, ProcessFg_ValuesSetTheFlag) {
    struct Case {
        const char *text;
        bool stops;
    };
    const Case cases[] = {{"7", true}, {"-5", false}, {"0", false}, {"1\n", true}};
    std::string fg = file("process_fg");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        mark_log();
        std::string text = c.text;
        in_reclaim = [fg, text] { EXPECT_EQ(sim::vfs::write_file(fg, text), long(text.size())); };
        EXPECT_EQ(write(file("reclaim_once"), "20000100"), 8);
        EXPECT_EQ(log_count("vmassist, memcg reclaim once stop!"), c.stops ? 1 : 0);
    }
}

TEST_F(VmassistMemcgReclaimTest, ProcessFg_BadTextRefused) {
    EXPECT_EQ(write(file("process_fg"), "abc"), -EINVAL);
    EXPECT_EQ(write(file("process_fg"), "99999999999"), -ERANGE);
}

// A failed allocation leaves the list as it was: a later write still creates the entry.
TEST_F(VmassistMemcgReclaimTest, ProcessFg_NoMemoryIsEnomem) {
    sim::FaultRule rule;
    rule.op = std::string(sim::fault_op::kmalloc);
    rule.module = "vmassist";
    sim::fault_arm(rule);
    EXPECT_EQ(write(file("process_fg"), "1"), -ENOMEM);
    sim::fault_clear();
    std::string fg = file("process_fg");
    in_reclaim = [fg] { EXPECT_EQ(sim::vfs::write_file(fg, "1"), 1); };
    EXPECT_EQ(write(file("reclaim_once"), "20009999"), 8);
    EXPECT_EQ(log_count("vmassist, memcg reclaim once stop!"), 1);
}

TEST_F(VmassistMemcgReclaimTest, ProcessFg_RacesWithReclaimOnce) {
    std::vector<std::thread> threads;
    std::string fg = file("process_fg"), once = file("reclaim_once");
    for (int i = 0; i < 4; i++)
        threads.emplace_back([=] {
            // Each writer is a task of its own, as each shell on a device is.
            struct task_struct *t = sim::task_create_user("sh");
            {
                sim::TaskScope as(t);
                for (int j = 0; j < 20; j++) {
                    if (i % 2)
                        EXPECT_EQ(sim::vfs::write_file(fg, j % 2 ? "1" : "0"), 1);
                    else
                        EXPECT_EQ(sim::vfs::write_file(once, "20000008"), 8);
                }
            }
            sim::task_exit(t);
        });
    for (auto &t : threads)
        t.join();
    ASSERT_EQ(sim::module_unload("vmassist"), 0);
    for (const auto &line : log())
        EXPECT_EQ(line.find("still"), std::string::npos) << line;
    ASSERT_EQ(sim::module_load("vmassist"), 0);
}

}  // namespace
}  // namespace vmassist_test
