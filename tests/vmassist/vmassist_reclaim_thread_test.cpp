// global_reclaim and the reclaim thread: requests, passes, the status, the wakeup source, and
// the scan-type probe on the vendor hook.
#include "vmassist_test_util.h"

#include "../mm/mm_test_util.h"

#include <cerrno>
#include <functional>
#include <mutex>
#include <thread>

#include <platform/jiffies.h>
#include <platform/pm_wakeup.h>
#include <platform/sched.h>
#include <platform/trace/events/vmscan.h>
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
    unsigned long ws_timeout;  // jiffies until the wakeup event ends by itself
    std::string cpus;
};

std::mutex calls_lock;
std::vector<HookCall> calls;
// What each reclaim call of the thread returned.
std::vector<unsigned long> reclaim_calls;
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
                         ws ? ws->timer_expires - (unsigned long)get_jiffies_64() : 0,
                         sim::cpumask_list(current->cpus_mask)});
        f.swap(in_pass);
    }
    if (f)
        f();
}

void reclaim_end_probe(void *, unsigned long nr_reclaimed) {
    if (std::string(current->comm) != "g_reclaim_threa")
        return;
    std::lock_guard<std::mutex> g(calls_lock);
    reclaim_calls.push_back(nr_reclaimed);
}

class VmassistReclaimThreadTest : public VmassistScanProbeTest {
  protected:
    VmassistReclaimThreadTest() : VmassistScanProbeTest(kernel_probe, record_probe) {}
    void SetUp() override {
        calls.clear();
        reclaim_calls.clear();
        VmassistScanProbeTest::SetUp();
        ASSERT_EQ(register_trace_mm_vmscan_memcg_reclaim_end(reclaim_end_probe, nullptr), 0);
    }
    void TearDown() override {
        unregister_trace_mm_vmscan_memcg_reclaim_end(reclaim_end_probe, nullptr);
        VmassistScanProbeTest::TearDown();
        in_pass = nullptr;
    }
    // One pass for n pages: calls go on while the total is short of n, eleven at most, a call
    // that frees nothing included; the status counts the first ten.
    void expect_one_pass_for(unsigned long n) {
        ASSERT_FALSE(reclaim_calls.empty());
        ASSERT_LE(reclaim_calls.size(), 11u);
        unsigned long total = 0;
        for (size_t i = 0; i + 1 < reclaim_calls.size(); i++) {
            total += reclaim_calls[i];
            EXPECT_LT(total, n) << "call " << i + 2 << " made after the request was met";
        }
        if (reclaim_calls.size() < 11)
            total += reclaim_calls.back();
        if (reclaim_calls.size() < 11) {
            EXPECT_GE(total, n) << "the pass ended early";
        }
        EXPECT_EQ(status_pages(), long(total));
        EXPECT_EQ(log_count("vmassist g_recliam_func reclaimed: " + std::to_string(total * 4) +
                            " kbytes"),
                  1);
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
    expect_one_pass_for(512);
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
    expect_one_pass_for(512);
    EXPECT_LT(anon(), anon0);
    EXPECT_EQ(file(), file0);
    ASSERT_FALSE(calls.empty());
    for (const auto &c : calls) {
        EXPECT_EQ(c.balance, 2);
        EXPECT_TRUE(c.ws_active);
        EXPECT_EQ(c.ws_timeout, msecs_to_jiffies(30000));
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
    expect_one_pass_for(100);
    EXPECT_EQ(anon(), anon0);
    EXPECT_LT(file(), file0);
    for (const auto &c : calls)
        EXPECT_EQ(c.balance, 3);
}

// More file pages than the phone holds: a pass that never meets its request ends after eleven
// calls, and the status counts the first ten. Calls that free nothing do not end it: the next
// pass, with the cache gone, makes eleven such calls.
TEST_F(VmassistReclaimThreadTest, Request_NeverMetEndsAfterElevenCalls) {
    EXPECT_EQ(request("39999999"), 8);
    ASSERT_EQ(reclaim_calls.size(), 11u);
    expect_one_pass_for(9999999);
    reclaim_calls.clear();
    EXPECT_EQ(request("39999999"), 8);
    EXPECT_EQ(reclaim_calls, std::vector<unsigned long>(11, 0));
    EXPECT_EQ(read("/proc/global_reclaim"), "reclaim 0 pages");
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

// Only the low 32 bits are kept, as a signed number widened with its sign: 2^32 + 20000000 is
// a request for 0 anonymous pages, and 2^32 - 9551616 is stored as -9551616, which widens to
// 2^64 - 9551616, a multiple of ten million: 0 pages too.
TEST_F(VmassistReclaimThreadTest, Request_KeepsLow32BitsWidenedWithSign) {
    for (const char *text : {"4314967296", "4285415680"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(request(text), 10);
        EXPECT_EQ(read("/proc/global_reclaim"), "reclaim 0 pages");
        EXPECT_TRUE(calls.empty());
        EXPECT_TRUE(reclaim_calls.empty());
    }
}

// Without a scan type (T of 0, or 4), the kernel's own balance stands.
TEST_F(VmassistReclaimThreadTest, Request_OtherTypesLeaveKernelBalance) {
    const struct {
        const char *text;
        unsigned long pages;
    } cases[] = {{"12", 12}, {"40000010", 10}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        calls.clear();
        reclaim_calls.clear();
        mark_log();
        EXPECT_EQ(request(c.text), long(strlen(c.text)));
        expect_one_pass_for(c.pages);
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
        bool kswapd;
        bool forced;
    };
    // A kswapd thread is known by its flag, whatever its name.
    const Case cases[] = {
        {"sh", false, true},     {"zomd@2.0-servic", false, true}, {"zomd", false, true},
        {"shell", false, false}, {"com.whatsapp", false, false},   {"sh", true, false},
    };
    std::vector<std::pair<std::string, int>> seen;
    std::vector<struct task_struct *> tasks;
    for (const auto &c : cases) {
        tasks.push_back(sim::task_create_user(c.comm));
        if (c.kswapd)
            tasks.back()->flags |= PF_KSWAPD;
    }
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
        EXPECT_EQ(seen[i].second, cases[i].forced ? 2 : 1) << i << " " << cases[i].comm;
    for (auto *t : tasks) {
        t->flags &= ~PF_KSWAPD;
        sim::task_exit(t);
    }
}

// Before any pass and after one, a shell's reclaim keeps the kernel's balance.
TEST_F(VmassistReclaimThreadTest, Probe_OutsideReclaimLeavesBalance) {
    char balance = 1;
    trace_android_vh_tune_scan_type(&balance);
    EXPECT_EQ(balance, 1);
    EXPECT_EQ(request("20000016"), 8);
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
