// Shared fixture of the driver core's tests: platform devices made by the test, the test-only
// drivers, and what the kernel logged and sent meanwhile.
#pragma once

#include "simkernel/drivers/base/uevent_host.h"
#include "simkernel/fs/node.h"
#include "simkernel/kernel/module_loader.h"
#include "simkernel/kernel/printk_log.h"
#include "simkernel/kernel/sim_time.h"
#include "tests/support/module_checks.h"
#include "tests/support/node_files.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <platform/platform_device.h>

namespace drivers_test {

using simtest::exists;
using simtest::read;
using simtest::write;

class DriversTest : public ::testing::Test {
  protected:
    void SetUp() override {
        log_mark_ = sim::log_next_seq();
        uevent_mark_ = sim::uevent_next_seq();
    }
    void TearDown() override {
        sim::settle();
        for (const char *m : {"drvtest", "drvtest_other"}) {
            if (sim::module_find(m)) {
                EXPECT_EQ(sim::module_unload(m), 0);
            }
        }
        for (auto it = devices_.rbegin(); it != devices_.rend(); ++it)
            platform_device_unregister(*it);
    }

    // A platform device under /sys/devices/platform, unregistered after the test.
    struct platform_device *add_device(const char *name) {
        struct platform_device *pdev = platform_device_alloc(name, PLATFORM_DEVID_NONE);
        EXPECT_NE(pdev, nullptr);
        EXPECT_EQ(platform_device_add(pdev), 0);
        devices_.push_back(pdev);
        return pdev;
    }
    static int load(const std::string &module, const std::string &args = "") {
        int r = sim::module_load(module, args);
        sim::settle();
        return r;
    }
    std::vector<std::string> log() const { return sim::log_texts_since(log_mark_); }
    // The log lines since the mark that start with prefix.
    std::vector<std::string> log_of(const std::string &prefix) const {
        std::vector<std::string> out;
        for (const std::string &l : log())
            if (l.rfind(prefix, 0) == 0)
                out.push_back(l);
        return out;
    }
    std::vector<sim::Uevent> sent() const { return sim::uevents_since(uevent_mark_); }
    void mark() {
        log_mark_ = sim::log_next_seq();
        uevent_mark_ = sim::uevent_next_seq();
    }
    // Where a sysfs link points, or "" when there is no link.
    static std::string link(const std::string &path) {
        sim::fs::NodeRef node;
        if (sim::fs::lookup(path, false, &node) != 0)
            return "";
        auto *l = dynamic_cast<sim::fs::Symlink *>(node.get());
        return l ? l->target() : "";
    }

    uint64_t log_mark_ = 0, uevent_mark_ = 0;
    std::vector<struct platform_device *> devices_;
};

}  // namespace drivers_test
