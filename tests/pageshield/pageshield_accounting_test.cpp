// The accounting probes: threshold crossings and LRU list changes through the hooks, the
// mapping counter updated exactly once per change, and the running counts against fresh walks
// after workloads that map, unmap, move and reclaim pages.
#include "pageshield_test_util.h"

#include "tests/mm/mm_test_util.h"

#include <platform/memcontrol.h>
#include <platform/swap.h>

namespace pageshield_test {
namespace {

constexpr unsigned long LRU = 1UL << PG_lru, ANON = 1UL << PG_swapbacked,
                        UNEVICTABLE = 1UL << PG_unevictable;

class PageshieldAccountingTest : public PageshieldTest {
  protected:
    void SetUp() override {
        PageshieldTest::SetUp();
        base_ = report();
    }
    long anon_delta() const { return report().sum_anon() - base_.sum_anon(); }
    long file_delta() const { return report().sum_file() - base_.sum_file(); }
    Report base_;
};

struct UpdateCase {
    const char *desc;
    unsigned long flags;
    int mapcount;  // before the change
    bool inc;
    long anon, file;  // change of the running counts
    bool first;       // the mapped-state flag the probe reports
};

const UpdateCase kUpdates[] = {
    {"file 19 to 20", LRU, 19, true, 0, 1, false},
    {"file 20 to 21", LRU, 20, true, 0, 0, false},
    {"file 21 to 20", LRU, 21, false, 0, 0, false},
    {"file 20 to 19", LRU, 20, false, 0, -1, false},
    {"anon 19 to 20", LRU | ANON, 19, true, 1, 0, false},
    {"anon 20 to 19", LRU | ANON, 20, false, -1, 0, false},
    {"not on a list", 0, 19, true, 0, 0, false},
    {"unevictable", LRU | UNEVICTABLE, 19, true, 0, 0, false},
    {"first mapping", LRU, 0, true, 0, 0, true},
    {"last mapping", LRU, 1, false, 0, 0, true},
    {"second mapping", LRU, 1, true, 0, 0, false},
};

TEST_F(PageshieldAccountingTest, UpdatePageMapcount_Table) {
    for (const UpdateCase &c : kUpdates) {
        SCOPED_TRACE(c.desc);
        SyntheticPages p(1);
        p[0]->flags = c.flags;
        atomic_set(&p[0]->_mapcount, c.mapcount - 1);
        Report before = report();
        bool first = !c.first, success = false;
        trace_android_vh_update_page_mapcount(p[0], c.inc, false, &first, &success);
        EXPECT_TRUE(success);
        EXPECT_EQ(first, c.first);
        EXPECT_EQ(page_mapcount(p[0]), c.mapcount + (c.inc ? 1 : -1));
        Report after = report();
        EXPECT_EQ(after.sum_anon() - before.sum_anon(), c.anon);
        EXPECT_EQ(after.sum_file() - before.sum_file(), c.file);
    }
}

// The head's flags decide, kind included: a tail page of a listed anonymous compound page
// counts by its own mapcount, as anonymous.
TEST_F(PageshieldAccountingTest, UpdatePageMapcount_TailJudgedByHeadFlags) {
    SyntheticPages p(4);
    p[0]->flags = (1UL << PG_head) | LRU | ANON;
    for (int i = 1; i < 4; i++)
        p[i]->compound_head = (unsigned long)p[0] | 1;
    p[1]->compound_nr = 4;
    atomic_set(&p[2]->_mapcount, 18);
    bool success = false;
    trace_android_vh_update_page_mapcount(p[2], true, false, nullptr, &success);
    EXPECT_TRUE(success);
    EXPECT_EQ(anon_delta(), 1);
    EXPECT_EQ(file_delta(), 0);
}

// An anonymous compound page mapped whole 25 times: its mapcount is the kernel's
// __page_mapcount, which adds the compound mappings to the sub-page's own.
TEST_F(PageshieldAccountingTest, LruProbes_AnonCompoundCountsItsWholeMappings) {
    SyntheticPages p(4);
    p[0]->flags = (1UL << PG_head) | ANON;
    p[0]->mapping = (struct address_space *)PAGE_MAPPING_ANON;
    for (int i = 1; i < 4; i++)
        p[i]->compound_head = (unsigned long)p[0] | 1;
    p[1]->compound_nr = 4;
    atomic_set(&p[1]->compound_mapcount, 24);
    ASSERT_EQ(page_mapcount(p[0]), 25);
    trace_android_vh_add_page_to_lrulist(p[0], true, LRU_ACTIVE_ANON);
    EXPECT_EQ(anon_delta(), 1);
    trace_android_vh_del_page_from_lrulist(p[0], true, LRU_ACTIVE_ANON);
    EXPECT_EQ(anon_delta(), 0);
}

// The threshold is unsigned: at 4294967295 no mapcount reaches it.
TEST_F(PageshieldAccountingTest, LruProbes_ThresholdComparedUnsigned) {
    ASSERT_EQ(set_tunable("mapcount_protect_thres", "4294967295"), 10);
    SyntheticPages p(1, 0, 25);
    trace_android_vh_add_page_to_lrulist(p[0], false, LRU_ACTIVE_FILE);
    EXPECT_EQ(file_delta(), 0);
    EXPECT_EQ(report().cur_file(), 0);
}

TEST_F(PageshieldAccountingTest, UpdatePageMapcount_SwitchOffStillUpdatesCounter) {
    ASSERT_EQ(set_tunable("enabled", "0"), 1);
    SyntheticPages p(1);
    p[0]->flags = LRU;
    atomic_set(&p[0]->_mapcount, -1);
    bool first = false, success = false;
    trace_android_vh_update_page_mapcount(p[0], true, false, &first, &success);
    EXPECT_TRUE(success);
    EXPECT_TRUE(first);
    atomic_set(&p[0]->_mapcount, 18);
    trace_android_vh_update_page_mapcount(p[0], true, false, &first, &success);
    EXPECT_FALSE(first);
    EXPECT_EQ(page_mapcount(p[0]), 20);
    EXPECT_EQ(file_delta(), 0);
    EXPECT_EQ(report().max_file(), 0);
}

TEST_F(PageshieldAccountingTest, UpdatePageMapcount_ThresholdZeroNeverCounts) {
    ASSERT_EQ(set_tunable("mapcount_protect_thres", "0"), 1);
    SyntheticPages p(1);
    p[0]->flags = LRU;
    bool success = false;
    for (int i = 0; i < 3; i++)
        trace_android_vh_update_page_mapcount(p[0], true, false, nullptr, &success);
    for (int i = 0; i < 3; i++)
        trace_android_vh_update_page_mapcount(p[0], false, false, nullptr, &success);
    EXPECT_EQ(file_delta(), 0);
    EXPECT_EQ(page_mapcount(p[0]), 0);
}

struct LruCase {
    const char *desc;
    unsigned long flags;
    int mapcount;
    enum lru_list lru;
    long anon, file;  // change on adding; removing is the opposite
};

const LruCase kLru[] = {
    {"inactive anon", ANON, 25, LRU_INACTIVE_ANON, 1, 0},
    {"active anon", ANON, 20, LRU_ACTIVE_ANON, 1, 0},
    {"inactive file", 0, 20, LRU_INACTIVE_FILE, 0, 1},
    {"active file", 0, 40, LRU_ACTIVE_FILE, 0, 1},
    {"below threshold", 0, 19, LRU_ACTIVE_FILE, 0, 0},
    {"unevictable list", 0, 25, LRU_UNEVICTABLE, 0, 0},
    {"unevictable list anon", ANON, 25, LRU_UNEVICTABLE, 0, 0},
};

TEST_F(PageshieldAccountingTest, LruProbes_Table) {
    for (const LruCase &c : kLru) {
        SCOPED_TRACE(c.desc);
        SyntheticPages p(1);
        p[0]->flags = c.flags;
        atomic_set(&p[0]->_mapcount, c.mapcount - 1);
        Report before = report();
        trace_android_vh_add_page_to_lrulist(p[0], false, c.lru);
        Report added = report();
        EXPECT_EQ(added.sum_anon() - before.sum_anon(), c.anon);
        EXPECT_EQ(added.sum_file() - before.sum_file(), c.file);
        if (c.anon || c.file) {
            EXPECT_EQ(c.anon ? added.max_anon() : added.max_file(),
                      c.anon ? added.sum_anon() : added.sum_file());
        }
        trace_android_vh_del_page_from_lrulist(p[0], false, c.lru);
        Report removed = report();
        EXPECT_EQ(removed.sum_anon(), before.sum_anon());
        EXPECT_EQ(removed.sum_file(), before.sum_file());
        // Removal leaves the maximum.
        EXPECT_EQ(removed.max_anon(), added.max_anon());
        EXPECT_EQ(removed.max_file(), added.max_file());
    }
}

// With the switch off the list probes count nothing, also for widely mapped pages.
TEST_F(PageshieldAccountingTest, LruProbes_SwitchOffCountsNothing) {
    ASSERT_EQ(set_tunable("enabled", "0"), 1);
    SyntheticPages anon(1, ANON, 25), file(1, 0, 25);
    trace_android_vh_add_page_to_lrulist(anon[0], false, LRU_INACTIVE_ANON);
    trace_android_vh_add_page_to_lrulist(file[0], false, LRU_ACTIVE_FILE);
    EXPECT_EQ(anon_delta(), 0);
    EXPECT_EQ(file_delta(), 0);
    trace_android_vh_del_page_from_lrulist(anon[0], false, LRU_INACTIVE_ANON);
    trace_android_vh_del_page_from_lrulist(file[0], false, LRU_ACTIVE_FILE);
    EXPECT_EQ(anon_delta(), 0);
    EXPECT_EQ(file_delta(), 0);
    Report r = report();
    EXPECT_EQ(r.max_anon(), base_.max_anon());
    EXPECT_EQ(r.max_file(), base_.max_file());
}

TEST_F(PageshieldAccountingTest, LruProbes_MoveBetweenListsLeavesCount) {
    SyntheticPages p(1);
    p[0]->flags = ANON;
    atomic_set(&p[0]->_mapcount, 24);
    trace_android_vh_del_page_from_lrulist(p[0], false, LRU_INACTIVE_ANON);
    EXPECT_EQ(anon_delta(), -1);
    trace_android_vh_add_page_to_lrulist(p[0], false, LRU_ACTIVE_ANON);
    EXPECT_EQ(anon_delta(), 0);
}

TEST_F(PageshieldAccountingTest, LruProbes_ThresholdZeroCountsEveryEvictableAddition) {
    ASSERT_EQ(set_tunable("mapcount_protect_thres", "0"), 1);
    ASSERT_EQ(sim::mm_file_read("/data/test/ps_thres0.bin", 40), 0);
    EXPECT_EQ(file_delta(), 40);
}

// Threshold 1 makes every mapped anonymous page widely mapped: mlocked ones sit on the
// unevictable list, which neither the walk nor the list probes count.
TEST_F(PageshieldAccountingTest, UnevictableList_NeverCounted) {
    ASSERT_EQ(set_tunable("mapcount_protect_thres", "1"), 1);
    struct task_struct *t = sim::task_create_user("ps_mlock");
    Report before = report();
    ASSERT_EQ(sim::mm_fault_anon(t, 30, true), 0);
    Report locked = report();
    EXPECT_EQ(locked.cur_anon(), before.cur_anon());
    EXPECT_EQ(locked.sum_anon(), before.sum_anon());
    ASSERT_EQ(sim::mm_fault_anon(t, 30), 0);
    Report evictable = report();
    EXPECT_EQ(evictable.cur_anon() - before.cur_anon(), 30);
    EXPECT_EQ(evictable.sum_anon() - before.sum_anon(), 30);
    sim::task_exit(t);
}

// The mapping counter moves once per mapping change whether the probe or the kernel makes it.
TEST_F(PageshieldAccountingTest, Mapcount_OncePerMappingLoadedDisabledUnloaded) {
    enum State { loaded, disabled, unloaded };
    for (State s : {loaded, disabled, unloaded}) {
        SCOPED_TRACE(s == loaded ? "loaded" : s == disabled ? "disabled" : "unloaded");
        if (s == disabled) {
            ASSERT_EQ(set_tunable("enabled", "0"), 1);
        }
        if (s == unloaded) {
            ASSERT_EQ(sim::module_unload("pageshield"), 0);
        }
        std::string file = "/data/test/ps_once_" + std::to_string(s) + ".so";
        long mapped0 = mm_test::meminfo()["Mapped"];
        Mappers m(file, 6);
        for (size_t n : {1, 25, 7, 0}) {
            m.resize(n);
            for (unsigned long i = 0; i < 6; i++)
                EXPECT_EQ(page_mapcount(m.page(i)), (int)n) << n << " mappings, page " << i;
            EXPECT_EQ(mm_test::meminfo()["Mapped"] - mapped0, n ? 24 : 0) << n;
        }
    }
    ASSERT_EQ(sim::module_load("pageshield"), 0);
}

// Mappings made before a load and removed after it, and the other way round.
TEST_F(PageshieldAccountingTest, Mapcount_ExactAcrossLoadAndUnload) {
    Mappers before("/data/test/ps_across_a.so", 4), after("/data/test/ps_across_b.so", 4);
    ASSERT_EQ(sim::module_unload("pageshield"), 0);
    before.resize(22);
    ASSERT_EQ(sim::module_load("pageshield"), 0);
    after.resize(22);
    expect_counts_agree(report());
    before.resize(3);
    ASSERT_EQ(sim::module_unload("pageshield"), 0);
    after.resize(5);
    EXPECT_EQ(page_mapcount(before.page(0)), 3);
    EXPECT_EQ(page_mapcount(after.page(3)), 5);
    ASSERT_EQ(sim::module_load("pageshield"), 0);
    expect_counts_agree(report());
}

TEST_F(PageshieldAccountingTest, MapFile_CountsFollowTheThreshold) {
    Mappers m("/data/test/ps_cross.so", 8);
    const struct {
        size_t mappers;
        long file;
    } steps[] = {{19, 0}, {20, 8}, {21, 8}, {20, 8}, {19, 0}, {30, 8}, {0, 0}};
    for (const auto &s : steps) {
        m.resize(s.mappers);
        Report r = report();
        EXPECT_EQ(r.sum_file() - base_.sum_file(), s.file) << s.mappers;
        expect_counts_agree(r);
    }
    EXPECT_EQ(report().max_file(), base_.sum_file() + 8);
}

TEST_F(PageshieldAccountingTest, MapFile_ActivationAndReclaimKeepCountsTrue) {
    mm_test::Workload w("ps_acct", "ps_acct");
    Mappers m("/data/test/ps_acct.so", 16, w.memcg());
    {
        sim::TaskScope as(w.task());
        m.resize(24);
        ASSERT_EQ(sim::mm_file_read("/data/test/ps_acct_cache.bin", 200), 0);
    }
    // Read twice: the mapped pages move to the active list, through a removal and an addition.
    ASSERT_EQ(sim::mm_file_read("/data/test/ps_acct.so", 16), 0);
    ASSERT_EQ(sim::mm_file_read("/data/test/ps_acct.so", 16), 0);
    EXPECT_EQ(
        sim::mm_page_describe(page_to_pfn(m.page(0))).find("list active_file") != std::string::npos,
        true);
    expect_counts_agree(report());
    EXPECT_EQ(file_delta(), 16);
    for (int i = 0; i < 4; i++)
        try_to_free_mem_cgroup_pages(w.memcg(), 512, GFP_KERNEL, true);
    expect_counts_agree(report());
    m.resize(10);
    expect_counts_agree(report());
    EXPECT_EQ(file_delta(), 0);
}

// While the switch is off, changes are lost, and turning it on does not reseed the counts.
TEST_F(PageshieldAccountingTest, Enabled_OffLosesChanges) {
    Mappers m("/data/test/ps_lost.so", 8);
    ASSERT_EQ(set_tunable("enabled", "0"), 1);
    m.resize(20);
    Report off = report();
    EXPECT_EQ(off.cur_file() - base_.cur_file(), 8);
    EXPECT_EQ(off.sum_file(), base_.sum_file());
    ASSERT_EQ(set_tunable("enabled", "1"), 1);
    EXPECT_EQ(report().sum_file(), base_.sum_file());
    m.resize(0);
    Report on = report();
    EXPECT_EQ(on.cur_file(), base_.cur_file());
    EXPECT_EQ(on.sum_file() - base_.sum_file(), -8);
}

// A compound page crossing the threshold in every sub-page counts per sub-page, in the walk
// and through the mapping probe; the LRU probes count it once, so taking it off a list to
// reclaim it leaves the other sub-pages in the running count.
TEST_F(PageshieldAccountingTest, Compound_CountedOnceByListProbesPerSubPageByWalk) {
    mm_test::Workload w("ps_thp", "ps_thp");
    sim::mm_file_set_order("/data/test/ps_thp.oat", 2);
    Mappers m("/data/test/ps_thp.oat", 4, w.memcg());
    m.resize(20);
    ASSERT_TRUE(PageHead(m.page(0)));
    Report r = report();
    EXPECT_EQ(r.cur_file() - base_.cur_file(), 4);
    expect_counts_agree(r);
    // Over budget: not protected, so reclaim takes it while it is still mapped.
    ASSERT_EQ(set_tunable("noprotect_thres_control", "1000"), 4);
    for (int i = 0; i < 8 && sim::mm_file_page("/data/test/ps_thp.oat", 0); i++)
        try_to_free_mem_cgroup_pages(w.memcg(), 512, GFP_KERNEL, true);
    ASSERT_EQ(sim::mm_file_page("/data/test/ps_thp.oat", 0), nullptr);
    r = report();
    EXPECT_EQ(r.cur_file(), base_.cur_file());
    EXPECT_EQ(r.sum_file() - r.cur_file(), 3);
}

}  // namespace
}  // namespace pageshield_test
