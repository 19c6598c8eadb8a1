// The 21 conditions raised through the charging hardware and reported on the event channel:
// each with its exact record, several in the order of their bits, the check's timing, the count
// gates and their reset by a plug-in, the time gates, the flags that a report consumes, and the
// values the notifications keep.
#include "chgsentry_test_util.h"

#include <functional>

namespace chgsentry_test {
namespace {

using namespace hw::charging;

constexpr int kOwnSvid = 0xF5A1;  // the maker's own adapters (OWN_PD_SVID)

// Every battery value the texts carry pinned, on a phone that raises nothing.
void pin_battery() {
    ASSERT_EQ(battery_set("temp", 250), 0);
    ASSERT_EQ(battery_set("soc", 60), 0);
    ASSERT_EQ(battery_set("rsoc", 58), 0);
    ASSERT_EQ(battery_set("vbat", 4000000), 0);
    ASSERT_EQ(battery_set("tboard", 300), 0);
    ASSERT_EQ(battery_set("status", POWER_SUPPLY_STATUS_CHARGING), 0);
    ASSERT_EQ(battery_set("cycle", 12), 0);
    sim::settle();
}

void plug(uint32_t svid = 0x1234, bool verified = true, int done = 1, int type = 4) {
    Adapter a;
    a.svid = svid;
    a.verified = verified;
    a.verify_done = done;
    a.vbus_type = type;
    ASSERT_EQ(adapter_plug(a), 0);
    sim::settle();
}

void cp(int code) {
    ASSERT_EQ(cp_event(code), 0);
    sim::settle();
}

void cm(int code, int data = 0) {
    ASSERT_EQ(cm_event(code, data), 0);
    sim::settle();
}

void battery(const char *key, int value) {
    ASSERT_EQ(battery_set(key, value), 0);
    sim::settle();
}

// chgsentry bound to a phone whose battery values are pinned before it, so the extremes it
// keeps start from them.
class ChgsentryConditionsTest : public ChgsentryTest {
  protected:
    ChgsentryConditionsTest() { load_on_setup_ = false; }
    void SetUp() override {
        ChgsentryTest::SetUp();
        start();
    }
    void start() {
        pin_battery();
        prepare();
        ASSERT_EQ(sim::module_load("chgsentry"), 0);
        sim::settle();
        battery_seen();
    }
    void restart() {
        ASSERT_EQ(sim::module_unload("chgsentry"), 0);
        restore_hardware();
        start();
    }
};

struct Condition {
    const char *what;
    std::function<void()> raise;
    std::vector<std::string> records;  // at the first check, 60 s after the probe
};

TEST_F(ChgsentryConditionsTest, EachConditionIsReportedWithItsRecord) {
    const Condition conditions[] = {
        {"non-standard charger",
         [] { plug(0x1234, true, 1, 5); },
         {"909002001 chgErrInfo=\"noneStandartChg\""}},
        {"fuel gauge off its bus",
         [] { ASSERT_EQ(fg_set_status(2), 0); },
         {"909005001 chgErrInfo=\"fgI2cErr\""}},
        {"charge pump off its bus",
         [] { ASSERT_EQ(cp_set_chip_ok(false), 0); },
         {"909005002 chgErrInfo=\"CpI2CErr\" masterOk=0"}},
        {"charger refuses to enable",
         [] { cm(CM_EVENT_CHARGER_ENABLE, 0); },
         {"909001005 chgErrInfo=\"CpEnFail\" cpId=0"}},
        {"cold and not charging",
         [] {
             plug();
             battery("temp", 30);
             battery("status", POWER_SUPPLY_STATUS_DISCHARGING);
         },
         {"909005007 chgErrInfo=\"NotChgInLowTemp\" tbat=30"}},
        {"warm and not charging",
         [] {
             plug();
             battery("temp", 500);
             battery("status", POWER_SUPPLY_STATUS_NOT_CHARGING);
         },
         {"909005008 chgErrInfo=\"NotChgInHighTemp\" tbat=500"}},
        {"own adapter fails PD authentication",
         [] { plug(kOwnSvid, false, 1); },
         {"909001004 chgErrInfo=\"pdAuthFail\" adapterId=\"f5a1\""}},
        {"bus over-voltage", [] { cp(CP_EVENT_VBUS_OVP); }, {"909002004 chgErrInfo=\"CpVbusOVP\""}},
        {"bus over-current", [] { cp(CP_EVENT_IBUS_OCP); }, {"909002005 chgErrInfo=\"CpIbusOcp\""}},
        {"battery over-voltage",
         [] {
             battery("vbat", 4480000);
             battery("vbat", 4460000);
             cp(CP_EVENT_VBAT_OVP);
         },
         {"909002006 chgErrInfo=\"CpVbatOVP\" vbat=4460000 vbatMax=4480000"}},
        {"battery over-current",
         [] { cm(CM_EVENT_CP_IBAT_OCP); },
         {"909002007 chgErrInfo=\"CpIbatOcp\""}},
        {"input over-voltage", [] { cp(CP_EVENT_VAC_OVP); }, {"909002008 chgErrInfo=\"CpVacOVP\""}},
        {"charge-pump die too hot while charging",
         [] {
             plug();
             ASSERT_EQ(cp_set_temp(1205), 0);
             cp(CP_EVENT_TDIE_FAULT);
         },
         {"909005004 chgStatInfo=\"CpTdieHot\" Tdie_Temp=1205"}},
        {"hundredth cycle",
         [] { battery("cycle", 100); },
         {"909003001 chgStatInfo=\"chgBattCycle\" cycleCnt=100"}},
        {"smart endurance while charging",
         [] {
             plug();
             cm(CM_EVENT_SMART_ENDURA_TRIG, 1);
         },
         {"909003004 chgStatInfo=\"SmartEnduraTrig\" soc=60"}},
        {"full below 100%",
         [] {
             battery("soc", 99);
             battery("status", POWER_SUPPLY_STATUS_FULL);
         },
         {"909003002 chgErrInfo=\"SocNotFull\" vbat=4000000 soc=99 rsoc=58"}},
        {"battery not authentic",
         [] { battery("auth", 0); },
         {"909007001 chgErrInfo=\"BattAuthFail\""}},
        {"gauge reports an authentication fault",
         [] { ASSERT_EQ(fg_set_status(1), 0); },
         {"909007001 chgErrInfo=\"BattAuthFail\""}},
        {"hot battery",
         [] {
             battery("temp", 571);
             battery("temp", 563);
         },
         {"909009001 chgStatInfo=\"TbatHot\" tbat=563 tbatMax=57 isCharging=0 tboard=300"}},
        {"cold battery",
         [] {
             plug();
             battery("temp", -123);
             battery("temp", -105);
         },
         {"909009002 chgStatInfo=\"TbatCold\" tbat=-105 tbatMin=-12 isCharging=1 tboard=300"}},
        {"liquid in the port",
         [] { cm(CM_EVENT_LPD, 2); },
         {"909002003 chgErrInfo=\"LpdDetected\" lpdFlag=2"}},
        {"bus under-voltage",
         [] {
             ASSERT_EQ(usb_set_vbus(3100000), 0);
             cm(CM_EVENT_VBUS_UVLO);
         },
         {"909005006 chgErrInfo=\"VbusUvlo\" vbat=4000000 vbus=3100000 aiclTh=4000"}},
    };
    for (const Condition &c : conditions) {
        SCOPED_TRACE(c.what);
        restart();
        c.raise();
        advance_to(59);
        EXPECT_EQ(texts(), std::vector<std::string>{});
        advance_to(60);
        EXPECT_EQ(texts(), c.records);
        for (const Record &r : records())
            EXPECT_EQ(r.at, 60.0);
    }
}

TEST_F(ChgsentryConditionsTest, PendingEventsGoOutInTheOrderOfTheirBits) {
    battery("temp", -105);
    cp(CP_EVENT_VBUS_OVP);
    ASSERT_EQ(cp_set_chip_ok(false), 0);
    advance_to(60);
    EXPECT_EQ(texts(), (std::vector<std::string>{
                           "909005002 chgErrInfo=\"CpI2CErr\" masterOk=0",
                           "909002004 chgErrInfo=\"CpVbusOVP\"",
                           "909009002 chgStatInfo=\"TbatCold\" tbat=-105 tbatMin=-10 isCharging=0 "
                           "tboard=300",
                       }));
    EXPECT_EQ(count_lines("[DV_CHG_DFS][vq_chg_dfx_report_events]:evt_report_bits = 0x100208"), 1);
    EXPECT_EQ(count_lines("[DV_CHG_DFS][handle_evt_cond_check_work]:3 dfx event need report"), 1);
}

TEST_F(ChgsentryConditionsTest, FirstCheckAfter15000JiffiesThenEvery10sOr5sWhilePlugged) {
    advance(60 - 0.004);
    EXPECT_EQ(checks(), 0);
    advance(0.004);
    EXPECT_EQ(checks(), 1);
    advance_to(69);
    EXPECT_EQ(checks(), 1);
    advance_to(70);
    EXPECT_EQ(checks(), 2);

    // The interval in force when a pass re-arms counts: plugged in at 71, the pass at 80 is
    // still 10 s after the one before, then every 5 s.
    advance_to(71);
    plug();
    advance_to(80);
    EXPECT_EQ(checks(), 3);
    advance_to(84);
    EXPECT_EQ(checks(), 3);
    advance_to(85);
    EXPECT_EQ(checks(), 4);
    advance_to(100);
    EXPECT_EQ(checks(), 7);

    advance_to(101);
    ASSERT_EQ(adapter_unplug(), 0);
    sim::settle();
    advance_to(105);
    EXPECT_EQ(checks(), 8);
    advance_to(114);
    EXPECT_EQ(checks(), 8);
    advance_to(115);
    EXPECT_EQ(checks(), 9);
}

TEST_F(ChgsentryConditionsTest, CountGateLimitsReportsBetweenPlugIns) {
    plug();
    cp(CP_EVENT_VBUS_OVP);
    advance_to(90);
    // A standing flag goes out at 60, 65 and 70, then no more.
    std::vector<Record> three = {{60, "909002004 chgErrInfo=\"CpVbusOVP\""},
                                 {65, "909002004 chgErrInfo=\"CpVbusOVP\""},
                                 {70, "909002004 chgErrInfo=\"CpVbusOVP\""}};
    EXPECT_EQ(records(), three);

    // The charger manager's next plug-in allows three more.
    cm(CM_EVENT_ADAPTER_PLUGIN);
    advance_to(120);
    three.push_back({95, "909002004 chgErrInfo=\"CpVbusOVP\""});
    three.push_back({100, "909002004 chgErrInfo=\"CpVbusOVP\""});
    three.push_back({105, "909002004 chgErrInfo=\"CpVbusOVP\""});
    EXPECT_EQ(records(), three);

    // A plug-out clears the flag.
    ASSERT_EQ(adapter_unplug(), 0);
    cm(CM_EVENT_ADAPTER_PLUGIN);
    advance_to(200);
    EXPECT_EQ(records().size(), 6u);
}

TEST_F(ChgsentryConditionsTest, PlugInResetsEveryCountButTheCycleMilestones) {
    battery("cycle", 100);
    cp(CP_EVENT_VBUS_OVP);
    advance_to(60);
    EXPECT_EQ(count_lines("[DV_CHG_DFS][vq_chg_dfx_handle_event_report]:dfx_type = 9, dfx_id = "
                          "909002004, para_cnt = 1, report_cnt = 1,"),
              1);
    EXPECT_EQ(count_lines("[DV_CHG_DFS][vq_chg_dfx_handle_event_report]:dfx_type = 15, dfx_id = "
                          "909003001, para_cnt = 2, report_cnt = 1,"),
              1);

    cm(CM_EVENT_ADAPTER_PLUGIN);
    mark();
    battery("cycle", 200);
    advance_to(70);
    EXPECT_EQ(count_lines("[DV_CHG_DFS][vq_chg_dfx_handle_event_report]:dfx_type = 9, dfx_id = "
                          "909002004, para_cnt = 1, report_cnt = 1,"),
              1)
        << "reset by the plug-in";
    EXPECT_EQ(count_lines("[DV_CHG_DFS][vq_chg_dfx_handle_event_report]:dfx_type = 15, dfx_id = "
                          "909003001, para_cnt = 2, report_cnt = 2,"),
              1)
        << "kept over the plug-in";
}

TEST_F(ChgsentryConditionsTest, TimeGateIsStrictlyGreaterThanItsInterval) {
    battery("temp", 563);
    advance_to(369);
    EXPECT_EQ(
        records(),
        (std::vector<Record>{
            {60,
             "909009001 chgStatInfo=\"TbatHot\" tbat=563 tbatMax=56 isCharging=0 tboard=300"}}));
    // 300 s after the report is not enough: due again from 361 on, at the check of 370.
    advance_to(370);
    EXPECT_EQ(records().size(), 2u);
    EXPECT_EQ(records().back().at, 370.0);
    // No count limit on a time-gated event, and no reset by a plug-in either: plugged in, the
    // checks come every 5 s, and the first after 670 is at 675.
    plug();
    advance_to(674);
    EXPECT_EQ(records().size(), 2u);
    advance_to(675);
    EXPECT_EQ(records().size(), 3u);
    EXPECT_EQ(records().back().at, 675.0);
}

TEST_F(ChgsentryConditionsTest, EachBatteryOverCurrentIsReportedOnce) {
    plug();
    advance_to(60);  // then a check every 5 s
    for (int i = 0; i < 4; i++) {
        cm(CM_EVENT_CP_IBAT_OCP);
        advance(5);
    }
    // One report per event, three between plug-ins; the fourth waits, its flag kept.
    EXPECT_EQ(records().size(), 3u);
    advance(30);
    EXPECT_EQ(records().size(), 3u);
    cm(CM_EVENT_ADAPTER_PLUGIN);
    advance(5);
    EXPECT_EQ(records().size(), 4u);
    advance(30);
    EXPECT_EQ(records().size(), 4u) << "consumed by its report";

    for (int i = 0; i < 2; i++) {
        cm(CM_EVENT_CP_IBAT_OCP);
        advance(5);
    }
    EXPECT_EQ(records().size(), 6u);
    // A plug-out drops one held back.
    cm(CM_EVENT_CP_IBAT_OCP);
    ASSERT_EQ(adapter_unplug(), 0);
    sim::settle();
    cm(CM_EVENT_ADAPTER_PLUGIN);
    advance(30);
    EXPECT_EQ(records().size(), 6u);
    for (const std::string &t : texts())
        EXPECT_EQ(t, "909002007 chgErrInfo=\"CpIbatOcp\"");
}

TEST_F(ChgsentryConditionsTest, UnderVoltageIsConsumedAndReportedOncePerPlugIn) {
    cm(CM_EVENT_VBUS_UVLO);
    advance_to(60);
    EXPECT_EQ(records().size(), 1u);
    cm(CM_EVENT_VBUS_UVLO);
    advance_to(100);
    EXPECT_EQ(records().size(), 1u) << "limit 1";
    // The held-back event was consumed: a plug-in alone brings nothing.
    cm(CM_EVENT_ADAPTER_PLUGIN);
    advance_to(120);
    EXPECT_EQ(records().size(), 1u);
    cm(CM_EVENT_VBUS_UVLO);
    advance_to(125);
    EXPECT_EQ(records().size(), 2u);
}

TEST_F(ChgsentryConditionsTest, CycleMilestonesAreReportedWhenReached) {
    battery("cycle", 99);
    advance_to(60);
    battery("cycle", 100);
    advance_to(70);
    advance_to(100);
    battery("cycle", 0);
    advance_to(110);
    battery("cycle", 300);
    advance_to(120);
    EXPECT_EQ(records(), (std::vector<Record>{
                             {70, "909003001 chgStatInfo=\"chgBattCycle\" cycleCnt=100"},
                             {120, "909003001 chgStatInfo=\"chgBattCycle\" cycleCnt=300"},
                         }));
}

// The part of the status line a battery notification writes.
std::string battery_part(const std::string &status) {
    size_t vbus = status.find(", vbus:");
    size_t tboard = status.find("tboard:");
    size_t end = status.find(", adapter_svid");
    return status.substr(0, vbus) + " " + status.substr(tboard, end - tboard);
}

TEST_F(ChgsentryConditionsTest, FailedBatteryReadKeepsTheValuesReadBeforeIt) {
    advance_to(60);
    EXPECT_EQ(battery_part(last_status()),
              "cycle_cnt: 12, tbat: 250 [250 250] tboard: 300, batt_auth: 1, soc: 60, rsoc: 58, "
              "vbat: 4000000, chip_chg_status: 1");
    ASSERT_EQ(battery_fail("temp"), 0);
    battery("cycle", 150);
    advance_to(70);
    // The cycle count came before the failed read; tbat, the rest, the driver data and the
    // extremes after it.
    EXPECT_EQ(battery_part(last_status()),
              "cycle_cnt: 150, tbat: 250 [250 250] tboard: 300, batt_auth: 1, soc: 60, rsoc: 58, "
              "vbat: 4000000, chip_chg_status: 1");
    // The next notification reads everything again.
    battery("tboard", 350);
    battery("rsoc", 40);
    battery("temp", 600);
    battery("soc", 61);
    advance_to(80);
    EXPECT_EQ(battery_part(last_status()),
              "cycle_cnt: 150, tbat: 600 [250 600] tboard: 350, batt_auth: 1, soc: 61, rsoc: 40, "
              "vbat: 4000000, chip_chg_status: 1");
}

TEST_F(ChgsentryConditionsTest, BatteryNotAuthenticBeforeTheFirstNotification) {
    // A battery whose values all stand still sends no notification: a fresh bind has not heard
    // that it authenticated, which counts as failed, once.
    ASSERT_EQ(sim::module_unload("chgsentry"), 0);
    battery("auth", 1);
    battery("vbus_type", 0);
    // The supplies' first notification after boot comes 10 ms after they register.
    sim::time_advance(kSecond);
    prepare();
    ASSERT_EQ(sim::module_load("chgsentry"), 0);
    sim::settle();
    advance_to(100);
    EXPECT_EQ(records(), (std::vector<Record>{{60, "909007001 chgErrInfo=\"BattAuthFail\""}}));
    EXPECT_EQ(count_lines("[DV_CHG_DFS][handle_evt_cond_check_work]:1 dfx event need report"), 1);
    EXPECT_EQ(battery_part(last_status()),
              "cycle_cnt: 0, tbat: 0 [2147483647 -2147483648] tboard: 0, batt_auth: 0, soc: 0, "
              "rsoc: 0, vbat: 0, chip_chg_status: 0");
}

TEST_F(ChgsentryConditionsTest, FailedRecordAllocationSendsNothingForThatEvent) {
    cp(CP_EVENT_VBUS_OVP);
    sim::FaultRule rule;
    rule.op = "kmalloc";
    rule.module = "zoev";
    sim::fault_arm(rule);
    advance_to(60);
    sim::fault_clear();
    EXPECT_EQ(records(), std::vector<Record>{});
    EXPECT_EQ(count_lines("[DV_CHG_DFS][zoevent_upload]:alloc tevent fail, zoev_code=909002004"),
              1);
    advance_to(70);
    EXPECT_EQ(records(), (std::vector<Record>{{70, "909002004 chgErrInfo=\"CpVbusOVP\""}}));
}

}  // namespace
}  // namespace chgsentry_test
