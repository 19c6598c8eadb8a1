// Test entry point: boots the simulated kernel from the default phone's device tree before the
// first test and shuts it down after the last.
#include "hw/component.h"
#include "phonesim/devicetree.h"
#include "simkernel/kernel/boot.h"

#include <gtest/gtest.h>

namespace {
class KernelEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        sim::kernel_set_hardware_hooks(hw::hw_boot, hw::hw_shutdown);
        sim::BootParams params;
        params.dtb = phonesim::default_dtb();
        std::string err;
        ASSERT_TRUE(sim::kernel_boot(params, &err)) << err;
    }
    void TearDown() override { sim::kernel_shutdown(); }
};
}  // namespace

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new KernelEnvironment);
    return RUN_ALL_TESTS();
}
