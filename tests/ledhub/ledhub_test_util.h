// Shared fixture of the ledhub tests: a fresh load of the module per test, its exports as another
// module would call them, and parent devices bound to a test driver, as a registrant's would be.
#pragma once

#include "simkernel/fs/vfs.h"
#include "simkernel/kernel/fault.h"
#include "simkernel/kernel/module_loader.h"
#include "simkernel/kernel/printk_log.h"
#include "simkernel/kernel/sim_time.h"
#include "simkernel/mm/slab_stats.h"
#include "tests/support/module_checks.h"
#include "tests/support/node_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

// After the standard headers: platform/ defines attribute macros libstdc++ also uses.
#include "ledhub/subpmic_led.h"

#include <platform/err.h>
#include <platform/errno.h>
#include <platform/platform_device.h>

namespace ledhub_test {

using simtest::exists;

// The exports, resolved as the loader resolves an importer's symbols.
struct Ledhub {
    decltype(&subpmic_led_register) reg = nullptr;
    decltype(&subpmic_led_get_private) get_private = nullptr;
    decltype(&subpmic_led_find_dev_by_name) find = nullptr;
    decltype(&subpmic_camera_set_led_flash_curr) flash_curr = nullptr;
    decltype(&subpmic_camera_set_led_flash_time) flash_time = nullptr;
    decltype(&subpmic_camera_set_led_flash_enable) flash_enable = nullptr;
    decltype(&subpmic_camera_set_led_torch_curr) torch_curr = nullptr;
    decltype(&subpmic_camera_set_led_torch_enable) torch_enable = nullptr;
};

inline const char *const kExports[] = {
    "subpmic_led_register",
    "subpmic_led_get_private",
    "subpmic_led_find_dev_by_name",
    "subpmic_camera_set_led_flash_curr",
    "subpmic_camera_set_led_flash_time",
    "subpmic_camera_set_led_flash_enable",
    "subpmic_camera_set_led_torch_curr",
    "subpmic_camera_set_led_torch_enable",
};

// A platform device bound to a driver that does nothing itself: the registrant's device, whose
// unbinding ends what was tied to its binding.
class ParentDevice {
  public:
    explicit ParentDevice(int id) {
        pdev_ = platform_device_alloc("ledhub-test-parent", id);
        EXPECT_NE(pdev_, nullptr);
        EXPECT_EQ(platform_device_add(pdev_), 0);
    }
    ~ParentDevice() { platform_device_unregister(pdev_); }
    ParentDevice(const ParentDevice &) = delete;
    ParentDevice &operator=(const ParentDevice &) = delete;

    struct device *dev() {
        return &pdev_->dev;
    }
    bool bound() const { return pdev_->dev.driver != nullptr; }
    void unbind() { device_release_driver(&pdev_->dev); }

  private:
    struct platform_device *pdev_ = nullptr;
};

inline int parent_probe(struct platform_device *) {
    return 0;
}

class LedhubTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::fault_clear();
        parent_driver_.probe = parent_probe;
        parent_driver_.driver.name = "ledhub-test-parent";
        ASSERT_EQ(__platform_driver_register(&parent_driver_, nullptr), 0);
        ASSERT_EQ(sim::module_load("ledhub"), 0);
        void *syms[8];
        for (int i = 0; i < 8; i++) {
            syms[i] = sim::module_symbol_get(kExports[i]);
            ASSERT_NE(syms[i], nullptr) << kExports[i];
        }
        pinned_ = true;
        x_.reg = reinterpret_cast<decltype(x_.reg)>(syms[0]);
        x_.get_private = reinterpret_cast<decltype(x_.get_private)>(syms[1]);
        x_.find = reinterpret_cast<decltype(x_.find)>(syms[2]);
        x_.flash_curr = reinterpret_cast<decltype(x_.flash_curr)>(syms[3]);
        x_.flash_time = reinterpret_cast<decltype(x_.flash_time)>(syms[4]);
        x_.flash_enable = reinterpret_cast<decltype(x_.flash_enable)>(syms[5]);
        x_.torch_curr = reinterpret_cast<decltype(x_.torch_curr)>(syms[6]);
        x_.torch_enable = reinterpret_cast<decltype(x_.torch_enable)>(syms[7]);
        mark_ = sim::log_next_seq();
    }
    void TearDown() override {
        sim::fault_clear();
        unpin();
        if (sim::module_find("ledhub"))
            simtest::expect_clean_unload("ledhub");
        platform_driver_unregister(&parent_driver_);
    }

    // Lets go of the exports, as an importer's unloading does.
    void unpin() {
        if (!pinned_)
            return;
        for (const char *name : kExports)
            sim::module_symbol_put(name);
        pinned_ = false;
    }

    std::vector<std::string> log() const { return sim::log_texts_since(mark_); }
    void mark_log() { mark_ = sim::log_next_seq(); }

    uint64_t ledhub_allocations() const {
        return sim::slab_module_count(sim::module_find("ledhub"));
    }

    void arm_kmalloc_fault() {
        sim::FaultRule rule;
        rule.op = std::string(sim::fault_op::kmalloc);
        rule.module = "ledhub";
        rule.mode = sim::FaultRule::Mode::next;
        rule.count = 1;
        sim::fault_arm(rule);
    }

    std::vector<std::string> class_entries() const {
        std::vector<sim::vfs::DirEntry> entries;
        std::vector<std::string> names;
        if (sim::vfs::readdir("/sys/class/subpmic_led_class", &entries) != 0)
            return names;
        for (const auto &e : entries)
            names.push_back(e.name);
        std::sort(names.begin(), names.end());
        return names;
    }

    Ledhub x_;
    struct platform_driver parent_driver_ = {};
    bool pinned_ = false;
    uint64_t mark_ = 0;
};

inline long err_of(const void *p) {
    return IS_ERR(p) ? PTR_ERR(p) : 0;
}

}  // namespace ledhub_test
