// chgnotify on the booted phone: bound to its device-tree node, driven by the charger's
// reporting line through the phone's charging driver (charge_reporter), observed where user
// space observes it: the uevents sent, the kernel log, sysfs and the module list.
#include "chgnotify_test_util.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace chgnotify_test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

class ChgnotifyDriverTest : public ChgnotifyTest {};

struct SingleCase {
    int type, value;
    const char *sent;
};

TEST_F(ChgnotifyDriverTest, Report_SupportedTypesSendOneString) {
    const SingleCase cases[] = {
        {5, -3, "POWER_SUPPLY_CONNECTOR_TEMP=-3"},
        {1, 55, "POWER_SUPPLY_SOC_DECIMAL=55"},
        {2, 3, "POWER_SUPPLY_SOC_DECIMAL_RATE=3"},
        {3, 1, "POWER_SUPPLY_QUICK_CHARGE_TYPE=1"},
        {4, 1, "POWER_SUPPLY_SHUTDOWN_DELAY=1"},
        {6, 0, "POWER_SUPPLY_NTC_ALARM=0"},
        {7, 2, "POWER_SUPPLY_MOISTURE_DET_STS=2"},
        {8, INT_MIN, "POWER_SUPPLY_REVERSE_QUICK_CHARGE=-2147483648"},
        // The bare types send no value, but the log line still shows it.
        {0, 42, "CHG_UEVENT_DEFAULT_TYPE"},
        {10, -7, "POWER_SUPPLY_CC_SHORT_VBUS"},
    };
    for (const SingleCase &c : cases) {
        SCOPED_TRACE("type " + std::to_string(c.type) + " value " + std::to_string(c.value));
        mark();
        EXPECT_EQ(report(c.type, c.value), 0);
        auto sent = uevents();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].action, "change");
        EXPECT_EQ(sent[0].devpath, kDevpath);
        EXPECT_EQ(sent[0].subsystem, "platform");
        EXPECT_THAT(sent[0].env, ElementsAreArray(expected_env({c.sent}, sent[0].seqnum)));
        EXPECT_THAT(
            log(),
            ElementsAre(Line(
                6, "[DV_CHG_UEVENT][do_charge_uevent_report]:event_type:" + std::to_string(c.type) +
                       ", event_value:" + std::to_string(c.value) + ", uevent_str:" + c.sent)));
    }
}

TEST_F(ChgnotifyDriverTest, Report_UnsupportedTypesSendNothing) {
    for (int type : {9, 11, -1, INT_MIN}) {
        SCOPED_TRACE("type " + std::to_string(type));
        mark();
        EXPECT_EQ(report(type, 1), -EINVAL);
        EXPECT_TRUE(uevents().empty());
        EXPECT_THAT(log(),
                    ElementsAre(Line(6, "[DV_CHG_UEVENT][do_charge_uevent_report]:event_type " +
                                            std::to_string(type) + " not support"),
                                Line(3,
                                     "[DV_CHG_UEVENT][vq_charge_uevent_report]:fail to report "
                                     "charge uevent")));
    }
}

TEST_F(ChgnotifyDriverTest, Bundle_QuickChargeAndSocInOneUevent) {
    mark();
    EXPECT_EQ(report_bundle(0, {1, 55, 3}), 0);
    auto sent = uevents();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].action, "change");
    EXPECT_EQ(sent[0].devpath, kDevpath);
    EXPECT_THAT(sent[0].env, ElementsAreArray(expected_env(
                                 {"POWER_SUPPLY_QUICK_CHARGE_TYPE=1", "POWER_SUPPLY_SOC_DECIMAL=55",
                                  "POWER_SUPPLY_SOC_DECIMAL_RATE=3"},
                                 sent[0].seqnum)));
    const std::string tag = "[DV_CHG_UEVENT][vq_charge_uevents_bundle_report]:";
    EXPECT_THAT(log(), ElementsAre(Line(6, tag + "bundle type 0 contains 3 uevents"),
                                   Line(6, tag + "envp[0] = POWER_SUPPLY_QUICK_CHARGE_TYPE=1"),
                                   Line(6, tag + "envp[1] = POWER_SUPPLY_SOC_DECIMAL=55"),
                                   Line(6, tag + "envp[2] = POWER_SUPPLY_SOC_DECIMAL_RATE=3")));
}

TEST_F(ChgnotifyDriverTest, Bundle_OnlyItsThreeValuesAreSent) {
    // The line's other value registers are not part of bundle 0.
    mark();
    EXPECT_EQ(report_bundle(0, {-1, 100, 0, 7, 8}), 0);
    auto sent = uevents();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_THAT(sent[0].env, ElementsAreArray(expected_env({"POWER_SUPPLY_QUICK_CHARGE_TYPE=-1",
                                                            "POWER_SUPPLY_SOC_DECIMAL=100",
                                                            "POWER_SUPPLY_SOC_DECIMAL_RATE=0"},
                                                           sent[0].seqnum)));
}

TEST_F(ChgnotifyDriverTest, Bundle_OtherTypesRejected) {
    for (int type : {1, -1, 5}) {
        SCOPED_TRACE("bundle type " + std::to_string(type));
        mark();
        EXPECT_EQ(report_bundle(type, {1, 55, 3}), -EINVAL);
        EXPECT_TRUE(uevents().empty());
        EXPECT_THAT(log(),
                    ElementsAre(Line(6,
                                     "[DV_CHG_UEVENT][vq_charge_uevents_bundle_report]:bundle "
                                     "type " +
                                         std::to_string(type) + " not support")));
    }
}

