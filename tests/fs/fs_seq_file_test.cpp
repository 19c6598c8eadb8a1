// seq_file as procfs entries use it: the one-page buffer that doubles when show overflows it,
// show once per open, a fresh show after a seek back to 0, reads in chunks and at offsets.
#include "tests/fs/fs_test_util.h"

#include <gtest/gtest.h>

#include <platform/proc_fs.h>
#include <platform/seq_file.h>

#include <string>

namespace {

using sim::vfs::O_RDONLY_;
using sim::vfs::SEEK_CUR_;
using sim::vfs::SEEK_SET_;

int show_calls;
std::string show_text;  // what show prints, through the routine under test

int show_puts(struct seq_file *m, void *) {
    show_calls++;
    seq_puts(m, show_text.c_str());
    return 0;
}

int show_printf(struct seq_file *m, void *) {
    show_calls++;
    seq_printf(m, "%s", show_text.c_str());
    return 0;
}

int show_putc(struct seq_file *m, void *) {
    show_calls++;
    for (char c : show_text)
        seq_putc(m, c);
    return 0;
}

int show_write(struct seq_file *m, void *) {
    show_calls++;
    seq_write(m, show_text.data(), show_text.size());
    return 0;
}

std::string pattern(size_t n) {
    std::string s;
    for (size_t i = 0; s.size() < n; i++)
        s += "line " + std::to_string(i) + "\n";
    s.resize(n);
    return s;
}

class SeqFileTest : public ::testing::Test {
  protected:
    void SetUp() override { show_calls = 0; }
    void TearDown() override { remove_proc_entry("seqtest", nullptr); }

    void make(int (*show)(struct seq_file *, void *)) {
        ASSERT_NE(proc_create_single("seqtest", 0444, nullptr, show), nullptr);
    }
};

TEST_F(SeqFileTest, Show_OverflowGrowsBufferAndShowsAgain) {
    const struct {
        const char *what;
        int (*show)(struct seq_file *, void *);
        size_t size;
        int calls;  // show runs once per buffer size tried
    } cases[] = {
        {"puts fits", show_puts, 4095, 1},      {"puts page", show_puts, 4096, 2},
        {"printf big", show_printf, 5000, 2},   {"putc page", show_putc, 4096, 2},
        {"write 3 pages", show_write, 9000, 3}, {"printf small", show_printf, 10, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        show_calls = 0;
        show_text = pattern(c.size);
        make(c.show);
        std::string out;
        ASSERT_EQ(sim::vfs::read_file("/proc/seqtest", &out), 0);
        EXPECT_EQ(out, show_text);
        EXPECT_EQ(show_calls, c.calls);
        remove_proc_entry("seqtest", nullptr);
    }
}

TEST_F(SeqFileTest, Read_SmallChunksShowOnce) {
    show_text = pattern(3000);
    make(show_puts);
    int fd = sim::vfs::open("/proc/seqtest", O_RDONLY_);
    ASSERT_GE(fd, 0);
    std::string out;
    EXPECT_EQ(fstest::read_all(fd, &out, 7), 0);
    EXPECT_EQ(out, show_text);
    EXPECT_EQ(show_calls, 1);
    sim::vfs::close(fd);
}

TEST_F(SeqFileTest, Read_AgainAtEofDoesNotShow) {
    show_text = "abc\n";
    make(show_puts);
    int fd = sim::vfs::open("/proc/seqtest", O_RDONLY_);
    char buf[16];
    EXPECT_EQ(sim::vfs::read(fd, buf, sizeof(buf)), 4);
    EXPECT_EQ(sim::vfs::read(fd, buf, sizeof(buf)), 0);
    EXPECT_EQ(sim::vfs::read(fd, buf, sizeof(buf)), 0);
    EXPECT_EQ(show_calls, 1);
    sim::vfs::close(fd);
}

TEST_F(SeqFileTest, Lseek_BackToZeroShowsAgain) {
    show_text = "first\n";
    make(show_puts);
    int fd = sim::vfs::open("/proc/seqtest", O_RDONLY_);
    std::string out;
    fstest::read_all(fd, &out);
    EXPECT_EQ(out, "first\n");
    show_text = "second\n";
    EXPECT_EQ(sim::vfs::lseek(fd, 0, SEEK_SET_), 0);
    fstest::read_all(fd, &out);
    EXPECT_EQ(out, "second\n");
    EXPECT_EQ(show_calls, 2);
    sim::vfs::close(fd);
}

TEST_F(SeqFileTest, Lseek_ToOffsetServesTheRest) {
    show_text = "0123456789";
    make(show_puts);
    int fd = sim::vfs::open("/proc/seqtest", O_RDONLY_);
    EXPECT_EQ(sim::vfs::lseek(fd, 4, SEEK_SET_), 4);
    std::string out;
    fstest::read_all(fd, &out);
    EXPECT_EQ(out, "456789");
    EXPECT_EQ(sim::vfs::lseek(fd, -3, SEEK_CUR_), 7);
    fstest::read_all(fd, &out);
    EXPECT_EQ(out, "789");
    EXPECT_EQ(sim::vfs::lseek(fd, -1, SEEK_SET_), -EINVAL);
    sim::vfs::close(fd);
}

TEST_F(SeqFileTest, Open_EachOpenShowsAfresh) {
    show_text = "x\n";
    make(show_puts);
    std::string out;
    for (int i = 0; i < 3; i++)
        ASSERT_EQ(sim::vfs::read_file("/proc/seqtest", &out), 0);
    EXPECT_EQ(show_calls, 3);
}

TEST(SeqFileBuffer, Printf_OverflowMarksCountEqualSize) {
    char buf[8];
    struct seq_file m {};
    m.buf = buf;
    m.size = sizeof(buf);
    seq_printf(&m, "%s", "12345678");  // 8 bytes and the NUL do not fit
    EXPECT_TRUE(seq_has_overflowed(&m));
    m.count = 0;
    seq_printf(&m, "%d", 123456);
    EXPECT_FALSE(seq_has_overflowed(&m));
    EXPECT_EQ(m.count, 6u);
    seq_puts(&m, "xy");  // 6 + 2 reaches the end: no room for the NUL
    EXPECT_TRUE(seq_has_overflowed(&m));
    m.count = 6;
    EXPECT_EQ(seq_write(&m, "y", 1), 0);
    EXPECT_EQ(seq_write(&m, "z", 1), -1);
    EXPECT_TRUE(seq_has_overflowed(&m));
}

}  // namespace
