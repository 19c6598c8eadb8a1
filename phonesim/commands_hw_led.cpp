// hw subcommands of the led hardware.
#include "phonesim/commands_hw.h"

namespace phonesim {

std::vector<HwCommand> hw_led_commands() {
    return {};
}

}  // namespace phonesim
