// Uevents byte for byte: the standard variables, the caller's strings and SEQNUM, and the
// kernel's limits of 64 variables and 2048 bytes, past which nothing is sent, and the backlog a
// listener keeps.
#include "drivers_test_util.h"

#include <cerrno>
#include <numeric>

#include <platform/of_platform.h>

namespace drivers_test {
namespace {

class UeventTest : public DriversTest {
  protected:
    // The device-tree device "zram", which no driver binds.
    static struct kobject *zram() {
        struct device_node *np = of_find_node_by_path("/zram");
        struct platform_device *pdev = of_find_device_by_node(np);
        of_node_put(np);
        EXPECT_NE(pdev, nullptr);
        // The device tree's devices stay as long as the kernel.
        put_device(&pdev->dev);
        return &pdev->dev.kobj;
    }
    static int send(std::vector<std::string> strings) {
        std::vector<char *> envp;
        for (std::string &s : strings)
            envp.push_back(s.data());
        envp.push_back(nullptr);
        return kobject_uevent_env(zram(), KOBJ_CHANGE, envp.data());
    }
    static const std::vector<std::string> &standard() {
        static const std::vector<std::string> vars = {
            "ACTION=change",      "DEVPATH=/devices/platform/zram",
            "SUBSYSTEM=platform", "OF_NAME=zram",
            "OF_FULLNAME=/zram",  "OF_COMPATIBLE_0=phonesim,zram",
            "OF_COMPATIBLE_N=1",  "MODALIAS=of:NzramT(null)Cphonesim,zram"};
        return vars;
    }
};

TEST_F(UeventTest, StandardVariablesThenCallersThenSeqnum) {
    ASSERT_EQ(send({"POWER_SUPPLY_SOC_DECIMAL=55", "X=1"}), 0);
    auto ev = sent();
    ASSERT_EQ(ev.size(), 1u);
    std::vector<std::string> want = standard();
    want.push_back("POWER_SUPPLY_SOC_DECIMAL=55");
    want.push_back("X=1");
    want.push_back("SEQNUM=" + std::to_string(ev[0].seqnum));
    EXPECT_EQ(ev[0].env, want);
    EXPECT_EQ(ev[0].action, "change");
    EXPECT_EQ(ev[0].devpath, "/devices/platform/zram");
    EXPECT_EQ(ev[0].subsystem, "platform");
}

TEST_F(UeventTest, PrintedAsUdevadmMonitorPrintsThem) {
    sim::Uevent ev;
    ev.time_ns = 75'000'042'000;
    ev.action = "bind";
    ev.devpath = "/devices/platform/chgnotify";
    ev.subsystem = "platform";
    ev.env = {"ACTION=bind", "SEQNUM=9"};
    EXPECT_EQ(sim::uevent_format(ev),
              "KERNEL[75.000042] bind     /devices/platform/chgnotify (platform)\n"
              "ACTION=bind\nSEQNUM=9\n\n");
}

TEST_F(UeventTest, SixtyFourVariablesAtMost) {
    // The standard ones and SEQNUM leave 64 - 9 for the caller.
    size_t room = 64 - standard().size() - 1;
    std::vector<std::string> vars;
    for (size_t i = 0; i < room; i++)
        vars.push_back("V" + std::to_string(i) + "=1");
    ASSERT_EQ(send(vars), 0);
    ASSERT_EQ(sent().size(), 1u);
    EXPECT_EQ(sent()[0].env.size(), 64u);

    mark();
    vars.push_back("ONE_TOO_MANY=1");
    EXPECT_EQ(send(vars), -ENOMEM);
    EXPECT_TRUE(sent().empty());
}

TEST_F(UeventTest, TwoThousandFortyEightBytesAtMost) {
    // Each variable takes its length and a NUL; SEQNUM comes last and must fit too.
    size_t used = 0;
    for (const std::string &v : standard())
        used += v.size() + 1;
    size_t seqnum = std::string("SEQNUM=" + std::to_string(sim::uevent_next_seq())).size() + 1;
    size_t fits = 2048 - used - seqnum - 1;
    ASSERT_EQ(send({"P=" + std::string(fits - 2, 'x')}), 0);
    auto ev = sent();
    ASSERT_EQ(ev.size(), 1u);
    size_t total = std::accumulate(ev[0].env.begin(), ev[0].env.end(), size_t(0),
                                   [](size_t n, const std::string &v) { return n + v.size() + 1; });
    EXPECT_EQ(total, 2048u);

    mark();
    seqnum = std::string("SEQNUM=" + std::to_string(sim::uevent_next_seq())).size() + 1;
    EXPECT_EQ(send({"P=" + std::string(2048 - used - seqnum - 1 - 2 + 1, 'x')}), -ENOMEM);
    EXPECT_TRUE(sent().empty());
}

TEST_F(UeventTest, BacklogKeepsTheLatestRecorderKeepsAll) {
    uint64_t first = sim::uevent_next_seq();
    size_t n = sim::kUeventBacklog + 5;
    sim::UeventRecorder recorder;
    for (size_t i = 0; i < n; i++)
        ASSERT_EQ(send({"N=" + std::to_string(i)}), 0);

    std::vector<sim::Uevent> kept = sim::uevents();
    ASSERT_EQ(kept.size(), sim::kUeventBacklog);
    EXPECT_EQ(kept.front().seqnum, first + 5);
    EXPECT_EQ(kept.back().seqnum, first + n - 1);

    std::vector<sim::Uevent> all = recorder.events();
    ASSERT_EQ(all.size(), n);
    EXPECT_EQ(all.front().seqnum, first);
    EXPECT_EQ(all.back().env[all.back().env.size() - 2], "N=" + std::to_string(n - 1));
}

TEST_F(UeventTest, SynthesizedThroughTheUeventFile) {
    EXPECT_EQ(write("/sys/devices/platform/zram/uevent", "change\n"), 7);
    ASSERT_EQ(sent().size(), 1u);
    EXPECT_EQ(sent()[0].action, "change");
    EXPECT_EQ(write("/sys/devices/platform/zram/uevent", "explode"), -EINVAL);
    EXPECT_EQ(sent().size(), 1u);
}

}  // namespace
}  // namespace drivers_test
