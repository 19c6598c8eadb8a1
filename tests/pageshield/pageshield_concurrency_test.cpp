// The probes on several threads at once: no crossing or list change lost in the running
// counts, and rmmod while mapping and reclaim run on other threads.
#include "pageshield_test_util.h"

#include "tests/mm/mm_test_util.h"

#include <platform/memcontrol.h>
#include <platform/swap.h>

#include <atomic>
#include <thread>

namespace pageshield_test {
namespace {

constexpr int kThreads = 4;

template <typename Fn>
void on_threads(Fn fn) {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; t++)
        threads.emplace_back(fn, t);
    for (auto &th : threads)
        th.join();
}

class PageshieldConcurrencyTest : public PageshieldTest {};

// Each page crosses the threshold once on the way up and once on the way down, whichever
// thread's mapping makes it cross.
TEST_F(PageshieldConcurrencyTest, UpdatePageMapcount_CrossingsNotLost) {
    SyntheticPages pages(64, 1UL << PG_lru, 0);
    Report base = report();
    on_threads([&](int) {
        for (int round = 0; round < 10; round++)
            for (size_t i = 0; i < pages.size(); i++) {
                bool first, success = false;
                trace_android_vh_update_page_mapcount(pages[i], true, false, &first, &success);
            }
    });
    Report up = report();
    EXPECT_EQ(up.sum_file() - base.sum_file(), 64);
    // A statistic: some increment's value, at most the highest count reached.
    EXPECT_GT(up.max_file(), base.sum_file());
    EXPECT_LE(up.max_file(), base.sum_file() + 64);
    for (size_t i = 0; i < pages.size(); i++)
        EXPECT_EQ(page_mapcount(pages[i]), kThreads * 10) << i;
    on_threads([&](int) {
        for (int round = 0; round < 10; round++)
            for (size_t i = 0; i < pages.size(); i++) {
                bool success = false;
                trace_android_vh_update_page_mapcount(pages[i], false, false, nullptr, &success);
            }
    });
    EXPECT_EQ(report().sum_file(), base.sum_file());
    for (size_t i = 0; i < pages.size(); i++)
        EXPECT_EQ(page_mapcount(pages[i]), 0) << i;
}

TEST_F(PageshieldConcurrencyTest, LruProbes_AdditionsAndRemovalsNotLost) {
    SyntheticPages anon(32, 1UL << PG_swapbacked, 30), file(32, 0, 30);
    Report base = report();
    on_threads([&](int t) {
        SyntheticPages &mine = t % 2 ? anon : file;
        enum lru_list lru = t % 2 ? LRU_ACTIVE_ANON : LRU_INACTIVE_FILE;
        for (int round = 0; round < 200; round++)
            for (size_t i = 0; i < mine.size(); i++)
                trace_android_vh_add_page_to_lrulist(mine[i], false, lru);
        for (int round = 0; round < 150; round++)
            for (size_t i = 0; i < mine.size(); i++)
                trace_android_vh_del_page_from_lrulist(mine[i], false, lru);
    });
    Report r = report();
    EXPECT_EQ(r.sum_anon() - base.sum_anon(), 2 * 50 * 32);
    EXPECT_EQ(r.sum_file() - base.sum_file(), 2 * 50 * 32);
    EXPECT_LE(r.max_anon(), base.sum_anon() + 2 * 200 * 32);
}

// Reports read at once reset and refill the same fresh counters, so each may print a mixture;
// the walks themselves serialise and leave interrupts as the kernel expects.
TEST_F(PageshieldConcurrencyTest, Show_ConcurrentReportsThenAQuietOne) {
    std::string expected = read(kReport);
    on_threads([&](int) {
        for (int i = 0; i < 5; i++)
            read(kReport);
    });
    EXPECT_EQ(read(kReport), expected);
    for (const auto &line : log())
        EXPECT_EQ(line.find("WARNING"), std::string::npos) << line;
}

// Every mapping made while the module comes and goes is undone exactly: the probe or the
// kernel updates each counter, never both, never neither.
TEST_F(PageshieldConcurrencyTest, Unload_WhileMappingAndReclaimRun) {
    mm_test::Workload w("ps_rmmod", "ps_rmmod");
    const std::string file = "/data/test/ps_rmmod.so";
    std::atomic<bool> stop{false};
    std::atomic<int> rounds{0};
    std::thread mapper([&] {
        while (!stop.load()) {
            Mappers m(file, 16, w.memcg());
            m.resize(22);
            rounds++;
        }
    });
    std::thread reclaimer([&] {
        struct task_struct *t = sim::task_create_user("ps_reclaimer");
        {
            sim::TaskScope as(t);
            while (!stop.load())
                try_to_free_mem_cgroup_pages(w.memcg(), 64, GFP_KERNEL, true);
        }
        sim::task_exit(t);
    });
    for (int i = 0; i < 6; i++) {
        ASSERT_EQ(sim::module_unload("pageshield"), 0);
        ASSERT_EQ(sim::module_load("pageshield"), 0);
    }
    stop = true;
    mapper.join();
    reclaimer.join();
    EXPECT_GT(rounds.load(), 0);
    for (unsigned long i = 0; i < 16; i++) {
        if (struct page *p = sim::mm_file_page(file, i)) {
            EXPECT_EQ(atomic_read(&p->_mapcount), -1) << "page " << i;
        }
    }
    for (const auto &line : log()) {
        EXPECT_EQ(line.find("still"), std::string::npos) << line;
        EXPECT_EQ(line.find("WARNING"), std::string::npos) << line;
        EXPECT_EQ(line.find("BUG"), std::string::npos) << line;
    }
    // Changes between a load's seeding walk and the switch going on are missed, so only a load
    // on a quiet system starts from the true counts.
    ASSERT_EQ(sim::module_unload("pageshield"), 0);
    ASSERT_EQ(sim::module_load("pageshield"), 0);
    expect_counts_agree(report());
}

}  // namespace
}  // namespace pageshield_test
