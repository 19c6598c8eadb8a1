// Platform devices from the tree: the default phone's devices made at boot, populate over the
// grafted test data (available nodes with a compatible, buses descended into, names as the
// kernel gives them), destroy and create again, modalias and uevent variables, and matching a
// bound driver's table.
#include "tests/of/of_test_util.h"
#include "tests/support/node_files.h"

#include "simkernel/drivers/base/uevent_host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include <platform/device.h>
#include <platform/errno.h>
#include <platform/of_device.h>
#include <platform/of_platform.h>
#include <platform/platform_device.h>

using oftest::Node;
using oftest::refs;

namespace {

const std::string kDevices = "/sys/bus/platform/devices/";

class OfDeviceTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        oftest::attach_test_data();
        // Populated once for the whole suite, as the kernel would at boot.
        seq_before_populate = sim::uevent_next_seq();
        Node data("/testcase-data");
        populate_result = of_platform_default_populate(data, nullptr, nullptr);
    }
    static inline uint64_t seq_before_populate;
    static inline int populate_result;
};

struct platform_device *device_of(const char *path) {
    Node np(path);
    return np.get() ? of_find_device_by_node(np) : nullptr;
}

TEST_F(OfDeviceTest, BootMadeTheDefaultPhonesDevices) {
    for (const char *name :
         {"55.fuel-gauge", "66.charge-pump", "6b.charger", "battery", "board-info", "camera",
          "charge-reporter", "chgnotify", "chgsentry", "subpmic-led", "usbpd-port", "zram"})
        EXPECT_TRUE(simtest::exists(kDevices + name)) << name;
    // Nodes without a compatible, and the children of nodes that are not buses, get none.
    for (const char *name : {"cpus", "chosen", "memory@80000000", "cpu@0", "cpus:cpu@0"})
        EXPECT_FALSE(simtest::exists(kDevices + name)) << name;

    Node charger("/charger@6b");
    struct platform_device *pdev = of_find_device_by_node(charger);
    ASSERT_TRUE(pdev);
    EXPECT_STREQ(dev_name(&pdev->dev), "6b.charger");
    EXPECT_STREQ(pdev->name, "6b.charger");
    EXPECT_EQ(pdev->id, PLATFORM_DEVID_NONE);
    EXPECT_EQ(pdev->dev.of_node, charger.get());
    EXPECT_EQ(charger.get()->data, pdev);
    EXPECT_TRUE(of_node_check_flag(charger, OF_POPULATED));
    put_device(&pdev->dev);
    // The root itself was populated as a bus, not as a device.
    EXPECT_TRUE(of_node_check_flag(Node("/"), OF_POPULATED_BUS));
    EXPECT_FALSE(of_node_check_flag(Node("/"), OF_POPULATED));
}

TEST_F(OfDeviceTest, PopulateMakesAvailableNodesWithACompatible) {
    EXPECT_EQ(populate_result, 0);
    for (const char *name :
         {"10.compat", "testcase-data:ok-node", "testcase-data:bus", "40000100.device",
          "testcase-data:bus:noreg", "testcase-data:unmapped-bus",
          "testcase-data:unmapped-bus:dev@5", "testcase-data:not-a-bus"})
        EXPECT_TRUE(simtest::exists(kDevices + name)) << name;
    for (const char *name :
         {"testcase-data:disabled-node", "testcase-data:bad-status", "40000200.gone",
          "testcase-data:bus:gone@200", "testcase-data:not-a-bus:inner", "inner",
          "testcase-data:no-compat:inner", "testcase-data:props", "testcase-data:clash"})
        EXPECT_FALSE(simtest::exists(kDevices + name)) << name;
    EXPECT_EQ(device_of("/testcase-data/disabled-node"), nullptr);
    EXPECT_FALSE(of_node_check_flag(Node("/testcase-data/disabled-node"), OF_POPULATED));

    // A bus's devices hang below the bus's own device.
    struct platform_device *bus = device_of("/testcase-data/bus");
    struct platform_device *dev = device_of("/testcase-data/bus/device@100");
    ASSERT_TRUE(bus && dev);
    EXPECT_EQ(dev->dev.parent, &bus->dev);
    EXPECT_EQ(bus->dev.parent, &platform_bus);
    EXPECT_TRUE(of_node_check_flag(bus->dev.of_node, OF_POPULATED_BUS));
    EXPECT_TRUE(simtest::exists("/sys/devices/platform/testcase-data:bus/40000100.device"));
    put_device(&dev->dev);
    put_device(&bus->dev);

    // Populating again makes nothing twice.
    Node data("/testcase-data");
    EXPECT_EQ(of_platform_default_populate(data, nullptr, nullptr), 0);
    EXPECT_EQ(of_platform_device_create(Node("/testcase-data/ok-node"), nullptr, nullptr), nullptr);
    EXPECT_EQ(of_platform_device_create(Node("/testcase-data/disabled-node"), nullptr, nullptr),
              nullptr);
}

