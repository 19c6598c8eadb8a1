// chgsentry's callbacks, condition check and report thread share the record without a lock.
// Here the charging hardware fires events from another host thread while virtual time runs the
// checks and the report passes, and plug-ins reset the counts while reports raise them. Run
// under ThreadSanitizer too.
#include "chgsentry_test_util.h"

#include <atomic>
#include <chrono>
#include <map>
#include <thread>

namespace chgsentry_test {
namespace {

using namespace hw::charging;

using ChgsentryRaceTest = ChgsentryTest;

const std::string kVbusOvp = "909002004 chgErrInfo=\"CpVbusOVP\"";
const std::string kLpd = "909002003 chgErrInfo=\"LpdDetected\" lpdFlag=1";

TEST_F(ChgsentryRaceTest, NotificationsRaceChecksAndReports) {
    Adapter adapter;
    ASSERT_EQ(adapter_plug(adapter), 0);
    sim::settle();
    std::atomic<bool> stop{false};
    std::atomic<int> rounds{0};
    std::thread events([&] {
        int temp = 250;
        while (!stop.load()) {
            cp_event(CP_EVENT_VBUS_OVP);
            cm_event(CM_EVENT_LPD, 1);
            cm_event(CM_EVENT_CP_IBAT_OCP, 0);
            battery_set("temp", temp);
            usb_set_vbus(5000000 + temp);
            temp = temp == 600 ? 250 : temp + 1;
            rounds++;
            std::this_thread::sleep_for(std::chrono::microseconds(20));
        }
    });
    // 40 checks at 5 s, with their report passes, while the events come in: each step waits
    // for a round of events, so a busy host cannot leave the events thread out of the window.
    for (int i = 0; i < 2000; i++) {
        for (int seen = rounds.load(); rounds.load() == seen;)
            std::this_thread::yield();
        advance(0.1);
    }
    stop = true;
    events.join();
    sim::settle();
    advance(10);

    // Whatever interleaving happened, no limit was passed and every record is whole.
    std::map<std::string, int> counts;
    for (const std::string &t : texts())
        counts[t.substr(0, t.find(' '))]++;
    EXPECT_EQ(counts["909002004"], 3);  // CpVbusOVP: limit 3, flag standing
    EXPECT_EQ(counts["909002003"], 1);  // LpdDetected: limit 1
    EXPECT_EQ(counts["909002007"], 3);  // CpIbatOcp: limit 3
    EXPECT_LE(counts["909009001"], 1);  // TbatHot: at most once in 300 s
    for (const std::string &t : texts()) {
        if (t.rfind("909002004", 0) == 0) {
            EXPECT_EQ(t, kVbusOvp);
        }
        if (t.rfind("909002003", 0) == 0) {
            EXPECT_EQ(t, kLpd);
        }
    }
}

TEST_F(ChgsentryRaceTest, PlugInResetRacesReports) {
    std::atomic<bool> stop{false};
    std::atomic<int> plugins{0};
    cp_event(CP_EVENT_VBUS_OVP);
    cm_event(CM_EVENT_LPD, 1);
    sim::settle();
    std::thread resets([&] {
        while (!stop.load()) {
            cm_event(CM_EVENT_ADAPTER_PLUGIN, 0);
            plugins++;
            std::this_thread::sleep_for(std::chrono::microseconds(20));
        }
    });
    // On a loaded host the whole run can pass before the thread is first scheduled.
    while (plugins.load() == 0)
        std::this_thread::yield();
    for (int i = 0; i < 1200; i++)
        advance(0.1);
    stop = true;
    resets.join();
    sim::settle();

    // Checks at 60, 65, ... 120 (13 of them): with its count reset over and over, a standing
    // flag may go out at each of them, and never more often.
    int vbus = 0, lpd = 0;
    for (const std::string &t : texts()) {
        vbus += t == kVbusOvp;
        lpd += t == kLpd;
    }
    EXPECT_GE(vbus, 1);
    EXPECT_LE(vbus, 13);
    EXPECT_GE(lpd, 1);
    EXPECT_LE(lpd, 13);
    EXPECT_EQ(vbus + lpd, int(texts().size()));
}

}  // namespace
}  // namespace chgsentry_test
