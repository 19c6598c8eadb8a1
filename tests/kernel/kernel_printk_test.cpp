// The kernel log: levels, the default level, continuation lines, timestamps, records without a
// newline, the bounded log and the dmesg formats.
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "simkernel/kernel/printk_log.h"
#include "simkernel/kernel/sim_time.h"
#include "simkernel/kernel/task.h"

#include <platform/printk.h>

namespace {

class PrintkTest : public ::testing::Test {
  protected:
    void SetUp() override { mark_ = sim::log_next_seq(); }
    void TearDown() override { sim::log_set_capacity(size_t(1) << 17); }

    std::vector<sim::LogRecord> since() { return sim::log_records_since(mark_); }

    uint64_t mark_ = 0;
};

TEST_F(PrintkTest, Levels_FromPrefix) {
    // The prefix is read from the formatted text, so it may also come in through %s.
    const struct {
        const char *prefix;
        int level;
    } cases[] = {
        {KERN_EMERG, 0},         {KERN_ALERT, 1},   {KERN_CRIT, 2},
        {KERN_ERR, 3},           {KERN_WARNING, 4}, {KERN_NOTICE, 5},
        {KERN_INFO, 6},          {KERN_DEBUG, 7},   {"", MESSAGE_LOGLEVEL_DEFAULT},
        {KERN_ERR KERN_INFO, 3},  // the first level wins
    };
    for (const auto &c : cases) {
        uint64_t mark = sim::log_next_seq();
        printk("%sm", c.prefix);
        std::vector<sim::LogRecord> recs = sim::log_records_since(mark);
        ASSERT_EQ(recs.size(), 1u) << "level " << c.level;
        EXPECT_EQ(recs[0].level, c.level);
        EXPECT_EQ(recs[0].text, "m");
    }
    // An unknown prefix is text.
    printk(
        "\001"
        "x"
        "text\n");
    EXPECT_EQ(since().back().text, "\001xtext");
    EXPECT_EQ(since().back().level, MESSAGE_LOGLEVEL_DEFAULT);
}

TEST_F(PrintkTest, Printk_FormatsAndReturnsTextLength) {
    EXPECT_EQ(printk(KERN_INFO "%s=%d\n", "value", 42), 8);
    ASSERT_EQ(since().size(), 1u);
    EXPECT_EQ(since()[0].text, "value=42");
}

TEST_F(PrintkTest, Cont_AppendsToTheOpenRecord) {
    printk(KERN_ERR "perflock_exception cant copy_from_userbuf");
    pr_cont(" more");
    pr_cont(" end\n");
    pr_cont("orphan\n");
    std::vector<sim::LogRecord> recs = since();
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(recs[0].text, "perflock_exception cant copy_from_userbuf more end");
    EXPECT_EQ(recs[0].level, 3);
    // A continuation with nothing open starts a record at the default level.
    EXPECT_EQ(recs[1].text, "orphan");
    EXPECT_EQ(recs[1].level, MESSAGE_LOGLEVEL_DEFAULT);
}

TEST_F(PrintkTest, NoNewline_IsStillOneRecordAndNextLineIsNew) {
    pr_err("first without newline");
    pr_info("second\n");
    std::vector<sim::LogRecord> recs = since();
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(recs[0].text, "first without newline");
    EXPECT_EQ(recs[1].text, "second");
    EXPECT_EQ(recs[1].seq, recs[0].seq + 1);
}

TEST_F(PrintkTest, Cont_FromAnotherTaskStartsANewRecord) {
    pr_info("open");
    struct task_struct *other = sim::task_create_user("printk_other");
    {
        sim::TaskScope as(other);
        pr_cont(" from other\n");
    }
    sim::task_exit(other);
    std::vector<sim::LogRecord> recs = since();
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(recs[0].text, "open");
    EXPECT_EQ(recs[1].text, " from other");
}

TEST_F(PrintkTest, Timestamp_FromMonotonicClockAtFirstPrint) {
    uint64_t t0 = sim::clock_monotonic_ns();
    pr_info("a");
    sim::time_advance(1500000000ULL);
    pr_cont("b\n");
    pr_info("c\n");
    std::vector<sim::LogRecord> recs = since();
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(recs[0].ts_ns, t0);
    EXPECT_EQ(recs[1].ts_ns, t0 + 1500000000ULL);
}

TEST_F(PrintkTest, Format_DmesgAndRaw) {
    sim::LogRecord rec{0, 3, 12000104999ULL, "hello"};
    EXPECT_EQ(sim::log_format(rec), "[   12.000104] hello\n");
    EXPECT_EQ(sim::log_format(rec, true), "<3>[   12.000104] hello\n");
    rec.ts_ns = 123456789012345ULL;
    EXPECT_EQ(sim::log_format(rec), "[123456.789012] hello\n");
    sim::LogRecord two{0, 6, 0, "one\ntwo"};
    EXPECT_EQ(sim::log_format(two, true), "<6>[    0.000000] one\n<6>[    0.000000] two\n");
}

TEST_F(PrintkTest, LongText_CutToTheRecordLimit) {
    std::string big(2000, 'x');
    printk(KERN_INFO "%s\n", big.c_str());
    ASSERT_EQ(since().size(), 1u);
    // LOG_LINE_MAX less the NUL and the two bytes of the level prefix.
    EXPECT_EQ(since()[0].text.size(), 1024u - 32u - 1u - 2u);
}

TEST_F(PrintkTest, Capacity_DropsOldestRecords) {
    sim::log_set_capacity(10);
    pr_info("aaaa\n");
    pr_info("bbbb\n");
    pr_info("cccc\n");
    std::vector<sim::LogRecord> recs = since();
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(recs[0].text, "bbbb");
    EXPECT_EQ(recs[1].text, "cccc");
}

TEST_F(PrintkTest, Clear_EmptiesLogButKeepsSequence) {
    pr_info("before\n");
    uint64_t next = sim::log_next_seq();
    sim::log_clear();
    EXPECT_TRUE(sim::log_records().empty());
    pr_info("after\n");
    ASSERT_EQ(sim::log_records().size(), 1u);
    EXPECT_EQ(sim::log_records()[0].seq, next);
}

TEST_F(PrintkTest, ConcurrentPrinters_EveryLineIsOneRecord) {
    constexpr int kThreads = 4, kLines = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; t++)
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; i++)
                pr_info("t%d line %d\n", t, i);
        });
    for (std::thread &th : threads)
        th.join();
    std::vector<sim::LogRecord> recs = since();
    ASSERT_EQ(recs.size(), size_t(kThreads * kLines));
    for (size_t i = 1; i < recs.size(); i++)
        EXPECT_EQ(recs[i].seq, recs[i - 1].seq + 1);
}

}  // namespace