TEST_F(OfDeviceTest, DestroyTakesABusWithItsChildrenAndCreateBringsItBack) {
    Node busnode("/testcase-data/bus"), devnode("/testcase-data/bus/device@100");
    struct platform_device *bus = of_find_device_by_node(busnode);
    ASSERT_TRUE(bus);
    int bus_refs = refs(busnode) - 1;  // without the device's own reference
    int dev_refs = refs(devnode) - 1;
    // The caller's reference keeps the structure; unregistering takes it out of the system.
    EXPECT_EQ(of_platform_device_destroy(&bus->dev, nullptr), 0);
    put_device(&bus->dev);
    EXPECT_FALSE(simtest::exists(kDevices + "testcase-data:bus"));
    EXPECT_FALSE(simtest::exists(kDevices + "40000100.device"));
    EXPECT_FALSE(simtest::exists(kDevices + "testcase-data:bus:noreg"));
    EXPECT_EQ(of_find_device_by_node(busnode), nullptr);
    EXPECT_EQ(of_find_device_by_node(devnode), nullptr);
    EXPECT_FALSE(of_node_check_flag(busnode, OF_POPULATED));
    EXPECT_FALSE(of_node_check_flag(busnode, OF_POPULATED_BUS));
    EXPECT_FALSE(of_node_check_flag(devnode, OF_POPULATED));
    // The devices let go of their nodes.
    EXPECT_EQ(refs(busnode), bus_refs);
    EXPECT_EQ(refs(devnode), dev_refs);

    // A device made by hand is the node's only: its children wait for a populate.
    struct platform_device *again = of_platform_device_create(busnode, nullptr, nullptr);
    ASSERT_TRUE(again);
    EXPECT_STREQ(dev_name(&again->dev), "testcase-data:bus");
    EXPECT_TRUE(simtest::exists(kDevices + "testcase-data:bus"));
    EXPECT_FALSE(simtest::exists(kDevices + "40000100.device"));
    EXPECT_EQ(refs(busnode), bus_refs + 1);
    struct platform_device *found = of_find_device_by_node(busnode);
    EXPECT_EQ(found, again);
    put_device(&found->dev);

    // Destroy leaves devices that were not made from the tree alone.
    struct platform_device *plain = platform_device_alloc("of-test-plain", PLATFORM_DEVID_NONE);
    ASSERT_TRUE(plain);
    ASSERT_EQ(platform_device_add(plain), 0);
    EXPECT_EQ(of_platform_device_destroy(&plain->dev, nullptr), 0);
    EXPECT_TRUE(simtest::exists(kDevices + "of-test-plain"));
    platform_device_unregister(plain);
}

TEST_F(OfDeviceTest, ModaliasNamesNodeTypeAndCompatibles) {
    EXPECT_EQ(simtest::read(kDevices + "10.compat/modalias"),
              "of:NcompatTwidgetCvendor,firstCvendor,secondCGeneric_Thing\n");
    EXPECT_EQ(simtest::read(kDevices + "6b.charger/modalias"),
              "of:NchargerT(null)Cphonesim,primary-charger\n");
    EXPECT_EQ(simtest::read(kDevices + "testcase-data:unmapped-bus:dev@5/modalias"),
              "of:NdevT(null)Cphonesim,of-test-dev\n");

    struct device dev = {};
    char buf[128];
    EXPECT_EQ(of_device_modalias(&dev, buf, sizeof(buf)), -ENODEV);
    Node c("/testcase-data/compat@10");
    dev.of_node = c;
    const std::string full = "of:NcompatTwidgetCvendor,firstCvendor,secondCGeneric_Thing\n";
    EXPECT_EQ(of_device_modalias(&dev, buf, sizeof(buf)), (ssize_t)full.size());
    EXPECT_EQ(std::string(buf), full);
    // It needs room for the newline and the NUL.
    EXPECT_EQ(of_device_modalias(&dev, buf, full.size() + 1), (ssize_t)full.size());
    EXPECT_EQ(of_device_modalias(&dev, buf, full.size()), -ENOMEM);
    EXPECT_EQ(of_device_modalias(&dev, buf, 10), -ENOMEM);
}

