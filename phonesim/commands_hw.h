// The `hw` command's subcommands, one table per area of the phone's hardware. Each subcommand
// sets what the hardware would and lets the drivers see it the way they would on a device.
#pragma once

#include "phonesim/shell.h"

#include <vector>

namespace phonesim {

struct HwCommand {
    const char *name;             // "battery": run for `hw battery ...`
    int (*run)(Invocation &inv);  // inv.args[0] is "hw", inv.args[1] the subcommand
    const char *usage;            // for --help: "hw battery KEY=VALUE...  what it does"
};

std::vector<HwCommand> hw_charging_commands();
std::vector<HwCommand> hw_led_commands();
std::vector<HwCommand> hw_uevent_commands();

}  // namespace phonesim
