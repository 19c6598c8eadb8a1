// chgsentry's pure logic, called directly: the event table, the conditions and their count and
// time gates, the report request, the event texts and the upload's cutting of a text into
// fields. The roads through the charging stack are in the other chgsentry tests.
#include "simkernel/kernel/printk_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// After the standard headers: platform/ defines attribute macros libstdc++ also uses.
#include "chgsentry/chg_dfs.h"

namespace {

constexpr time64_t kNow = 1000;

// A record as probe leaves it, on a healthy phone that has seen one battery notification:
// battery authentic, charge pump answering, room temperature, charging.
void healthy_record(struct chg_dfs *chg) {
    memset(chg, 0, sizeof(*chg));
    __init_waitqueue_head(&chg->report_wq, "&chg_dfs->report_wq", nullptr);
    chg->last_cycle_cnt = -1;
    chg->check_interval_ms = 10000;
    chg->tbat_max = INT_MIN;
    chg->tbat_min = INT_MAX;
    chg->vbat_max = INT_MIN;
    chg->aicl_th = 4000;
    chg->batt_auth = 1;
    chg->cp_chip_ok = 1;
    chg->tbat = 250;
    chg->soc = 50;
    chg->chip_chg_status = POWER_SUPPLY_STATUS_CHARGING;
}

class ChgDfsLogicTest : public ::testing::Test {
  protected:
    void SetUp() override {
        memcpy(saved_, dfx_evt_cond, sizeof(saved_));
        healthy_record(&chg_);
        mark_ = sim::log_next_seq();
    }
    void TearDown() override { memcpy(dfx_evt_cond, saved_, sizeof(saved_)); }

    // One pass of the conditions over a clear pending set; the bits it set.
    unsigned long check(time64_t now = kNow) {
        chg_.evt_report_bits = 0;
        vq_chg_dfx_check_conditions(&chg_, now);
        return chg_.evt_report_bits;
    }
    std::vector<std::string> log() const { return sim::log_texts_since(mark_); }

