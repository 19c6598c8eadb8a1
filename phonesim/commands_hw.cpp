// The `hw` command: the phone's hardware. Without arguments it prints every component's state;
// `hw attach NAME` and `hw detach NAME` make a component appear or vanish; everything else goes
// to the area tables of commands_hw.h.
#include "phonesim/commands_hw.h"

#include "hw/component.h"

#include <cstring>

namespace phonesim {
namespace {

std::vector<HwCommand> all_hw_commands() {
    std::vector<HwCommand> all = hw_charging_commands();
    for (const HwCommand &c : hw_led_commands())
        all.push_back(c);
    for (const HwCommand &c : hw_uevent_commands())
        all.push_back(c);
    return all;
}

int hw_attach(Invocation &inv, bool attach) {
    if (inv.args.size() != 3) {
        inv.error(std::string("usage: hw ") + (attach ? "attach" : "detach") + " NAME");
        return 1;
    }
    for (const hw::Component &c : hw::components()) {
        if (c.name != inv.args[2])
            continue;
        if (!c.set_attached) {
            inv.error(c.name + ": cannot be " + (attach ? "attached" : "detached"));
            return 1;
        }
        int r = c.set_attached(attach);
        if (r < 0) {
            inv.error(c.name + ": " + std::strerror(-r));
            return 1;
        }
        return 0;
    }
    inv.error(inv.args[2] + ": no such component");
    return 1;
}

int cmd_hw(Invocation &inv) {
    if (inv.args.size() == 1) {
        for (const hw::Component &c : hw::components())
            if (c.state)
                inv.out.write(c.state());
        return 0;
    }
    const std::string &sub = inv.args[1];
    if (sub == "attach" || sub == "detach")
        return hw_attach(inv, sub == "attach");
    for (const HwCommand &c : all_hw_commands())
        if (sub == c.name)
            return c.run(inv);
    inv.error(sub + ": no such hardware command");
    return 1;
}

}  // namespace

std::vector<Builtin> hw_builtins() {
    return {{"hw", cmd_hw,
             "hw                     the state of every part of the phone's hardware\n"
             "  hw detach NAME | hw attach NAME\n"
             "                         make a part vanish or come back (fuel_gauge,\n"
             "                         primary_chg, master_cp_chg, pd_adapter)"}};
}

std::string hw_usage() {
    std::string s;
    for (const HwCommand &c : all_hw_commands())
        s += std::string("  ") + c.usage + "\n";
    return s;
}

}  // namespace phonesim
