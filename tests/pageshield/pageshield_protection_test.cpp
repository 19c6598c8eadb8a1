// The protection decision: widely mapped pages kept through reclaim while their kind's budget
// and available memory allow it, each test of the decision through the hook, and the two limits
// (the budget, and MemAvailable below the no-protect threshold) under real memory pressure.
#include "pageshield_test_util.h"

#include "tests/mm/mm_test_util.h"

#include <platform/irqflags.h>
#include <platform/list.h>
#include <platform/memcontrol.h>
#include <platform/spinlock.h>
#include <platform/swap.h>

namespace pageshield_test {
namespace {

constexpr unsigned long kLibPages = 64;

bool protect(struct page *page) {
    bool flag = true;
    trace_android_vh_page_should_be_protected(page, &flag);
    return flag;
}

constexpr unsigned long LRU = 1UL << PG_lru, ANON = 1UL << PG_swapbacked;

class PageshieldProtectionTest : public PageshieldTest {};

TEST_F(PageshieldProtectionTest, ShouldProtect_DecisionTable) {
    const struct {
        const char *desc;
        unsigned long flags;
        int mapcount;
        bool expect;
    } cases[] = {
        {"file mapcount 19", LRU, 19, false},
        {"file mapcount 20", LRU, 20, true},
        {"file not on a list", 0, 30, true},
        {"unevictable head", LRU | (1UL << PG_unevictable), 30, false},
        {"anon mapcount 20", LRU | ANON, 20, true},
        {"unmapped", LRU, 0, false},
    };
    for (const auto &c : cases) {
        SyntheticPages p(1, c.flags, c.mapcount);
        EXPECT_EQ(protect(p[0]), c.expect) << c.desc;
    }
    // A tail page is judged by its head's flag.
    SyntheticPages thp(2, LRU, 30);
    thp[0]->flags |= (1UL << PG_head) | (1UL << PG_unevictable);
    thp[1]->compound_head = (unsigned long)thp[0] | 1;
    thp[1]->compound_nr = 2;
    EXPECT_FALSE(protect(thp[1]));
    ASSERT_EQ(set_tunable("enabled", "0"), 1);
    SyntheticPages p(1, LRU, 40);
    EXPECT_FALSE(protect(p[0]));
}

// The anonymous running count is driven through the LRU hook with pages of its own.
TEST_F(PageshieldProtectionTest, ShouldProtect_CountEqualToBudgetPasses) {
    ASSERT_EQ(set_tunable("noprotect_thres_control", "1000"), 4);
    long budget = report().num("zo_anon_mapped_pages_thres");
    long count = report().sum_anon();
    ASSERT_LE(count, budget);
    std::vector<std::unique_ptr<SyntheticPages>> listed;
    while (count < budget) {
        listed.push_back(std::make_unique<SyntheticPages>(1, ANON, 25));
        trace_android_vh_add_page_to_lrulist((*listed.back())[0], false, LRU_INACTIVE_ANON);
        count++;
    }
    ASSERT_EQ(report().sum_anon(), budget);
    SyntheticPages probe(1, LRU | ANON, 25);
    EXPECT_TRUE(protect(probe[0]));
    listed.push_back(std::make_unique<SyntheticPages>(1, ANON, 25));
    trace_android_vh_add_page_to_lrulist((*listed.back())[0], false, LRU_INACTIVE_ANON);
    EXPECT_FALSE(protect(probe[0]));
    for (auto &p : listed)
        trace_android_vh_del_page_from_lrulist((*p)[0], false, LRU_INACTIVE_ANON);
}

// Divisor 0: every budget is 0, so only a kind with nothing counted passes; the memory test
// always passes.
TEST_F(PageshieldProtectionTest, ShouldProtect_DivisorZero) {
    ASSERT_EQ(set_tunable("noprotect_thres_control", "0"), 1);
    Report r = report();
    ASSERT_EQ(r.sum_anon(), 0);
    ASSERT_GT(r.sum_file(), 0);
    SyntheticPages anon(1, LRU | ANON, 20), file(1, LRU, 20);
    EXPECT_TRUE(protect(anon[0]));
    EXPECT_FALSE(protect(file[0]));
}

TEST_F(PageshieldProtectionTest, ShouldProtect_MemAvailableAtThresholdPasses) {
    ASSERT_EQ(set_tunable("noprotect_thres_control", "2"), 1);
    long thres = report().num("zo_memavail_noprotect_thres");
    long avail = si_mem_available();
    ASSERT_GT(avail, thres);
    struct task_struct *hog = sim::task_create_user("ps_hog");
    // Each anonymous page comes out of free memory above the watermarks: one page less
    // available each.
    ASSERT_EQ(sim::mm_fault_anon(hog, avail - thres), 0);
    ASSERT_EQ(si_mem_available(), thres);
    SyntheticPages p(1, LRU, 25);
    EXPECT_TRUE(protect(p[0]));
    ASSERT_EQ(sim::mm_fault_anon(hog, 1), 0);
    ASSERT_EQ(si_mem_available(), thres - 1);
    EXPECT_FALSE(protect(p[0]));
    sim::task_exit(hog);
}

// An LRU vector of the test's own, handed to the walk from inside the report's walk of the
// system: what the walk adds for it shows in the report's fresh counts.
struct SyntheticLruvec {
    struct lruvec v = {};
    SyntheticLruvec() {
        for (auto &l : v.lists)
            INIT_LIST_HEAD(&l);
        v.pgdat = NODE_DATA(0);
    }
    void add(struct page *page, enum lru_list lru) { list_add_tail(&page->lru, &v.lists[lru]); }
};

struct lruvec *extra_lruvec;

void walk_extra_too(void *, struct lruvec *) {
    if (struct lruvec *v = std::exchange(extra_lruvec, nullptr))
        trace_android_vh_do_traversal_lruvec(v);
}

class PageshieldWalkTest : public PageshieldTest {
  protected:
    void SetUp() override {
        PageshieldTest::SetUp();
        ASSERT_EQ(register_trace_android_vh_do_traversal_lruvec(walk_extra_too, nullptr), 0);
    }
    void TearDown() override {
        unregister_trace_android_vh_do_traversal_lruvec(walk_extra_too, nullptr);
        tracepoint_synchronize_unregister();
        PageshieldTest::TearDown();
    }
    // The fresh counts the walk adds for v: a report with v walked too, less one without.
    std::pair<long, long> walked(SyntheticLruvec &v) {
        Report without = report();
        extra_lruvec = &v.v;
        Report with = report();
        EXPECT_EQ(extra_lruvec, nullptr);
        return {with.cur_anon() - without.cur_anon(), with.cur_file() - without.cur_file()};
    }
};

// The list decides the kind, list 4 is never walked, and a compound head counts each widely
// mapped sub-page, itself included.
TEST_F(PageshieldWalkTest, Walk_CountsByListAndSubPage) {
    SyntheticLruvec v;
    SyntheticPages file_on_anon(1, LRU, 20), anon_on_file(1, LRU | ANON, 25), below(1, LRU, 19),
        unevictable(1, LRU, 40), thp(4, LRU, 20), cold_thp(4, LRU, 3);
    v.add(file_on_anon[0], LRU_INACTIVE_ANON);
    v.add(anon_on_file[0], LRU_ACTIVE_FILE);
    v.add(below[0], LRU_ACTIVE_ANON);
    v.add(unevictable[0], LRU_UNEVICTABLE);
    for (SyntheticPages *c : {&thp, &cold_thp}) {
        (*c)[0]->flags |= 1UL << PG_head;
        for (int i = 1; i < 4; i++)
            (*c)[i]->compound_head = (unsigned long)(*c)[0] | 1;
        (*c)[1]->compound_nr = 4;
    }
    // Every sub-page's own counter, as a compound mapping leaves it.
    v.add(thp[0], LRU_INACTIVE_FILE);
    v.add(cold_thp[0], LRU_ACTIVE_FILE);
    EXPECT_EQ(walked(v), std::make_pair(1L, 5L));
    ASSERT_EQ(set_tunable("mapcount_protect_thres", "3"), 1);
    EXPECT_EQ(walked(v), std::make_pair(2L, 9L));
}

// The kernel calls the walk with interrupts off, under the node's LRU lock: the walk leaves
// them off.
TEST_F(PageshieldWalkTest, Walk_KeepsInterruptsOffWhenCalledWithThemOff) {
    SyntheticLruvec v;
    SyntheticPages p(1, LRU, 20);
    v.add(p[0], LRU_INACTIVE_FILE);
    unsigned long flags;
    local_irq_save(flags);
    trace_android_vh_do_traversal_lruvec(&v.v);
    bool still_off = irqs_disabled();
    local_irq_restore(flags);
    EXPECT_TRUE(still_off);
    for (const auto &line : log())
        EXPECT_EQ(line.find("interrupts enabled"), std::string::npos) << line;
}

// A group with a library its 25 processes map, and page cache nobody maps.
class PageshieldReclaimTest : public PageshieldTest {
  protected:
    void SetUp() override {
        PageshieldTest::SetUp();
        static int n;
        tag_ = std::to_string(n++);
        w_ = std::make_unique<mm_test::Workload>("ps_reclaim" + tag_, "ps_reclaim");
        lib_ = std::make_unique<Mappers>(lib(), kLibPages, w_->memcg());
        lib_->resize(25);
        few_ = std::make_unique<Mappers>(few(), kLibPages, w_->memcg());
        few_->resize(5);
        sim::TaskScope as(w_->task());
        ASSERT_EQ(sim::mm_file_read(cache(), 512), 0);
    }
    void TearDown() override {
        few_.reset();
        lib_.reset();
        w_.reset();
        PageshieldTest::TearDown();
    }
    std::string lib() const { return "/data/test/ps_lib" + tag_ + ".so"; }
    std::string few() const { return "/data/test/ps_few" + tag_ + ".so"; }
    std::string cache() const { return "/data/test/ps_cache" + tag_ + ".bin"; }
    static unsigned long resident(const std::string &file, unsigned long pages) {
        unsigned long n = 0;
        for (unsigned long i = 0; i < pages; i++)
            n += sim::mm_file_page(file, i) != nullptr;
        return n;
    }
    void reclaim() {
        for (int i = 0; i < 12; i++)
            try_to_free_mem_cgroup_pages(w_->memcg(), 1024, GFP_KERNEL, true);
        // Reclaim did run: the unmapped cache and the scarcely mapped library are gone.
        EXPECT_EQ(resident(cache(), 512), 0u);
        EXPECT_EQ(resident(few(), kLibPages), 0u);
    }

