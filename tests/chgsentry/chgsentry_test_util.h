// Shared set-up of the chgsentry tests that run the module on the booted phone: the charging
// stack loaded, chgsentry loaded afresh (so its event table starts over) and bound at a whole
// second of virtual time, the hardware back to a healthy idle phone, and readers of the event
// channel and of chgsentry's log lines.
#pragma once

#include "hw/charging_model.h"
#include "hw/component.h"
#include "simkernel/kernel/fault.h"
#include "simkernel/kernel/module_loader.h"
#include "simkernel/kernel/printk_log.h"
#include "simkernel/kernel/sim_time.h"
#include "tests/support/module_checks.h"
#include "tests/support/node_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

// After the standard headers: platform/ defines attribute macros libstdc++ also uses.
#include <platform/dv_notify.h>
#include <platform/power_supply.h>

namespace chgsentry_test {

// The charging stack's modules, in the order the phone loads them: what chgsentry calls.
inline const std::vector<std::string> kStack = {
    "dv_notify",       "zoev",        "dvsys_pcba",       "dv_charger_class",
    "dv_cp_class",     "dv_fg_class", "vq_adapter_class", "usbpd_port",
    "primary_charger", "charge_pump", "fuel_gauge",
};

inline const std::string kDevice = "chgsentry";
inline const std::string kDevicePath = "/sys/devices/platform/chgsentry";
inline const std::string kDriverPath = "/sys/bus/platform/drivers/chgsentry";
inline const std::string kDeferred = "/sys/kernel/debug/devices_deferred";
inline const std::string kPrefix = "[DV_CHG_DFS]";
// The condition check's status line starts so.
inline const std::string kStatusLine = "[DV_CHG_DFS][handle_evt_cond_check_work]:cycle_cnt:";

constexpr uint64_t kSecond = 1000000000ULL;
constexpr uint64_t kJiffy = kSecond / 250;

// One kernel log line: its level and text.
struct Line {
    int level;
    std::string text;
    bool operator==(const Line &o) const = default;
};
inline void PrintTo(const Line &l, std::ostream *os) {
    *os << "<" << l.level << ">" << l.text;
}

// One event-channel record: its time in seconds since the probe, and "ID KEY=VALUE ...".
struct Record {
    double at;
    std::string text;
    bool operator==(const Record &o) const = default;
};
inline void PrintTo(const Record &r, std::ostream *os) {
    *os << "@" << r.at << " " << r.text;
}

inline void advance(double seconds) {
    sim::time_advance(uint64_t(seconds * double(kSecond) + 0.5));
}

// Every part of the charging hardware attached, nothing plugged in, nothing pinned, no fault.
inline void restore_hardware() {
    for (const hw::Component &c : hw::components()) {
        if (c.set_attached)
            c.set_attached(true);
    }
    hw::charging::adapter_unplug();
    hw::charging::battery_auto();
    hw::charging::cp_set_chip_ok(true);
    hw::charging::fg_set_status(0);
    sim::settle();
}

inline int set_attached(const std::string &name, bool attach) {
    for (const hw::Component &c : hw::components()) {
        if (c.name == name && c.set_attached) {
            int ret = c.set_attached(attach);
            sim::settle();
            return ret;
        }
    }
    return -2;
}

class ChgsentryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::fault_clear();
        load_stack();
        if (sim::module_find("chgsentry")) {
            ASSERT_EQ(sim::module_unload("chgsentry"), 0);
        }
        restore_hardware();
        prepare();
        if (load_on_setup_) {
            ASSERT_EQ(sim::module_load("chgsentry"), 0);
            sim::settle();
            battery_seen();
        }
    }

    // A fresh chgsentry (its event table starts over) on restored hardware, bound now.
    void reload() {
        if (sim::module_find("chgsentry")) {
            ASSERT_EQ(sim::module_unload("chgsentry"), 0);
        }
        restore_hardware();
        prepare();
        ASSERT_EQ(sim::module_load("chgsentry"), 0);
        sim::settle();
        battery_seen();
    }

    // The last status line of the condition check, from "cycle_cnt:" on.
    std::string last_status() const {
        std::string last;
        for (const Line &l : lines()) {
            if (l.text.rfind(kStatusLine, 0) == 0)
                last = l.text.substr(kStatusLine.size() - 10);
        }
        return last;
    }

    // A battery notification, as the gauge sends one whenever a value moves: without one,
    // chgsentry has not seen the battery authenticate yet.
    static void battery_seen() {
        ASSERT_EQ(hw::charging::battery_set("auth", 1), 0);
        sim::settle();
    }

    void TearDown() override {
        sim::fault_clear();
        sim::settle();
        if (sim::module_find("chgsentry"))
            simtest::expect_clean_unload("chgsentry");
        restore_hardware();
    }

    static void load_stack() {
        for (const std::string &m : kStack) {
            if (!sim::module_find(m)) {
                ASSERT_EQ(sim::module_load(m), 0) << m;
            }
        }
        sim::settle();
    }

    // Moves time to the next whole second and takes it as the probe's time; clears the event
    // channel and marks the log.
    void prepare() {
        uint64_t now = sim::clock_monotonic_ns();
        uint64_t next = (now + kSecond - 1) / kSecond * kSecond;
        if (next > now)
            sim::time_advance(next - now);
        t0_ns_ = sim::clock_monotonic_ns();
        clear_events();
        mark();
    }

    void mark() { mark_ = sim::log_next_seq(); }

    // chgsentry's log lines since the mark.
    std::vector<Line> lines() const {
        std::vector<Line> out;
        for (const sim::LogRecord &r : sim::log_records_since(mark_)) {
            if (r.text.rfind(kPrefix, 0) == 0)
                out.push_back({r.level, r.text});
        }
        return out;
    }
    // chgsentry's log lines since the mark, without the condition check's status lines and the
    // report and upload steps: what the callbacks, the probe and the errors say.
    std::vector<Line> plain_lines() const {
        std::vector<Line> out;
        for (const Line &l : lines()) {
            if (l.text.rfind(kStatusLine, 0) == 0 ||
                l.text.find("dfx event need report") != std::string::npos ||
                l.text.rfind("[DV_CHG_DFS][vq_chg_dfx_", 0) == 0 ||
                l.text.rfind("[DV_CHG_DFS][zoevent_upload]", 0) == 0)
                continue;
            out.push_back(l);
        }
        return out;
    }
    int count_lines(const std::string &prefix) const {
        auto l = lines();
        return int(std::count_if(l.begin(), l.end(),
                                 [&](const Line &x) { return x.text.rfind(prefix, 0) == 0; }));
    }
    // Condition-check passes since the mark.
    int checks() const { return count_lines(kStatusLine); }

    static void clear_events() { ASSERT_EQ(simtest::write("/dev/zoev", "clear"), 5); }

    // The records on the channel, with their times relative to the probe.
    std::vector<Record> records() const {
        std::vector<Record> out;
        std::istringstream in(simtest::read("/dev/zoev"));
        std::string line;
        while (std::getline(in, line)) {
            size_t close = line.find("] ");
            if (line.empty() || line[0] != '[' || close == std::string::npos) {
                ADD_FAILURE() << "odd record line: " << line;
                continue;
            }
            double t = std::stod(line.substr(1, close - 1));
            out.push_back({t - double(t0_ns_) / double(kSecond), line.substr(close + 2)});
        }
        return out;
    }
    // Just the "ID KEY=VALUE ..." of each record.
    std::vector<std::string> texts() const {
        std::vector<std::string> out;
        for (const Record &r : records())
            out.push_back(r.text);
        return out;
    }

    // Seconds of virtual time since the probe.
    double since_probe() const {
        return double(sim::clock_monotonic_ns() - t0_ns_) / double(kSecond);
    }
    // Advances to `seconds` after the probe.
    void advance_to(double seconds) {
        uint64_t target = t0_ns_ + uint64_t(seconds * double(kSecond) + 0.5);
        uint64_t now = sim::clock_monotonic_ns();
        ASSERT_GE(target, now);
        sim::time_advance(target - now);
    }

    static bool bound() { return simtest::exists(kDevicePath + "/driver"); }
    static long bind() { return simtest::write(kDriverPath + "/bind", kDevice); }
    static long unbind() { return simtest::write(kDriverPath + "/unbind", kDevice); }
    static std::string deferred() { return simtest::read(kDeferred); }

    bool load_on_setup_ = true;
    uint64_t t0_ns_ = 0;
    uint64_t mark_ = 0;
};

}  // namespace chgsentry_test