    struct chg_dfs chg_;
    struct dfx_evt_cond saved_[DFX_EVT_MAX];
    uint64_t mark_ = 0;
};

TEST_F(ChgDfsLogicTest, EventTableRows) {
    struct Row {
        int type, id, para_cnt, max_report_cnt, report_interval;
    };
    const Row expected[DFX_EVT_MAX] = {
        {0, 0, 0, 0, 0},           {1, 909002001, 1, 1, 0},    {2, 909005001, 2, 0, 600},
        {3, 909005002, 2, 0, 600}, {4, 909001005, 2, 3, 0},    {0, 0, 0, 0, 0},
        {6, 909005007, 2, 3, 0},   {7, 909005008, 2, 3, 0},    {8, 909001004, 2, 1, 0},
        {9, 909002004, 1, 3, 0},   {10, 909002005, 1, 3, 0},   {11, 909002006, 3, 3, 0},
        {12, 909002007, 1, 3, 0},  {13, 909002008, 1, 3, 0},   {14, 909005004, 2, 1, 0},
        {15, 909003001, 2, 0, 0},  {16, 909003004, 2, 1, 0},   {17, 909003002, 4, 1, 0},
        {18, 909007001, 1, 1, 0},  {19, 909009001, 5, 0, 300}, {20, 909009002, 5, 0, 300},
        {21, 909002003, 2, 1, 0},  {22, 909005006, 4, 1, 0},
    };
    for (int i = 0; i < DFX_EVT_MAX; i++) {
        SCOPED_TRACE("row " + std::to_string(i));
        EXPECT_EQ(dfx_evt_cond[i].dfx_type, expected[i].type);
        EXPECT_EQ(dfx_evt_cond[i].dfx_id, expected[i].id);
        EXPECT_EQ(dfx_evt_cond[i].para_cnt, expected[i].para_cnt);
        EXPECT_EQ(dfx_evt_cond[i].max_report_cnt, expected[i].max_report_cnt);
        EXPECT_EQ(dfx_evt_cond[i].report_interval, expected[i].report_interval);
        EXPECT_EQ(dfx_evt_cond[i].report_cnt, 0);
        EXPECT_EQ(dfx_evt_cond[i].report_time, 0);
    }
}

TEST_F(ChgDfsLogicTest, HealthyPhoneRaisesNothing) {
    EXPECT_EQ(check(), 0UL);
    EXPECT_EQ(chg_.last_cycle_cnt, 0);
}

struct ConditionCase {
    const char *what;
    std::function<void(struct chg_dfs *)> set;
    unsigned long bits;  // what one pass marks pending
};

TEST_F(ChgDfsLogicTest, EachConditionRaisesItsOwnBit) {
    const ConditionCase cases[] = {
        {"non-standard charger", [](chg_dfs *c) { c->vbus_type = 5; }, BIT(1)},
        {"fuel gauge bus error", [](chg_dfs *c) { c->fg_status = FG_STATUS_I2C_ERROR; }, BIT(2)},
        {"charge pump silent", [](chg_dfs *c) { c->cp_chip_ok = 0; }, BIT(3)},
        {"charger not enabled", [](chg_dfs *c) { c->cp_en_fail = 1; }, BIT(4)},
        {"cold, discharging",
         [](chg_dfs *c) {
             c->tbat = 49;
             c->is_charging = 1;
             c->chip_chg_status = POWER_SUPPLY_STATUS_DISCHARGING;
         },
         BIT(6)},
        {"cold, not charging",
         [](chg_dfs *c) {
             c->tbat = -99;
             c->is_charging = 1;
             c->chip_chg_status = POWER_SUPPLY_STATUS_NOT_CHARGING;
         },
         BIT(6)},
        {"warm, not charging",
         [](chg_dfs *c) {
             c->tbat = 481;
             c->is_charging = 1;
             c->chip_chg_status = POWER_SUPPLY_STATUS_NOT_CHARGING;
         },
         BIT(7)},
        {"warm, discharging",
         [](chg_dfs *c) {
             c->tbat = 549;
             c->is_charging = 1;
             c->chip_chg_status = POWER_SUPPLY_STATUS_DISCHARGING;
         },
         BIT(7)},
        {"own adapter fails PD authentication",
         [](chg_dfs *c) {
             c->adapter_svid = OWN_PD_SVID;
             c->pd_auth_fail = 1;
             c->pd_verify_done = 1;
         },
         BIT(8)},
        {"bus over-voltage", [](chg_dfs *c) { c->cp_vbus_ovp = 1; }, BIT(9)},
        {"bus over-current", [](chg_dfs *c) { c->cp_ibus_ocp = 1; }, BIT(10)},
        {"battery over-voltage", [](chg_dfs *c) { c->cp_vbat_ovp = 1; }, BIT(11)},
        {"battery over-current", [](chg_dfs *c) { c->cp_ibat_ocp = 1; }, BIT(12)},
        {"input over-voltage", [](chg_dfs *c) { c->cp_vac_ovp = 1; }, BIT(13)},
        {"die too hot while charging",
         [](chg_dfs *c) {
             c->cp_tdie_fault = 1;
             c->is_charging = 1;
         },
         BIT(14)},
        {"hundredth cycle", [](chg_dfs *c) { c->cycle_cnt = 100; }, BIT(15)},
        {"smart endurance while charging",
         [](chg_dfs *c) {
             c->smart_endura_trig = 1;
             c->is_charging = 1;
         },
         BIT(16)},
        {"full below 100%",
         [](chg_dfs *c) {
             c->chip_chg_status = POWER_SUPPLY_STATUS_FULL;
             c->soc = 99;
         },
         BIT(17)},
        {"battery not authentic", [](chg_dfs *c) { c->batt_auth = 0; }, BIT(18)},
        {"gauge reports an authentication fault",
         [](chg_dfs *c) { c->fg_status = FG_STATUS_BATT_AUTH_FAULT; }, BIT(18)},
        {"hot battery", [](chg_dfs *c) { c->tbat = 551; }, BIT(19)},
        {"cold battery", [](chg_dfs *c) { c->tbat = -101; }, BIT(20)},
        {"liquid in the port", [](chg_dfs *c) { c->lpd_flag = 1; }, BIT(21)},
        {"bus under-voltage", [](chg_dfs *c) { c->vbus_uvlo = 1; }, BIT(22)},
    };
    for (const ConditionCase &c : cases) {
        SCOPED_TRACE(c.what);
        healthy_record(&chg_);
        c.set(&chg_);
        EXPECT_EQ(check(), c.bits);
    }
}

TEST_F(ChgDfsLogicTest, ConditionsHoldOnlyInsideTheirBounds) {
    const ConditionCase cases[] = {
        {"50 is not cold",
         [](chg_dfs *c) {
             c->tbat = 50;
             c->is_charging = 1;
             c->chip_chg_status = POWER_SUPPLY_STATUS_DISCHARGING;
         },
         0},
        {"-100 is neither cold-not-charging nor a cold battery",
         [](chg_dfs *c) {
             c->tbat = -100;
             c->is_charging = 1;
             c->chip_chg_status = POWER_SUPPLY_STATUS_DISCHARGING;
         },
         0},
        {"480 is not warm",
         [](chg_dfs *c) {
             c->tbat = 480;
             c->is_charging = 1;
             c->chip_chg_status = POWER_SUPPLY_STATUS_NOT_CHARGING;
         },
         0},
        {"550 is neither warm nor hot",
         [](chg_dfs *c) {
             c->tbat = 550;
             c->is_charging = 1;
             c->chip_chg_status = POWER_SUPPLY_STATUS_NOT_CHARGING;
         },
         0},
        {"cold but charging",
         [](chg_dfs *c) {
             c->tbat = 20;
             c->is_charging = 1;
             c->chip_chg_status = POWER_SUPPLY_STATUS_CHARGING;
         },
         0},
        {"cold and discharging without an adapter",
         [](chg_dfs *c) {
             c->tbat = 20;
             c->is_charging = 0;
             c->chip_chg_status = POWER_SUPPLY_STATUS_DISCHARGING;
         },
         0},
        {"another maker's adapter",
         [](chg_dfs *c) {
             c->adapter_svid = OWN_PD_SVID + 1;
             c->pd_auth_fail = 1;
             c->pd_verify_done = 1;
         },
         0},
        {"PD verification not finished",
         [](chg_dfs *c) {
             c->adapter_svid = OWN_PD_SVID;
             c->pd_auth_fail = 1;
         },
         0},
        {"die fault without an adapter", [](chg_dfs *c) { c->cp_tdie_fault = 1; }, 0},
        {"smart endurance without an adapter", [](chg_dfs *c) { c->smart_endura_trig = 1; }, 0},
        {"full at 100%",
         [](chg_dfs *c) {
             c->chip_chg_status = POWER_SUPPLY_STATUS_FULL;
             c->soc = 100;
         },
         0},
        {"a cycle count that is no milestone", [](chg_dfs *c) { c->cycle_cnt = 150; }, 0},
        {"the charger's other input types", [](chg_dfs *c) { c->vbus_type = 4; }, 0},
    };
    for (const ConditionCase &c : cases) {
        SCOPED_TRACE(c.what);
        healthy_record(&chg_);
        c.set(&chg_);
        EXPECT_EQ(check(), c.bits);
    }
}

TEST_F(ChgDfsLogicTest, EmptyRowsNeverRaise) {
    chg_.vbus_type = 5;
    chg_.fg_status = 3;
    chg_.cp_chip_ok = 0;
    chg_.cp_en_fail = 1;
    chg_.cp_vbus_ovp = chg_.cp_ibus_ocp = chg_.cp_vbat_ovp = chg_.cp_ibat_ocp = 1;
    chg_.cp_vac_ovp = chg_.cp_tdie_fault = chg_.smart_endura_trig = chg_.lpd_flag = 1;
    chg_.vbus_uvlo = 1;
    chg_.is_charging = 1;
    chg_.tbat = 600;
    chg_.cycle_cnt = 200;
    EXPECT_EQ(check() & (BIT(0) | BIT(5)), 0UL);
    EXPECT_EQ(chg_.evt_report_bits & ~((1UL << DFX_EVT_MAX) - 1), 0UL);
}

TEST_F(ChgDfsLogicTest, CountGateAllowsMaxReportsBetweenPlugIns) {
    chg_.cp_vbus_ovp = 1;
    for (int cnt = 0; cnt < 3; cnt++) {
        dfx_evt_cond[DFX_CP_VBUS_OVP].report_cnt = cnt;
        EXPECT_EQ(check(), BIT(9)) << "after " << cnt << " reports";
    }
    dfx_evt_cond[DFX_CP_VBUS_OVP].report_cnt = 3;
    EXPECT_EQ(check(), 0UL);
    // A flag that stands is not consumed by the check.
    EXPECT_EQ(chg_.cp_vbus_ovp, 1);

    chg_.batt_auth = 0;
    dfx_evt_cond[DFX_BATT_AUTH_FAIL].report_cnt = 1;
    chg_.cp_vbus_ovp = 0;
    EXPECT_EQ(check(), 0UL) << "BattAuthFail goes out once";
}

TEST_F(ChgDfsLogicTest, TimeGateIsStrictlyGreaterThanTheInterval) {
    chg_.fg_status = FG_STATUS_I2C_ERROR;
    dfx_evt_cond[DFX_FG_I2C_ERR].report_time = 1000;
    EXPECT_EQ(check(1600), 0UL);
    EXPECT_EQ(check(1601), BIT(2));

    chg_.fg_status = 0;
    chg_.tbat = 551;
    dfx_evt_cond[DFX_TBAT_HOT].report_time = 1000;
    EXPECT_EQ(check(1300), 0UL);
    EXPECT_EQ(check(1301), BIT(19));

    // Never reported: due at once, however early.
    dfx_evt_cond[DFX_TBAT_HOT].report_time = 0;
    EXPECT_EQ(check(1), BIT(19));
    // Time-gated rows take no notice of counts.
    dfx_evt_cond[DFX_TBAT_HOT].report_cnt = 1000;
    EXPECT_EQ(check(1), BIT(19));
}

TEST_F(ChgDfsLogicTest, BatteryOverCurrentIsConsumedOnlyWhenRaised) {
    chg_.cp_ibat_ocp = 1;
    EXPECT_EQ(check(), BIT(12));
    EXPECT_EQ(chg_.cp_ibat_ocp, 0);
    EXPECT_EQ(check(), 0UL);

    chg_.cp_ibat_ocp = 1;
    dfx_evt_cond[DFX_CP_IBAT_OCP].report_cnt = 3;
    EXPECT_EQ(check(), 0UL);
    EXPECT_EQ(chg_.cp_ibat_ocp, 1) << "held back by the gate, kept for later";
}

TEST_F(ChgDfsLogicTest, UnderVoltageIsConsumedByTheFirstPassThatSeesIt) {
    chg_.vbus_uvlo = 1;
    EXPECT_EQ(check(), BIT(22));
    EXPECT_EQ(chg_.vbus_uvlo, 0);
    EXPECT_EQ(check(), 0UL);

    chg_.vbus_uvlo = 1;
    dfx_evt_cond[DFX_VBUS_UVLO].report_cnt = 1;
    EXPECT_EQ(check(), 0UL);
    EXPECT_EQ(chg_.vbus_uvlo, 0) << "consumed although the gate held it back";
}

TEST_F(ChgDfsLogicTest, CycleMilestoneRaisesOnceWhenReached) {
    chg_.cycle_cnt = 99;
    EXPECT_EQ(check(), 0UL);
    EXPECT_EQ(chg_.last_cycle_cnt, 99);
    chg_.cycle_cnt = 100;
    EXPECT_EQ(check(), BIT(15));
    EXPECT_EQ(chg_.last_cycle_cnt, 100);
    EXPECT_EQ(check(), 0UL) << "staying at 100";
    chg_.cycle_cnt = 0;
    EXPECT_EQ(check(), 0UL);
    EXPECT_EQ(chg_.last_cycle_cnt, 0);

    // The first pass after start sees the count for the first time.
    healthy_record(&chg_);
    chg_.cycle_cnt = 300;
    EXPECT_EQ(check(), BIT(15));
    // No count gate: reports made do not hold it back.
    chg_.cycle_cnt = 400;
    dfx_evt_cond[DFX_CHG_BATT_CYCLE].report_cnt = 50;
    EXPECT_EQ(check(), BIT(15));
}

TEST_F(ChgDfsLogicTest, BeforeTheFirstBatteryNotificationAuthenticationFails) {
    chg_.batt_auth = 0;  // as probe leaves it
    EXPECT_EQ(check(), BIT(18));
}

TEST_F(ChgDfsLogicTest, CheckKeepsBitsAlreadyPending) {
    chg_.evt_report_bits = BIT(9);
    chg_.cp_vbus_ovp = 1;
    vq_chg_dfx_check_conditions(&chg_, kNow);
    EXPECT_EQ(chg_.evt_report_bits, BIT(9));
    chg_.lpd_flag = 1;
    vq_chg_dfx_check_conditions(&chg_, kNow);
    EXPECT_EQ(chg_.evt_report_bits, BIT(9) | BIT(21));
}

TEST_F(ChgDfsLogicTest, ReportIsRequestedOncePerPendingSet) {
    vq_chg_dfx_request_report(&chg_);
    EXPECT_EQ(atomic_read(&chg_.report_flag), 0);
    EXPECT_TRUE(log().empty());

    chg_.evt_report_bits = BIT(3) | BIT(18);
    vq_chg_dfx_request_report(&chg_);
    EXPECT_EQ(atomic_read(&chg_.report_flag), 1);
    // Still pending at the next pass: logged again, the request stands.
    vq_chg_dfx_request_report(&chg_);
    EXPECT_EQ(atomic_read(&chg_.report_flag), 1);
    const std::string line = "[DV_CHG_DFS][handle_evt_cond_check_work]:2 dfx event need report";
    EXPECT_EQ(log(), (std::vector<std::string>{line, line}));
}

// Event texts.

struct TextCase {
    int type;
    std::function<void(struct chg_dfs *)> set;
    const char *text;
};

TEST_F(ChgDfsLogicTest, EventTextOfEveryType) {
    const TextCase cases[] = {
        {1, nullptr, "chgErrInfo:noneStandartChg"},
        {2, nullptr, "chgErrInfo:fgI2cErr"},
        {3, [](chg_dfs *c) { c->cp_chip_ok = 0; }, "chgErrInfo:CpI2CErr,masterOk:0"},
        {4, nullptr, "chgErrInfo:CpEnFail,cpId:0"},
        {6, [](chg_dfs *c) { c->tbat = -35; }, "chgErrInfo:NotChgInLowTemp,tbat:-35"},
        {7, [](chg_dfs *c) { c->tbat = 500; }, "chgErrInfo:NotChgInHighTemp,tbat:500"},
        {8, [](chg_dfs *c) { c->adapter_svid = 0x1234; }, "chgErrInfo:pdAuthFail,adapterId:1234"},
        {8, [](chg_dfs *c) { c->adapter_svid = 0x12ab; }, "chgErrInfo:pdAuthFail,adapterId:12ab"},
        {9, nullptr, "chgErrInfo:CpVbusOVP"},
        {10, nullptr, "chgErrInfo:CpIbusOcp"},
        {11, [](chg_dfs *c) { c->vbat = 4480; },
         "chgErrInfo:CpVbatOVP,vbat:4480,vbatMax:-2147483648"},
        {11,
         [](chg_dfs *c) {
             c->vbat = 4400;
             c->vbat_max = 4480;
         },
         "chgErrInfo:CpVbatOVP,vbat:4400,vbatMax:4480"},
        {12, nullptr, "chgErrInfo:CpIbatOcp"},
        {13, nullptr, "chgErrInfo:CpVacOVP"},
        {14, [](chg_dfs *c) { c->tdie_temp = 1205; }, "chgStatInfo:CpTdieHot,Tdie_Temp:1205"},
        {15, [](chg_dfs *c) { c->cycle_cnt = 300; }, "chgStatInfo:chgBattCycle,cycleCnt:300"},
        {16, [](chg_dfs *c) { c->soc = 80; }, "chgStatInfo:SmartEnduraTrig,soc:80"},
        {17,
         [](chg_dfs *c) {
             c->vbat = 4390;
             c->soc = 99;
             c->rsoc = 97;
         },
         "chgErrInfo:SocNotFull,vbat:4390,soc:99,rsoc:97"},
        {18, nullptr, "chgErrInfo:BattAuthFail"},
        {19,
         [](chg_dfs *c) {
             c->tbat = 563;
             c->tbat_max = 571;
             c->is_charging = 1;
             c->tboard = 402;
         },
         "chgStatInfo:TbatHot,tbat:563,tbatMax:57,isCharging:1,tboard:402"},
        {20,
         [](chg_dfs *c) {
             c->tbat = -105;
             c->tbat_min = -123;
             c->is_charging = 0;
             c->tboard = 250;
         },
         "chgStatInfo:TbatCold,tbat:-105,tbatMin:-12,isCharging:0,tboard:250"},
        {21, [](chg_dfs *c) { c->lpd_flag = 2; }, "chgErrInfo:LpdDetected,lpdFlag:2"},
        {22,
         [](chg_dfs *c) {
             c->vbat = 3900;
             c->vbus = 3100;
         },
         "chgErrInfo:VbusUvlo,vbat:3900,vbus:3100,aiclTh:4000"},
    };
    for (const TextCase &c : cases) {
        SCOPED_TRACE(c.text);
        healthy_record(&chg_);
        if (c.set)
            c.set(&chg_);
        char buf[CHG_DFS_TEXT_LEN];
        memset(buf, 'x', sizeof(buf));
        int len = vq_chg_dfx_event_text(&chg_, c.type, buf, sizeof(buf));
        EXPECT_EQ(std::string(buf), c.text);
        EXPECT_EQ(len, int(strlen(c.text)));
        // As many items as the row's parameter count, but for fgI2cErr's one item.
        int items = 1 + int(std::count(c.text, c.text + strlen(c.text), ','));
        EXPECT_EQ(items, c.type == DFX_FG_I2C_ERR ? 1 : dfx_evt_cond[c.type].para_cnt);
    }
}

TEST_F(ChgDfsLogicTest, EventTextOfUnknownTypes) {
    for (int type : {0, 5, 23, -1, 100}) {
        char buf[CHG_DFS_TEXT_LEN] = "old";
        EXPECT_EQ(vq_chg_dfx_event_text(&chg_, type, buf, sizeof(buf)), -EINVAL) << type;
    }
}

TEST_F(ChgDfsLogicTest, EventTextStaysInsideItsBuffer) {
    chg_.tbat = INT_MIN;
    chg_.tbat_max = INT_MIN;
    chg_.is_charging = INT_MIN;
    chg_.tboard = INT_MIN;
    char buf[32];
    int len = vq_chg_dfx_event_text(&chg_, DFX_TBAT_HOT, buf, sizeof(buf));
    EXPECT_EQ(len, 31);
    EXPECT_EQ(std::string(buf), std::string("chgStatInfo:TbatHot,tbat:-2147483648").substr(0, 31));
}

// Cutting an upload text into fields.

using Fields = std::vector<std::pair<std::string, std::string>>;

Fields fields_of(const char *text) {
    char buf[CHG_DFS_TEXT_LEN] = {};
    strncpy(buf, text, sizeof(buf) - 1);
    char *rest = buf;
    const char *key, *value;
    Fields out;
    while (zoevent_next_field(&rest, &key, &value))
        out.emplace_back(key, value);
    return out;
}

TEST_F(ChgDfsLogicTest, UploadTextFields) {
    const struct {
        const char *text;
        Fields fields;
    } cases[] = {
        {"chgErrInfo:CpVbusOVP", {{"chgErrInfo", "CpVbusOVP"}}},
        {"chgStatInfo:TbatCold,tbat:-105,tbatMin:-12,isCharging:0,tboard:250",
         {{"chgStatInfo", "TbatCold"},
          {"tbat", "-105"},
          {"tbatMin", "-12"},
          {"isCharging", "0"},
          {"tboard", "250"}}},
        {"noColon", {{"noColon", "None"}}},
        {"a:", {{"a", ""}}},
        {"a:b:c:d", {{"c", "d"}}},
        {"a:b:c", {{"c", "None"}}},
        {"a:b:", {{"a", "b"}}},
        {"a:1,", {{"a", "1"}}},
        {"", {}},
        // Empty items name no field.
        {",a:1", {{"a", "1"}}},
        {"a:1,,b:2", {{"a", "1"}, {"b", "2"}}},
        {",,,", {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(fields_of(c.text), c.fields);
    }
}

TEST_F(ChgDfsLogicTest, UploadTextFieldLogLines) {
    fields_of("x,k:v");
    auto recs = sim::log_records_since(mark_);
    ASSERT_EQ(recs.size(), 4u);
    EXPECT_EQ(recs[0].text, "[DV_CHG_DFS][zoevent_upload]:[CHG_DFS] key:x");
    EXPECT_EQ(recs[0].level, LOGLEVEL_INFO);
    EXPECT_EQ(recs[1].text, "[DV_CHG_DFS][zoevent_upload]:[CHG_DFS] none value");
    EXPECT_EQ(recs[1].level, LOGLEVEL_ERR);
    EXPECT_EQ(recs[2].text, "[DV_CHG_DFS][zoevent_upload]:[CHG_DFS] key:k");
    EXPECT_EQ(recs[3].text, "[DV_CHG_DFS][zoevent_upload]:[CHG_DFS] value:v");
    EXPECT_EQ(recs[3].level, LOGLEVEL_INFO);
}

}  // namespace
