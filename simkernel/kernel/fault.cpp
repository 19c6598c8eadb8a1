// Fault injection (a real model of the kernel's fault-injection framework, one rule table for
// every failable operation).
#include "simkernel/kernel/fault.h"

#include <map>
#include <mutex>
#include <random>
#include <sstream>

// After the C++ library: platform/compiler.h defines __init, a name libstdc++ uses.
#include <platform/module.h>

namespace sim {
namespace {

struct ArmedRule {
    FaultRule rule;
    uint64_t calls = 0;  // matching calls seen since arming
    std::mt19937_64 rng;
};

struct FaultTable {
    std::mutex lock;
    std::map<std::pair<std::string, std::string>, ArmedRule> rules;
    std::map<std::string, uint64_t, std::less<>> injected;
};

FaultTable &table() {
    static FaultTable t;
    return t;
}

bool rule_fires(ArmedRule &armed) {
    FaultRule &r = armed.rule;
    armed.calls++;
    switch (r.mode) {
        case FaultRule::Mode::next:
            if (r.count == 0)
                return false;
            r.count--;
            return true;
        case FaultRule::Mode::nth:
            return armed.calls == r.count;
        case FaultRule::Mode::random:
            return std::uniform_real_distribution<double>(0, 1)(armed.rng) < r.probability;
    }
    return false;
}

}  // namespace

void fault_arm(const FaultRule &rule) {
    FaultTable &t = table();
    std::lock_guard g(t.lock);
    ArmedRule armed{rule, 0, std::mt19937_64(rule.seed)};
    t.rules.insert_or_assign({rule.op, rule.module}, std::move(armed));
}

void fault_clear() {
    FaultTable &t = table();
    std::lock_guard g(t.lock);
    t.rules.clear();
    t.injected.clear();
}

uint64_t fault_injected_count(std::string_view op) {
    FaultTable &t = table();
    std::lock_guard g(t.lock);
    auto it = t.injected.find(op);
    return it == t.injected.end() ? 0 : it->second;
}

bool fault_should_fail(std::string_view op, const struct module *caller) {
    FaultTable &t = table();
    std::lock_guard g(t.lock);
    if (t.rules.empty())
        return false;
    // A rule for the calling module takes precedence over one for any caller.
    for (std::string mod : {std::string(caller ? caller->name : ""), std::string()}) {
        auto it = t.rules.find({std::string(op), mod});
        if (it == t.rules.end())
            continue;
        if (!rule_fires(it->second))
            return false;
        t.injected[std::string(op)]++;
        return true;
    }
    return false;
}

std::string fault_describe() {
    FaultTable &t = table();
    std::lock_guard g(t.lock);
    std::ostringstream out;
    for (const auto &[key, armed] : t.rules) {
        const FaultRule &r = armed.rule;
        out << r.op << ' ' << (r.module.empty() ? "*" : r.module) << ' ';
        switch (r.mode) {
            case FaultRule::Mode::next:
                out << "next " << r.count;
                break;
            case FaultRule::Mode::nth:
                out << "nth " << r.count;
                break;
            case FaultRule::Mode::random:
                out << "random " << r.probability << " seed " << r.seed;
                break;
        }
        out << '\n';
    }
    return out.str();
}

}  // namespace sim
