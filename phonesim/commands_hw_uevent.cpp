// hw subcommands of the charger's reporting line: ask the charger's driver to report a charging
// condition, which it sends to user space as a uevent through chgnotify.
#include "phonesim/commands_hw.h"

#include "hw/charge_reporter_model.h"

#include <charconv>
#include <cstring>
#include <string>

namespace phonesim {
namespace {

bool parse_int(const std::string &s, int *out) {
    const char *end = s.data() + s.size();
    auto [p, ec] = std::from_chars(s.data(), end, *out);
    return ec == std::errc() && p == end && !s.empty();
}

// Parses args[2...] into the request; false (with the error printed) on a bad number.
bool parse_request(Invocation &inv, charge_reporter_request *req) {
    const std::string &sub = inv.args[1];
    if (!parse_int(inv.args[2], &req->type)) {
        inv.error(sub + ": invalid type '" + inv.args[2] + "'");
        return false;
    }
    req->nr_values = int(inv.args.size()) - 3;
    for (int i = 0; i < req->nr_values; i++) {
        const std::string &word = inv.args[3 + i];
        if (!parse_int(word, &req->values[i])) {
            inv.error(sub + ": invalid value '" + word + "'");
            return false;
        }
    }
    return true;
}

int raise(Invocation &inv, const charge_reporter_request &req) {
    int ret = hw::charge_reporter_raise(req);
    if (ret < 0) {
        inv.error(inv.args[1] + ": " + std::strerror(-ret));
        return 1;
    }
    return 0;
}

int cmd_uevent(Invocation &inv) {
    if (inv.args.size() != 4) {
        inv.error("usage: hw uevent TYPE VALUE");
        return 1;
    }
    charge_reporter_request req = {};
    if (!parse_request(inv, &req))
        return 1;
    return raise(inv, req);
}

int cmd_uevent_bundle(Invocation &inv) {
    if (inv.args.size() < 3 || inv.args.size() > 3 + CHARGE_REPORTER_MAX_VALUES) {
        inv.error("usage: hw uevent-bundle TYPE [VALUE...] (at most " +
                  std::to_string(CHARGE_REPORTER_MAX_VALUES) + " values)");
        return 1;
    }
    charge_reporter_request req = {};
    req.bundle = 1;
    if (!parse_request(inv, &req))
        return 1;
    return raise(inv, req);
}

}  // namespace

std::vector<HwCommand> hw_uevent_commands() {
    return {
        {"uevent", cmd_uevent,
         "hw uevent TYPE VALUE   the charger asks its driver to report one charging event"},
        {"uevent-bundle", cmd_uevent_bundle,
         "hw uevent-bundle TYPE [VALUE...]\n"
         "                         the charger asks for a bundle of values in one uevent\n"
         "                         (values not given read as 0)"},
    };
}

}  // namespace phonesim
