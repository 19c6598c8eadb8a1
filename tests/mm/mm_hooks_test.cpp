// The vendor hooks: probe registration rules, the mapcount path, LRU list changes, the LRU
// walk and the compound page layout the probes read.
#include "tests/mm/mm_test_util.h"

#include "simkernel/kernel/printk_log.h"

#include <platform/errno.h>
#include <platform/memcontrol.h>
#include <platform/mm.h>
#include <platform/swap.h>
#include <platform/trace/hooks/mm.h>
#include <platform/trace/hooks/vmscan.h>

#include <atomic>
#include <map>

namespace {

using mm_test::Workload;

void noop_scan(void *, char *) {}
void other_scan(void *, char *) {}

TEST(TracepointTest, ProbeRegister_Errors) {
    struct tracepoint *tp = &__tracepoint_android_vh_tune_scan_type;
    EXPECT_EQ(tracepoint_probe_register(tp, nullptr, nullptr), -EINVAL);
    EXPECT_EQ(tracepoint_probe_unregister(tp, (void *)noop_scan, nullptr), -ENOENT);
    ASSERT_EQ(tracepoint_probe_register(tp, (void *)noop_scan, nullptr), 0);
    EXPECT_EQ(tracepoint_probe_register(tp, (void *)noop_scan, nullptr), -EEXIST);
    int data;
    EXPECT_EQ(tracepoint_probe_register(tp, (void *)noop_scan, &data), 0);
    EXPECT_EQ(tracepoint_probe_register(tp, (void *)other_scan, nullptr), 0);
    // Unregistering a probe that is not there leaves the others.
    EXPECT_EQ(tracepoint_probe_unregister(tp, (void *)noop_scan, (void *)1), 0);
    int n = 0;
    for (struct tracepoint_func *f = tp->funcs; f && f->func; f++)
        n++;
    EXPECT_EQ(n, 3);
    // A null probe takes every probe off.
    EXPECT_EQ(tracepoint_probe_unregister(tp, nullptr, nullptr), 0);
    EXPECT_EQ(tp->funcs, nullptr);
    tracepoint_synchronize_unregister();
}

// Mapcount changes seen per page, and the LRU sizes per group as the add/del hooks report them.
std::map<struct page *, int> mapcount_calls;
std::map<std::pair<struct mem_cgroup *, int>, long> hooked_lru;
long hooked(struct mem_cgroup *memcg, int lru) {
    return hooked_lru[std::make_pair(memcg, lru)];
}
bool probe_handles;

void on_mapcount(void *, struct page *page, bool inc, bool, bool *first, bool *success) {
    mapcount_calls[page] += inc ? 1 : -1;
    if (!probe_handles)
        return;
    *success = true;
    int v = atomic_add_return(inc ? 1 : -1, &page->_mapcount);
    if (first)
        *first = inc ? v == 0 : v < 0;
}
void on_add(void *, struct page *page, bool, enum lru_list lru) {
    hooked_lru[std::make_pair(compound_head(page)->mem_cgroup, (int)lru)] += thp_nr_pages(page);
}
void on_del(void *, struct page *page, bool, enum lru_list lru) {
    hooked_lru[std::make_pair(compound_head(page)->mem_cgroup, (int)lru)] -= thp_nr_pages(page);
}

class HooksTest : public ::testing::Test {
  protected:
    void SetUp() override {
        mapcount_calls.clear();
        hooked_lru.clear();
        probe_handles = false;
        ASSERT_EQ(register_trace_android_vh_update_page_mapcount(on_mapcount, nullptr), 0);
        ASSERT_EQ(register_trace_android_vh_add_page_to_lrulist(on_add, nullptr), 0);
        ASSERT_EQ(register_trace_android_vh_del_page_from_lrulist(on_del, nullptr), 0);
    }
    void TearDown() override {
        unregister_trace_android_vh_update_page_mapcount(on_mapcount, nullptr);
        unregister_trace_android_vh_add_page_to_lrulist(on_add, nullptr);
        unregister_trace_android_vh_del_page_from_lrulist(on_del, nullptr);
        tracepoint_synchronize_unregister();
    }
};

TEST_F(HooksTest, UpdatePageMapcount_SeesEveryMapAndUnmap) {
    for (bool handles : {false, true}) {
        SCOPED_TRACE(handles ? "probe handles the update" : "kernel updates");
        probe_handles = handles;
        mapcount_calls.clear();
        std::string file = handles ? "/data/test/hooks_handled.so" : "/data/test/hooks_kernel.so";
        long mapped0 = mm_test::meminfo()["Mapped"];
        std::vector<struct task_struct *> tasks;
        for (int i = 0; i < 3; i++) {
            tasks.push_back(sim::task_create_user("mapper"));
            ASSERT_EQ(sim::mm_map_file(tasks.back(), file, 4), 0);
        }
        struct page *page = sim::mm_file_page(file, 0);
        EXPECT_EQ(mapcount_calls[page], 3);
        EXPECT_EQ(page_mapcount(page), 3);
        EXPECT_EQ(mm_test::meminfo()["Mapped"] - mapped0, 16);
        for (struct task_struct *t : tasks)
            sim::task_exit(t);
        EXPECT_EQ(mapcount_calls[page], 0);
        EXPECT_EQ(page_mapcount(page), 0);
        EXPECT_EQ(mm_test::meminfo()["Mapped"], mapped0);
    }
}

TEST_F(HooksTest, LruHooks_SeeEveryListChange) {
    const char *names[] = {"inactive_anon", "active_anon", "inactive_file", "active_file",
                           "unevictable"};
    struct mem_cgroup *memcg;
    {
        Workload w("hooks_lru", "hooks_lru");
        memcg = w.memcg();
        ASSERT_EQ(sim::mm_fault_anon(w.task(), 300), 0);
        ASSERT_EQ(sim::mm_fault_anon(w.task(), 20, true), 0);
        ASSERT_EQ(sim::mm_map_file(w.task(), "/data/test/hooks_lru.bin", 200), 0);
        {
            sim::TaskScope as(w.task());
            ASSERT_EQ(sim::mm_file_read("/data/test/hooks_lru_read.bin", 100), 0);
            ASSERT_EQ(sim::mm_file_read("/data/test/hooks_lru_read.bin", 100), 0);
        }
        // Read twice: activated.
        EXPECT_EQ(hooked(memcg, LRU_ACTIVE_FILE), 100);
        for (int i = 0; i < 5; i++)
            try_to_free_mem_cgroup_pages(memcg, 200, GFP_KERNEL, true);
        auto stat = mm_test::memcg_stat(w.group());
        for (int lru = 0; lru < NR_LRU_LISTS; lru++)
            EXPECT_EQ(hooked(memcg, lru) * 4096, stat[names[lru]]) << names[lru];
        EXPECT_EQ(hooked(memcg, LRU_UNEVICTABLE), 20);
    }
    // The task's exit freed its anonymous pages and rmdir moved the page cache to the root:
    // through the hooks, every list of the group is empty again.
    for (int lru = 0; lru < NR_LRU_LISTS; lru++)
        EXPECT_EQ(hooked(memcg, lru), 0) << names[lru];
}

TEST(CompoundPageTest, PageMapcount_FileThpSubPages) {
    sim::mm_file_set_order("/data/test/thp.oat", 2);
    struct task_struct *a = sim::task_create_user("thp_a"), *b = sim::task_create_user("thp_b");
    ASSERT_EQ(sim::mm_map_file(a, "/data/test/thp.oat", 4), 0);
    ASSERT_EQ(sim::mm_map_file(b, "/data/test/thp.oat", 3), 0);
    struct page *head = sim::mm_file_page("/data/test/thp.oat", 0);
    ASSERT_NE(head, nullptr);
    EXPECT_TRUE(PageHead(head));
    EXPECT_TRUE(PageLRU(head));
    EXPECT_EQ(head[1].compound_nr, 4u);
    EXPECT_EQ(compound_nr(head), 4u);
    for (int i = 1; i < 4; i++) {
        EXPECT_EQ(head[i].compound_head, (unsigned long)head | 1) << i;
        EXPECT_EQ(compound_head(&head[i]), head);
        EXPECT_EQ(sim::mm_file_page("/data/test/thp.oat", i), &head[i]);
    }
    EXPECT_EQ(page_mapcount(&head[2]), 2);
    EXPECT_EQ(page_mapcount(&head[3]), 1);
    EXPECT_EQ(__page_mapcount(&head[0]), 2);
    sim::task_exit(a);
    sim::task_exit(b);
    EXPECT_EQ(page_mapcount(&head[0]), 0);
}

TEST(CompoundPageTest, PageMapcount_AnonAddsCompoundMapcount) {
    // 5.10's rule for an anonymous THP mapped by a PMD as well as by PTEs.
    struct page *pages = static_cast<struct page *>(aligned_alloc(64, 4 * sizeof(struct page)));
    memset(pages, 0, 4 * sizeof(struct page));
    static struct anon_vma *av;
    pages[0].flags = 1UL << PG_head;
    pages[0].mapping = (struct address_space *)((uintptr_t)&av | PAGE_MAPPING_ANON);
    for (int i = 1; i < 4; i++)
        pages[i].compound_head = (unsigned long)pages | 1;
    pages[1].compound_order = 2;
    pages[1].compound_nr = 4;
    for (int i = 0; i < 4; i++)
        atomic_set(&pages[i]._mapcount, 0);
    atomic_set(&pages[1].compound_mapcount, 0);
    EXPECT_EQ(page_mapcount(&pages[2]), 2);
    pages[1].flags |= 1UL << PG_double_map;
    EXPECT_EQ(page_mapcount(&pages[2]), 1);
    free(pages);
}

std::atomic<int> walks{0};
std::atomic<bool> walk_ok{true};
void on_walk(void *, struct lruvec *lruvec) {
    walks++;
    if (lruvec_pgdat(lruvec) != NODE_DATA(0) || !spin_is_locked(&NODE_DATA(0)->lru_lock) ||
        !irqs_disabled())
        walk_ok = false;
}

TEST(TraversalTest, DoTraversalAllLruvec_OncePerGroupUnderTheNodeLockIrqsOff) {
    int groups = 0;
    for (struct mem_cgroup *m = mem_cgroup_iter(nullptr, nullptr, nullptr); m;
         m = mem_cgroup_iter(nullptr, m, nullptr))
        groups++;
    ASSERT_EQ(register_trace_android_vh_do_traversal_lruvec(on_walk, nullptr), 0);
    do_traversal_all_lruvec();
    unregister_trace_android_vh_do_traversal_lruvec(on_walk, nullptr);
    tracepoint_synchronize_unregister();
    EXPECT_GT(groups, 30);
    EXPECT_EQ(walks, groups);
    EXPECT_TRUE(walk_ok);
}

void enables_irqs(void *, struct page *, bool, enum lru_list) {
    local_irq_enable();
}

TEST(TraversalTest, Probe_ReenablingIrqsIsWarned) {
    uint64_t mark = sim::log_next_seq();
    ASSERT_EQ(register_trace_android_vh_add_page_to_lrulist(enables_irqs, nullptr), 0);
    ASSERT_EQ(sim::mm_file_read("/data/test/irq_probe.bin", 1), 0);
    unregister_trace_android_vh_add_page_to_lrulist(enables_irqs, nullptr);
    tracepoint_synchronize_unregister();
    bool warned = false;
    for (const std::string &t : sim::log_texts_since(mark))
        warned |= t.find("android_vh_add_page_to_lrulist returned with interrupts enabled") !=
                  std::string::npos;
    EXPECT_TRUE(warned);
}

void leaves_rcu_section(void *, struct page *, bool, enum lru_list) {
    rcu_read_lock();
}

// The probe's section is closed for it: the caller leaves the hook outside any section, and a
// grace period (which would wait for this thread forever otherwise) completes.
TEST(TraversalTest, Probe_LeavingAnRcuSectionIsWarnedAndClosed) {
    uint64_t mark = sim::log_next_seq();
    ASSERT_EQ(register_trace_android_vh_add_page_to_lrulist(leaves_rcu_section, nullptr), 0);
    ASSERT_EQ(sim::mm_file_read("/data/test/rcu_probe.bin", 1), 0);
    bool held = rcu_read_lock_held();
    while (rcu_read_lock_held())
        rcu_read_unlock();
    EXPECT_FALSE(held);
    unregister_trace_android_vh_add_page_to_lrulist(leaves_rcu_section, nullptr);
    tracepoint_synchronize_unregister();
    int warnings = 0;
    for (const std::string &t : sim::log_texts_since(mark))
        warnings += t.find(
                        "android_vh_add_page_to_lrulist returned inside an RCU read-side "
                        "section") != std::string::npos;
    EXPECT_EQ(warnings, 1);
}

}  // namespace
