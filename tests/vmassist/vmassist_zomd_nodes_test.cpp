// zomdtrigger and zomdnotifier in /sys/module/vmassist/zomd: the event queue, its limit and
// name lengths, the shared number, and their failure paths.
#include "vmassist_test_util.h"

#include <atomic>
#include <cerrno>
#include <thread>

namespace vmassist_test {
namespace {

const std::string kTrigger = "/sys/module/vmassist/zomd/zomdtrigger";
const std::string kNotifier = "/sys/module/vmassist/zomd/zomdnotifier";

class VmassistZomdNodesTest : public VmassistTest {};

TEST_F(VmassistZomdNodesTest, Init_CreatesBothAttributes) {
    EXPECT_EQ(mode(kTrigger), 0664u);
    EXPECT_EQ(mode(kNotifier), 0664u);
}

TEST_F(VmassistZomdNodesTest, Trigger_FirstInFirstOut) {
    for (const char *name : {"alpha", "beta", "gamma"})
        EXPECT_EQ(write(kTrigger, name), long(strlen(name)));
    EXPECT_EQ(read(kTrigger), "alpha\n");
    EXPECT_EQ(read(kTrigger), "beta\n");
    EXPECT_EQ(read(kTrigger), "gamma\n");
    EXPECT_EQ(read(kTrigger), "");
}

TEST_F(VmassistZomdNodesTest, Trigger_TwelfthEventDiscarded) {
    for (int i = 0; i < 12; i++)
        EXPECT_EQ(write(kTrigger, "e" + std::to_string(i)), long(std::to_string(i).size() + 1));
    EXPECT_EQ(log(), std::vector<std::string>{"zomdtrigger: trigger_event so manay that discard"});
    for (int i = 0; i < 11; i++)
        EXPECT_EQ(read(kTrigger), "e" + std::to_string(i) + "\n");
    EXPECT_EQ(read(kTrigger), "");
    // Reads made room again.
    EXPECT_EQ(write(kTrigger, "again"), 5);
    EXPECT_EQ(read(kTrigger), "again\n");
}

TEST_F(VmassistZomdNodesTest, Trigger_NewlineKeptInName) {
    EXPECT_EQ(write(kTrigger, "boost\n"), 6);
    EXPECT_EQ(read(kTrigger), "boost\n\n");
}

struct NameCase {
    size_t len;
    std::string expected;
};

TEST_F(VmassistZomdNodesTest, Trigger_NameLengths) {
    const NameCase cases[] = {
        {62, std::string(62, 'n') + "\n"},
        // Cut to 63 characters and a terminator; the length reported is the name's plus one.
        {63, std::string(63, 'n') + std::string(1, '\0')},
        {64, std::string(63, 'n') + std::string(2, '\0')},
        {70, std::string(63, 'n') + std::string(2, '\0')},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.len);
        EXPECT_EQ(write(kTrigger, std::string(c.len, 'n')), long(c.len));
        EXPECT_EQ(read(kTrigger), c.expected);
    }
}

TEST_F(VmassistZomdNodesTest, Trigger_NoMemoryDiscardsEvent) {
    sim::FaultRule rule;
    rule.op = std::string(sim::fault_op::kmalloc);
    rule.module = "vmassist";
    sim::fault_arm(rule);
    EXPECT_EQ(write(kTrigger, "lost"), 4);
    EXPECT_EQ(log(), std::vector<std::string>{"zomdtrigger: kmalloc struct trigger_event failed"});
    EXPECT_EQ(read(kTrigger), "");
}

TEST_F(VmassistZomdNodesTest, Exit_FreesQueuedEvents) {
    for (int i = 0; i < 11; i++)
        EXPECT_EQ(write(kTrigger, "q"), 1);
    simtest::expect_clean_unload("vmassist");
    EXPECT_FALSE(exists("/sys/module/vmassist"));
    ASSERT_EQ(sim::module_load("vmassist"), 0);
    // The count starts again from 0: eleven more events fit.
    mark_log();
    for (int i = 0; i < 11; i++)
        EXPECT_EQ(write(kTrigger, "r"), 1);
    EXPECT_TRUE(log().empty());
    EXPECT_EQ(read(kTrigger), "r\n");
}

TEST_F(VmassistZomdNodesTest, Notifier_HoldsLastValue) {
    EXPECT_EQ(read(kNotifier), "0\n");
    EXPECT_EQ(write(kNotifier, "-42"), 3);
    EXPECT_EQ(read(kNotifier), "-42\n");
    EXPECT_EQ(write(kNotifier, "12x"), -EINVAL);
    EXPECT_EQ(write(kNotifier, "9223372036854775808"), -ERANGE);
    EXPECT_EQ(read(kNotifier), "-42\n");
    EXPECT_EQ(write(kNotifier, "-9223372036854775808\n"), 21);
    EXPECT_EQ(read(kNotifier), "-9223372036854775808\n");
}

TEST_F(VmassistZomdNodesTest, Init_KobjectFailsNoSysfsNoMessage) {
    reload_with_fault(sim::fault_op::kobject_create_and_add);
    EXPECT_FALSE(exists("/sys/module/vmassist/zomd"));
    for (const auto &line : log())
        EXPECT_EQ(line.find("zomd"), std::string::npos) << line;
    EXPECT_TRUE(exists("/proc/perflock_exception"));
}

TEST_F(VmassistZomdNodesTest, Init_GroupFailsLogsAndKeepsDirectory) {
    reload_with_fault(sim::fault_op::sysfs_create_group);
    EXPECT_EQ(log_count("vmassist_init create zomd sysfs nodes group failed"), 1);
    EXPECT_TRUE(exists("/sys/module/vmassist/zomd"));
    EXPECT_FALSE(exists(kTrigger));
    simtest::expect_clean_unload("vmassist");
    ASSERT_EQ(sim::module_load("vmassist"), 0);
}

// Every accepted event is read exactly once.
TEST_F(VmassistZomdNodesTest, Trigger_ConcurrentWritersAndReaders) {
    std::atomic<int> taken{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; i++)
        threads.emplace_back([&, i] {
            for (int j = 0; j < 100; j++) {
                if (i % 2) {
                    EXPECT_EQ(sim::vfs::write_file(kTrigger, "ev"), 2);
                    EXPECT_EQ(sim::vfs::write_file(kNotifier, std::to_string(j)),
                              long(std::to_string(j).size()));
                } else {
                    std::string s;
                    EXPECT_EQ(sim::vfs::read_file(kTrigger, &s), 0);
                    if (!s.empty()) {
                        EXPECT_EQ(s, "ev\n");
                        taken++;
                    }
                    EXPECT_EQ(sim::vfs::read_file(kNotifier, &s), 0);
                }
            }
        });
    for (auto &t : threads)
        t.join();
    int left = 0;
    while (read(kTrigger) == "ev\n")
        left++;
    int discarded = log_count("zomdtrigger: trigger_event so manay that discard");
    EXPECT_EQ(taken + left + discarded, 200);
    EXPECT_EQ(read(kNotifier), "99\n");
}

}  // namespace
}  // namespace vmassist_test
