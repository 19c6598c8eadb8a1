// Checks on a module's stop routine, shared by the module tests.
#pragma once

#include "simkernel/kernel/module_loader.h"
#include "simkernel/kernel/printk_log.h"

#include <gtest/gtest.h>

#include <string>

namespace simtest {

// Unloads `module` and checks that its stop left nothing registered behind and raised no kernel
// warning (removing what was never made is one).
inline void expect_clean_unload(const char *module) {
    uint64_t mark = sim::log_next_seq();
    ASSERT_EQ(sim::module_unload(module), 0);
    for (const std::string &line : sim::log_texts_since(mark)) {
        EXPECT_EQ(line.find("still registered"), std::string::npos) << line;
        EXPECT_EQ(line.find("WARNING"), std::string::npos) << line;
    }
}

}  // namespace simtest
