// hw subcommands of the uevent hardware.
#include "phonesim/commands_hw.h"

namespace phonesim {

std::vector<HwCommand> hw_uevent_commands() {
    return {};
}

}  // namespace phonesim