TEST_F(ChgnotifyDriverTest, Report_LostUeventStillSucceeds) {
    // The kernel cannot build the uevent (its environment allocation fails): the report does
    // not look at that, as on a device.
    mark();
    sim::FaultRule rule;
    rule.op = std::string(sim::fault_op::kmalloc);
    sim::fault_arm(rule);
    EXPECT_EQ(report(5, 20), 0);
    EXPECT_EQ(sim::fault_injected_count(sim::fault_op::kmalloc), 1u);
    sim::fault_clear();
    EXPECT_TRUE(uevents().empty());
    EXPECT_THAT(log(), ElementsAre(Line(6,
                                        "[DV_CHG_UEVENT][do_charge_uevent_report]:event_type:5, "
                                        "event_value:20, uevent_str:"
                                        "POWER_SUPPLY_CONNECTOR_TEMP=20")));
}

TEST_F(ChgnotifyDriverTest, Unbound_ReportsFaultSilentlyUntilBoundAgain) {
    ASSERT_EQ(unbind(), long(std::string(kDevice).size()));
    EXPECT_FALSE(simtest::exists(kDevicePath + "/driver"));
    mark();
    EXPECT_EQ(report(5, 1), -EFAULT);
    EXPECT_EQ(report(9, 1), -EFAULT);
    EXPECT_EQ(report_bundle(0, {1, 2, 3}), -EFAULT);
    EXPECT_EQ(report_bundle(1, {}), -EFAULT);
    EXPECT_TRUE(uevents().empty());
    EXPECT_TRUE(log().empty());

    ASSERT_EQ(bind(), long(std::string(kDevice).size()));
    EXPECT_THAT(log(), ElementsAre(Line(6, "[DV_CHG_UEVENT][chgnotify_probe]:success...")));
    mark();
    EXPECT_EQ(report(1, 80), 0);
    auto sent = uevents();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_THAT(sent[0].env,
                ElementsAreArray(expected_env({"POWER_SUPPLY_SOC_DECIMAL=80"}, sent[0].seqnum)));
}

TEST_F(ChgnotifyDriverTest, Probe_AllocationFailureLeavesDeviceUnbound) {
    ASSERT_EQ(unbind(), long(std::string(kDevice).size()));
    mark();
    sim::FaultRule rule;
    rule.op = std::string(sim::fault_op::kmalloc);
    rule.module = "chgnotify";
    sim::fault_arm(rule);
    // The driver core ignores a failed probe's error, as the kernel does: the bind is refused
    // as "no such device", and the probe's -ENOMEM shows in the core's own line only.
    EXPECT_EQ(bind(), -ENODEV);
    EXPECT_EQ(sim::fault_injected_count(sim::fault_op::kmalloc), 1u);
    sim::fault_clear();
    EXPECT_FALSE(simtest::exists(kDevicePath + "/driver"));
    EXPECT_TRUE(log().empty());
    std::vector<std::string> l = log_texts();
    EXPECT_NE(std::find(l.begin(), l.end(), "chgnotify: probe of chgnotify failed with error -12"),
              l.end());
    EXPECT_EQ(report(5, 1), -EFAULT);
    EXPECT_TRUE(uevents().empty());

    ASSERT_EQ(bind(), long(std::string(kDevice).size()));
    EXPECT_EQ(report(5, 1), 0);
}

TEST_F(ChgnotifyDriverTest, Module_InUseByChargingDriverCannotBeUnloaded) {
    EXPECT_EQ(sim::module_unload("chgnotify"), -EBUSY);
    const sim::ModuleInfo *info = find_module("chgnotify");
    ASSERT_NE(info, nullptr);
    EXPECT_THAT(info->used_by, ElementsAre("charge_reporter"));
    EXPECT_EQ(info->refcount, 1);
    // Still bound and working.
    EXPECT_TRUE(simtest::exists(kDevicePath + "/driver"));
    EXPECT_EQ(report(5, 1), 0);
}

TEST_F(ChgnotifyDriverTest, Module_IdleUnloadLeavesNothingBehind) {
    simtest::expect_clean_unload("charge_reporter");
    EXPECT_EQ(hw::charge_reporter_raise(single(5, 1)), -ENODEV);
    mark();
    simtest::expect_clean_unload("chgnotify");
    EXPECT_FALSE(simtest::exists(kDriverPath));
    EXPECT_FALSE(simtest::exists(kDevicePath + "/driver"));
    EXPECT_FALSE(simtest::exists("/sys/module/chgnotify"));
    // Loaded again, it binds afresh (fresh module state) and serves the charging driver.
    load_stack();
    mark();
    EXPECT_EQ(report(5, 2), 0);
    EXPECT_EQ(uevents().size(), 1u);
}

TEST_F(ChgnotifyDriverTest, Module_GplOnlyExportsRefusedToProprietaryModule) {
    EXPECT_EQ(sim::module_load("chgnotify_prop"), -ENOENT);
    std::vector<std::string> l = log_texts();
    EXPECT_NE(std::find(l.begin(), l.end(),
                        "chgnotify_prop: Unknown symbol vq_charge_uevent_report (err -2)"),
              l.end());
    EXPECT_EQ(sim::module_find("chgnotify_prop"), nullptr);
    const sim::ModuleInfo *info = find_module("chgnotify");
    ASSERT_NE(info, nullptr);
    EXPECT_THAT(info->used_by, ElementsAre("charge_reporter"));
}

TEST_F(ChgnotifyDriverTest, Module_MetadataAndDeviceTable) {
    const sim::ModuleInfo *info = find_module("chgnotify");
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->license, "GPL v2");
    EXPECT_EQ(info->description, "Vantor Charge Uevent Report Driver");
    EXPECT_THAT(info->devtables, ElementsAre("of:chgnotify_of_match"));
}

}  // namespace
}  // namespace chgnotify_test
