// chgsentry's binding on the phone: the probe's paths with parts of the charging stack missing,
// its board region, unbind and bind through sysfs, failures injected into what the probe
// allocates and registers, and a clean unload.
#include "chgsentry_test_util.h"

#include "simkernel/kernel/task.h"

namespace chgsentry_test {
namespace {

const Line kEea = {6, "[DV_CHG_DFS][chgsentry_pcba_init]:board version = 1"};
const Line kSuccess = {6, "[DV_CHG_DFS][chgsentry_probe]:success..."};
const Line kPoke = {6, "[DV_CHG_DFS][chg_cp_charger_notifier_call]:receive event not support: 2"};
constexpr const char kThread[] = "vq_chg_dfx_repo";  // the report thread's comm, cut to 15

bool report_thread_running() {
    return sim::task_find_by_comm(kThread) != nullptr;
}

// A charge-pump event that only a joined chgsentry notices (it logs it, and nothing else).
void poke() {
    ASSERT_EQ(hw::charging::cp_event(2), 0);
    sim::settle();
}

using ChgsentryProbeTest = ChgsentryTest;

// Tests that arrange the hardware before chgsentry loads.
class ChgsentryLateLoadTest : public ChgsentryTest {
  protected:
    ChgsentryLateLoadTest() { load_on_setup_ = false; }
    void load() {
        mark();
        ASSERT_EQ(sim::module_load("chgsentry"), 0);
        sim::settle();
        if (bound())
            battery_seen();
    }
};

TEST_F(ChgsentryProbeTest, BindsOnTheDefaultPhone) {
    EXPECT_TRUE(bound());
    EXPECT_EQ(lines(), (std::vector<Line>{kEea, kSuccess}));
    EXPECT_TRUE(report_thread_running());

    // Joined to the charge pump's chain: its events reach the callback.
    poke();
    EXPECT_EQ(plain_lines(), (std::vector<Line>{kEea, kSuccess, kPoke}));
}

TEST_F(ChgsentryProbeTest, ModuleDescriptionAndUses) {
    bool found = false;
    for (const sim::ModuleInfo &m : sim::module_list()) {
        if (m.name == "chgsentry") {
            found = true;
            EXPECT_EQ(m.description, "Vantor Charge DFS Driver");
            EXPECT_EQ(m.license, "GPL v2");
            EXPECT_EQ(m.devtables, std::vector<std::string>{"of:chgsentry_of_match"});
        }
        // The seven modules whose exports it calls.
        for (const char *used : {"dv_notify", "vq_adapter_class", "dvsys_pcba", "dv_charger_class",
                                 "dv_fg_class", "dv_cp_class", "zoev"}) {
            if (m.name == used) {
                EXPECT_NE(std::find(m.used_by.begin(), m.used_by.end(), "chgsentry"),
                          m.used_by.end())
                    << used;
            }
        }
    }
    EXPECT_TRUE(found);
    // The event channel cannot go while chgsentry writes to it.
    EXPECT_EQ(sim::module_unload("zoev"), -EBUSY);
    EXPECT_NE(sim::module_find("zoev"), nullptr);
}

TEST_F(ChgsentryProbeTest, UnloadLeavesNothingBehind) {
    simtest::expect_clean_unload("chgsentry");
    EXPECT_FALSE(report_thread_running());
    poke();
    advance(120);
    EXPECT_EQ(lines(), (std::vector<Line>{kEea, kSuccess})) << "no callback, no check";
    for (const sim::ModuleInfo &m : sim::module_list()) {
        EXPECT_EQ(std::find(m.used_by.begin(), m.used_by.end(), "chgsentry"), m.used_by.end())
            << m.name;
    }
}

TEST_F(ChgsentryLateLoadTest, NoChargePumpStillBindsAndReportsItSilent) {
    ASSERT_EQ(set_attached("master_cp_chg", false), 0);
    load();
    EXPECT_TRUE(bound());
    EXPECT_EQ(lines(), (std::vector<Line>{kEea, kSuccess}));

    advance_to(60);
    EXPECT_EQ(records(),
              (std::vector<Record>{{60, "909005002 chgErrInfo=\"CpI2CErr\" masterOk=0"}}));
    // Again only once more than 600 s have passed: at the check of second 670.
    advance_to(669);
    EXPECT_EQ(records().size(), 1u);
    advance_to(670);
    EXPECT_EQ(records().size(), 2u);
    EXPECT_EQ(records().back(), (Record{670, "909005002 chgErrInfo=\"CpI2CErr\" masterOk=0"}));
}

// Without the adapter or the fuel gauge the probe waits, says nothing and joins nothing; it
// binds when the device appears.
TEST_F(ChgsentryLateLoadTest, MissingAdapterOrFuelGaugeDefersQuietly) {
    for (const char *part : {"pd_adapter", "fuel_gauge"}) {
        SCOPED_TRACE(part);
        ASSERT_EQ(set_attached(part, false), 0);
        load();
        EXPECT_FALSE(bound());
        EXPECT_NE(deferred().find("chgsentry\t\n"), std::string::npos);
        EXPECT_FALSE(report_thread_running());
        poke();
        advance(120);
        EXPECT_EQ(lines(), std::vector<Line>{});

        ASSERT_EQ(set_attached(part, true), 0);
        EXPECT_TRUE(bound());
        EXPECT_EQ(deferred().find("chgsentry"), std::string::npos);
        EXPECT_TRUE(report_thread_running());
        poke();
        // Joined once: one line per event.
        EXPECT_EQ(plain_lines(), (std::vector<Line>{kEea, kSuccess, kPoke}));
        simtest::expect_clean_unload("chgsentry");
    }
}

TEST_F(ChgsentryLateLoadTest, MissingPrimaryChargerDefersAfterJoiningAndLeavesTheChains) {
    ASSERT_EQ(set_attached("primary_chg", false), 0);
    load();
    EXPECT_FALSE(bound());
    EXPECT_NE(deferred().find("chgsentry\t\n"), std::string::npos);
    const Line missing = {3, "[DV_CHG_DFS][chgsentry_probe]:failed to find primary_chg device"};
    EXPECT_EQ(lines(), (std::vector<Line>{kEea, missing}));
    // Nothing of the failed probe is left running or joined.
    EXPECT_FALSE(report_thread_running());
    poke();
    advance(120);
    EXPECT_EQ(lines(), (std::vector<Line>{kEea, missing}));

    mark();
    ASSERT_EQ(set_attached("primary_chg", true), 0);
    EXPECT_TRUE(bound());
    poke();
    EXPECT_EQ(plain_lines(), (std::vector<Line>{kEea, kSuccess, kPoke}));
    EXPECT_TRUE(report_thread_running());
}

TEST_F(ChgsentryLateLoadTest, BoardWithoutVersion) {
    // The board-information driver let go of its node: no version to read.
    const std::string pcba = "/sys/bus/platform/drivers/dvsys_pcba";
    ASSERT_EQ(simtest::write(pcba + "/unbind", "board-info"), 10);
    load();
    EXPECT_EQ(lines(),
              (std::vector<Line>{{3, "[DV_CHG_DFS][chgsentry_pcba_init]:get board version fail"},
                                 kSuccess}));
    simtest::expect_clean_unload("chgsentry");
    ASSERT_EQ(simtest::write(pcba + "/bind", "board-info"), 10);
}

TEST_F(ChgsentryProbeTest, UnbindAndBindThroughSysfs) {
    ASSERT_EQ(unbind(), long(kDevice.size()));
    EXPECT_FALSE(bound());
    EXPECT_FALSE(report_thread_running());
    poke();
    advance(120);
    EXPECT_EQ(checks(), 0) << "the check went with the device";
    EXPECT_EQ(lines(), (std::vector<Line>{kEea, kSuccess}));

    prepare();
    ASSERT_EQ(bind(), long(kDevice.size()));
    EXPECT_TRUE(bound());
    EXPECT_TRUE(report_thread_running());
    poke();
    EXPECT_EQ(plain_lines(), (std::vector<Line>{kEea, kSuccess, kPoke}));
    advance_to(59);
    EXPECT_EQ(checks(), 0);
    advance_to(60);
    EXPECT_EQ(checks(), 1);
}

TEST_F(ChgsentryLateLoadTest, RecordAllocationFailure) {
    sim::FaultRule rule;
    rule.op = "kmalloc";
    rule.module = "chgsentry";
    rule.mode = sim::FaultRule::Mode::next;
    sim::fault_arm(rule);
    load();
    EXPECT_EQ(sim::fault_injected_count("kmalloc"), 1u);
    EXPECT_FALSE(bound());
    EXPECT_EQ(deferred().find("chgsentry"), std::string::npos);
    EXPECT_EQ(lines(), std::vector<Line>{});
    EXPECT_FALSE(report_thread_running());
}

// Without its thread the device binds and checks, but nothing is uploaded.
TEST_F(ChgsentryLateLoadTest, ReportThreadCreationFailure) {
    sim::FaultRule rule;
    rule.op = "kthread_create";
    rule.module = "chgsentry";
    sim::fault_arm(rule);
    load();
    EXPECT_EQ(sim::fault_injected_count("kthread_create"), 1u);
    EXPECT_TRUE(bound());
    EXPECT_EQ(lines(), (std::vector<Line>{kEea, kSuccess}));
    ASSERT_EQ(hw::charging::cp_event(CP_EVENT_VBUS_OVP), 0);
    advance_to(60);
    EXPECT_EQ(checks(), 1);
    EXPECT_EQ(count_lines("[DV_CHG_DFS][handle_evt_cond_check_work]:1 dfx event need report"), 1);
    EXPECT_EQ(records(), std::vector<Record>{});
}

// A chain that cannot be joined fails the probe with its error; the chains joined before it
// are left again.
TEST_F(ChgsentryLateLoadTest, NotifierRegistrationFailures) {
    const char *errors[] = {
        "[DV_CHG_DFS][chgsentry_probe]:couldn't register psy notifier ret = -12",
        "[DV_CHG_DFS][chgsentry_probe]:couldn't register charger notifier, ret = -12",
        "[DV_CHG_DFS][chgsentry_probe]:couldn't register fg notifier, ret = -12",
        "[DV_CHG_DFS][chgsentry_probe]:couldn't register charger manager notifier, ret = -12",
    };
    for (int nth = 1; nth <= 4; nth++) {
        SCOPED_TRACE(errors[nth - 1]);
        sim::FaultRule rule;
        rule.op = "notifier_register";
        rule.module = "chgsentry";
        rule.mode = sim::FaultRule::Mode::nth;
        rule.count = uint64_t(nth);
        sim::fault_arm(rule);
        load();
        sim::fault_clear();
        EXPECT_FALSE(bound());
        EXPECT_EQ(lines(), (std::vector<Line>{kEea, {3, errors[nth - 1]}}));
        EXPECT_FALSE(report_thread_running());
        poke();
        advance(120);
        EXPECT_EQ(lines(), (std::vector<Line>{kEea, {3, errors[nth - 1]}}));

        // A later bind joins every chain once.
        mark();
        ASSERT_EQ(bind(), long(kDevice.size()));
        EXPECT_TRUE(bound());
        poke();
        EXPECT_EQ(plain_lines(), (std::vector<Line>{kEea, kSuccess, kPoke}));
        simtest::expect_clean_unload("chgsentry");
    }
}

}  // namespace
}  // namespace chgsentry_test
