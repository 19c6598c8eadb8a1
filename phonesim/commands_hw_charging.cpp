// hw subcommands of the charging hardware.
#include "phonesim/commands_hw.h"

namespace phonesim {

std::vector<HwCommand> hw_charging_commands() {
    return {};
}

}  // namespace phonesim