TEST_F(OfDeviceTest, AddUeventCarriesTheNodesVariables) {
    std::vector<std::string> env;
    for (const sim::Uevent &ev : sim::uevents_since(seq_before_populate))
        if (ev.action == "add" && ev.devpath.ends_with("/40000100.device"))
            env = ev.env;
    ASSERT_FALSE(env.empty());
    auto has = [&](const std::string &var) {
        return std::find(env.begin(), env.end(), var) != env.end();
    };
    EXPECT_TRUE(has("OF_NAME=device"));
    EXPECT_TRUE(has("OF_FULLNAME=/testcase-data/bus/device@100"));
    EXPECT_TRUE(has("OF_COMPATIBLE_0=phonesim,of-test-dev"));
    EXPECT_TRUE(has("OF_COMPATIBLE_N=1"));
    EXPECT_TRUE(has("MODALIAS=of:NdeviceT(null)Cphonesim,of-test-dev"));
    for (const std::string &v : env)
        EXPECT_FALSE(v.starts_with("OF_TYPE=")) << v;

    struct kobj_uevent_env uenv = {};
    struct device dev = {};
    dev.of_node = Node("/testcase-data/compat@10");
    of_device_uevent(&dev, &uenv);
    std::vector<std::string> vars(uenv.envp, uenv.envp + uenv.envp_idx);
    EXPECT_EQ(vars, (std::vector<std::string>{
                        "OF_NAME=compat", "OF_FULLNAME=/testcase-data/compat@10", "OF_TYPE=widget",
                        "OF_COMPATIBLE_0=vendor,first", "OF_COMPATIBLE_1=vendor,second",
                        "OF_COMPATIBLE_2=Generic Thing", "OF_COMPATIBLE_N=3"}));
    EXPECT_EQ(of_device_uevent_modalias(&dev, &uenv), 0);
    EXPECT_STREQ(uenv.envp[uenv.envp_idx - 1],
                 "MODALIAS=of:NcompatTwidgetCvendor,firstCvendor,secondCGeneric_Thing");
    dev.of_node = nullptr;
    EXPECT_EQ(of_device_uevent_modalias(&dev, &uenv), -ENODEV);
}

struct Probed {
    struct platform_device *pdev;
    const void *data;
};
Probed probed;
const int second_data = 2, first_data = 1;

int of_test_probe(struct platform_device *pdev) {
    probed = {pdev, of_device_get_match_data(&pdev->dev)};
    return 0;
}

const struct of_device_id of_test_of_match[] = {
    {"", "", "vendor,second", &second_data},
    {"", "", "vendor,first", &first_data},
    {},
};

struct platform_driver make_driver() {
    struct platform_driver drv = {};
    drv.probe = of_test_probe;
    drv.driver.name = "of-test";
    drv.driver.of_match_table = of_test_of_match;
    return drv;
}
struct platform_driver of_test_driver = make_driver();

TEST_F(OfDeviceTest, BoundDriverGetsTheDataOfItsBestEntry) {
    struct platform_device *pdev = device_of("/testcase-data/compat@10");
    ASSERT_TRUE(pdev);
    // No driver: no table to match against.
    EXPECT_EQ(of_device_get_match_data(&pdev->dev), nullptr);
    EXPECT_EQ(of_match_device(of_test_of_match, &pdev->dev), &of_test_of_match[1]);

    probed = {};
    ASSERT_EQ(__platform_driver_register(&of_test_driver, nullptr), 0);
    EXPECT_EQ(probed.pdev, pdev);
    EXPECT_EQ(probed.data, &first_data);
    EXPECT_EQ(of_device_get_match_data(&pdev->dev), &first_data);
    platform_driver_unregister(&of_test_driver);
    put_device(&pdev->dev);
}

}  // namespace
