// The charging stack on the booted default phone: its seven service modules and the four
// hardware drivers loaded as at boot, driven through the hardware controls (hw/charging_model.h)
// and observed where the kernel's users observe them: the power-supply chain and sysfs files,
// the charging stack's chains and exports, uevents and /dev/zoev.
#include "hw/charging_model.h"
#include "hw/component.h"
#include "simkernel/drivers/base/uevent_host.h"
#include "simkernel/kernel/fault.h"
#include "simkernel/kernel/module_loader.h"
#include "simkernel/kernel/sim_time.h"
#include "tests/support/node_files.h"

#include <platform/adapter_class.h>
#include <platform/chargerpump_class.h>
#include <platform/dv_notify.h>
#include <platform/fuel_gauge_class.h>
#include <platform/pcba.h>
#include <platform/power_supply.h>
#include <platform/zoev.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace {

using namespace hw::charging;
using simtest::exists;
using simtest::read;

const char *const kStack[] = {"dv_notify",        "zoev",        "dvsys_pcba",
                              "dv_charger_class", "dv_cp_class", "dv_fg_class",
                              "vq_adapter_class", "usbpd_port",  "primary_charger",
                              "charge_pump",      "fuel_gauge"};

constexpr uint64_t kSecond = 1000000000ULL;

// One call of a notifier block.
struct Call {
    unsigned long event;
    std::string supply;  // power-supply chain: the supply's name
    int data = -1;       // charger-manager chain: the data byte; fuel-gauge chain: the word
    bool operator==(const Call &o) const = default;
};
void PrintTo(const Call &c, std::ostream *os) {
    *os << "{" << c.event << ", \"" << c.supply << "\", " << c.data << "}";
}

std::mutex calls_lock;
std::vector<Call> psy_calls, cp_calls, cm_calls, fg_calls;

int psy_cb(struct notifier_block *, unsigned long event, void *data) {
    std::lock_guard g(calls_lock);
    psy_calls.push_back({event, static_cast<struct power_supply *>(data)->desc->name});
    return NOTIFY_OK;
}
int cp_cb(struct notifier_block *, unsigned long event, void *) {
    std::lock_guard g(calls_lock);
    cp_calls.push_back({event, ""});
    return NOTIFY_DONE;
}
int cm_cb(struct notifier_block *, unsigned long event, void *data) {
    std::lock_guard g(calls_lock);
    cm_calls.push_back({event, "", data ? *static_cast<u8 *>(data) : -1});
    return NOTIFY_DONE;
}
int fg_cb(struct notifier_block *, unsigned long event, void *data) {
    std::lock_guard g(calls_lock);
    fg_calls.push_back({event, "", static_cast<int>(*static_cast<u32 *>(data))});
    return NOTIFY_DONE;
}

struct notifier_block psy_nb = {psy_cb, nullptr, 0};
struct notifier_block cp_nb = {cp_cb, nullptr, 0};
struct notifier_block cm_nb = {cm_cb, nullptr, 0};
struct notifier_block fg_nb = {fg_cb, nullptr, 0};

// An export of a loaded module, as symbol_get() gives it; put back by the fixture.
template <typename T>
T sym(const char *name) {
    void *p = sim::module_symbol_get(name);
    EXPECT_NE(p, nullptr) << name;
    return reinterpret_cast<T>(p);
}

const char *const kSyms[] = {"dv_chargerpump_notifier_register",
                             "dv_chargerpump_notifier_unregister",
                             "dv_chargermanager_notifier_register",
                             "dv_chargermanager_notifier_unregister",
                             "dv_fg_notifier_register",
                             "dv_fg_notifier_unregister",
                             "get_adapter_by_name",
                             "chargerpump_find_dev_by_name",
                             "chargerpump_get_chip_ok",
                             "fuel_gauge_find_dev_by_name",
                             "fuel_gauge_check_fg_status",
                             "get_pcba_msg",
                             "cdev_tevent_alloc",
                             "cdev_tevent_add_str",
                             "cdev_tevent_add_int",
                             "cdev_tevent_write",
                             "cdev_tevent_destroy",
                             "adapter_get_usbpd_verifed"};

