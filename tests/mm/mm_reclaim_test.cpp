// Reclaim: the scan balance chosen by the vendor hook, exact accounting, group isolation, the
// protection hook, unevictable pages and kswapd.
#include "tests/mm/mm_test_util.h"

#include "simkernel/mm/mm_internal.h"

#include <platform/sched.h>
#include <platform/swap.h>
#include <platform/trace/hooks/vmscan.h>

#include <atomic>
#include <set>

namespace {

using mm_test::memcg_stat;
using mm_test::meminfo;
using mm_test::vmstat;
using mm_test::Workload;
using mm_test::zram_mem_used;

using mm_test::force_scan_type;
using mm_test::forced_balance;

struct page *protected_page;
void protect_one(void *, struct page *page, bool *should_protect) {
    *should_protect = page == protected_page;
}

class ReclaimTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(tracepoint_probe_register(&__tracepoint_android_vh_tune_scan_type,
                                            (void *)force_scan_type, nullptr),
                  0);
        sim::settle();
    }
    void TearDown() override {
        forced_balance = -1;
        protected_page = nullptr;
        tracepoint_probe_unregister(&__tracepoint_android_vh_tune_scan_type,
                                    (void *)force_scan_type, nullptr);
        tracepoint_probe_unregister(&__tracepoint_android_vh_page_should_be_protected,
                                    (void *)protect_one, nullptr);
        tracepoint_synchronize_unregister();
    }

    // Reclaims from memcg until a call frees nothing (each call scans only part of a small
    // group's lists); returns the total.
    static unsigned long reclaim_all(struct mem_cgroup *memcg) {
        unsigned long total = 0;
        for (int i = 0; i < 100; i++) {
            unsigned long r = try_to_free_mem_cgroup_pages(memcg, 100000, GFP_KERNEL, true);
            if (!r)
                break;
            total += r;
        }
        return total;
    }

    // A group with anonymous pages and a file of its own mapped.
    static void fill(Workload &w, unsigned long anon, unsigned long file) {
        ASSERT_EQ(sim::mm_fault_anon(w.task(), anon), 0);
        ASSERT_EQ(sim::mm_map_file(w.task(), "/data/test/" + w.group() + ".bin", file), 0);
    }
};

const char *const file_stats[] = {"cache", "mapped_file", "inactive_file", "active_file"};
const char *const anon_stats[] = {"rss", "inactive_anon", "active_anon", "swap"};
const char *const meminfo_file[] = {"Cached", "Active(file)", "Inactive(file)", "Mapped"};
const char *const meminfo_anon[] = {"AnonPages", "Active(anon)", "Inactive(anon)", "SwapFree"};

TEST_F(ReclaimTest, TryToFreeMemCgroupPages_AnonOnlyLeavesFileCounts) {
    Workload w("scan_anon", "scan_anon");
    fill(w, 2000, 2000);
    auto stat0 = memcg_stat(w.group());
    auto mem0 = meminfo();
    auto vm0 = vmstat();
    long zram0 = zram_mem_used();
    forced_balance = 2;  // SCAN_ANON
    unsigned long freed = try_to_free_mem_cgroup_pages(w.memcg(), 512, GFP_KERNEL, true);
    auto stat1 = memcg_stat(w.group());
    auto mem1 = meminfo();
    auto vm1 = vmstat();

    EXPECT_GE(freed, 512u);
    for (const char *k : file_stats)
        EXPECT_EQ(stat1[k], stat0[k]) << k;
    for (const char *k : meminfo_file)
        EXPECT_EQ(mem1[k], mem0[k]) << k;
    long bytes = (long)freed * 4096, kb = (long)freed * 4;
    EXPECT_EQ(stat0["rss"] - stat1["rss"], bytes);
    EXPECT_EQ(stat0["inactive_anon"] + stat0["active_anon"] - stat1["inactive_anon"] -
                  stat1["active_anon"],
              bytes);
    EXPECT_EQ(stat1["swap"] - stat0["swap"], bytes);
    EXPECT_EQ(vm1["pgsteal_anon"] - vm0["pgsteal_anon"], (long)freed);
    EXPECT_EQ(vm1["pgsteal_file"], vm0["pgsteal_file"]);
    EXPECT_EQ(vm1["pswpout"] - vm0["pswpout"], (long)freed);
    // The compressed copies stay in memory.
    long zram_kb = (zram_mem_used() - zram0) / 1024;
    EXPECT_GT(zram_kb, 0);
    EXPECT_EQ(mem1["MemFree"] - mem0["MemFree"], kb - zram_kb);
    EXPECT_EQ(mem0["AnonPages"] - mem1["AnonPages"], kb);
    EXPECT_EQ(mem0["SwapFree"] - mem1["SwapFree"], kb);
}

