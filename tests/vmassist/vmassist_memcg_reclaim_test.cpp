// reclaim_once and process_fg in the memory groups: reclaim in the writing task from that group
// only, the scan type for listed writers only, and the foreground stop.
#include "vmassist_test_util.h"

#include "../mm/mm_test_util.h"

#include <cerrno>
#include <functional>
#include <mutex>
#include <thread>

#include <platform/sched.h>
#include <platform/trace/events/vmscan.h>
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
// What each reclaim call of the writing task returned, and what runs as each call begins.
std::vector<unsigned long> reclaim_calls;
std::function<void()> at_reclaim_begin;
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

void reclaim_begin_probe(void *, int, gfp_t) {
    if (current->flags & PF_KTHREAD)
        return;
    if (at_reclaim_begin)
        at_reclaim_begin();
}

void reclaim_end_probe(void *, unsigned long nr_reclaimed) {
    if (current->flags & PF_KTHREAD)
        return;
    std::lock_guard<std::mutex> g(calls_lock);
    reclaim_calls.push_back(nr_reclaimed);
}

class VmassistMemcgReclaimTest : public VmassistScanProbeTest {
  protected:
    VmassistMemcgReclaimTest() : VmassistScanProbeTest(kernel_probe, record_probe) {}
    void SetUp() override {
        VmassistScanProbeTest::SetUp();
        ASSERT_EQ(register_trace_mm_vmscan_memcg_reclaim_begin(reclaim_begin_probe, nullptr), 0);
        ASSERT_EQ(register_trace_mm_vmscan_memcg_reclaim_end(reclaim_end_probe, nullptr), 0);
        work_ = std::make_unique<mm_test::Workload>("vmassist_grp", "grp_app");
        EXPECT_EQ(sim::mm_fault_anon(work_->task(), 4096), 0);
        EXPECT_EQ(sim::mm_map_file(work_->task(), "/data/vmassist/grp.so", 4096), 0);
        calls.clear();
        reclaim_calls.clear();
        mark_log();
    }
    void TearDown() override {
        unregister_trace_mm_vmscan_memcg_reclaim_begin(reclaim_begin_probe, nullptr);
        unregister_trace_mm_vmscan_memcg_reclaim_end(reclaim_end_probe, nullptr);
        tracepoint_synchronize_unregister();
        at_reclaim_begin = nullptr;
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
    // One request for n pages: calls go on while each freed some and the total is short of n,
    // ten at most; the log line reports them all.
    void expect_one_request_for(unsigned long n) {
        ASSERT_FALSE(reclaim_calls.empty());
        ASSERT_LE(reclaim_calls.size(), 10u);
        unsigned long total = 0;
        for (size_t i = 0; i + 1 < reclaim_calls.size(); i++) {
            total += reclaim_calls[i];
            EXPECT_GT(reclaim_calls[i], 0u) << "call " << i + 2 << " made after one freed nothing";
            EXPECT_LT(total, n) << "call " << i + 2 << " made after the request was met";
        }
        total += reclaim_calls.back();
        if (reclaim_calls.size() < 10 && reclaim_calls.back()) {
            EXPECT_GE(total, n) << "the request ended early";
        }
        EXPECT_EQ(reclaimed_kbytes(), long(total * 4));
    }
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
    auto other_anon = [] {
        auto st = mm_test::memcg_stat("system");
        return st["inactive_anon"] + st["active_anon"];
    };
    long anon0 = anon(), cache0 = cache(), other0 = other_anon();
    ASSERT_GT(other0, 0);
    EXPECT_EQ(write(file("reclaim_once"), "20000256"), 8);
    EXPECT_LT(anon(), anon0);
    EXPECT_EQ(cache(), cache0);
    EXPECT_EQ(other_anon(), other0);
    expect_one_request_for(256);
    ASSERT_FALSE(calls.empty());
    for (const auto &c : calls) {
        EXPECT_EQ(c.comm, "sh");
        EXPECT_EQ(c.balance, 2);
    }
    // The scan type ends with the request: the shell's next reclaim keeps the kernel's choice.
    char balance = 1;
    trace_android_vh_tune_scan_type(&balance);
    EXPECT_EQ(balance, 1);
}

// More anonymous pages than the group holds: the request ends with the first call that frees
// nothing.
TEST_F(VmassistMemcgReclaimTest, ReclaimOnce_EndsWhenACallFreesNothing) {
    EXPECT_EQ(write(file("reclaim_once"), "29999999"), 8);
    ASSERT_GE(reclaim_calls.size(), 2u);
    EXPECT_EQ(reclaim_calls.back(), 0u);
    expect_one_request_for(9999999);
    EXPECT_EQ(anon(), 0);
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
    expect_one_request_for(32);
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
    reclaim_calls.clear();
    in_reclaim = [fg] { EXPECT_EQ(sim::vfs::write_file(fg, "1"), 1); };
    EXPECT_EQ(write(file("reclaim_once"), "20009999"), 8);
    EXPECT_EQ(log_count("vmassist, memcg reclaim once stop!"), 1);
    ASSERT_EQ(reclaim_calls.size(), 1u);
    EXPECT_GT(reclaim_calls[0], 0u);
    EXPECT_EQ(reclaimed_kbytes(), long(reclaim_calls[0] * 4));
}

// A group that keeps getting new pages never satisfies a large request: the write ends after
// ten reclaim calls and reports what all of them freed.
TEST_F(VmassistMemcgReclaimTest, ReclaimOnce_EndsAfterTenCalls) {
    struct task_struct *app = work_->task();
    at_reclaim_begin = [app] { EXPECT_EQ(sim::mm_fault_anon(app, 64), 0); };
    EXPECT_EQ(write(file("reclaim_once"), "20009999"), 8);
    ASSERT_EQ(reclaim_calls.size(), 10u);
    unsigned long total = 0;
    for (unsigned long r : reclaim_calls) {
        EXPECT_GT(r, 0u);
        total += r;
    }
    EXPECT_LT(total, 9999u);
    EXPECT_EQ(reclaimed_kbytes(), long(total * 4));
}

TEST_F(VmassistMemcgReclaimTest, ProcessFg_ValuesSetTheFlag) {
    struct Case {
        const char *text;
        bool stops;
    };
    // The first write makes the group's entry, the others change it.
    const Case cases[] = {
        {"-5", false}, {"7", true}, {"0", false}, {"1\n", true}, {" -1 ", false}, {" 3 ", true},
    };
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