class ChargingStack : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        sim::module_set_dir(SIM_MODULE_DIR);
        for (const char *m : kStack)
            ASSERT_EQ(sim::module_load(m), 0) << m;
        sim::settle();
        ASSERT_EQ(power_supply_reg_notifier(&psy_nb), 0);
        ASSERT_EQ(sym<int (*)(notifier_block *)>("dv_chargerpump_notifier_register")(&cp_nb), 0);
        ASSERT_EQ(sym<int (*)(notifier_block *)>("dv_chargermanager_notifier_register")(&cm_nb), 0);
        ASSERT_EQ(sym<int (*)(notifier_block *)>("dv_fg_notifier_register")(&fg_nb), 0);
    }
    static void TearDownTestSuite() {
        power_supply_unreg_notifier(&psy_nb);
        sym<int (*)(notifier_block *)>("dv_chargerpump_notifier_unregister")(&cp_nb);
        sym<int (*)(notifier_block *)>("dv_chargermanager_notifier_unregister")(&cm_nb);
        sym<int (*)(notifier_block *)>("dv_fg_notifier_unregister")(&fg_nb);
        for (const char *s : kSyms)
            for (int i = 0; i < 8; i++)
                sim::module_symbol_put(s);
    }
    void SetUp() override {
        // Every test starts from a discharging cell at 50% with nothing pinned and healthy chips.
        adapter_unplug();
        ASSERT_EQ(battery_set("soc", 50), 0);
        ASSERT_EQ(battery_set("temp", 250), 0);
        ASSERT_EQ(battery_set("tboard", 250), 0);
        ASSERT_EQ(battery_set("cycle", 12), 0);
        ASSERT_EQ(cp_set_temp(300), 0);
        ASSERT_EQ(cp_set_chip_ok(true), 0);
        ASSERT_EQ(fg_set_status(0), 0);
        ASSERT_EQ(battery_auto(), 0);
        sim::settle();
        clear_calls();
        uevent_mark_ = sim::uevent_next_seq();
    }
    static void clear_calls() {
        std::lock_guard g(calls_lock);
        psy_calls.clear();
        cp_calls.clear();
        cm_calls.clear();
        fg_calls.clear();
    }
    static std::vector<Call> take(std::vector<Call> &v) {
        std::lock_guard g(calls_lock);
        std::vector<Call> out;
        out.swap(v);
        return out;
    }
    static int prop(const char *supply, enum power_supply_property p) {
        struct power_supply *psy = power_supply_get_by_name(supply);
        EXPECT_NE(psy, nullptr) << supply;
        union power_supply_propval val = {};
        int err = power_supply_get_property(psy, p, &val);
        power_supply_put(psy);
        return err ? err : val.intval;
    }
    // The POWER_SUPPLY_ variables of the change uevents since the test began.
    std::vector<std::vector<std::string>> change_uevents(const std::string &supply) {
        std::vector<std::vector<std::string>> out;
        for (const sim::Uevent &ev : sim::uevents_since(uevent_mark_)) {
            if (ev.action != "change" || ev.subsystem != "power_supply" ||
                ev.devpath.substr(ev.devpath.rfind('/') + 1) != supply)
                continue;
            std::vector<std::string> vars;
            for (const std::string &v : ev.env)
                if (v.rfind("POWER_SUPPLY_", 0) == 0)
                    vars.push_back(v);
            out.push_back(vars);
        }
        return out;
    }
    uint64_t uevent_mark_ = 0;
};