    std::string tag_;
    std::unique_ptr<mm_test::Workload> w_;
    std::unique_ptr<Mappers> lib_, few_;
};

TEST_F(PageshieldReclaimTest, Reclaim_WidelyMappedPagesStayResident) {
    reclaim();
    EXPECT_EQ(resident(lib(), kLibPages), kLibPages);
    expect_counts_agree(report());
}

TEST_F(PageshieldReclaimTest, Reclaim_DisabledReclaimsThemLikeAnyPage) {
    ASSERT_EQ(set_tunable("enabled", "0"), 1);
    reclaim();
    EXPECT_EQ(resident(lib(), kLibPages), 0u);
}

TEST_F(PageshieldReclaimTest, Reclaim_OverBudgetNotProtected) {
    ASSERT_EQ(set_tunable("noprotect_thres_control", "100"), 3);
    Report r = report();
    ASSERT_GT(r.sum_file(), r.num("zo_file_mapped_pages_thres"));
    ASSERT_GE(si_mem_available(), r.num("zo_memavail_noprotect_thres"));
    reclaim();
    EXPECT_EQ(resident(lib(), kLibPages), 0u);
    expect_counts_agree(report());
}

// Whole-system reclaim (a null group, as the memory service asks for) keeps them too, while
// the unmapped cache and the scarcely mapped library of the same group go.
TEST_F(PageshieldReclaimTest, Reclaim_SystemWideKeepsThemToo) {
    for (int i = 0; i < 256 && (resident(cache(), 512) || resident(few(), kLibPages)); i++)
        try_to_free_mem_cgroup_pages(nullptr, 8192, GFP_KERNEL, true);
    EXPECT_EQ(resident(cache(), 512), 0u);
    EXPECT_EQ(resident(few(), kLibPages), 0u);
    EXPECT_EQ(resident(lib(), kLibPages), kLibPages);
    expect_counts_agree(report());
}

// Last in this file: it leaves the phone's memory squeezed for whatever follows.
TEST_F(PageshieldReclaimTest, Reclaim_LowMemAvailableNotProtected) {
    long tenth = (long)(totalram_pages() / 10);
    mm_test::Workload hog("ps_hog", "ps_hog");
    for (int i = 0; i < 400 && si_mem_available() >= tenth; i++)
        ASSERT_EQ(sim::mm_fault_anon(hog.task(), 8192), 0);
    sim::settle();
    ASSERT_LT(si_mem_available(), tenth);
    Report r = report();
    ASSERT_LE(r.sum_file(), r.num("zo_file_mapped_pages_thres"));
    reclaim();
    EXPECT_EQ(resident(lib(), kLibPages), 0u);
    expect_counts_agree(report());
}

}  // namespace
}  // namespace pageshield_test
