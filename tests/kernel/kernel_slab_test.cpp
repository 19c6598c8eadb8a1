// kmalloc accounting per calling module, leak release after module exit, and the kmalloc
// fault-injection modes.
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "simkernel/kernel/fault.h"
#include "simkernel/kernel/printk_log.h"
#include "simkernel/mm/slab_stats.h"
#include "tests/kernel/fake_module.h"

namespace {

class SlabTest : public ::testing::Test {
  protected:
    void TearDown() override { sim::fault_clear(); }

    void arm(sim::FaultRule::Mode mode, uint64_t count, std::string module = "",
             double probability = 0, uint64_t seed = 1) {
        sim::FaultRule r;
        r.op = std::string(sim::fault_op::kmalloc);
        r.module = std::move(module);
        r.mode = mode;
        r.count = count;
        r.probability = probability;
        r.seed = seed;
        sim::fault_arm(r);
    }

    // Which of n allocations by module a fail (true), freeing the others.
    std::vector<bool> failures(int n) {
        std::vector<bool> out;
        for (int i = 0; i < n; i++) {
            void *p = a_.alloc(32);
            out.push_back(p == nullptr);
            kfree(p);
        }
        return out;
    }

    simtest::FakeModule a_{SIMTEST_FAKE_MODULE(moda, "fakemod_a")};
    simtest::FakeModule b_{SIMTEST_FAKE_MODULE(modb, "fakemod_b")};
};

TEST_F(SlabTest, Kmalloc_ChargesTheCallingModule) {
    uint64_t kernel_count = sim::slab_module_count(nullptr);
    void *p = a_.alloc(100);
    void *q = a_.alloc_record();
    void *r = b_.alloc(7);
    ASSERT_NE(p, nullptr);
    ASSERT_NE(q, nullptr);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(sim::slab_module_bytes(a_.mod()), 124u);
    EXPECT_EQ(sim::slab_module_count(a_.mod()), 2u);
    EXPECT_EQ(sim::slab_module_bytes(b_.mod()), 7u);
    EXPECT_EQ(sim::slab_module_count(nullptr), kernel_count);
    kfree(p);
    kfree(q);
    kfree(r);
    EXPECT_EQ(sim::slab_module_bytes(a_.mod()), 0u);
    EXPECT_EQ(sim::slab_module_count(a_.mod()), 0u);
    EXPECT_EQ(sim::slab_module_count(b_.mod()), 0u);
}

TEST_F(SlabTest, Kzalloc_ZeroesAndKmallocDoesNot) {
    auto *z = static_cast<unsigned char *>(a_.alloc(64, GFP_KERNEL | __GFP_ZERO));
    auto *rec = static_cast<unsigned char *>(a_.alloc_record());
    auto *m = static_cast<unsigned char *>(a_.alloc(64));
    ASSERT_TRUE(z && rec && m);
    bool z_zero = true, rec_zero = true, m_zero = true;
    for (int i = 0; i < 64; i++)
        z_zero &= z[i] == 0, m_zero &= m[i] == 0;
    for (int i = 0; i < 24; i++)
        rec_zero &= rec[i] == 0;
    EXPECT_TRUE(z_zero);
    EXPECT_TRUE(rec_zero);
    EXPECT_FALSE(m_zero) << "memory not asked to be zeroed must not look zeroed";
    kfree(z);
    kfree(rec);
    kfree(m);
}

TEST_F(SlabTest, ZeroSize_GivesZeroSizePtrAndFreesAreNoOps) {
    EXPECT_EQ(a_.alloc(0), ZERO_SIZE_PTR);
    EXPECT_EQ(sim::slab_module_count(a_.mod()), 0u);
    kfree(nullptr);
    kfree(ZERO_SIZE_PTR);
    // No allocation is made for size 0, so nothing can fail either.
    arm(sim::FaultRule::Mode::next, 1);
    EXPECT_EQ(a_.alloc(0), ZERO_SIZE_PTR);
}

TEST_F(SlabTest, Leftovers_ReleasedAfterModuleExit) {
    ASSERT_NE(a_.alloc_record(), nullptr);
    char *s = a_.strndup("abcdef", 3);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(sim::slab_module_bytes(a_.mod()), 28u);
    uint64_t mark = sim::log_next_seq();
    std::vector<sim::Leftover> left = sim::resource_release_all(a_.mod());
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(left[0].kind, "allocation");
    EXPECT_EQ(left[0].name, "4 bytes");  // the most recent first
    EXPECT_EQ(left[1].name, "24 bytes");
    EXPECT_EQ(sim::slab_module_count(a_.mod()), 0u);
    std::vector<std::string> lines = sim::log_texts_since(mark);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1],
              "fakemod_a: allocation '24 bytes' still registered after module exit, released");
}

