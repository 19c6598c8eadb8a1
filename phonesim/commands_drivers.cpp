// Driver-model commands of the shell: uevents, as `udevadm monitor --kernel --property` shows
// them.
#include "phonesim/shell.h"

#include "simkernel/drivers/base/uevent_host.h"

namespace phonesim {
namespace {

int cmd_uevents(Invocation &inv) {
    bool clear = false;
    for (size_t i = 1; i < inv.args.size(); i++) {
        if (inv.args[i] != "-c") {
            inv.error("Unknown option '" + inv.args[i] + "'");
            return 1;
        }
        clear = true;
    }
    std::string text;
    for (const sim::Uevent &ev : sim::uevents())
        text += sim::uevent_format(ev);
    inv.out.write(text);
    if (clear)
        sim::uevents_clear();
    return 0;
}

}  // namespace

std::vector<Builtin> driver_builtins() {
    return {{"uevents", cmd_uevents,
             "uevents [-c]           the uevents sent since boot, as udevadm monitor prints "
             "them (-c: then forget them)"}};
}

}  // namespace phonesim
