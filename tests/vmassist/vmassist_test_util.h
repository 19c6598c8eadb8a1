// Shared fixture of the vmassist tests: a fresh load of the module per test, and the node
// files as a shell would use them.
#pragma once

#include "simkernel/drivers/base/power/wakeup_host.h"
#include "simkernel/fs/vfs.h"
#include "simkernel/kernel/fault.h"
#include "simkernel/kernel/module_loader.h"
#include "simkernel/kernel/printk_log.h"
#include "simkernel/kernel/sim_time.h"
#include "tests/support/module_checks.h"
#include "tests/support/node_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

// After the standard headers: platform/ defines attribute macros libstdc++ also uses.
#include "simkernel/kernel/task.h"

#include <platform/trace/hooks/vmscan.h>

namespace vmassist_test {

using simtest::exists;
using simtest::mode;
using simtest::read;
using simtest::write;

class VmassistTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::fault_clear();
        ASSERT_EQ(sim::module_load("vmassist"), 0);
        // The reclaim thread reaches its first sleep.
        sim::settle();
        mark_ = sim::log_next_seq();
    }
    void TearDown() override {
        sim::fault_clear();
        sim::settle();
        if (sim::module_find("vmassist")) {
            EXPECT_EQ(sim::module_unload("vmassist"), 0);
        }
    }

    std::vector<std::string> log() const { return sim::log_texts_since(mark_); }
    int log_count(const std::string &text) const {
        auto l = log();
        return int(std::count(l.begin(), l.end(), text));
    }
    // Marks the log: later log() calls see only what comes after.
    void mark_log() { mark_ = sim::log_next_seq(); }

    // Reloads the module with one failure armed for its start-up.
    void reload_with_fault(std::string_view op, uint64_t nth = 1) {
        ASSERT_EQ(sim::module_unload("vmassist"), 0);
        sim::FaultRule rule;
        rule.op = std::string(op);
        rule.module = "vmassist";
        rule.mode = sim::FaultRule::Mode::nth;
        rule.count = nth;
        sim::fault_arm(rule);
        mark_log();
        ASSERT_EQ(sim::module_load("vmassist"), 0);
        sim::fault_clear();
        sim::settle();
    }

    uint64_t mark_ = 0;
};

using ScanProbe = void (*)(void *, char *);

// Probes on both sides of vmassist's on the scan-type hook: `before` sees the kernel's choice
// and `after` the balance as vmassist's probe left it (probes run in registration order).
class VmassistScanProbeTest : public VmassistTest {
  protected:
    VmassistScanProbeTest(ScanProbe before, ScanProbe after) : before_(before), after_(after) {}
    void SetUp() override {
        VmassistTest::SetUp();
        ASSERT_EQ(sim::module_unload("vmassist"), 0);
        ASSERT_EQ(tracepoint_probe_register(&__tracepoint_android_vh_tune_scan_type,
                                            (void *)before_, nullptr),
                  0);
        ASSERT_EQ(sim::module_load("vmassist"), 0);
        sim::settle();
        ASSERT_EQ(tracepoint_probe_register(&__tracepoint_android_vh_tune_scan_type, (void *)after_,
                                            nullptr),
                  0);
        mark_log();
    }
    void TearDown() override {
        tracepoint_probe_unregister(&__tracepoint_android_vh_tune_scan_type, (void *)after_,
                                    nullptr);
        tracepoint_probe_unregister(&__tracepoint_android_vh_tune_scan_type, (void *)before_,
                                    nullptr);
        tracepoint_synchronize_unregister();
        VmassistTest::TearDown();
    }

  private:
    ScanProbe before_, after_;
};

}  // namespace vmassist_test