TEST_F(ReclaimTest, TryToFreeMemCgroupPages_FileOnlyLeavesAnonCounts) {
    Workload w("scan_file", "scan_file");
    fill(w, 2000, 2000);
    auto stat0 = memcg_stat(w.group());
    auto mem0 = meminfo();
    auto vm0 = vmstat();
    forced_balance = 3;  // SCAN_FILE
    unsigned long freed = try_to_free_mem_cgroup_pages(w.memcg(), 512, GFP_KERNEL, true);
    auto stat1 = memcg_stat(w.group());
    auto mem1 = meminfo();
    auto vm1 = vmstat();

    EXPECT_GE(freed, 512u);
    for (const char *k : anon_stats)
        EXPECT_EQ(stat1[k], stat0[k]) << k;
    for (const char *k : meminfo_anon)
        EXPECT_EQ(mem1[k], mem0[k]) << k;
    long bytes = (long)freed * 4096, kb = (long)freed * 4;
    EXPECT_EQ(stat0["cache"] - stat1["cache"], bytes);
    EXPECT_EQ(stat0["inactive_file"] + stat0["active_file"] - stat1["inactive_file"] -
                  stat1["active_file"],
              bytes);
    EXPECT_EQ(mem1["MemFree"] - mem0["MemFree"], kb);
    EXPECT_EQ(mem0["Cached"] - mem1["Cached"], kb);
    EXPECT_EQ(vm1["pgsteal_file"] - vm0["pgsteal_file"], (long)freed);
    EXPECT_EQ(vm1["pgsteal_anon"], vm0["pgsteal_anon"]);
}

TEST_F(ReclaimTest, TryToFreeMemCgroupPages_NoSwapScansFileOnly) {
    Workload w("scan_noswap", "scan_noswap");
    fill(w, 500, 500);
    auto stat0 = memcg_stat(w.group());
    unsigned long freed = try_to_free_mem_cgroup_pages(w.memcg(), 100, GFP_KERNEL, false);
    auto stat1 = memcg_stat(w.group());
    EXPECT_GT(freed, 0u);
    for (const char *k : anon_stats)
        EXPECT_EQ(stat1[k], stat0[k]) << k;
    EXPECT_EQ(stat0["cache"] - stat1["cache"], (long)freed * 4096);
}

TEST_F(ReclaimTest, TryToFreeMemCgroupPages_NeverTouchesOtherGroups) {
    Workload a("isolate_a", "isolate_a"), b("isolate_b", "isolate_b");
    fill(a, 300, 300);
    fill(b, 300, 300);
    auto stat_b0 = memcg_stat(b.group());
    std::vector<std::string> pages_b;
    for (unsigned long i = 0; i < 300; i++)
        pages_b.push_back(sim::mm_page_describe(page_to_pfn(sim::mm_anon_page(b.task(), i))));
    for (unsigned long i = 0; i < 300; i++) {
        struct page *p = sim::mm_file_page("/data/test/isolate_b.bin", i);
        pages_b.push_back(sim::mm_page_describe(page_to_pfn(p)));
    }

    EXPECT_EQ(reclaim_all(a.memcg()), 600u);
    EXPECT_EQ(memcg_stat(a.group())["rss"], 0);
    EXPECT_EQ(memcg_stat(a.group())["cache"], 0);
    EXPECT_EQ(memcg_stat(b.group()), stat_b0);
    for (unsigned long i = 0; i < 300; i++) {
        struct page *p = sim::mm_anon_page(b.task(), i);
        ASSERT_NE(p, nullptr) << i;
        EXPECT_EQ(sim::mm_page_describe(page_to_pfn(p)), pages_b[i]);
    }
}

