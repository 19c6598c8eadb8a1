// The sub-PMIC flash LED part at its registers, as its driver sees it: field ranges, the enable
// register, and the strobe's safety timeout in virtual time.
#include "hw/subpmic_led.h"
#include "hw/subpmic_led_model.h"
#include "simkernel/kernel/sim_time.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

class LedHwTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(hw::subpmic_led_present());
        ASSERT_EQ(subpmic_led_hw_write(SUBPMIC_LED_REG_ENABLE, 0), 0);
        for (int ch = 0; ch < SUBPMIC_LED_HW_CHANNELS; ch++) {
            ASSERT_EQ(subpmic_led_hw_write(SUBPMIC_LED_REG_FLASH_CURR(ch), 0), 0);
            ASSERT_EQ(subpmic_led_hw_write(SUBPMIC_LED_REG_TORCH_CURR(ch), 0), 0);
            ASSERT_EQ(subpmic_led_hw_write(SUBPMIC_LED_REG_FLASH_TIMEOUT(ch), 0), 0);
        }
        read(SUBPMIC_LED_REG_STATUS);
    }

    uint8_t read(uint8_t reg) {
        uint8_t v = 0xff;
        EXPECT_EQ(subpmic_led_hw_read(reg, &v), 0) << int(reg);
        return v;
    }
    hw::SubpmicLedChannel ch(int n) { return hw::subpmic_led_channels().at(n); }
    void advance_ms(uint64_t ms) { sim::time_advance(ms * 1000000); }
};

TEST_F(LedHwTest, FieldsSaturateAtTheirLargestStep) {
    struct {
        uint8_t reg, max;
    } fields[] = {
        {SUBPMIC_LED_REG_FLASH_CURR(0), SUBPMIC_LED_FLASH_MAX_CODE},
        {SUBPMIC_LED_REG_FLASH_CURR(1), SUBPMIC_LED_FLASH_MAX_CODE},
        {SUBPMIC_LED_REG_TORCH_CURR(0), SUBPMIC_LED_TORCH_MAX_CODE},
        {SUBPMIC_LED_REG_TORCH_CURR(1), SUBPMIC_LED_TORCH_MAX_CODE},
        {SUBPMIC_LED_REG_FLASH_TIMEOUT(0), SUBPMIC_LED_TIMEOUT_MAX_CODE},
        {SUBPMIC_LED_REG_FLASH_TIMEOUT(1), SUBPMIC_LED_TIMEOUT_MAX_CODE},
    };
    for (auto f : fields) {
        ASSERT_EQ(subpmic_led_hw_write(f.reg, f.max), 0);
        EXPECT_EQ(read(f.reg), f.max) << int(f.reg);
        ASSERT_EQ(subpmic_led_hw_write(f.reg, f.max + 1), 0);
        EXPECT_EQ(read(f.reg), f.max) << int(f.reg);
        ASSERT_EQ(subpmic_led_hw_write(f.reg, 0xff), 0);
        EXPECT_EQ(read(f.reg), f.max) << int(f.reg);
    }
    EXPECT_EQ(ch(0).flash_ma, 1500u);
    EXPECT_EQ(ch(0).torch_ma, 500u);
    EXPECT_EQ(ch(0).flash_time_ms, 1000u);
}

TEST_F(LedHwTest, RegistersItDoesNotHaveAnswerWithIoErrors) {
    uint8_t v;
    EXPECT_EQ(subpmic_led_hw_read(0x00, &v), -EIO);
    EXPECT_EQ(subpmic_led_hw_read(0x16, &v), -EIO);
    EXPECT_EQ(subpmic_led_hw_write(0x22, 1), -EIO);
    // Status is read-only.
    EXPECT_EQ(subpmic_led_hw_write(SUBPMIC_LED_REG_STATUS, 0), -EIO);
}

