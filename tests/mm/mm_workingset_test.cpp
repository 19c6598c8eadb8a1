// Workingset: swap-in of touched swap entries, file pages read again after reclaim, and the
// refault distance that decides whether a page comes back active.
#include "tests/mm/mm_test_util.h"

#include <platform/mm.h>
#include <platform/swap.h>
#include <platform/trace/hooks/vmscan.h>

namespace {

using mm_test::forced_balance;
using mm_test::memcg_stat;
using mm_test::vmstat;
using mm_test::Workload;

class WorkingsetTest : public mm_test::ForcedScanTypeTest {
  protected:
    // Reclaims from memcg until stat of the group reads 0.
    static void reclaim_until(struct mem_cgroup *memcg, const std::string &group,
                              const char *stat) {
        for (int i = 0; i < 100 && memcg_stat(group)[stat]; i++)
            try_to_free_mem_cgroup_pages(memcg, 512, GFP_KERNEL, true);
        ASSERT_EQ(memcg_stat(group)[stat], 0) << stat;
    }
};

// The pages were evicted in order, one tick of the group's clock each. Read back in the same
// order, page j of E refaults at distance E - j (activations tick the clock and grow the
// active list alike), and is activated if that is within the workingset: the group's file
// pages plus, with swap available, its anonymous pages.
TEST_F(WorkingsetTest, FileRefault_ActivatedWithinWorkingset) {
    Workload w("ws_file", "ws_file");
    const long evicted = 512, anon = 100;
    ASSERT_EQ(sim::mm_fault_anon(w.task(), anon), 0);
    {
        sim::TaskScope as(w.task());
        ASSERT_EQ(sim::mm_file_read("/data/test/ws_file.bin", evicted), 0);
    }
    forced_balance = 3;
    reclaim_until(w.memcg(), w.group(), "cache");
    forced_balance = -1;
    ASSERT_GT(get_nr_swap_pages(), 0);

    auto vm0 = vmstat();
    {
        sim::TaskScope as(w.task());
        ASSERT_EQ(sim::mm_file_read("/data/test/ws_file.bin", evicted), 0);
    }
    auto vm1 = vmstat();
    EXPECT_EQ(vm1["workingset_refault_file"] - vm0["workingset_refault_file"], evicted);
    EXPECT_EQ(vm1["workingset_activate_file"] - vm0["workingset_activate_file"], anon + 1);
    auto stat = memcg_stat(w.group());
    EXPECT_EQ(stat["active_file"], (anon + 1) * 4096);
    EXPECT_EQ(stat["inactive_file"], (evicted - anon - 1) * 4096);
    EXPECT_EQ(vm1["pgmajfault"], vm0["pgmajfault"]);  // read(), not a fault
}

// Touching swapped pages swaps them in from zram: a major fault, a read and a refault each,
// and the slot and its compressed copy are freed. With no file pages and nothing active, only
// the page evicted last is within the workingset.
TEST_F(WorkingsetTest, AnonRefault_SwapIn) {
    Workload w("ws_anon", "ws_anon");
    const long pages = 1000;
    ASSERT_EQ(sim::mm_fault_anon(w.task(), pages), 0);
    sim::mm_age_anon(w.task(), 0, 0);
    forced_balance = 2;
    long evicted = (long)try_to_free_mem_cgroup_pages(w.memcg(), 300, GFP_KERNEL, true);
    forced_balance = -1;
    ASSERT_GE(evicted, 300);
    auto stat0 = memcg_stat(w.group());
    EXPECT_EQ(stat0["swap"], evicted * 4096);
    EXPECT_EQ(stat0["active_anon"], 0);

    auto vm0 = vmstat();
    ASSERT_EQ(sim::mm_touch(w.task(), pages), 0);
    auto vm1 = vmstat();
    auto stat1 = memcg_stat(w.group());
    EXPECT_EQ(vm1["pswpin"] - vm0["pswpin"], evicted);
    EXPECT_EQ(vm1["pgmajfault"] - vm0["pgmajfault"], evicted);
    EXPECT_EQ(stat1["pgmajfault"] - stat0["pgmajfault"], evicted);
    EXPECT_EQ(vm1["workingset_refault_anon"] - vm0["workingset_refault_anon"], evicted);
    EXPECT_EQ(vm1["workingset_activate_anon"] - vm0["workingset_activate_anon"], 1);
    EXPECT_EQ(stat1["swap"], 0);
    EXPECT_EQ(stat1["rss"], pages * 4096);
    EXPECT_EQ(stat1["active_anon"], 4096);
}

// page_check_references(): mapped code is activated on its first reference, other mapped
// pages only on their second; reclaim meanwhile takes the cold page cache behind them.
TEST_F(WorkingsetTest, ExecMapping_ActivatedOnFirstReference) {
    Workload w("ws_exec", "ws_exec");
    ASSERT_EQ(sim::mm_map_file(w.task(), "/data/test/ws_data.bin", 64), 0);
    ASSERT_EQ(sim::mm_map_file(w.task(), "/data/test/ws_code.so", 64, true), 0);
    {
        sim::TaskScope as(w.task());
        ASSERT_EQ(sim::mm_file_read("/data/test/ws_cache.bin", 4096), 0);
    }
    forced_balance = 3;
    // Priorities 12 to 7 scan the 64 data pages (kept, now referenced), priority 6 the 64
    // code pages (activated) and 2 cache pages, priority 5 a batch of 32 more.
    EXPECT_EQ(try_to_free_mem_cgroup_pages(w.memcg(), 32, GFP_KERNEL, true), 34u);
    forced_balance = -1;
    auto stat = memcg_stat(w.group());
    EXPECT_EQ(stat["active_file"], 64 * 4096);
    EXPECT_EQ(stat["inactive_file"], (64 + 4096 - 34) * 4096);
    for (unsigned long i = 0; i < 64; i++) {
        std::string code =
            sim::mm_page_describe(page_to_pfn(sim::mm_file_page("/data/test/ws_code.so", i)));
        std::string data =
            sim::mm_page_describe(page_to_pfn(sim::mm_file_page("/data/test/ws_data.bin", i)));
        EXPECT_NE(code.find("list active_file"), std::string::npos) << code;
        EXPECT_NE(data.find("list inactive_file"), std::string::npos) << data;
        EXPECT_NE(data.find("referenced"), std::string::npos) << data;
    }
}

}  // namespace
