// The driver core as drivers and user space see it: binding, deferred probe and its retry,
// managed resources, bind and unbind through sysfs, autoload, device references and classes.
#include "drivers_test_util.h"

#include "simkernel/kernel/kmod.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <platform/err.h>

namespace drivers_test {
namespace {

class DriverBindingTest : public DriversTest {};

TEST_F(DriverBindingTest, BindsByNameWithLinksAndEvents) {
    struct platform_device *pdev = add_device("drvtest");
    dev_info(&pdev->dev, "unbound %d\n", 1);
    ASSERT_EQ(load("drvtest"), 0);
    dev_err(&pdev->dev, "bound %d\n", 2);
    // dev_printk names the driver, or the bus while there is none, then the device.
    EXPECT_EQ(log_of("platform drvtest:"),
              (std::vector<std::string>{"platform drvtest: unbound 1"}));
    EXPECT_EQ(log_of("drvtest drvtest:"), (std::vector<std::string>{"drvtest drvtest: bound 2"}));
    EXPECT_EQ(link("/sys/bus/platform/devices/drvtest/driver"),
              "../../../bus/platform/drivers/drvtest");
    EXPECT_EQ(link("/sys/bus/platform/drivers/drvtest/drvtest"),
              "../../../../devices/platform/drvtest");
    EXPECT_EQ(link("/sys/bus/platform/drivers/drvtest/module"), "../../../../module/drvtest");
    EXPECT_EQ(link("/sys/module/drvtest/drivers/platform:drvtest"),
              "../../../bus/platform/drivers/drvtest");
    EXPECT_EQ(read("/sys/devices/platform/drvtest/uevent"),
              "DRIVER=drvtest\nMODALIAS=platform:drvtest\n");
    EXPECT_EQ(read("/sys/devices/platform/drvtest/modalias"), "platform:drvtest\n");
    // The device's add, then its bind during the driver's registration, then the driver's add.
    auto ev = sent();
    ASSERT_EQ(ev.size(), 3u);
    EXPECT_EQ(ev[0].action, "add");
    EXPECT_EQ(ev[1].action, "bind");
    EXPECT_EQ(ev[1].devpath, "/devices/platform/drvtest");
    EXPECT_EQ(ev[1].env, (std::vector<std::string>{
                             "ACTION=bind", "DEVPATH=/devices/platform/drvtest",
                             "SUBSYSTEM=platform", "DRIVER=drvtest", "MODALIAS=platform:drvtest",
                             "SEQNUM=" + std::to_string(ev[1].seqnum)}));
    EXPECT_EQ(ev[2].action, "add");
    EXPECT_EQ(ev[2].devpath, "/bus/platform/drivers/drvtest");
    EXPECT_EQ(ev[2].subsystem, "drivers");
}

// A device-tree node's compatible binds too, and its uevent carries the node's variables.
TEST_F(DriverBindingTest, DeviceTreeDeviceCarriesItsNodeInUevents) {
    EXPECT_EQ(read("/sys/bus/platform/devices/zram/uevent"),
              "OF_NAME=zram\nOF_FULLNAME=/zram\nOF_COMPATIBLE_0=phonesim,zram\n"
              "OF_COMPATIBLE_N=1\nMODALIAS=of:NzramT(null)Cphonesim,zram\n");
    EXPECT_EQ(read("/sys/bus/platform/devices/zram/modalias"), "of:NzramT(null)Cphonesim,zram\n");
}

TEST_F(DriverBindingTest, DeferredProbeRetriesWhenAnotherDriverBinds) {
    add_device("drvtest");
    ASSERT_EQ(load("drvtest", "probe_result=-517"), 0);
    EXPECT_EQ(link("/sys/bus/platform/devices/drvtest/driver"), "");
    EXPECT_EQ(read("/sys/kernel/debug/devices_deferred"), "drvtest\t\n");
    // A deferral is no failure: no warning, and its resources are gone.
    EXPECT_TRUE(log_of("drvtest: probe of").empty());
    EXPECT_EQ(log_of("drvtest: release"),
              (std::vector<std::string>{"drvtest: release second of drvtest",
                                        "drvtest: release first of drvtest"}));

    // Nothing retries until some driver binds.
    ASSERT_EQ(write("/sys/module/drvtest/parameters/probe_result", "0"), 1);
    sim::time_advance(10'000'000'000);
    EXPECT_EQ(link("/sys/bus/platform/devices/drvtest/driver"), "");

    mark();
    add_device("drvtest_other");
    ASSERT_EQ(load("drvtest_other"), 0);
    EXPECT_EQ(log_of("drvtest"), (std::vector<std::string>{"drvtest_other: probe drvtest_other",
                                                           "drvtest: probe drvtest returns 0"}));
    EXPECT_EQ(link("/sys/bus/platform/devices/drvtest/driver"),
              "../../../bus/platform/drivers/drvtest");
    EXPECT_EQ(read("/sys/kernel/debug/devices_deferred"), "");
}

TEST_F(DriverBindingTest, FailedProbeWarnsAndReleasesNewestFirst) {
    add_device("drvtest");
    ASSERT_EQ(load("drvtest", "probe_result=-22"), 0);
    EXPECT_EQ(log(), (std::vector<std::string>{
                         "drvtest: probe drvtest returns -22",
                         "drvtest: release second of drvtest",
                         "drvtest: release first of drvtest",
                         "drvtest: probe of drvtest failed with error -22",
                     }));
    EXPECT_EQ(link("/sys/bus/platform/devices/drvtest/driver"), "");
    EXPECT_EQ(read("/sys/kernel/debug/devices_deferred"), "");
}

TEST_F(DriverBindingTest, SysfsUnbindAndBind) {
    add_device("drvtest");
    ASSERT_EQ(load("drvtest"), 0);
    mark();
    EXPECT_EQ(write("/sys/bus/platform/drivers/drvtest/unbind", "drvtest\n"), 8);
    // Remove first, then the managed resources, newest first.
    EXPECT_EQ(log(), (std::vector<std::string>{"drvtest: remove drvtest",
                                               "drvtest: release second of drvtest",
                                               "drvtest: release first of drvtest"}));
    EXPECT_EQ(link("/sys/bus/platform/devices/drvtest/driver"), "");
    ASSERT_EQ(sent().size(), 1u);
    EXPECT_EQ(sent()[0].action, "unbind");
    EXPECT_EQ(write("/sys/bus/platform/drivers/drvtest/unbind", "drvtest"), -ENODEV);

    EXPECT_EQ(write("/sys/bus/platform/drivers/drvtest/bind", "drvtest"), 7);
    EXPECT_EQ(link("/sys/bus/platform/devices/drvtest/driver"),
              "../../../bus/platform/drivers/drvtest");
    EXPECT_EQ(write("/sys/bus/platform/drivers/drvtest/bind", "drvtest"), -ENODEV);
    EXPECT_EQ(write("/sys/bus/platform/drivers/drvtest/bind", "nosuch"), -ENODEV);

    // A probe that defers through bind is refused.
    EXPECT_EQ(write("/sys/bus/platform/drivers/drvtest/unbind", "drvtest"), 7);
    ASSERT_EQ(write("/sys/module/drvtest/parameters/probe_result", "-517"), 4);
    EXPECT_EQ(write("/sys/bus/platform/drivers/drvtest/bind", "drvtest"), -ENODEV);
}

TEST_F(DriverBindingTest, UnloadUnbindsFirstAndLeavesNothing) {
    add_device("drvtest");
    ASSERT_EQ(load("drvtest"), 0);
    mark();
    simtest::expect_clean_unload("drvtest");
    EXPECT_EQ(log_of("drvtest: remove"), (std::vector<std::string>{"drvtest: remove drvtest"}));
    EXPECT_FALSE(exists("/sys/bus/platform/drivers/drvtest"));
    EXPECT_EQ(link("/sys/bus/platform/devices/drvtest/driver"), "");
}

TEST_F(DriverBindingTest, DriverOverrideChoosesTheDriver) {
    add_device("drvtest");
    ASSERT_EQ(write("/sys/devices/platform/drvtest/driver_override", "drvtest_other\n"), 14);
    EXPECT_EQ(read("/sys/devices/platform/drvtest/driver_override"), "drvtest_other\n");
    ASSERT_EQ(load("drvtest"), 0);
    EXPECT_EQ(link("/sys/bus/platform/devices/drvtest/driver"), "");
    ASSERT_EQ(write("/sys/devices/platform/drvtest/driver_override", "\n"), 1);
    EXPECT_EQ(read("/sys/devices/platform/drvtest/driver_override"), "(null)\n");
    EXPECT_EQ(write("/sys/bus/platform/drivers/drvtest/bind", "drvtest"), 7);
}

// ueventd's modprobe of a device-tree device's alias loads its driver, which binds.
TEST_F(DriverBindingTest, ModaliasLoadsTheDriver) {
    ASSERT_EQ(sim::module_find("chgnotify"), nullptr);
    EXPECT_EQ(sim::modalias_lookup("of:NchgnotifyT(null)Cvantor,chgnotify"), "chgnotify");
    EXPECT_EQ(sim::modalias_lookup("of:NxT(null)Cvantor,chgnotify2"), "");
    ASSERT_EQ(sim::modprobe("of:NchgnotifyT(null)Cvantor,chgnotify"), 0);
    sim::settle();
    EXPECT_EQ(link("/sys/bus/platform/devices/chgnotify/driver"),
              "../../../bus/platform/drivers/chgnotify");
    EXPECT_EQ(sim::modprobe("of:NnoneT(null)Cnobody,nothing"), -ENOENT);
    simtest::expect_clean_unload("chgnotify");
}

// Devices made by hand: references, the release callback, and the core's warning for a device
// that has none.
int releases;
void count_release(struct device *) {
    releases++;
}

class DeviceRefTest : public DriversTest {};

TEST_F(DeviceRefTest, LastPutReleasesOnce) {
    releases = 0;
    struct device dev = {};
    device_initialize(&dev);
    dev.release = count_release;
    ASSERT_EQ(dev_set_name(&dev, "refdev%d", 1), 0);
    ASSERT_EQ(device_add(&dev), 0);
    EXPECT_TRUE(exists("/sys/devices/refdev1/uevent"));
    EXPECT_EQ(get_device(&dev), &dev);
    device_del(&dev);
    EXPECT_FALSE(exists("/sys/devices/refdev1"));
    put_device(&dev);
    EXPECT_EQ(releases, 0);
    put_device(&dev);
    EXPECT_EQ(releases, 1);
}

TEST_F(DeviceRefTest, NoReleaseFunctionIsWarnedAbout) {
    struct device dev = {};
    device_initialize(&dev);
    ASSERT_EQ(dev_set_name(&dev, "broken"), 0);
    put_device(&dev);
    auto l = log();
    EXPECT_NE(std::find(l.begin(), l.end(),
                        "Device 'broken' does not have a release() function, it is broken and "
                        "must be fixed. See Documentation/core-api/kobject.rst."),
              l.end());
}

TEST_F(DeviceRefTest, NamelessDeviceIsRefused) {
    releases = 0;
    struct device dev = {};
    device_initialize(&dev);
    dev.release = count_release;
    EXPECT_EQ(device_add(&dev), -EINVAL);
    put_device(&dev);
    EXPECT_EQ(releases, 1);
}

int match_name(struct device *dev, const void *name) {
    return !strcmp(dev_name(dev), static_cast<const char *>(name));
}
int stop_at(struct device *dev, void *name) {
    return match_name(dev, name) ? 7 : 0;
}

class ClassTest : public DriversTest {};

TEST_F(ClassTest, DevicesAreListedLinkedAndFound) {
    struct class_ *cls = class_create(nullptr, "testclass");
    ASSERT_FALSE(IS_ERR(cls));
    releases = 0;
    struct device devs[2] = {};
    for (int i = 0; i < 2; i++) {
        device_initialize(&devs[i]);
        devs[i].class_ = cls;
        devs[i].release = count_release;
        ASSERT_EQ(dev_set_name(&devs[i], "led%d", i), 0);
        ASSERT_EQ(device_add(&devs[i]), 0);
    }
    EXPECT_EQ(link("/sys/class/testclass/led1"), "../../devices/virtual/testclass/led1");
    EXPECT_EQ(link("/sys/devices/virtual/testclass/led0/subsystem"), "../../../../class/testclass");
    // A second device of the same name is refused where it would go.
    struct device dup = {};
    device_initialize(&dup);
    dup.class_ = cls;
    dup.release = count_release;
    ASSERT_EQ(dev_set_name(&dup, "led0"), 0);
    EXPECT_EQ(device_add(&dup), -EEXIST);
    put_device(&dup);
    EXPECT_EQ(releases, 1);

    int before = devs[1].kobj.kref.refcount;
    struct device *found = class_find_device(cls, nullptr, "led1", match_name);
    EXPECT_EQ(found, &devs[1]);
    EXPECT_EQ(devs[1].kobj.kref.refcount, before + 1);
    put_device(found);
    EXPECT_EQ(class_find_device(cls, nullptr, "led2", match_name), nullptr);
    EXPECT_EQ(class_find_device(cls, &devs[1], "led1", match_name), nullptr);
    EXPECT_EQ(class_for_each_device(cls, nullptr, (void *)"led0", stop_at), 7);
    EXPECT_EQ(class_for_each_device(cls, &devs[0], (void *)"led0", stop_at), 0);

    for (auto &d : devs)
        device_unregister(&d);
    EXPECT_EQ(releases, 3);
    EXPECT_FALSE(exists("/sys/devices/virtual/testclass"));
    class_destroy(cls);
    EXPECT_FALSE(exists("/sys/class/testclass"));
}

}  // namespace
}  // namespace drivers_test

namespace drivers_test {
namespace {

// /sys/module/NAME as the kernel shows it.
TEST_F(DriversTest, ModuleDirectoryShowsStateUsersAndParameters) {
    ASSERT_EQ(load("modtest"), 0);
    ASSERT_EQ(load("modtest_user"), 0);
    EXPECT_EQ(read("/sys/module/modtest/initstate"), "live\n");
    EXPECT_EQ(read("/sys/module/modtest/refcnt"), "1\n");
    EXPECT_EQ(read("/sys/module/modtest/taint"), "\n");
    EXPECT_NE(read("/sys/module/modtest/coresize"), "0\n");
    EXPECT_EQ(link("/sys/module/modtest/holders/modtest_user"), "../../modtest_user");
    EXPECT_EQ(read("/sys/module/modtest/parameters/init_errno"), "0\n");
    EXPECT_EQ(write("/sys/module/modtest/parameters/init_errno", "1"), -EACCES);
    ASSERT_EQ(sim::module_unload("modtest_user"), 0);
    EXPECT_FALSE(exists("/sys/module/modtest/holders/modtest_user"));
    EXPECT_EQ(read("/sys/module/modtest/refcnt"), "0\n");
    ASSERT_EQ(sim::module_unload("modtest"), 0);
    EXPECT_FALSE(exists("/sys/module/modtest"));
}

}  // namespace
}  // namespace drivers_test