TEST_F(ChargingStack, PowerSupplyClassShowsEachSupplyWithItsAttributes) {
    EXPECT_EQ(read("/sys/class/power_supply/battery/type"), "Battery\n");
    EXPECT_EQ(read("/sys/class/power_supply/battery/status"), "Discharging\n");
    EXPECT_EQ(read("/sys/class/power_supply/battery/capacity"), "50\n");
    EXPECT_EQ(read("/sys/class/power_supply/battery/temp"), "250\n");
    EXPECT_EQ(read("/sys/class/power_supply/battery/voltage_now"), "3917500\n");
    EXPECT_EQ(read("/sys/class/power_supply/battery/cycle_count"), "12\n");
    EXPECT_EQ(read("/sys/class/power_supply/battery/authentic"), "1\n");
    EXPECT_EQ(simtest::mode("/sys/class/power_supply/battery/temp"), 0444u);
    // Only the properties a supply has get a file.
    EXPECT_FALSE(exists("/sys/class/power_supply/battery/online"));
    EXPECT_EQ(read("/sys/class/power_supply/usb/type"), "USB\n");
    EXPECT_EQ(read("/sys/class/power_supply/usb/online"), "0\n");
    EXPECT_EQ(read("/sys/class/power_supply/sc-cp-master/temp"), "300\n");
    EXPECT_EQ(read("/sys/class/power_supply/battery/uevent"),
              "POWER_SUPPLY_NAME=battery\n"
              "POWER_SUPPLY_STATUS=Discharging\n"
              "POWER_SUPPLY_PRESENT=1\n"
              "POWER_SUPPLY_AUTHENTIC=1\n"
              "POWER_SUPPLY_CYCLE_COUNT=12\n"
              "POWER_SUPPLY_VOLTAGE_NOW=3917500\n"
              "POWER_SUPPLY_CURRENT_NOW=-150000\n"
              "POWER_SUPPLY_CHARGE_FULL_DESIGN=4500000\n"
              "POWER_SUPPLY_CAPACITY=50\n"
              "POWER_SUPPLY_TEMP=250\n");
    struct power_supply *bat = power_supply_get_by_name("battery");
    ASSERT_NE(bat, nullptr);
    auto *drv = static_cast<struct dv_battery_drvdata *>(power_supply_get_drvdata(bat));
    EXPECT_EQ(drv->vbus_type, 0);
    EXPECT_EQ(drv->rsoc, 50);
    EXPECT_EQ(drv->tboard, 250);
    power_supply_put(bat);
    EXPECT_EQ(power_supply_get_by_name("ac"), nullptr);
}

TEST_F(ChargingStack, BatteryControlReachesThePowerSupplyChainAndSendsAChangeUevent) {
    ASSERT_EQ(battery_set("temp", 563), 0);
    sim::settle();
    EXPECT_EQ(take(psy_calls), (std::vector<Call>{{PSY_EVENT_PROP_CHANGED, "battery"}}));
    EXPECT_EQ(prop("battery", POWER_SUPPLY_PROP_TEMP), 563);
    auto evs = change_uevents("battery");
    ASSERT_EQ(evs.size(), 1u);
    EXPECT_EQ(evs[0][0], "POWER_SUPPLY_NAME=battery");
    EXPECT_EQ(evs[0].back(), "POWER_SUPPLY_TEMP=563");

    // Each key lands in its property or in the battery's driver data.
    ASSERT_EQ(battery_set("status", POWER_SUPPLY_STATUS_FULL), 0);
    ASSERT_EQ(battery_set("cycle", 300), 0);
    ASSERT_EQ(battery_set("auth", 0), 0);
    ASSERT_EQ(battery_set("vbat", 4400000), 0);
    ASSERT_EQ(battery_set("rsoc", 97), 0);
    ASSERT_EQ(battery_set("tboard", 402), 0);
    ASSERT_EQ(battery_set("vbus_type", 5), 0);
    ASSERT_EQ(battery_set("soc", 99), 0);
    sim::settle();
    EXPECT_EQ(prop("battery", POWER_SUPPLY_PROP_STATUS), POWER_SUPPLY_STATUS_FULL);
    EXPECT_EQ(prop("battery", POWER_SUPPLY_PROP_CYCLE_COUNT), 300);
    EXPECT_EQ(prop("battery", POWER_SUPPLY_PROP_AUTHENTIC), 0);
    EXPECT_EQ(prop("battery", POWER_SUPPLY_PROP_VOLTAGE_NOW), 4400000);
    EXPECT_EQ(prop("battery", POWER_SUPPLY_PROP_CAPACITY), 99);
    EXPECT_EQ(read("/sys/class/power_supply/battery/status"), "Full\n");
    struct power_supply *bat = power_supply_get_by_name("battery");
    auto *drv = static_cast<struct dv_battery_drvdata *>(power_supply_get_drvdata(bat));
    EXPECT_EQ(drv->rsoc, 97);
    EXPECT_EQ(drv->tboard, 402);
    EXPECT_EQ(drv->vbus_type, 5);
    power_supply_put(bat);
    EXPECT_FALSE(take(psy_calls).empty());
    EXPECT_EQ(battery_set("volts", 1), -EINVAL);
}

