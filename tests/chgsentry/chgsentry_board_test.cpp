// chgsentry on a board outside the European region: the default phone with its board-version
// property saying "MP1.0-EEA", in capitals, which does not count as "eea". The kernel boots once
// per process, so this test has its own entry point and device tree.
#include "chgsentry_test_util.h"

#include "phonesim/devicetree.h"
#include "simkernel/kernel/boot.h"

namespace chgsentry_test {
namespace {

// The default phone's blob with another board version of the same length.
std::string board_dtb(const std::string &from, const std::string &to) {
    std::string blob(phonesim::default_dtb());
    size_t at = blob.find(from);
    if (at == std::string::npos || from.size() != to.size())
        return {};
    return blob.replace(at, from.size(), to);
}

using ChgsentryBoardTest = ChgsentryTest;

TEST_F(ChgsentryBoardTest, UpperCaseEeaIsNotTheEeaRegion) {
    EXPECT_EQ(simtest::read("/proc/device-tree/board-info/board-version"),
              std::string("MP1.0-EEA") + '\0');
    EXPECT_EQ(lines(), (std::vector<Line>{
                           {6, "[DV_CHG_DFS][chgsentry_pcba_init]:board version = 0"},
                           {6, "[DV_CHG_DFS][chgsentry_probe]:success..."},
                       }));
}

class BoardEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        sim::kernel_set_hardware_hooks(hw::hw_boot, hw::hw_shutdown);
        sim::BootParams params;
        params.dtb = board_dtb("MP1.0-eea", "MP1.0-EEA");
        ASSERT_FALSE(params.dtb.empty());
        std::string err;
        ASSERT_TRUE(sim::kernel_boot(params, &err)) << err;
    }
    void TearDown() override { sim::kernel_shutdown(); }
};

}  // namespace
}  // namespace chgsentry_test

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new chgsentry_test::BoardEnvironment);
    return RUN_ALL_TESTS();
}
