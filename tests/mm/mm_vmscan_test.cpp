// Reclaim's numbers against 5.10's formulas: what a request frees on the default phone, the
// scan size at each priority, the inactive ratio that decides when active lists are aged, and
// MemAvailable.
#include "tests/mm/mm_test_util.h"

#include "simkernel/mm/mm_internal.h"

#include <platform/swap.h>
#include <platform/trace/hooks/vmscan.h>

#include <algorithm>

namespace {

using mm_test::forced_balance;
using mm_test::memcg_stat;
using mm_test::meminfo;
using mm_test::vmstat;
using mm_test::Workload;

using VmscanTest = mm_test::ForcedScanTypeTest;

// First in this file, on the phone as it booted: the lists are balanced and the cold pages
// are at their tails, so a request for 512 pages frees about 512, not what every group
// frees at the lowest priority. The scan counts follow what was freed.
TEST_F(VmscanTest, DefaultPhone_RequestFreesAboutWhatItAsks) {
    auto vm0 = vmstat();
    forced_balance = 2;  // anon only, as vmassist's probe makes it for 20000512
    EXPECT_EQ(try_to_free_mem_cgroup_pages(nullptr, 512, GFP_KERNEL, true), 566u);
    forced_balance = -1;
    auto vm1 = vmstat();
    EXPECT_EQ(vm1["pgscan_anon"] - vm0["pgscan_anon"], 566);
    EXPECT_EQ(vm1["pgsteal_anon"] - vm0["pgsteal_anon"], 566);
    EXPECT_EQ(vm1["pgscan_file"] - vm0["pgscan_file"], 0);
    EXPECT_EQ(vm1["allocstall_movable"] - vm0["allocstall_movable"], 1);

    // The kernel's own balance: plenty of inactive page cache, so the cache is trimmed.
    EXPECT_EQ(try_to_free_mem_cgroup_pages(nullptr, 512, GFP_KERNEL, true), 1091u);
    auto vm2 = vmstat();
    EXPECT_EQ(vm2["pgscan_anon"], vm1["pgscan_anon"]);
    EXPECT_EQ(vm2["pgsteal_file"] - vm1["pgsteal_file"], 1091);
    EXPECT_EQ(vm2["pgscan_file"] - vm1["pgscan_file"], 1357);
}

// Group reclaim scans size >> priority pages of a list at each priority from 12 down, in
// batches of SWAP_CLUSTER_MAX, and stops a list's scan once the pass has freed the target.
TEST_F(VmscanTest, ScanSizePerPriority) {
    Workload w("vmscan_prio", "vmscan_prio");
    const unsigned long pages = 32768, target = 512;
    ASSERT_EQ(sim::mm_fault_anon(w.task(), pages), 0);
    sim::mm_age_anon(w.task(), 0, 0);  // all inactive and cold: every page scanned is freed
    unsigned long size = pages, expected = 0;
    for (int priority = DEF_PRIORITY; priority >= 0 && expected < target; priority--) {
        unsigned long scan = size >> priority, freed = 0;
        while (scan && freed < target) {
            unsigned long batch = std::min(scan, SWAP_CLUSTER_MAX);
            scan -= batch;
            freed += batch;
        }
        expected += freed;
        size -= freed;
    }
    ASSERT_EQ(expected, 1002u);  // 8 + 15 + 31 + 63 + 127 + 254, then 504 at priority 6

    auto vm0 = vmstat();
    forced_balance = 2;
    EXPECT_EQ(try_to_free_mem_cgroup_pages(w.memcg(), target, GFP_KERNEL, true), expected);
    auto vm1 = vmstat();
    EXPECT_EQ(vm1["pgscan_anon"] - vm0["pgscan_anon"], (long)expected);
    EXPECT_EQ(vm1["pswpout"] - vm0["pswpout"], (long)expected);
    EXPECT_EQ(memcg_stat(w.group())["inactive_anon"], (long)(pages - expected) * 4096);
    // Group reclaim is not counted as the system's direct reclaim.
    EXPECT_EQ(vm1["pgscan_direct"], vm0["pgscan_direct"]);
    EXPECT_EQ(vm1["allocstall_movable"], vm0["allocstall_movable"]);
}

// inactive_is_low(): lists of 1 GiB or more want an inactive list of a third of the active
// one (int_sqrt(10 * 1) = 3). Above that the active list is left alone; below it, each pass
// ages SWAP_CLUSTER_MAX pages while it scans the inactive list, and as many again after it.
TEST_F(VmscanTest, InactiveRatio) {
    const unsigned long gib = 1UL << (30 - PAGE_SHIFT), pages = gib + 4096;
    for (unsigned int active_percent : {74, 76}) {
        Workload w("vmscan_ratio", "vmscan_ratio");
        ASSERT_EQ(sim::mm_fault_anon(w.task(), pages), 0);
        sim::mm_age_anon(w.task(), active_percent, 0);
        auto stat = memcg_stat(w.group());
        unsigned long inactive = stat["inactive_anon"] / 4096, active = stat["active_anon"] / 4096;
        ASSERT_EQ(inactive + active, pages);
        bool low = inactive * 3 < active;
        EXPECT_EQ(low, active_percent == 76) << inactive << " " << active;

        auto vm0 = vmstat();
        forced_balance = 2;
        // Priority 12 frees inactive >> 12 = 15 or 16 pages, priority 11 the rest of 32.
        EXPECT_EQ(try_to_free_mem_cgroup_pages(w.memcg(), 32, GFP_KERNEL, true), low ? 46u : 48u);
        forced_balance = -1;
        auto vm1 = vmstat();
        EXPECT_EQ(vm1["pgdeactivate"] - vm0["pgdeactivate"], low ? 4 * 32 : 0);
    }
}

// si_mem_available(): free pages above the high watermark, plus the page cache less what the
// low watermark keeps of it (at most half).
TEST_F(VmscanTest, MemAvailable) {
    auto mem = meminfo();
    sim::mm::Watermarks wm = sim::mm::watermarks();
    long free = mem["MemFree"] / 4, cache = (mem["Active(file)"] + mem["Inactive(file)"]) / 4;
    long expected = free - (long)wm.high + cache - std::min(cache / 2, (long)wm.low);
    EXPECT_EQ(mem["MemAvailable"], expected * 4);
}

}  // namespace