TEST_F(ChargingStack, FailedPropertyReadFailsOnceOnly) {
    ASSERT_EQ(battery_fail("temp"), 0);
    EXPECT_EQ(prop("battery", POWER_SUPPLY_PROP_TEMP), -EIO);
    EXPECT_EQ(prop("battery", POWER_SUPPLY_PROP_TEMP), 250);
    ASSERT_EQ(battery_fail("cycle_count"), 0);
    EXPECT_EQ(prop("battery", POWER_SUPPLY_PROP_CAPACITY), 50);
    std::string out;
    EXPECT_EQ(sim::vfs::read_file("/sys/class/power_supply/battery/cycle_count", &out), -EIO);
    EXPECT_EQ(read("/sys/class/power_supply/battery/cycle_count"), "12\n");
    EXPECT_EQ(battery_fail("health"), -EINVAL);
}

TEST_F(ChargingStack, BatteryChargesWhilePluggedInAndDischargesOtherwise) {
    Adapter a;
    ASSERT_EQ(adapter_plug(a), 0);
    sim::settle();
    EXPECT_EQ(take(cm_calls), (std::vector<Call>{{CM_EVENT_ADAPTER_PLUGIN, "", 0}}));
    EXPECT_EQ(prop("battery", POWER_SUPPLY_PROP_STATUS), POWER_SUPPLY_STATUS_CHARGING);
    EXPECT_EQ(prop("usb", POWER_SUPPLY_PROP_VOLTAGE_NOW), 9000000);
    // 3 A into 4,500 mAh: 8,333 uAh every 10 s; 60 s take the cell from 50.0% to 51.1%.
    sim::time_advance(60 * kSecond);
    EXPECT_EQ(prop("battery", POWER_SUPPLY_PROP_CAPACITY), 51);
    EXPECT_EQ(prop("battery", POWER_SUPPLY_PROP_CURRENT_NOW), 3000000);
    EXPECT_EQ(prop("battery", POWER_SUPPLY_PROP_VOLTAGE_NOW),
              3400000 + int(1050000LL * 2299998 / 4500000) + 150000);
    int temp = prop("battery", POWER_SUPPLY_PROP_TEMP);
    EXPECT_GT(temp, 250);
    // The gauge told the chain about each percent.
    auto calls = take(psy_calls);
    EXPECT_NE(std::find(calls.begin(), calls.end(), Call{PSY_EVENT_PROP_CHANGED, "battery"}),
              calls.end());

    // Two hours reach full: status Full at 100%, no current.
    sim::time_advance(7200 * kSecond);
    EXPECT_EQ(prop("battery", POWER_SUPPLY_PROP_CAPACITY), 100);
    EXPECT_EQ(prop("battery", POWER_SUPPLY_PROP_STATUS), POWER_SUPPLY_STATUS_FULL);
    EXPECT_EQ(prop("battery", POWER_SUPPLY_PROP_CURRENT_NOW), 0);
    EXPECT_EQ(prop("battery", POWER_SUPPLY_PROP_VOLTAGE_NOW), 4450000);

    ASSERT_EQ(adapter_unplug(), 0);
    sim::settle();
    EXPECT_EQ(take(cm_calls), (std::vector<Call>{{CM_EVENT_ADAPTER_PLUGOUT, "", 0}}));
    EXPECT_EQ(prop("battery", POWER_SUPPLY_PROP_STATUS), POWER_SUPPLY_STATUS_DISCHARGING);
    EXPECT_EQ(prop("battery", POWER_SUPPLY_PROP_CURRENT_NOW), -150000);
    // 150 mA: 1% (45 mAh) every 18 minutes.
    sim::time_advance(1080 * kSecond);
    EXPECT_EQ(prop("battery", POWER_SUPPLY_PROP_CAPACITY), 99);
}

