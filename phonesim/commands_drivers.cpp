// Driver-model commands of the shell: uevents, as `udevadm monitor --kernel --property` shows
// them.
#include "phonesim/shell.h"

#include "simkernel/drivers/base/uevent_host.h"

namespace phonesim {
namespace {

int cmd_uevents(Invocation &inv) {
    bool clear = false, clear_only = false;
    for (size_t i = 1; i < inv.args.size(); i++) {
        if (inv.args[i] == "-c") {
            clear = true;
        } else if (inv.args[i] == "-C") {
            clear_only = true;
        } else {
            inv.error("Unknown option '" + inv.args[i] + "'");
            return 1;
        }
    }
    if (!clear_only) {
        std::string text;
        for (const sim::Uevent &ev : sim::uevents())
            text += sim::uevent_format(ev);
        inv.out.write(text);
    }
    if (clear || clear_only)
        sim::uevents_clear();
    return 0;
}

}  // namespace

std::vector<Builtin> driver_builtins() {
    return {{"uevents", cmd_uevents,
             "uevents [-c] [-C]      the uevents sent since boot, as udevadm monitor prints "
             "them\n"
             "                         (-c: then forget them, -C: only forget them)"}};
}

}  // namespace phonesim