TEST_F(SlabTest, FaultNext_FailsTheNextCalls) {
    arm(sim::FaultRule::Mode::next, 2);
    EXPECT_EQ(failures(4), (std::vector<bool>{true, true, false, false}));
    EXPECT_EQ(sim::fault_injected_count(sim::fault_op::kmalloc), 2u);
}

TEST_F(SlabTest, FaultNth_FailsOnlyThatCall) {
    arm(sim::FaultRule::Mode::nth, 3);
    EXPECT_EQ(failures(5), (std::vector<bool>{false, false, true, false, false}));
}

TEST_F(SlabTest, FaultRandom_ReproducibleBySeed) {
    arm(sim::FaultRule::Mode::random, 0, "", 0.5, 42);
    std::vector<bool> first = failures(64);
    arm(sim::FaultRule::Mode::random, 0, "", 0.5, 42);
    EXPECT_EQ(failures(64), first);
    arm(sim::FaultRule::Mode::random, 0, "", 0.5, 43);
    EXPECT_NE(failures(64), first);
    int failed = 0;
    for (bool f : first)
        failed += f;
    EXPECT_GT(failed, 0);
    EXPECT_LT(failed, 64);
}

TEST_F(SlabTest, FaultForOneModule_OthersUnaffected) {
    arm(sim::FaultRule::Mode::next, 100, "fakemod_a");
    EXPECT_EQ(a_.alloc(16), nullptr);
    EXPECT_EQ(a_.alloc_record(), nullptr);
    EXPECT_EQ(a_.strndup("x", 1), nullptr);
    void *p = b_.alloc(16);
    EXPECT_NE(p, nullptr);
    kfree(p);
    p = kmalloc(16, GFP_KERNEL);  // the kernel's own
    EXPECT_NE(p, nullptr);
    kfree(p);
    EXPECT_EQ(sim::slab_module_count(a_.mod()), 0u);
}

TEST_F(SlabTest, FaultNofail_NeverFails) {
    arm(sim::FaultRule::Mode::next, 1);
    void *p = a_.alloc(16, GFP_KERNEL | __GFP_NOFAIL);
    EXPECT_NE(p, nullptr);
    kfree(p);
    EXPECT_EQ(a_.alloc(16), nullptr);
}

TEST_F(SlabTest, Krealloc_KeepsContentsAndOldBlockOnFailure) {
    char *p = static_cast<char *>(kmalloc(4, GFP_KERNEL));
    ASSERT_NE(p, nullptr);
    memcpy(p, "abc", 4);
    char *q = static_cast<char *>(krealloc(p, 64, GFP_KERNEL));
    ASSERT_NE(q, nullptr);
    EXPECT_STREQ(q, "abc");
    arm(sim::FaultRule::Mode::next, 1);
    EXPECT_EQ(krealloc(q, 128, GFP_KERNEL), nullptr);
    EXPECT_STREQ(q, "abc");
    EXPECT_EQ(krealloc(q, 0, GFP_KERNEL), ZERO_SIZE_PTR);
}

TEST_F(SlabTest, Kcalloc_OverflowGivesNull) {
    size_t huge = SIZE_MAX / 2;
    EXPECT_EQ(kcalloc(huge, 4, GFP_KERNEL), nullptr);
    EXPECT_EQ(kmalloc_array(huge, 3, GFP_KERNEL), nullptr);
    auto *v = static_cast<int *>(kcalloc(8, sizeof(int), GFP_KERNEL));
    ASSERT_NE(v, nullptr);
    for (int i = 0; i < 8; i++)
        EXPECT_EQ(v[i], 0);
    kfree(v);
}

void set_cookie(void *p) {
    *static_cast<uint32_t *>(p) = 0xc0ffee;
}

TEST_F(SlabTest, KmemCache_ConstructsAndRefusesToDestroyWithObjects) {
    struct kmem_cache *c = kmem_cache_create("test_cache", 40, 8, 0, set_cookie);
    ASSERT_NE(c, nullptr);
    auto *o = static_cast<uint32_t *>(kmem_cache_alloc(c, GFP_KERNEL));
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(*o, 0xc0ffeeu);
    uint64_t mark = sim::log_next_seq();
    kmem_cache_destroy(c);
    std::vector<std::string> lines = sim::log_texts_since(mark);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "kmem_cache_destroy test_cache: Slab cache still has objects");
    kmem_cache_free(c, o);
    kmem_cache_destroy(c);
}

TEST_F(SlabTest, ConcurrentAllocations_AccountingBalances) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++)
        threads.emplace_back([this, t] {
            simtest::FakeModule &m = t % 2 ? b_ : a_;
            for (int i = 0; i < 500; i++) {
                void *p = m.alloc(static_cast<size_t>(i % 50 + 1));
                ASSERT_NE(p, nullptr);
                kfree(p);
            }
        });
    for (std::thread &th : threads)
        th.join();
    EXPECT_EQ(sim::slab_module_count(a_.mod()), 0u);
    EXPECT_EQ(sim::slab_module_bytes(b_.mod()), 0u);
}

}  // namespace
