// The phone's flash end to end: camera stack requests through the camera driver, the class's
// camera calls and the sub-PMIC LED driver down to the LED part, and the modules' load order and
// unloading.
#include "hw/camera_model.h"
#include "hw/subpmic_led_model.h"
#include "tests/ledhub/ledhub_test_util.h"

#include <climits>

namespace ledhub_test {
namespace {

using hw::CameraFlashOp;

const char *const kStack[] = {"ledhub", "subpmic_led", "camera"};

bool loaded(const char *name) {
    return sim::module_find(name) != nullptr;
}

class LedhubFlashTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::fault_clear();
        for (const char *m : kStack)
            if (!loaded(m)) {
                ASSERT_EQ(sim::module_load(m), 0) << m;
            }
        sim::settle();
        reset_leds();
        mark_ = sim::log_next_seq();
    }
    void TearDown() override {
        sim::fault_clear();
        sim::settle();
        // Leave the stack loaded for the next test, and the LEDs dark.
        for (const char *m : kStack)
            if (!loaded(m)) {
                EXPECT_EQ(sim::module_load(m), 0) << m;
            }
        sim::settle();
        reset_leds();
    }

    void reset_leds() {
        for (uint32_t led : {1u, 2u}) {
            request(CameraFlashOp::flash_enable, led, 0);
            request(CameraFlashOp::torch_enable, led, 0);
        }
    }

    int request(CameraFlashOp op, uint32_t led, int value) {
        return hw::camera_flash_request(op, led, value);
    }

    hw::SubpmicLedChannel led(int n) {
        auto v = hw::subpmic_led_channels();
        EXPECT_EQ(v.size(), 2u);
        return v.size() == 2 ? v[n - 1] : hw::SubpmicLedChannel{};
    }

    std::vector<std::string> log() const { return sim::log_texts_since(mark_); }

    void advance_ms(uint64_t ms) { sim::time_advance(ms * 1000000); }

    uint64_t mark_ = 0;
};

TEST_F(LedhubFlashTest, DriversBindAndRegisterTheLeds) {
    EXPECT_TRUE(exists("/sys/class/subpmic_led_class/subpmic_led"));
    EXPECT_EQ(hw::camera_describe().rfind("camera: driver bound", 0), 0u);
}

TEST_F(LedhubFlashTest, FlashSequenceOverTheTorch) {
    ASSERT_EQ(request(CameraFlashOp::torch_curr, 1, 100), 0);
    ASSERT_EQ(request(CameraFlashOp::torch_enable, 1, 1), 0);
    EXPECT_TRUE(led(1).torch_on);
    EXPECT_EQ(led(1).torch_ma, 100u);
    EXPECT_EQ(led(1).output_ma, 100u);

    ASSERT_EQ(request(CameraFlashOp::flash_curr, 1, 1000), 0);
    ASSERT_EQ(request(CameraFlashOp::flash_time, 1, 600), 0);
    unsigned strobes = led(1).strobes;
    ASSERT_EQ(request(CameraFlashOp::flash_enable, 1, 1), 0);
    EXPECT_TRUE(led(1).flash_on);
    EXPECT_EQ(led(1).flash_ma, 1000u);
    EXPECT_EQ(led(1).flash_time_ms, 600u);
    EXPECT_EQ(led(1).output_ma, 1000u);
    EXPECT_EQ(led(1).strobes, strobes + 1);

    advance_ms(200);
    EXPECT_TRUE(led(1).flash_on);
    unsigned timeouts = led(1).timeouts;
    ASSERT_EQ(request(CameraFlashOp::flash_enable, 1, 0), 0);
    EXPECT_FALSE(led(1).flash_on);
    EXPECT_EQ(led(1).timeouts, timeouts);
    // Back to the torch, which stayed on.
    EXPECT_EQ(led(1).output_ma, 100u);

    ASSERT_EQ(request(CameraFlashOp::torch_enable, 1, 0), 0);
    EXPECT_EQ(led(1).output_ma, 0u);
    // The other LED was never touched.
    EXPECT_FALSE(led(2).flash_on);
    EXPECT_FALSE(led(2).torch_on);
}

TEST_F(LedhubFlashTest, TheFlashEndsItselfWhenItsTimeRunsOut) {
    ASSERT_EQ(request(CameraFlashOp::flash_curr, 2, 500), 0);
    ASSERT_EQ(request(CameraFlashOp::flash_time, 2, 100), 0);
    unsigned timeouts = led(2).timeouts;
    ASSERT_EQ(request(CameraFlashOp::flash_enable, 2, 1), 0);
    advance_ms(99);
    EXPECT_TRUE(led(2).flash_on);
    advance_ms(1);
    EXPECT_FALSE(led(2).flash_on);
    EXPECT_EQ(led(2).output_ma, 0u);
    EXPECT_EQ(led(2).timeouts, timeouts + 1);
    EXPECT_EQ(log(), std::vector<std::string>{});

    // The driver learns of it at its next enable change.
    ASSERT_EQ(request(CameraFlashOp::flash_enable, 2, 0), 0);
    EXPECT_EQ(log(), std::vector<std::string>{
                         "subpmic-led subpmic-led: led2: flash ended by its timeout"});
}

struct LimitCase {
    const char *what;
    CameraFlashOp op;
    uint32_t led;
    int value;
    int result;
};

