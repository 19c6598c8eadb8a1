// Shared set-up of the chgnotify tests: chgnotify and the phone's charging driver that calls it
// (charge_reporter) loaded and bound on the booted phone, the charger's reporting line to drive
// them, and readers of the uevents and kernel log lines they produce.
#pragma once

#include "hw/charge_reporter_model.h"
#include "simkernel/drivers/base/uevent_host.h"
#include "simkernel/kernel/fault.h"
#include "simkernel/kernel/module_loader.h"
#include "simkernel/kernel/printk_log.h"
#include "tests/support/module_checks.h"
#include "tests/support/node_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

namespace chgnotify_test {

inline const char kDevice[] = "chgnotify";
inline const std::string kDevpath = "/devices/platform/chgnotify";
inline const std::string kDevicePath = "/sys" + kDevpath;
inline const std::string kDriverPath = "/sys/bus/platform/drivers/chgnotify";

// What the kernel puts in every uevent of the bound chgnotify device before the caller's
// strings: the standard variables, the bound driver and the device-tree node's.
inline const std::vector<std::string> kStandardVars = {
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

inline std::vector<std::string> expected_env(std::initializer_list<const char *> strings,
                                             uint64_t seqnum) {
    std::vector<std::string> env = kStandardVars;
    for (const char *s : strings)
        env.emplace_back(s);
    env.push_back("SEQNUM=" + std::to_string(seqnum));
    return env;
}

// One kernel log line: its level and text.
struct Line {
    int level;
    std::string text;
    Line(int l, std::string t) : level(l), text(std::move(t)) {}
    bool operator==(const Line &o) const = default;
};
inline void PrintTo(const Line &l, std::ostream *os) {
    *os << "<" << l.level << ">" << l.text;
}

inline charge_reporter_request single(int type, int value) {
    charge_reporter_request req = {};
    req.type = type;
    req.nr_values = 1;
    req.values[0] = value;
    return req;
}

inline charge_reporter_request bundle(int type, std::initializer_list<int> values) {
    charge_reporter_request req = {};
    req.bundle = 1;
    req.type = type;
    for (int v : values)
        req.values[req.nr_values++] = v;
    return req;
}

class ChgnotifyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        load_stack();
        mark();
    }

    void TearDown() override {
        sim::fault_clear();
        load_stack();
    }

    // chgnotify first: the charging driver needs its exports to load, as modprobe orders them.
    static void load_stack() {
        if (!sim::module_find("chgnotify")) {
            ASSERT_EQ(sim::module_load("chgnotify"), 0);
        }
        if (!sim::module_find("charge_reporter")) {
            ASSERT_EQ(sim::module_load("charge_reporter"), 0);
        }
        if (!simtest::exists(kDevicePath + "/driver")) {
            ASSERT_EQ(bind(), long(sizeof(kDevice) - 1));
        }
    }

    static long bind() { return simtest::write(kDriverPath + "/bind", kDevice); }
    static long unbind() { return simtest::write(kDriverPath + "/unbind", kDevice); }

    static int report(int type, int value) {
        return hw::charge_reporter_raise(single(type, value));
    }
    static int report_bundle(int type, std::initializer_list<int> values) {
        return hw::charge_reporter_raise(bundle(type, values));
    }

    void mark() {
        log_mark_ = sim::log_next_seq();
        uevent_mark_ = sim::uevent_next_seq();
    }
    // chgnotify's log lines since the mark.
    std::vector<Line> log() const {
        std::vector<Line> out;
        for (const sim::LogRecord &r : sim::log_records_since(log_mark_))
            if (r.text.starts_with("[DV_CHG_UEVENT]"))
                out.emplace_back(r.level, r.text);
        return out;
    }
    std::vector<std::string> log_texts() const { return sim::log_texts_since(log_mark_); }
    // The uevents of the chgnotify device since the mark.
    std::vector<sim::Uevent> uevents() const {
        std::vector<sim::Uevent> out;
        for (sim::Uevent &ev : sim::uevents_since(uevent_mark_))
            if (ev.devpath == kDevpath)
                out.push_back(std::move(ev));
        return out;
    }
    const sim::ModuleInfo *find_module(const char *name) {
        modules_ = sim::module_list();
        auto it = std::find_if(modules_.begin(), modules_.end(),
                               [&](const sim::ModuleInfo &m) { return m.name == name; });
        return it == modules_.end() ? nullptr : &*it;
    }

    uint64_t log_mark_ = 0;
    uint64_t uevent_mark_ = 0;
    std::vector<sim::ModuleInfo> modules_;
};

}  // namespace chgnotify_test