TEST_F(ReclaimTest, ShouldBeProtected_ProtectedPageSurvives) {
    Workload w("protect", "protect");
    ASSERT_EQ(sim::mm_fault_anon(w.task(), 256), 0);
    protected_page = sim::mm_anon_page(w.task(), 100);
    ASSERT_EQ(tracepoint_probe_register(&__tracepoint_android_vh_page_should_be_protected,
                                        (void *)protect_one, nullptr),
              0);
    EXPECT_EQ(reclaim_all(w.memcg()), 255u);
    EXPECT_EQ(sim::mm_anon_page(w.task(), 100), protected_page);
    EXPECT_TRUE(PageActive(protected_page));
    for (unsigned long i = 0; i < 256; i++) {
        if (i == 100)
            continue;
        EXPECT_EQ(sim::mm_anon_page(w.task(), i), nullptr) << i;
    }
}

TEST_F(ReclaimTest, TryToFreeMemCgroupPages_UnevictableStays) {
    Workload w("mlocked", "mlocked");
    ASSERT_EQ(sim::mm_fault_anon(w.task(), 64, true), 0);
    ASSERT_EQ(sim::mm_fault_anon(w.task(), 64), 0);
    EXPECT_EQ(reclaim_all(w.memcg()), 64u);
    auto stat = memcg_stat(w.group());
    EXPECT_EQ(stat["unevictable"], 64 * 4096);
    EXPECT_EQ(stat["rss"], 64 * 4096);
    EXPECT_EQ(stat["inactive_anon"] + stat["active_anon"], 0);
    for (unsigned long i = 0; i < 64; i++) {
        EXPECT_NE(sim::mm_anon_page(w.task(), i), nullptr) << i;
    }
}

TEST_F(ReclaimTest, TryToFreeMemCgroupPages_NullGroupReclaimsSystemWide) {
    auto vm0 = mm_test::vmstat();
    auto mem0 = meminfo();
    unsigned long freed = try_to_free_mem_cgroup_pages(nullptr, 512, GFP_KERNEL, true);
    auto vm1 = mm_test::vmstat();
    EXPECT_GE(freed, 512u);
    EXPECT_EQ(vm1["pgsteal_direct"] - vm0["pgsteal_direct"], (long)freed);
    EXPECT_GE(vm1["pgscan_direct"] - vm0["pgscan_direct"], (long)freed);
    EXPECT_EQ(meminfo()["MemFree"] - mem0["MemFree"], (long)freed * 4);
}

std::atomic<bool> kswapd_seen{false}, other_seen{false};
void record_reclaimer(void *, char *) {
    if ((current->flags & PF_KSWAPD) && std::string(current->comm) == "kswapd0")
        kswapd_seen = true;
    else
        other_seen = true;
}

TEST_F(ReclaimTest, Kswapd_ReclaimsInItsOwnTaskUpToHighWatermark) {
    ASSERT_EQ(tracepoint_probe_register(&__tracepoint_android_vh_tune_scan_type,
                                        (void *)record_reclaimer, nullptr),
              0);
    auto vm0 = mm_test::vmstat();
    long low = (long)sim::mm::watermarks().low, high = (long)sim::mm::watermarks().high;
    Workload w("kswapd_load", "kswapd_load");
    long free_pages = vm0["nr_free_pages"];
    ASSERT_EQ(sim::mm_fault_anon(w.task(), (unsigned long)(free_pages - low + 16)), 0);
    sim::settle();
    auto vm1 = mm_test::vmstat();
    tracepoint_probe_unregister(&__tracepoint_android_vh_tune_scan_type, (void *)record_reclaimer,
                                nullptr);
    EXPECT_TRUE(kswapd_seen);
    EXPECT_FALSE(other_seen);
    EXPECT_GT(vm1["pgsteal_kswapd"], vm0["pgsteal_kswapd"]);
    EXPECT_EQ(vm1["pgscan_direct"], vm0["pgscan_direct"]);
    EXPECT_GT(vm1["nr_free_pages"], high);
}

}  // namespace
