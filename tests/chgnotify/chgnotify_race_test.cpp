// Reports racing the unbinding of chgnotify: the remove may run while reports that already
// found the device are between their lock and their log lines. Each report must end either
// sent (0, exactly one uevent) or turned away (-EFAULT), and the record must outlive every
// report that uses it; AddressSanitizer and ThreadSanitizer runs check the latter.
#include "chgnotify_test_util.h"

#include "simkernel/kernel/task.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace chgnotify_test {
namespace {

class ChgnotifyRaceTest : public ChgnotifyTest {};

constexpr int kReporters = 4;
constexpr int kCycles = 50;

TEST_F(ChgnotifyRaceTest, ReportsAgainstSysfsUnbind_EachSentOnceOrTurnedAway) {
    std::vector<struct task_struct *> tasks;
    for (int i = 0; i < kReporters; i++)
        tasks.push_back(sim::task_create_user("charger" + std::to_string(i)));

    std::atomic<int> sent{0}, turned_away{0}, wrong{0};
    std::atomic<int> reports{0};
    std::atomic<bool> done{false};
    // The run sends more uevents than the backlog keeps.
    sim::UeventRecorder recorder;
    std::vector<std::thread> reporters;
    for (int i = 0; i < kReporters; i++) {
        reporters.emplace_back([&, i] {
            sim::TaskScope as(tasks[i]);
            for (int j = 0; !done.load(); j++) {
                // The value names the report in the uevent it sends.
                int v = j * kReporters + i;
                int ret = j % 3 == 2 ? hw::charge_reporter_raise(bundle(0, {i, v, 1}))
                                     : hw::charge_reporter_raise(single(5, v));
                if (ret == 0)
                    sent++;
                else if (ret == -EFAULT) {
                    turned_away++;
                    // Let the shell's bind get on while nothing is bound.
                    std::this_thread::yield();
                } else
                    wrong++;
                reports++;
            }
        });
    }
    // The shell unbinds and binds chgnotify again and again while the reports run; each time
    // it waits until a report has been sent on the fresh binding, so that the unbind meets
    // reports in every stage of their work rather than an idle device.
    for (int cycle = 0; cycle < kCycles; cycle++) {
        int before = sent.load();
        while (sent.load() == before)
            std::this_thread::yield();
        ASSERT_EQ(unbind(), long(sizeof(kDevice) - 1));
        ASSERT_EQ(bind(), long(sizeof(kDevice) - 1));
    }
    done = true;
    for (auto &t : reporters)
        t.join();
    for (struct task_struct *t : tasks)
        sim::task_exit(t);

    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(sent.load() + turned_away.load(), reports.load());

    // Every report that returned 0 sent exactly one uevent, whole.
    std::map<std::string, int> seen;
    // The binds and unbinds send uevents of their own; the reports' are the change events.
    std::vector<sim::Uevent> evs = recorder.events();
    std::erase_if(evs, [](const sim::Uevent &ev) { return ev.action != "change"; });
    for (const sim::Uevent &ev : evs) {
        ASSERT_GE(ev.env.size(), kStandardVars.size() + 2);
        EXPECT_TRUE(std::equal(kStandardVars.begin(), kStandardVars.end(), ev.env.begin()));
        EXPECT_EQ(ev.env.back(), "SEQNUM=" + std::to_string(ev.seqnum));
        std::string key;
        for (size_t k = kStandardVars.size(); k + 1 < ev.env.size(); k++)
            key += ev.env[k] + ";";
        seen[key]++;
    }
    EXPECT_EQ(int(evs.size()), sent.load());
    for (const auto &[key, n] : seen)
        EXPECT_EQ(n, 1) << key;

    // Bound at the end, and whole.
    mark();
    EXPECT_EQ(report(5, 1), 0);
    EXPECT_EQ(uevents().size(), 1u);
}

}  // namespace
}  // namespace chgnotify_test