TEST_F(ChargingStack, PinnedValueStaysUntilAuto) {
    ASSERT_EQ(adapter_plug(Adapter{}), 0);
    ASSERT_EQ(battery_set("temp", 300), 0);
    sim::time_advance(600 * kSecond);
    EXPECT_EQ(prop("battery", POWER_SUPPLY_PROP_TEMP), 300);
    ASSERT_EQ(battery_auto(), 0);
    sim::time_advance(600 * kSecond);
    EXPECT_GT(prop("battery", POWER_SUPPLY_PROP_TEMP), 300);
    // Too hot to charge (above 48.0 degrees): the charger stops, the cell reports not charging.
    ASSERT_EQ(battery_set("temp", 500), 0);
    sim::settle();
    EXPECT_EQ(prop("battery", POWER_SUPPLY_PROP_STATUS), POWER_SUPPLY_STATUS_NOT_CHARGING);
    ASSERT_EQ(battery_set("temp", 49), 0);
    sim::settle();
    EXPECT_EQ(prop("battery", POWER_SUPPLY_PROP_STATUS), POWER_SUPPLY_STATUS_NOT_CHARGING);
    ASSERT_EQ(battery_set("temp", 50), 0);
    sim::settle();
    EXPECT_EQ(prop("battery", POWER_SUPPLY_PROP_STATUS), POWER_SUPPLY_STATUS_CHARGING);
}

TEST_F(ChargingStack, HardwareControlsReachTheirChains) {
    static const std::pair<int, int> cp_codes[] = {
        {CP_EVENT_VBUS_OVP, 0}, {CP_EVENT_VBAT_OVP, 1},    {CP_EVENT_IBUS_OCP, 8},
        {CP_EVENT_VAC_OVP, 13}, {CP_EVENT_TDIE_FAULT, 14}, {42, 42}};
    for (const auto &[code, expect] : cp_codes) {
        ASSERT_EQ(cp_event(code), 0);
        sim::settle();
        EXPECT_EQ(take(cp_calls), (std::vector<Call>{{(unsigned long)expect, ""}})) << code;
    }
    ASSERT_EQ(cm_event(CM_EVENT_LPD, 7), 0);
    ASSERT_EQ(cm_event(CM_EVENT_CHARGER_ENABLE, 0), 0);
    ASSERT_EQ(cm_event(CM_EVENT_VBUS_UVLO, 0), 0);
    sim::settle();
    EXPECT_EQ(take(cm_calls), (std::vector<Call>{{CM_EVENT_LPD, "", 7},
                                                 {CM_EVENT_CHARGER_ENABLE, "", 0},
                                                 {CM_EVENT_VBUS_UVLO, "", 0}}));

    ASSERT_EQ(cp_set_temp(455), 0);
    sim::settle();
    EXPECT_EQ(take(psy_calls), (std::vector<Call>{{PSY_EVENT_PROP_CHANGED, "sc-cp-master"}}));
    EXPECT_EQ(prop("sc-cp-master", POWER_SUPPLY_PROP_TEMP), 455);

    ASSERT_EQ(usb_set_vbus(4000000), 0);
    sim::settle();
    EXPECT_EQ(take(psy_calls), (std::vector<Call>{{PSY_EVENT_PROP_CHANGED, "usb"}}));
    EXPECT_EQ(prop("usb", POWER_SUPPLY_PROP_VOLTAGE_NOW), 4000000);
    ASSERT_EQ(usb_set_vbus(0), 0);

    auto check = sym<int (*)(fuel_gauge_dev *)>("fuel_gauge_check_fg_status");
    auto *fg = sym<fuel_gauge_dev *(*)(const char *)>("fuel_gauge_find_dev_by_name")("fuel_gauge");
    ASSERT_NE(fg, nullptr);
    ASSERT_EQ(fg_set_status(FG_STATUS_I2C_ERROR), 0);
    sim::settle();
    EXPECT_EQ(take(fg_calls), (std::vector<Call>{{FG_EVENT_STATUS_CHANGED, "", 2}}));
    EXPECT_EQ(check(fg), 2);
    ASSERT_EQ(fg_set_status(0), 0);
    sim::settle();
    EXPECT_EQ(check(fg), 0);

    auto chip_ok = sym<int (*)(chargerpump_dev *, int *)>("chargerpump_get_chip_ok");
    auto *cp =
        sym<chargerpump_dev *(*)(const char *)>("chargerpump_find_dev_by_name")("master_cp_chg");
    ASSERT_NE(cp, nullptr);
    int ok = -1;
    ASSERT_EQ(cp_set_chip_ok(false), 0);
    EXPECT_EQ(chip_ok(cp, &ok), 0);
    EXPECT_EQ(ok, 0);
    ASSERT_EQ(cp_set_chip_ok(true), 0);
    EXPECT_EQ(chip_ok(cp, &ok), 0);
    EXPECT_EQ(ok, 1);
}

