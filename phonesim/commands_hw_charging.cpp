// hw subcommands of the charging hardware: the battery cell and its gauge, the charger's input,
// the charge pump, the charger manager's events and the USB-PD adapter.
#include "phonesim/commands_hw.h"

#include "hw/charging_model.h"

#include <platform/dv_notify.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace phonesim {
namespace {

bool parse_int(const std::string &text, int base, long min, long max, long *out) {
    if (text.empty())
        return false;
    char *end = nullptr;
    errno = 0;
    long v = std::strtol(text.c_str(), &end, base);
    if (*end || errno || v < min || v > max)
        return false;
    *out = v;
    return true;
}

// KEY=VALUE into key and value; false without '='.
bool split(const std::string &arg, std::string *key, std::string *value) {
    size_t eq = arg.find('=');
    if (eq == std::string::npos || eq == 0)
        return false;
    *key = arg.substr(0, eq);
    *value = arg.substr(eq + 1);
    return true;
}

int report(Invocation &inv, int err, const std::string &what) {
    if (err < 0) {
        inv.error(what + ": " + std::strerror(-err));
        return 1;
    }
    return 0;
}

int cmd_battery(Invocation &inv) {
    if (inv.args.size() < 3) {
        inv.error("usage: hw battery KEY=VALUE... | fail PROP | auto");
        return 1;
    }
    if (inv.args[2] == "auto" && inv.args.size() == 3)
        return report(inv, hw::charging::battery_auto(), "battery");
    if (inv.args[2] == "fail") {
        if (inv.args.size() != 4) {
            inv.error("usage: hw battery fail PROP");
            return 1;
        }
        int err = hw::charging::battery_fail(inv.args[3]);
        if (err == -EINVAL) {
            inv.error(inv.args[3] +
                      ": no such property (temp, cycle_count, authentic, capacity, status, "
                      "voltage_now)");
            return 1;
        }
        return report(inv, err, "battery");
    }
    // Check every pair before changing anything.
    std::vector<std::pair<std::string, int>> sets;
    for (size_t i = 2; i < inv.args.size(); i++) {
        std::string key, value;
        if (!split(inv.args[i], &key, &value)) {
            inv.error("bad argument '" + inv.args[i] + "' (KEY=VALUE expected)");
            return 1;
        }
        bool known = false;
        for (const char *const *k = hw::charging::battery_keys(); *k; k++)
            known |= key == *k;
        if (!known) {
            inv.error(key + ": no such battery key");
            return 1;
        }
        long v;
        int status;
        if (key == "status") {
            if (!hw::charging::parse_status(value, &status)) {
                inv.error("bad status '" + value + "'");
                return 1;
            }
            v = status;
        } else if (!parse_int(value, 10, INT_MIN, INT_MAX, &v)) {
            inv.error("bad value '" + value + "' for " + key);
            return 1;
        }
        sets.emplace_back(key, static_cast<int>(v));
    }
    for (const auto &[key, v] : sets)
        if (int err = hw::charging::battery_set(key, v); err < 0)
            return report(inv, err, "battery");
    return 0;
}

// `hw NAME KEY=VALUE` with one integer key.
int one_value(Invocation &inv, const char *key, long *v) {
    std::string k, value;
    if (inv.args.size() != 3 || !split(inv.args[2], &k, &value) || k != key) {
        inv.error(std::string("usage: hw ") + inv.args[1] + " " + key + "=VALUE");
        return 1;
    }
    if (!parse_int(value, 10, INT_MIN, INT_MAX, v)) {
        inv.error("bad value '" + value + "'");
        return 1;
    }
    return 0;
}

int cmd_usb(Invocation &inv) {
    long v;
    if (one_value(inv, "vbus", &v))
        return 1;
    return report(inv, hw::charging::usb_set_vbus(static_cast<int>(v)), "usb");
}

int cmd_cp_master(Invocation &inv) {
    long v;
    if (one_value(inv, "temp", &v))
        return 1;
    return report(inv, hw::charging::cp_set_temp(static_cast<int>(v)), "cp-master");
}

int cmd_cp(Invocation &inv) {
    static const std::pair<const char *, int> events[] = {{"vbus_ovp", CP_EVENT_VBUS_OVP},
                                                          {"vbat_ovp", CP_EVENT_VBAT_OVP},
                                                          {"ibus_ocp", CP_EVENT_IBUS_OCP},
                                                          {"vac_ovp", CP_EVENT_VAC_OVP},
                                                          {"tdie_fault", CP_EVENT_TDIE_FAULT}};
    if (inv.args.size() == 4 && inv.args[2] == "event") {
        long code = -1;
        for (const auto &[name, c] : events)
            if (inv.args[3] == name)
                code = c;
        if (code < 0 && !parse_int(inv.args[3], 0, 0, INT_MAX, &code)) {
            inv.error("bad event '" + inv.args[3] + "'");
            return 1;
        }
        return report(inv, hw::charging::cp_event(static_cast<int>(code)), "cp");
    }
    if (inv.args.size() == 4 && inv.args[2] == "chip_ok" &&
        (inv.args[3] == "0" || inv.args[3] == "1"))
        return report(inv, hw::charging::cp_set_chip_ok(inv.args[3] == "1"), "cp");
    inv.error(
        "usage: hw cp event vbus_ovp|vbat_ovp|ibus_ocp|vac_ovp|tdie_fault|CODE | chip_ok 0|1");
    return 1;
}

int cmd_cm(Invocation &inv) {
    long code, data = 0;
    if ((inv.args.size() != 4 && inv.args.size() != 5) || inv.args[2] != "event") {
        inv.error("usage: hw cm event CODE [DATA]");
        return 1;
    }
    if (!parse_int(inv.args[3], 0, 0, INT_MAX, &code)) {
        inv.error("bad code '" + inv.args[3] + "'");
        return 1;
    }
    if (inv.args.size() == 5 && !parse_int(inv.args[4], 0, 0, 255, &data)) {
        inv.error("bad data '" + inv.args[4] + "' (a byte)");
        return 1;
    }
    return report(inv, hw::charging::cm_event(static_cast<int>(code), static_cast<int>(data)),
                  "cm");
}

int cmd_fg(Invocation &inv) {
    long word;
    if (inv.args.size() != 4 || inv.args[2] != "status" ||
        !parse_int(inv.args[3], 0, 0, UINT_MAX, &word)) {
        inv.error("usage: hw fg status WORD");
        return 1;
    }
    return report(inv, hw::charging::fg_set_status(static_cast<unsigned int>(word)), "fg");
}

int cmd_adapter(Invocation &inv) {
    if (inv.args.size() == 3 && inv.args[2] == "unplug") {
        int err = hw::charging::adapter_unplug();
        if (err == -ENODEV) {
            inv.error("no adapter plugged in");
            return 1;
        }
        return report(inv, err, "adapter");
    }
    if (inv.args.size() < 3 || inv.args[2] != "plug") {
        inv.error("usage: hw adapter plug [svid=HEX] [verified=0|1] [done=N] [type=N] | unplug");
        return 1;
    }
    hw::charging::Adapter a;
    for (size_t i = 3; i < inv.args.size(); i++) {
        std::string key, value;
        long v;
        if (!split(inv.args[i], &key, &value)) {
            inv.error("bad argument '" + inv.args[i] + "' (KEY=VALUE expected)");
            return 1;
        }
        if (key == "svid" && parse_int(value, 16, 0, 0xffff, &v)) {
            a.svid = static_cast<uint32_t>(v);
        } else if (key == "verified" && (value == "0" || value == "1")) {
            a.verified = value == "1";
        } else if (key == "done" && parse_int(value, 10, 0, 255, &v)) {
            a.verify_done = static_cast<int>(v);
        } else if (key == "type" && parse_int(value, 10, 0, 5, &v)) {
            a.vbus_type = static_cast<int>(v);
        } else {
            inv.error("bad argument '" + inv.args[i] + "'");
            return 1;
        }
    }
    int err = hw::charging::adapter_plug(a);
    if (err == -EBUSY) {
        inv.error("an adapter is plugged in already");
        return 1;
    }
    return report(inv, err, "adapter");
}

}  // namespace