TEST_F(LedhubFlashTest, RequestsOutsideThePartsLimitsAreInvalid) {
    const LimitCase cases[] = {
        {"flash at its most", CameraFlashOp::flash_curr, 1, 1500, 0},
        {"flash over its most", CameraFlashOp::flash_curr, 1, 1501, -EINVAL},
        {"flash at one step", CameraFlashOp::flash_curr, 2, 25, 0},
        {"flash under one step", CameraFlashOp::flash_curr, 2, 24, -EINVAL},
        {"flash of nothing", CameraFlashOp::flash_curr, 1, 0, -EINVAL},
        {"negative flash", CameraFlashOp::flash_curr, 1, -100, -EINVAL},
        {"flash that overflows in uA", CameraFlashOp::flash_curr, 1, INT_MAX, -EINVAL},
        {"longest flash", CameraFlashOp::flash_time, 1, 1000, 0},
        {"flash too long", CameraFlashOp::flash_time, 1, 1001, -EINVAL},
        {"shortest flash", CameraFlashOp::flash_time, 2, 20, 0},
        {"flash too short", CameraFlashOp::flash_time, 2, 19, -EINVAL},
        {"torch at its most", CameraFlashOp::torch_curr, 1, 500, 0},
        {"torch over its most", CameraFlashOp::torch_curr, 1, 501, -EINVAL},
        {"torch at one step", CameraFlashOp::torch_curr, 2, 5, 0},
        {"torch under one step", CameraFlashOp::torch_curr, 2, 4, -EINVAL},
        {"no LED 0", CameraFlashOp::flash_curr, 0, 100, -EINVAL},
        {"no LED 3", CameraFlashOp::flash_curr, 3, 100, -EINVAL},
        {"no LED 3 to strobe", CameraFlashOp::flash_enable, 3, 1, -EINVAL},
        {"no LED 3 to light", CameraFlashOp::torch_enable, 3, 1, -EINVAL},
        {"no LED 3 for a time", CameraFlashOp::flash_time, 3, 100, -EINVAL},
        {"no LED 3 for a torch current", CameraFlashOp::torch_curr, 3, 100, -EINVAL},
    };
    for (const LimitCase &c : cases)
        EXPECT_EQ(request(c.op, c.led, c.value), c.result) << c.what;
    // A refused value leaves what was set before.
    EXPECT_EQ(led(1).flash_ma, 1500u);
    EXPECT_EQ(led(1).flash_time_ms, 1000u);
    EXPECT_EQ(led(1).torch_ma, 500u);
    EXPECT_EQ(led(2).flash_ma, 25u);
    EXPECT_EQ(led(2).flash_time_ms, 20u);
    EXPECT_EQ(led(2).torch_ma, 5u);
}

TEST_F(LedhubFlashTest, ValuesBetweenStepsRoundDown) {
    ASSERT_EQ(request(CameraFlashOp::flash_curr, 1, 1010), 0);
    ASSERT_EQ(request(CameraFlashOp::flash_time, 1, 619), 0);
    ASSERT_EQ(request(CameraFlashOp::torch_curr, 1, 99), 0);
    EXPECT_EQ(led(1).flash_ma, 1000u);
    EXPECT_EQ(led(1).flash_time_ms, 600u);
    EXPECT_EQ(led(1).torch_ma, 95u);
}

TEST_F(LedhubFlashTest, LedhubStaysWhileItsUsersAreLoaded) {
    EXPECT_EQ(sim::module_unload("ledhub"), -EBUSY);
    ASSERT_EQ(request(CameraFlashOp::torch_curr, 1, 50), 0);
    ASSERT_EQ(request(CameraFlashOp::torch_enable, 1, 1), 0);

    simtest::expect_clean_unload("camera");
    EXPECT_EQ(request(CameraFlashOp::torch_enable, 1, 0), -ENODEV);
    EXPECT_EQ(sim::module_unload("ledhub"), -EBUSY);

    // The LED driver's unbinding ends its registration and darkens the LEDs.
    simtest::expect_clean_unload("subpmic_led");
    EXPECT_FALSE(exists("/sys/class/subpmic_led_class/subpmic_led"));
    EXPECT_EQ(led(1).output_ma, 0u);

    simtest::expect_clean_unload("ledhub");
    EXPECT_FALSE(exists("/sys/class/subpmic_led_class"));
}

TEST_F(LedhubFlashTest, TheCameraWaitsForItsFlashDevice) {
    simtest::expect_clean_unload("camera");
    simtest::expect_clean_unload("subpmic_led");
    ASSERT_EQ(sim::module_load("camera"), 0);
    sim::settle();
    // Probe deferred: no flash device by that name yet.
    EXPECT_EQ(request(CameraFlashOp::flash_curr, 1, 100), -ENODEV);

    ASSERT_EQ(sim::module_load("subpmic_led"), 0);
    sim::settle();
    EXPECT_EQ(request(CameraFlashOp::flash_curr, 1, 100), 0);
    EXPECT_EQ(led(1).flash_ma, 100u);
}

TEST_F(LedhubFlashTest, UnbindingTheLedDriverCutsTheCameraOff) {
    ASSERT_EQ(request(CameraFlashOp::torch_curr, 2, 200), 0);
    ASSERT_EQ(request(CameraFlashOp::torch_enable, 2, 1), 0);
    ASSERT_EQ(simtest::write("/sys/bus/platform/drivers/subpmic-led/unbind", "subpmic-led"), 11);
    EXPECT_EQ(led(2).output_ma, 0u);
    EXPECT_FALSE(exists("/sys/class/subpmic_led_class/subpmic_led"));
    // The camera still holds the record, which no longer reaches the driver.
    EXPECT_EQ(request(CameraFlashOp::torch_enable, 2, 1), -EINVAL);
    EXPECT_EQ(led(2).output_ma, 0u);

    // Start again from a clean stack.
    simtest::expect_clean_unload("camera");
    simtest::expect_clean_unload("subpmic_led");
}

}  // namespace
}  // namespace ledhub_test
