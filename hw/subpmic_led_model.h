// Host side of the sub-PMIC flash LED model: what the LEDs are doing, for phonesim's `hw led`
// and the tests. The driver's side is hw/subpmic_led.h.
#pragma once

#include <string>
#include <vector>

namespace hw {

struct SubpmicLedChannel {
    unsigned flash_ma = 0;       // flash current as programmed
    unsigned flash_time_ms = 0;  // flash timeout as programmed
    unsigned torch_ma = 0;       // torch current as programmed
    bool flash_on = false;       // strobing now
    bool torch_on = false;
    unsigned output_ma = 0;  // what the LED carries now: the flash's, else the torch's, or 0
    unsigned strobes = 0;    // strobes started since boot
    unsigned timeouts = 0;   // strobes the timeout ended
};

// Whether the phone has the part (an enabled "phonesim,subpmic-led" node).
bool subpmic_led_present();
// Both channels, LED1 first; empty without the part.
std::vector<SubpmicLedChannel> subpmic_led_channels();
// One line per channel: "subpmic-led led1: flash off 25 mA 20 ms, torch off 5 mA, output 0 mA,
// strobes 0, timeouts 0".
std::string subpmic_led_describe();

}  // namespace hw