std::vector<HwCommand> hw_charging_commands() {
    return {
        {"battery", cmd_battery,
         "hw battery KEY=VALUE...  set and pin what the fuel gauge reports, then let it\n"
         "                         interrupt: temp (0.1 C), soc, status (charging,\n"
         "                         discharging, not-charging, full, unknown or a number),\n"
         "                         cycle, auth, vbat (uV), rsoc, tboard (0.1 C), vbus_type\n"
         "  hw battery fail PROP    make the next read of temp, cycle_count, authentic,\n"
         "                         capacity, status or voltage_now fail\n"
         "  hw battery auto         hand every pinned value back to the battery model"},
        {"usb", cmd_usb, "hw usb vbus=VALUE       set the charger's input voltage (uV)"},
        {"cp-master", cmd_cp_master,
         "hw cp-master temp=VALUE  set the charge pump's die temperature (0.1 C)"},
        {"cp", cmd_cp,
         "hw cp event vbus_ovp|vbat_ovp|ibus_ocp|vac_ovp|tdie_fault|CODE\n"
         "                         latch a charge-pump protection event\n"
         "  hw cp chip_ok 0|1       make the charge pump answer its bus or not"},
        {"cm", cmd_cm, "hw cm event CODE [DATA]  a charger-manager event with its data byte"},
        {"fg", cmd_fg,
         "hw fg status WORD       set the fuel gauge's status word (bit 0 authentication\n"
         "                         fault, bit 1 bus error)"},
        {"adapter", cmd_adapter,
         "hw adapter plug [svid=HEX] [verified=0|1] [done=N] [type=N]\n"
         "                         plug a charger in (type 4, USB-PD, by default; 5 is a\n"
         "                         non-standard charger); defaults svid=1234 verified=1 done=1\n"
         "  hw adapter unplug       pull it out"},
    };
}

}  // namespace phonesim
