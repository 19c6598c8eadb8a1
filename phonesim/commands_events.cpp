// Event-channel commands of the shell: `events [-c]` prints the diagnostic event records that
// drivers wrote to the channel, as the diagnostics service reads them from /dev/zoev.
#include "phonesim/shell.h"

#include "simkernel/fs/vfs.h"

#include <cstring>

namespace phonesim {
namespace {

constexpr const char kEventDev[] = "/dev/zoev";

int cmd_events(Invocation &inv) {
    bool clear = false;
    for (size_t i = 1; i < inv.args.size(); i++) {
        if (inv.args[i] == "-c") {
            clear = true;
        } else {
            inv.error("Unknown option '" + inv.args[i] + "'");
            return 1;
        }
    }
    std::string text;
    int err = sim::vfs::read_file(kEventDev, &text);
    if (err < 0) {
        inv.error(std::string(kEventDev) + ": " + std::strerror(-err));
        return 1;
    }
    inv.out.write(text);
    if (clear) {
        err = sim::vfs::write_file(kEventDev, "clear\n");
        if (err < 0) {
            inv.error(std::string(kEventDev) + ": " + std::strerror(-err));
            return 1;
        }
    }
    return 0;
}

}  // namespace

std::vector<Builtin> event_builtins() {
    return {{"events", cmd_events,
             "events [-c]            print the diagnostic event records of /dev/zoev, one a\n"
             "                         line: [SECONDS.MICROS] ID KEY=VALUE... (-c: then clear)"}};
}

}  // namespace phonesim