TEST_F(ChargingStack, AdapterRecordFollowsThePlugAndItsAuthentication) {
    auto *pd = sym<adapter_device *(*)(const char *)>("get_adapter_by_name")("pd_adapter");
    ASSERT_NE(pd, nullptr);
    EXPECT_EQ(pd->adapter_svid, 0u);
    Adapter a;
    a.svid = 0x12ab;
    a.verified = false;
    a.verify_done = 3;
    ASSERT_EQ(adapter_plug(a), 0);
    EXPECT_EQ(adapter_plug(a), -EBUSY);
    sim::settle();
    EXPECT_EQ(pd->adapter_svid, 0x12abu);
    EXPECT_EQ(pd->verify_done, 3);
    bool verified = true;
    EXPECT_EQ(sym<int (*)(adapter_device *, bool *)>("adapter_get_usbpd_verifed")(pd, &verified),
              0);
    EXPECT_FALSE(verified);
    ASSERT_EQ(adapter_unplug(), 0);
    EXPECT_EQ(adapter_unplug(), -ENODEV);
    sim::settle();
    EXPECT_EQ(pd->adapter_svid, 0u);
    EXPECT_EQ(pd->verify_done, 0);
    EXPECT_EQ(sym<adapter_device *(*)(const char *)>("get_adapter_by_name")("pd_adapter2"),
              nullptr);
    const char *version = sym<pcba_msg *(*)()>("get_pcba_msg")()->board_version;
    ASSERT_NE(version, nullptr);
    EXPECT_STREQ(version, "MP1.0-eea");
}

hw::Component component(const std::string &name) {
    for (const hw::Component &c : hw::components())
        if (c.name == name)
            return c;
    ADD_FAILURE() << name;
    return {};
}

TEST_F(ChargingStack, DetachedPartVanishesAndAttachedOneComesBack) {
    auto find_fg = sym<fuel_gauge_dev *(*)(const char *)>("fuel_gauge_find_dev_by_name");
    auto find_cp = sym<chargerpump_dev *(*)(const char *)>("chargerpump_find_dev_by_name");
    auto chip_ok = sym<int (*)(chargerpump_dev *, int *)>("chargerpump_get_chip_ok");
    chargerpump_dev *old_cp = find_cp("master_cp_chg");
    ASSERT_NE(old_cp, nullptr);

    ASSERT_EQ(component("fuel_gauge").set_attached(false), 0);
    ASSERT_EQ(component("master_cp_chg").set_attached(false), 0);
    sim::settle();
    EXPECT_EQ(find_fg("fuel_gauge"), nullptr);
    EXPECT_EQ(find_cp("master_cp_chg"), nullptr);
    EXPECT_FALSE(exists("/sys/class/power_supply/battery"));
    EXPECT_FALSE(exists("/sys/class/power_supply/sc-cp-master"));
    // A handle kept from before stays safe: the chip no longer answers.
    int ok = -1;
    EXPECT_EQ(chip_ok(old_cp, &ok), -EOPNOTSUPP);
    EXPECT_EQ(ok, 0);
    EXPECT_NE(component("fuel_gauge").state().find("fuel_gauge: detached"), std::string::npos);

    ASSERT_EQ(component("fuel_gauge").set_attached(true), 0);
    ASSERT_EQ(component("master_cp_chg").set_attached(true), 0);
    sim::settle();
    EXPECT_NE(find_fg("fuel_gauge"), nullptr);
    EXPECT_NE(find_cp("master_cp_chg"), nullptr);
    EXPECT_EQ(read("/sys/class/power_supply/battery/capacity"), "50\n");
    EXPECT_EQ(read("/sys/class/power_supply/sc-cp-master/temp"), "300\n");
}

