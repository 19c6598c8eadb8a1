// global_reclaim and the reclaim thread: requests, passes, the status, the wakeup source, and
// the scan-type probe on the vendor hook.
#include "vmassist_test_util.h"

#include "../mm/mm_test_util.h"

#include <cerrno>
#include <functional>
#include <mutex>
#include <thread>

#include <platform/pm_wakeup.h>
#include <platform/sched.h>
#include <platform/trace/hooks/vmscan.h>

namespace vmassist_test {
namespace {

// Probes on both sides of vmassist's: the kernel's own choice, and the balance as vmassist's
// probe left it.
struct HookCall {
    std::string comm;
    int kernel;
    int balance;
    bool ws_active;
    std::string cpus;
};

std::mutex calls_lock;
std::vector<HookCall> calls;
std::function<void()> in_pass;  // run once, inside the first hook call in the reclaim thread
thread_local int kernel_choice;

void kernel_probe(void *, char *scan_balance) {
    kernel_choice = *scan_balance;
}

void record_probe(void *, char *scan_balance) {
    if (std::string(current->comm) != "g_reclaim_threa")
        return;
    auto *ws = sim::wakeup_source_find("reclaim_wakeup_source");
    std::function<void()> f;
    {
        std::lock_guard<std::mutex> g(calls_lock);
        calls.push_back({current->comm, kernel_choice, *scan_balance, ws && ws->active,
                         sim::cpumask_list(current->cpus_mask)});
        f.swap(in_pass);
    }
    if (f)
        f();
}

class VmassistReclaimThreadTest : public VmassistScanProbeTest {
  protected:
    VmassistReclaimThreadTest() : VmassistScanProbeTest(kernel_probe, record_probe) {}
    void SetUp() override {
        calls.clear();
        VmassistScanProbeTest::SetUp();
    }
    void TearDown() override {
        VmassistScanProbeTest::TearDown();
        in_pass = nullptr;
    }
    // Writes a request and waits for the thread to finish its passes.
    long request(const std::string &text) {
        long r = write("/proc/global_reclaim", text);
        sim::settle();
        return r;
    }
    // Pages freed by the last pass, from its status.
    long status_pages() {
        std::string s = read("/proc/global_reclaim");
        long pages = -1;
        EXPECT_EQ(std::sscanf(s.c_str(), "reclaim %ld pages", &pages), 1) << s;
        return pages;
    }
    int passes() const {
        auto l = log();
        return int(std::count_if(l.begin(), l.end(), [](const std::string &t) {
            return t.rfind("vmassist g_recliam_func reclaimed:", 0) == 0;
        }));
    }
    static long anon() {
        auto m = mm_test::meminfo();
        return m["Active(anon)"] + m["Inactive(anon)"];
    }
    static long file() {
        auto m = mm_test::meminfo();
        return m["Active(file)"] + m["Inactive(file)"];
    }
};

// Without its probe the module still reclaims on request, with the kernel's own scan type.
TEST_F(VmassistReclaimThreadTest, Init_ProbeRegistrationFailsPassesUseTheKernelsChoice) {
    reload_with_fault(sim::fault_op::tracepoint_probe_register);
    calls.clear();
    EXPECT_EQ(request("20000512"), 8);
    ASSERT_FALSE(calls.empty());
    for (const auto &c : calls)
        EXPECT_EQ(c.balance, c.kernel);
    EXPECT_GE(status_pages(), 0);
    simtest::expect_clean_unload("vmassist");
}

TEST_F(VmassistReclaimThreadTest, GlobalReclaimShow_EmptyBeforeFirstPass) {
    EXPECT_EQ(read("/proc/global_reclaim"), "");
}

TEST_F(VmassistReclaimThreadTest, Request_AnonOnlyReclaimsAnonInThreadHoldingWakeupSource) {
    auto *ws = sim::wakeup_source_find("reclaim_wakeup_source");
    ASSERT_NE(ws, nullptr);
    std::string dir = "/sys/class/wakeup/wakeup" + std::to_string(ws->id) + "/";
    long anon0 = anon(), file0 = file();
    EXPECT_EQ(request("20000512"), 8);
    long pages = status_pages();
    EXPECT_GE(pages, 512);
    EXPECT_LT(anon(), anon0);
    EXPECT_EQ(file(), file0);
    EXPECT_EQ(
        log_count("vmassist g_recliam_func reclaimed: " + std::to_string(pages * 4) + " kbytes"),
        1);
    ASSERT_FALSE(calls.empty());
    for (const auto &c : calls) {
        EXPECT_EQ(c.balance, 2);
        EXPECT_TRUE(c.ws_active);
        EXPECT_EQ(c.cpus, "0-1,5-6");
    }
    // Relaxed after the pass, long before its 30-second limit.
    EXPECT_FALSE(ws->active);
    EXPECT_EQ(read(dir + "name"), "reclaim_wakeup_source\n");
    EXPECT_EQ(read(dir + "active_count"), "1\n");
    EXPECT_EQ(read(dir + "expire_count"), "0\n");
}

TEST_F(VmassistReclaimThreadTest, Request_FileOnlyReclaimsFile) {
    mm_test::Workload w("vmassist_file", "reader");
    {
        sim::TaskScope as(w.task());
        ASSERT_EQ(sim::mm_file_read("/data/vmassist/cache.bin", 2048), 0);
    }
    long anon0 = anon(), file0 = file();
    EXPECT_EQ(request("30000100"), 8);
    EXPECT_GE(status_pages(), 100);
    EXPECT_EQ(anon(), anon0);
    EXPECT_LT(file(), file0);
    for (const auto &c : calls)
        EXPECT_EQ(c.balance, 3);
}

TEST_F(VmassistReclaimThreadTest, Request_ZeroIsNoRequest) {
    EXPECT_EQ(request("0"), 0);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(read("/proc/global_reclaim"), "");
    EXPECT_TRUE(log().empty());
}

TEST_F(VmassistReclaimThreadTest, Request_TypeWithZeroPagesRunsEmptyPass) {
    EXPECT_EQ(request("20000000"), 8);
    EXPECT_EQ(read("/proc/global_reclaim"), "reclaim 0 pages");
    EXPECT_EQ(log(), std::vector<std::string>{"vmassist g_recliam_func reclaimed: 0 kbytes"});
    EXPECT_TRUE(calls.empty());
}

// Only the low 32 bits are kept: 2^32 + 20000000 is a request for 0 anonymous pages.
TEST_F(VmassistReclaimThreadTest, Request_KeepsLow32Bits) {
    EXPECT_EQ(request("4314967296"), 10);
    EXPECT_EQ(read("/proc/global_reclaim"), "reclaim 0 pages");
    EXPECT_TRUE(calls.empty());
}

// Without a scan type (T of 0, or 4), the kernel's own balance stands.
TEST_F(VmassistReclaimThreadTest, Request_OtherTypesLeaveKernelBalance) {
    for (const char *text : {"12", "45000010"}) {
        SCOPED_TRACE(text);
        calls.clear();
        EXPECT_EQ(request(text), long(strlen(text)));
        EXPECT_GE(status_pages(), 1);
        ASSERT_FALSE(calls.empty());
        for (const auto &c : calls)
            EXPECT_EQ(c.balance, c.kernel);
    }
}

TEST_F(VmassistReclaimThreadTest, Request_ThreeDuringPassGiveThreeMorePasses) {
    in_pass = [] {
        for (int i = 0; i < 3; i++)
            EXPECT_EQ(sim::vfs::write_file("/proc/global_reclaim", "20000032"), 8);
    };
    EXPECT_EQ(request("20000032"), 8);
    int passes = 0;
    std::vector<std::string> counts;
    for (const auto &l : log()) {
        if (l.rfind("vmassist g_recliam_func reclaimed:", 0) == 0)
            passes++;
        else if (l.rfind("g_recliam_func\t", 0) == 0)
            counts.push_back(l.substr(15));
    }
    EXPECT_EQ(passes, 4);
    EXPECT_EQ(counts, (std::vector<std::string>{"3", "2", "1"}));
    // Then the thread sleeps: nothing more happens.
    mark_log();
    sim::time_advance(1'000'000'000);
    EXPECT_TRUE(log().empty());
}

// A wake-up that is not a request (a late one the kernel allows, or a test's) runs no pass and
// leaves nothing pending: the next request gets exactly one pass, and no count line.
TEST_F(VmassistReclaimThreadTest, StrayWakeup_RunsNoPassAndLeavesCountAtZero) {
    auto *thread = sim::task_find_by_comm("g_reclaim_threa");
    ASSERT_NE(thread, nullptr);
    for (int i = 0; i < 3; i++) {
        wake_up_process(thread);
        sim::settle();
    }
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(read("/proc/global_reclaim"), "");
    EXPECT_EQ(request("20000000"), 8);
    EXPECT_EQ(log(), (std::vector<std::string>{"vmassist g_recliam_func reclaimed: 0 kbytes"}));
    mark_log();
    sim::time_advance(1'000'000'000);
    EXPECT_TRUE(log().empty());
    EXPECT_FALSE(sim::wakeup_source_find("reclaim_wakeup_source")->active);
}

// Stray wake-ups racing requests, before, during and after a pass: every request gets its
// pass and the thread ends asleep.
TEST_F(VmassistReclaimThreadTest, StrayWakeup_RacingRequestsEachGetTheirPass) {
    auto *thread = sim::task_find_by_comm("g_reclaim_threa");
    ASSERT_NE(thread, nullptr);
    in_pass = [thread] {
        wake_up_process(thread);
        EXPECT_EQ(sim::vfs::write_file("/proc/global_reclaim", "20000016"), 8);
        wake_up_process(thread);
    };
    for (int round = 0; round < 20; round++) {
        SCOPED_TRACE(round);
        mark_log();
        std::thread waker([thread] { wake_up_process(thread); });
        EXPECT_EQ(sim::vfs::write_file("/proc/global_reclaim", "20000016"), 8);
        waker.join();
        sim::settle();
        wake_up_process(thread);
        sim::settle();
        // The first round's request written inside its pass adds one pass.
        EXPECT_EQ(passes(), round ? 1 : 2);
    }
    mark_log();
    sim::time_advance(1'000'000'000);
    EXPECT_TRUE(log().empty());
}

// While vmassist's own reclaim runs, the hook called in other tasks: only the listed names
// get the scan type, never kswapd.
TEST_F(VmassistReclaimThreadTest, Probe_AppliesOnlyToListedTasksNotKswapd) {
    struct Case {
        const char *comm;
        bool forced;
    };
    const Case cases[] = {
        {"sh", true},       {"zomd@2.0-servic", true}, {"zomd", true}, {"com.whatsapp", false},
        {"kswapd0", false},
    };
    std::vector<std::pair<std::string, int>> seen;
    std::vector<struct task_struct *> tasks;
    for (const auto &c : cases)
        tasks.push_back(std::string(c.comm) == "kswapd0" ? sim::task_find_by_comm("kswapd0")
                                                         : sim::task_create_user(c.comm));
    in_pass = [&] {
        for (auto *t : tasks) {
            sim::TaskScope as(t);
            char balance = 1;
            trace_android_vh_tune_scan_type(&balance);
            seen.emplace_back(t->comm, balance);
        }
    };
    EXPECT_EQ(request("20000064"), 8);
    ASSERT_EQ(seen.size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); i++)
        EXPECT_EQ(seen[i].second, cases[i].forced ? 2 : 1) << cases[i].comm;
    for (auto *t : tasks)
        if (std::string(t->comm) != "kswapd0")
            sim::task_exit(t);
}

TEST_F(VmassistReclaimThreadTest, Probe_OutsideReclaimLeavesBalance) {
    char balance = 1;
    trace_android_vh_tune_scan_type(&balance);
    EXPECT_EQ(balance, 1);
}

struct BadRequest {
    std::string text;
    long result;
};

TEST_F(VmassistReclaimThreadTest, Request_BadTextRefused) {
    const BadRequest cases[] = {
        {"abc", -EINVAL},
        {"5 ", -EINVAL},
        {" 5", -EINVAL},
        {"-5", -EINVAL},
        {"5\n\n", -EINVAL},
        {"18446744073709551616", -ERANGE},
        {std::string(65, '1'), -EINVAL},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(request(c.text), c.result);
    }
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(read("/proc/global_reclaim"), "");
}

TEST_F(VmassistReclaimThreadTest, Request_PlusSignAndNewlineAccepted) {
    EXPECT_EQ(request("+20000000\n"), 10);
    EXPECT_EQ(read("/proc/global_reclaim"), "reclaim 0 pages");
}

TEST_F(VmassistReclaimThreadTest, Request_UnreadableBufferIsEfault) {
    sim::FaultRule rule;
    rule.op = std::string(sim::fault_op::copy_from_user);
    rule.module = "vmassist";
    sim::fault_arm(rule);
    EXPECT_EQ(request("20000000"), -EFAULT);
    EXPECT_EQ(read("/proc/global_reclaim"), "");
}

TEST_F(VmassistReclaimThreadTest, Requests_ConcurrentWritersAndReaders) {
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; i++)
        threads.emplace_back([i] {
            for (int j = 0; j < 20; j++) {
                if (i % 2) {
                    EXPECT_EQ(sim::vfs::write_file("/proc/global_reclaim", "20000016"), 8);
                } else {
                    std::string s;
                    EXPECT_EQ(sim::vfs::read_file("/proc/global_reclaim", &s), 0);
                    EXPECT_TRUE(s.empty() || s.rfind("reclaim ", 0) == 0) << s;
                }
            }
        });
    for (auto &t : threads)
        t.join();
    sim::settle();
    EXPECT_GE(status_pages(), 0);
    EXPECT_FALSE(sim::wakeup_source_find("reclaim_wakeup_source")->active);
}

}  // namespace
}  // namespace vmassist_test
