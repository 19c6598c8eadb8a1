// Fault injection: one mechanism for every operation that can fail in the kernel.
// A real model: rules are armed per operation name (optionally for one module), and each
// failable call asks fault_should_fail() once.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct module;

namespace sim {

// Operation names used by the simulated kernel's failable calls.
namespace fault_op {
inline constexpr std::string_view kmalloc = "kmalloc";
inline constexpr std::string_view kthread_create = "kthread_create";
inline constexpr std::string_view proc_create = "proc_create";
inline constexpr std::string_view kobject_create_and_add = "kobject_create_and_add";
inline constexpr std::string_view sysfs_create_group = "sysfs_create_group";
inline constexpr std::string_view notifier_register = "notifier_register";
inline constexpr std::string_view wakeup_source_register = "wakeup_source_register";
inline constexpr std::string_view copy_from_user = "copy_from_user";
inline constexpr std::string_view tracepoint_probe_register = "tracepoint_probe_register";
}  // namespace fault_op

struct FaultRule {
    enum class Mode { next, nth, random };
    std::string op;      // operation name
    std::string module;  // only calls made by this module count; empty for any caller
    Mode mode = Mode::next;
    // next: the next `count` calls fail; nth: only call number `count` (1-based) fails;
    // random: each call fails with probability `probability`, drawn from `seed`.
    uint64_t count = 1;
    double probability = 0;
    uint64_t seed = 1;
};

// Arms a rule, replacing any rule for the same operation and module.
void fault_arm(const FaultRule &rule);
void fault_clear();
// How many calls failed by injection since the last fault_clear().
uint64_t fault_injected_count(std::string_view op);
// True when this call of op, made by caller (null: the kernel itself), is to fail.
bool fault_should_fail(std::string_view op, const struct module *caller);
// "op module mode count ..." per armed rule, one a line (for the shell).
std::string fault_describe();

}  // namespace sim
