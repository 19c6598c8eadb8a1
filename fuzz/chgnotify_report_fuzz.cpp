// chgnotify's two exports, called as a charging driver calls them, with any event type, value,
// bundle type and bundle values. Each call must answer as its contract says and send exactly
// the uevent it describes on the chgnotify device: the standard variables, then the event's
// strings, then SEQNUM. Anything else (a crash, a sanitizer report, a kernel warning, a wrong
// result, a wrong or missing or extra uevent) is a finding.
//
// Input: records of 9 bytes (a single report: a tag byte with bit 0 clear, the type and the
// value as little-endian 32-bit ints) or 17 bytes (a bundle: tag with bit 0 set, the type and
// three values).
#include "fuzz/support/fuzz_phone.h"

#include "simkernel/drivers/base/uevent_host.h"
#include "simkernel/kernel/module_loader.h"
#include "simkernel/kernel/sim_time.h"
#include "simkernel/kernel/task.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "chgnotify/chg_uevent.h"

#include <platform/errno.h>

namespace {

const std::string kDevpath = "/devices/platform/chgnotify";
const std::vector<std::string> kStandardVars = {
    "ACTION=change",
    "DEVPATH=/devices/platform/chgnotify",
    "SUBSYSTEM=platform",
    "DRIVER=chgnotify",
    "OF_NAME=chgnotify",
    "OF_FULLNAME=/chgnotify",
    "OF_COMPATIBLE_0=vantor,chgnotify",
    "OF_COMPATIBLE_N=1",
    "MODALIAS=of:NchgnotifyT(null)Cvantor,chgnotify",
};

decltype(&vq_charge_uevent_report) g_report;
decltype(&vq_charge_uevents_bundle_report) g_bundle;

int32_t le32(const uint8_t *p) {
    uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    return int32_t(v);
}

// The string a single report of type carries, or "" for a type that is not supported.
std::string single_string(int32_t type, int32_t value) {
    static const char *const names[11] = {
        "CHG_UEVENT_DEFAULT_TYPE",
        "POWER_SUPPLY_SOC_DECIMAL",
        "POWER_SUPPLY_SOC_DECIMAL_RATE",
        "POWER_SUPPLY_QUICK_CHARGE_TYPE",
        "POWER_SUPPLY_SHUTDOWN_DELAY",
        "POWER_SUPPLY_CONNECTOR_TEMP",
        "POWER_SUPPLY_NTC_ALARM",
        "POWER_SUPPLY_MOISTURE_DET_STS",
        "POWER_SUPPLY_REVERSE_QUICK_CHARGE",
        nullptr,
        "POWER_SUPPLY_CC_SHORT_VBUS",
    };
    if (type == 0 || type == 10)
        return names[type];
    if (type >= 1 && type <= 8)
        return std::string(names[type]) + "=" + std::to_string(value);
    return "";
}

[[noreturn]] void wrong(const char *what, int32_t type, int ret) {
    char msg[160];
    std::snprintf(msg, sizeof(msg), "%s (type %d, result %d)", what, type, ret);
    fuzz::finding(msg);
}

void check_uevents(uint64_t mark, const std::vector<std::string> &strings, int32_t type, int ret) {
    std::vector<sim::Uevent> evs = sim::uevents_since(mark);
    if (strings.empty()) {
        if (!evs.empty())
            wrong("a refused report sent a uevent", type, ret);
        return;
    }
    if (evs.size() != 1)
        wrong("a report did not send exactly one uevent", type, ret);
    const sim::Uevent &ev = evs[0];
    std::vector<std::string> want = kStandardVars;
    want.insert(want.end(), strings.begin(), strings.end());
    want.push_back("SEQNUM=" + std::to_string(ev.seqnum));
    if (ev.devpath != kDevpath || ev.action != "change" || ev.env != want) {
        for (const std::string &e : ev.env)
            std::fprintf(stderr, "  sent %s\n", e.c_str());
        for (const std::string &e : want)
            std::fprintf(stderr, "  want %s\n", e.c_str());
        wrong("a report sent the wrong uevent", type, ret);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::boot_phone();
    // Pinned for the life of the process, as a loaded charging driver pins them.
    g_report =
        reinterpret_cast<decltype(g_report)>(sim::module_symbol_get("vq_charge_uevent_report"));
    g_bundle = reinterpret_cast<decltype(g_bundle)>(
        sim::module_symbol_get("vq_charge_uevents_bundle_report"));
    if (!g_report || !g_bundle)
        fuzz::finding("chgnotify's exports are not there");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    sim::TaskScope as(fuzz::user_task());
    uint64_t mark = fuzz::log_mark();
    size_t i = 0;
    while (i < size) {
        bool bundle = data[i] & 1;
        size_t need = bundle ? 17 : 9;
        if (size - i < need)
            break;
        const uint8_t *p = data + i + 1;
        i += need;
        int32_t type = le32(p);
        uint64_t umark = sim::uevent_next_seq();
        if (!bundle) {
            int32_t value = le32(p + 4);
            int ret = g_report(type, value);
            std::string s = single_string(type, value);
            if (ret != (s.empty() ? -EINVAL : 0))
                wrong("a single report answered wrongly", type, ret);
            check_uevents(umark,
                          s.empty() ? std::vector<std::string>{} : std::vector<std::string>{s},
                          type, ret);
        } else {
            int32_t v[3] = {le32(p + 4), le32(p + 8), le32(p + 12)};
            int ret = g_bundle(type, v[0], v[1], v[2]);
            std::vector<std::string> want;
            if (type == 0)
                want = {single_string(3, v[0]), single_string(1, v[1]), single_string(2, v[2])};
            if (ret != (want.empty() ? -EINVAL : 0))
                wrong("a bundle report answered wrongly", type, ret);
            check_uevents(umark, want, type, ret);
        }
        fuzz::check_kernel_quiet(&mark, "a chgnotify report");
    }
    // Each input looks only at its own uevents; an empty backlog keeps that look short.
    sim::uevents_clear();
    return 0;
}