TEST_F(LedHwTest, StrobeEndsAtItsTimeoutAndLatchesTheFlag) {
    ASSERT_EQ(subpmic_led_hw_write(SUBPMIC_LED_REG_FLASH_TIMEOUT(1), 4), 0);  // 100 ms
    ASSERT_EQ(subpmic_led_hw_write(SUBPMIC_LED_REG_TORCH_CURR(1), 9), 0);     // 50 mA
    ASSERT_EQ(subpmic_led_hw_write(SUBPMIC_LED_REG_FLASH_CURR(1), 39), 0);    // 1 A
    unsigned timeouts = ch(1).timeouts;
    ASSERT_EQ(subpmic_led_hw_write(SUBPMIC_LED_REG_ENABLE,
                                   SUBPMIC_LED_FLASH_EN(1) | SUBPMIC_LED_TORCH_EN(1)),
              0);
    EXPECT_EQ(ch(1).output_ma, 1000u);

    // The timeout is latched at the strobe's start.
    ASSERT_EQ(subpmic_led_hw_write(SUBPMIC_LED_REG_FLASH_TIMEOUT(1), 49), 0);
    advance_ms(99);
    EXPECT_EQ(read(SUBPMIC_LED_REG_ENABLE), SUBPMIC_LED_FLASH_EN(1) | SUBPMIC_LED_TORCH_EN(1));
    EXPECT_EQ(read(SUBPMIC_LED_REG_STATUS), 0);
    advance_ms(1);
    EXPECT_EQ(read(SUBPMIC_LED_REG_ENABLE), SUBPMIC_LED_TORCH_EN(1));
    EXPECT_EQ(ch(1).output_ma, 50u);
    EXPECT_EQ(ch(1).timeouts, timeouts + 1);
    // Cleared by reading.
    EXPECT_EQ(read(SUBPMIC_LED_REG_STATUS), SUBPMIC_LED_FLASH_TIMEOUT_FLAG(1));
    EXPECT_EQ(read(SUBPMIC_LED_REG_STATUS), 0);
    // Channel 0 saw none of it.
    EXPECT_FALSE(ch(0).flash_on);
    EXPECT_EQ(ch(0).output_ma, 0u);
}

TEST_F(LedHwTest, TimerEndsTheStrobeWithoutAnyoneLooking) {
    ASSERT_EQ(subpmic_led_hw_write(SUBPMIC_LED_REG_FLASH_TIMEOUT(0), 1), 0);  // 40 ms
    ASSERT_EQ(subpmic_led_hw_write(SUBPMIC_LED_REG_ENABLE, SUBPMIC_LED_FLASH_EN(0)), 0);
    unsigned timeouts = ch(0).timeouts;
    advance_ms(1000);
    EXPECT_EQ(ch(0).timeouts, timeouts + 1);
    EXPECT_EQ(read(SUBPMIC_LED_REG_STATUS), SUBPMIC_LED_FLASH_TIMEOUT_FLAG(0));
}

TEST_F(LedHwTest, StoppedStrobeDoesNotTimeOutAndARestartGetsAFullTimeout) {
    ASSERT_EQ(subpmic_led_hw_write(SUBPMIC_LED_REG_FLASH_TIMEOUT(0), 4), 0);  // 100 ms
    unsigned strobes = ch(0).strobes, timeouts = ch(0).timeouts;
    ASSERT_EQ(subpmic_led_hw_write(SUBPMIC_LED_REG_ENABLE, SUBPMIC_LED_FLASH_EN(0)), 0);
    advance_ms(60);
    ASSERT_EQ(subpmic_led_hw_write(SUBPMIC_LED_REG_ENABLE, 0), 0);
    ASSERT_EQ(subpmic_led_hw_write(SUBPMIC_LED_REG_ENABLE, SUBPMIC_LED_FLASH_EN(0)), 0);
    // Writing the bit again while it strobes starts nothing new.
    ASSERT_EQ(subpmic_led_hw_write(SUBPMIC_LED_REG_ENABLE, SUBPMIC_LED_FLASH_EN(0)), 0);
    EXPECT_EQ(ch(0).strobes, strobes + 2);
    advance_ms(60);
    EXPECT_TRUE(ch(0).flash_on);
    EXPECT_EQ(ch(0).timeouts, timeouts);
    advance_ms(40);
    EXPECT_FALSE(ch(0).flash_on);
    EXPECT_EQ(ch(0).timeouts, timeouts + 1);
}

TEST_F(LedHwTest, StateLinesShowEachChannel) {
    ASSERT_EQ(subpmic_led_hw_write(SUBPMIC_LED_REG_TORCH_CURR(0), 19), 0);
    ASSERT_EQ(subpmic_led_hw_write(SUBPMIC_LED_REG_ENABLE, SUBPMIC_LED_TORCH_EN(0)), 0);
    unsigned s0 = ch(0).strobes, t0 = ch(0).timeouts, s1 = ch(1).strobes, t1 = ch(1).timeouts;
    EXPECT_EQ(hw::subpmic_led_describe(),
              "subpmic-led led1: flash off 25 mA 20 ms, torch on 100 mA, output 100 mA, strobes " +
                  std::to_string(s0) + ", timeouts " + std::to_string(t0) +
                  "\nsubpmic-led led2: flash off 25 mA 20 ms, torch off 5 mA, output 0 mA, "
                  "strobes " +
                  std::to_string(s1) + ", timeouts " + std::to_string(t1) + "\n");
}

}  // namespace
