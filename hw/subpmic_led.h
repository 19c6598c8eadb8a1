// The sub-PMIC's flash LED block as its driver sees it: two channels, each with a flash current,
// a flash safety timeout and a torch current, and one enable register. Strobing a channel's
// flash starts its timeout; when the timeout runs out in virtual time the part ends the strobe
// itself and latches a timeout flag. The flash outranks the torch on a channel: while it strobes
// the output is the flash current, after it the torch current again if the torch is on.
//
// Register codes above a field's range saturate at its largest step, as on the part.
#pragma once

#include <cstdint>

#define SUBPMIC_LED_HW_CHANNELS 2

// Flash current: (code + 1) * 25 mA, 25 mA to 1.5 A.
#define SUBPMIC_LED_REG_FLASH_CURR(ch) (0x10 + (ch))
#define SUBPMIC_LED_FLASH_STEP_UA 25000
#define SUBPMIC_LED_FLASH_MAX_CODE 59
// Torch current: (code + 1) * 5 mA, 5 mA to 500 mA.
#define SUBPMIC_LED_REG_TORCH_CURR(ch) (0x12 + (ch))
#define SUBPMIC_LED_TORCH_STEP_UA 5000
#define SUBPMIC_LED_TORCH_MAX_CODE 99
// Flash timeout: (code + 1) * 20 ms, 20 ms to 1 s.
#define SUBPMIC_LED_REG_FLASH_TIMEOUT(ch) (0x14 + (ch))
#define SUBPMIC_LED_TIMEOUT_STEP_US 20000
#define SUBPMIC_LED_TIMEOUT_MAX_CODE 49
// Enables: bit ch strobes channel ch's flash (cleared by the part when the timeout ends the
// strobe), bit 4 + ch turns on its torch.
#define SUBPMIC_LED_REG_ENABLE 0x20
#define SUBPMIC_LED_FLASH_EN(ch) (1u << (ch))
#define SUBPMIC_LED_TORCH_EN(ch) (1u << (4 + (ch)))
// Status, cleared by reading: bit ch is set when channel ch's strobe ended by its timeout.
#define SUBPMIC_LED_REG_STATUS 0x21
#define SUBPMIC_LED_FLASH_TIMEOUT_FLAG(ch) (1u << (ch))

extern "C" {
// Register access over the part's bus: 0, -ENXIO when the phone has no such part (no enabled
// "phonesim,subpmic-led" node), or -EIO for a register the part does not have.
int subpmic_led_hw_read(uint8_t reg, uint8_t *val);
int subpmic_led_hw_write(uint8_t reg, uint8_t val);
}