TEST_F(ChargingStack, EventChannelKeepsRecordsInOrderAndReadsThemFromDevZoev) {
    auto alloc = sym<tevent *(*)(u32)>("cdev_tevent_alloc");
    auto add_str = sym<int (*)(tevent *, const char *, const char *)>("cdev_tevent_add_str");
    auto add_int = sym<int (*)(tevent *, const char *, s64)>("cdev_tevent_add_int");
    auto write = sym<int (*)(tevent *)>("cdev_tevent_write");
    auto destroy = sym<void (*)(tevent *)>("cdev_tevent_destroy");
    ASSERT_EQ(simtest::write("/dev/zoev", "clear\n"), 6);
    EXPECT_EQ(read("/dev/zoev"), "");

    uint64_t now = sim::clock_monotonic_ns();
    char stamp[32];
    snprintf(stamp, sizeof(stamp), "[%5llu.%06llu]", (unsigned long long)(now / kSecond),
             (unsigned long long)(now % kSecond / 1000));
    tevent *ev = alloc(909002004);
    ASSERT_NE(ev, nullptr);
    EXPECT_EQ(add_str(ev, "chgErrInfo", "CpVbusOVP"), 0);
    EXPECT_EQ(add_int(ev, "tbat", -105), 0);
    EXPECT_EQ(add_str(ev, "q", "a\"b\\c"), 0);
    EXPECT_EQ(add_int(ev, "big", 2147483648LL), 0);
    EXPECT_EQ(write(ev), 0);
    destroy(ev);
    ev = alloc(909007001);
    EXPECT_EQ(write(ev), 0);
    destroy(ev);
    EXPECT_EQ(read("/dev/zoev"), std::string(stamp) +
                                     " 909002004 chgErrInfo=\"CpVbusOVP\" tbat=-105 "
                                     "q=\"a\\\"b\\\\c\" big=2147483648\n" +
                                     stamp + " 909007001\n");

    // A failed allocation gives no record; the other operations take the null handle.
    sim::fault_arm({"kmalloc", "zoev", sim::FaultRule::Mode::next, 1});
    ev = alloc(1);
    EXPECT_EQ(ev, nullptr);
    EXPECT_EQ(add_str(ev, "k", "v"), -EINVAL);
    EXPECT_EQ(add_int(ev, "k", 1), -EINVAL);
    EXPECT_EQ(write(ev), -EINVAL);
    destroy(ev);
    sim::fault_clear();

    EXPECT_EQ(simtest::write("/dev/zoev", "flush"), -EINVAL);
    ASSERT_EQ(simtest::write("/dev/zoev", "clear"), 5);
    EXPECT_EQ(read("/dev/zoev"), "");
}

TEST_F(ChargingStack, ServiceModulesStayWhileTheirUsersAreLoaded) {
    // The drivers use the classes and the chains; the channel is pinned while /dev/zoev is open.
    EXPECT_EQ(sim::module_unload("dv_notify"), -EBUSY);
    EXPECT_EQ(sim::module_unload("dv_fg_class"), -EBUSY);
    int fd = sim::vfs::open("/dev/zoev", sim::vfs::O_RDONLY_);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(sim::module_unload("zoev"), -EBUSY);
    sim::vfs::close(fd);
}

}  // namespace
