// The record logs perflock_records, zomdlog and perflock_exception: formats, limits, the
// wrap-around of the rings and of the exception table, and writers racing with readers.
#include "vmassist_test_util.h"

#include "simkernel/kernel/lock_hold.h"

#include <cerrno>
#include <functional>
#include <sstream>
#include <thread>

namespace vmassist_test {
namespace {

// 2023-11-14 22:13:20 UTC
constexpr int64_t kWall = 1700000000;
const char *const kStamp = "2023-11-14 22:13:20 UTC";

std::vector<std::string> lines(const std::string &text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        out.push_back(l);
    return out;
}

class VmassistRecordLogsTest : public VmassistTest {
  protected:
    void SetUp() override {
        VmassistTest::SetUp();
        sim::clock_set_wall(kWall);
    }
};

class VmassistRingTest : public VmassistRecordLogsTest,
                         public ::testing::WithParamInterface<const char *> {
  protected:
    std::string node() const { return std::string("/proc/") + GetParam(); }
    std::string other() const {
        return std::string(GetParam()) == "zomdlog" ? "/proc/perflock_records" : "/proc/zomdlog";
    }
    std::string lock_class() const {
        return std::string(GetParam()) == "zomdlog" ? "ml_lock" : "plr_lock";
    }
};

// Reads `path` on another thread while that thread is held with the log's lock taken, runs
// `while_held`, then lets the reader finish; returns what the reader listed.
std::string read_while_lock_held(const std::string &path, const std::string &lock_class,
                                 const std::function<void()> &while_held) {
    std::string listing;
    sim::LockHold hold(lock_class);
    std::thread reader([&] { EXPECT_EQ(sim::vfs::read_file(path, &listing), 0); });
    hold.wait_held();
    while_held();
    hold.release();
    reader.join();
    return listing;
}

TEST_P(VmassistRingTest, Show_EmptyLogIsZeroBytes) {
    EXPECT_EQ(read(node()), "");
}

TEST_P(VmassistRingTest, Write_KeepsTrailingNewline) {
    EXPECT_EQ(write(node(), "hello\n"), 6);
    EXPECT_EQ(read(node()), std::string(kStamp) + " { hello\n }\n");
}

TEST_P(VmassistRingTest, Write_StampsWallClockSeconds) {
    EXPECT_EQ(write(node(), "a"), 1);
    sim::clock_set_wall(kWall + 3661);
    EXPECT_EQ(write(node(), "b"), 1);
    EXPECT_EQ(read(node()), std::string(kStamp) + " { a }\n2023-11-14 23:14:21 UTC { b }\n");
}

TEST_P(VmassistRingTest, Write_LengthLimits) {
    EXPECT_EQ(write(node(), std::string(129, 'x')), -EINVAL);
    EXPECT_EQ(read(node()), "");
    EXPECT_EQ(write(node(), std::string(128, 'y')), 128);
    EXPECT_EQ(read(node()), std::string(kStamp) + " { " + std::string(127, 'y') + " }\n");
    EXPECT_TRUE(log().empty());
}

TEST_P(VmassistRingTest, Write_UnreadableBufferIsEfault) {
    sim::FaultRule rule;
    rule.op = std::string(sim::fault_op::copy_from_user);
    rule.module = "vmassist";
    sim::fault_arm(rule);
    EXPECT_EQ(write(node(), "x"), -EFAULT);
    EXPECT_EQ(read(node()), "");
    EXPECT_TRUE(log().empty());
}

TEST_P(VmassistRingTest, Write_WrapsAfter2048Records) {
    for (int i = 1; i <= 2050; i++)
        ASSERT_EQ(write(node(), "r" + std::to_string(i)), long(std::to_string(i).size() + 1));
    auto l = lines(read(node()));
    ASSERT_EQ(l.size(), 2048u);
    EXPECT_EQ(l.front(), std::string(kStamp) + " { r3 }");
    EXPECT_EQ(l.back(), std::string(kStamp) + " { r2050 }");
    EXPECT_EQ(l[2045], std::string(kStamp) + " { r2048 }");
}

TEST_P(VmassistRingTest, Write_LeavesTheOtherRingAlone) {
    EXPECT_EQ(write(other(), "other"), 5);
    EXPECT_EQ(write(node(), "mine"), 4);
    EXPECT_EQ(read(other()), std::string(kStamp) + " { other }\n");
    EXPECT_EQ(read(node()), std::string(kStamp) + " { mine }\n");
}

// A writer never waits for a reader: it drops its record and still reports the whole write.
TEST_P(VmassistRingTest, Write_DroppedWhileAReaderHoldsTheLock) {
    EXPECT_EQ(write(node(), "kept"), 4);
    const std::string kept = std::string(kStamp) + " { kept }\n";
    std::string listing = read_while_lock_held(node(), lock_class(), [this] {
        EXPECT_EQ(write(node(), "dropped"), 7);
        // The other ring has its own lock.
        EXPECT_EQ(write(other(), "other"), 5);
    });
    EXPECT_EQ(listing, kept);
    EXPECT_EQ(write(node(), "after"), 5);
    EXPECT_EQ(read(node()), kept + kStamp + " { after }\n");
    EXPECT_EQ(read(other()), std::string(kStamp) + " { other }\n");
}

// Each listing is a snapshot: whole lines, in order, never more than were written.
TEST_P(VmassistRingTest, Writes_RaceWithReaders) {
    std::vector<std::thread> threads;
    std::string path = node();
    for (int i = 0; i < 4; i++)
        threads.emplace_back([i, path] {
            size_t last = 0;
            for (int j = 0; j < 200; j++) {
                if (i % 2) {
                    EXPECT_EQ(sim::vfs::write_file(path, "w" + std::to_string(i)), 2);
                } else {
                    std::string s;
                    EXPECT_EQ(sim::vfs::read_file(path, &s), 0);
                    auto l = lines(s);
                    EXPECT_GE(l.size(), last);
                    last = l.size();
                    for (const auto &line : l)
                        EXPECT_TRUE(line.size() > 25 && line.substr(line.size() - 1) == "}")
                            << line;
                }
            }
        });
    for (auto &t : threads)
        t.join();
    EXPECT_LE(lines(read(path)).size(), 400u);
}

INSTANTIATE_TEST_SUITE_P(Rings, VmassistRingTest, ::testing::Values("perflock_records", "zomdlog"));

class VmassistExceptionTest : public VmassistRecordLogsTest {
  protected:
    const std::string node = "/proc/perflock_exception";
};

TEST_F(VmassistExceptionTest, Show_EmptyIsZeroBytes) {
    EXPECT_EQ(read(node), "");
}

TEST_F(VmassistExceptionTest, Write_SameTextCountedWithFirstTime) {
    EXPECT_EQ(write(node, "anr"), 3);
    sim::clock_set_wall(kWall + 60);
    EXPECT_EQ(write(node, "anr"), 3);
    EXPECT_EQ(write(node, "anr"), 3);
    EXPECT_EQ(read(node), std::string(kStamp) + " { anr count = 3 }\n");
}

TEST_F(VmassistExceptionTest, Write_NewlineMakesADifferentText) {
    EXPECT_EQ(write(node, "anr"), 3);
    EXPECT_EQ(write(node, "anr\n"), 4);
    EXPECT_EQ(read(node),
              std::string(kStamp) + " { anr count = 1 }\n" + kStamp + " { anr\n count = 1 }\n");
}

TEST_F(VmassistExceptionTest, Write_WrapsAfter128DistinctTexts) {
    for (int i = 1; i <= 129; i++)
        ASSERT_EQ(write(node, "e" + std::to_string(i)), long(std::to_string(i).size() + 1));
    auto l = lines(read(node));
    ASSERT_EQ(l.size(), 128u);
    EXPECT_EQ(l.front(), std::string(kStamp) + " { e2 count = 1 }");
    EXPECT_EQ(l.back(), std::string(kStamp) + " { e129 count = 1 }");
    // The overwritten text is gone: writing it again makes a new record.
    EXPECT_EQ(write(node, "e1"), 2);
    l = lines(read(node));
    EXPECT_EQ(l.front(), std::string(kStamp) + " { e3 count = 1 }");
    EXPECT_EQ(l.back(), std::string(kStamp) + " { e1 count = 1 }");
}

TEST_F(VmassistExceptionTest, Write_LengthLimits) {
    EXPECT_EQ(write(node, std::string(1025, 'x')), -EINVAL);
    EXPECT_EQ(log(), std::vector<std::string>{"perflock_exception userbuf size longer than 1024"});
    EXPECT_EQ(read(node), "");
    EXPECT_EQ(write(node, std::string(1024, 'y')), 1024);
    EXPECT_EQ(read(node), std::string(kStamp) + " { " + std::string(1023, 'y') + " count = 1 }\n");
    // The stored text is the cut one: a text that differs only in its 1024th byte matches.
    EXPECT_EQ(write(node, std::string(1023, 'y') + "z"), 1024);
    EXPECT_EQ(read(node), std::string(kStamp) + " { " + std::string(1023, 'y') + " count = 2 }\n");
}

TEST_F(VmassistExceptionTest, Write_UnreadableBufferIsEfaultAndLogged) {
    sim::FaultRule rule;
    rule.op = std::string(sim::fault_op::copy_from_user);
    rule.module = "vmassist";
    sim::fault_arm(rule);
    EXPECT_EQ(write(node, "x"), -EFAULT);
    EXPECT_EQ(log(), std::vector<std::string>{"perflock_exception cant copy_from_userbuf"});
    EXPECT_EQ(read(node), "");
}

// Neither a new text nor a repeat is recorded while a reader holds the table.
TEST_F(VmassistExceptionTest, Write_DroppedWhileAReaderHoldsTheLock) {
    EXPECT_EQ(write(node, "anr"), 3);
    const std::string once = std::string(kStamp) + " { anr count = 1 }\n";
    std::string listing = read_while_lock_held(node, "ple_lock", [this] {
        EXPECT_EQ(write(node, "anr"), 3);
        EXPECT_EQ(write(node, "crash"), 5);
    });
    EXPECT_EQ(listing, once);
    EXPECT_EQ(read(node), once);
    EXPECT_TRUE(log().empty());
}

TEST_F(VmassistExceptionTest, Writes_RaceWithReaders) {
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; i++)
        threads.emplace_back([this, i] {
            for (int j = 0; j < 200; j++) {
                if (i % 2) {
                    EXPECT_EQ(sim::vfs::write_file(node, "t" + std::to_string(j % 3)), 2);
                } else {
                    std::string s;
                    EXPECT_EQ(sim::vfs::read_file(node, &s), 0);
                    EXPECT_LE(lines(s).size(), 3u);
                }
            }
        });
    for (auto &t : threads)
        t.join();
    EXPECT_LE(lines(read(node)).size(), 3u);
}

}  // namespace
}  // namespace vmassist_test
