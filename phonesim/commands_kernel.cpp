// Kernel commands of the shell: dmesg, sleep, insmod, rmmod, lsmod, ps and fault.
#include "phonesim/shell.h"

#include "simkernel/kernel/fault.h"
#include "simkernel/kernel/kmod.h"
#include "simkernel/kernel/module_loader.h"
#include "simkernel/kernel/printk_log.h"
#include "simkernel/kernel/sim_time.h"
#include "simkernel/kernel/task.h"

#include <platform/errno.h>
#include <platform/spinlock.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>

namespace phonesim {
namespace {

std::string errstr(int err) {
    return std::strerror(-err);
}

int cmd_dmesg(Invocation &inv) {
    bool clear = false, raw = false, clear_only = false;
    for (size_t i = 1; i < inv.args.size(); i++) {
        const std::string &a = inv.args[i];
        if (a == "-c") {
            clear = true;
        } else if (a == "-r") {
            raw = true;
        } else if (a == "-C") {
            clear_only = true;
        } else {
            inv.error("Unknown option '" + a + "'");
            return 1;
        }
    }
    if (!clear_only) {
        std::string text;
        for (const sim::LogRecord &rec : sim::log_records())
            text += sim::log_format(rec, raw);
        inv.out.write(text);
    }
    if (clear || clear_only)
        sim::log_clear();
    return 0;
}

int cmd_sleep(Invocation &inv) {
    if (inv.args.size() != 2) {
        inv.error("needs 1 argument");
        return 1;
    }
    char *end = nullptr;
    double seconds = std::strtod(inv.args[1].c_str(), &end);
    if (inv.args[1].empty() || *end || !(seconds >= 0) || !std::isfinite(seconds)) {
        inv.error("invalid number '" + inv.args[1] + "'");
        return 1;
    }
    auto ns = static_cast<uint64_t>(std::llround(seconds * 1e9));
    // In real time the clock follows the host's, so sleeping is waiting.
    if (sim::realtime_enabled())
        std::this_thread::sleep_for(std::chrono::nanoseconds(ns));
    else
        sim::time_advance(ns);
    return 0;
}

int cmd_modprobe(Invocation &inv) {
    if (inv.args.size() != 2) {
        inv.error("needs 1 argument");
        return 1;
    }
    int r = sim::modprobe(inv.args[1]);
    if (r == -ENOENT) {
        inv.error("FATAL: Module " + inv.args[1] + " not found.");
        return 1;
    }
    if (r < 0) {
        inv.error("failed to load " + inv.args[1] + ": " + errstr(r));
        return 1;
    }
    return 0;
}

int cmd_insmod(Invocation &inv) {
    if (inv.args.size() < 2) {
        inv.error("needs 1 argument");
        return 1;
    }
    int r = sim::module_load(inv.args[1]);
    if (r < 0) {
        inv.error("failed to load " + inv.args[1] + ": " + errstr(r));
        return 1;
    }
    return 0;
}

int cmd_rmmod(Invocation &inv) {
    if (inv.args.size() < 2) {
        inv.error("needs 1 argument");
        return 1;
    }
    int status = 0;
    for (size_t i = 1; i < inv.args.size(); i++) {
        std::string name = inv.args[i];
        if (name.size() > 3 && name.ends_with(".ko"))
            name.resize(name.size() - 3);
        if (size_t slash = name.rfind('/'); slash != std::string::npos)
            name.erase(0, slash + 1);
        int r = sim::module_unload(name);
        if (r == -EBUSY) {
            // rmmod names the users, as kmod's does.
            std::string users;
            for (const sim::ModuleInfo &m : sim::module_list())
                if (m.name == name)
                    for (const std::string &u : m.used_by)
                        users += (users.empty() ? "" : ",") + u;
            inv.error("ERROR: Module " + name + " is in use" +
                      (users.empty() ? std::string() : " by: " + users));
            status = 1;
        } else if (r < 0) {
            inv.error("failed to unload " + name + ": " + errstr(r));
            status = 1;
        }
    }
    return status;
}

int cmd_lsmod(Invocation &inv) {
    char line[256];
    snprintf(line, sizeof(line), "%-24s Size  Used by\n", "Module");
    std::string text = line;
    for (const sim::ModuleInfo &m : sim::module_list()) {
        std::string users;
        for (const std::string &u : m.used_by)
            users += (users.empty() ? "" : ",") + u;
        snprintf(line, sizeof(line), "%-19s %8zu  %d %s\n", m.name.c_str(), m.size, m.refcount,
                 users.c_str());
        text += line;
    }
    inv.out.write(text);
    return 0;
}

int cmd_ps(Invocation &inv) {
    std::string text = "  PID  FLAGS  CPUS  COMM\n";
    char line[128];
    read_lock(&tasklist_lock);
    struct task_struct *p;
    for_each_process(p) {
        std::string flags;
        if (p->flags & PF_KTHREAD)
            flags += 'K';
        if (p->flags & PF_KSWAPD)
            flags += 'S';
        if (flags.empty())
            flags = "-";
        snprintf(line, sizeof(line), "%5d  %-5s  %-5s %s\n", p->pid, flags.c_str(),
                 sim::cpumask_list(p->cpus_mask).c_str(), p->comm);
        text += line;
    }
    read_unlock(&tasklist_lock);
    inv.out.write(text);
    return 0;
}

bool parse_u64(const std::string &s, uint64_t *out) {
    char *end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(s.c_str(), &end, 10);
    if (s.empty() || *end || errno || s[0] == '-')
        return false;
    *out = v;
    return true;
}

int cmd_fault(Invocation &inv) {
    const auto &a = inv.args;
    if (a.size() == 1) {
        inv.out.write(sim::fault_describe());
        return 0;
    }
    if (a.size() == 2 && a[1] == "clear") {
        sim::fault_clear();
        return 0;
    }
    sim::FaultRule rule;
    rule.op = a[1];
    size_t i = 2;
    bool ok = i < a.size();
    if (ok && a[i] == "next") {
        rule.mode = sim::FaultRule::Mode::next;
        ok = i + 1 < a.size() && parse_u64(a[i + 1], &rule.count);
        i += 2;
    } else if (ok && a[i] == "nth") {
        rule.mode = sim::FaultRule::Mode::nth;
        ok = i + 1 < a.size() && parse_u64(a[i + 1], &rule.count) && rule.count > 0;
        i += 2;
    } else if (ok && a[i] == "random") {
        rule.mode = sim::FaultRule::Mode::random;
        char *end = nullptr;
        ok = i + 1 < a.size();
        if (ok)
            rule.probability = std::strtod(a[i + 1].c_str(), &end);
        ok = ok && !*end && rule.probability >= 0 && rule.probability <= 1;
        i += 2;
        if (ok && i + 1 < a.size() && a[i] == "seed") {
            ok = parse_u64(a[i + 1], &rule.seed);
            i += 2;
        }
    } else {
        ok = false;
    }
    if (ok && i + 1 < a.size() && a[i] == "module") {
        rule.module = a[i + 1];
        i += 2;
    }
    if (!ok || i != a.size()) {
        inv.error(
            "usage: fault OP next N|nth N|random P [seed S] [module NAME] | fault clear | "
            "fault");
        return 1;
    }
    sim::fault_arm(rule);
    return 0;
}

}  // namespace

std::vector<Builtin> kernel_builtins() {
    return {
        {"dmesg", cmd_dmesg,
         "dmesg [-c] [-C] [-r]   print the kernel log (-c: then clear, -C: only clear,\n"
         "                         -r: with the level first, <3>[    1.000000] ...)"},
        {"sleep", cmd_sleep,
         "sleep SECONDS          advance time (fractions allowed), then let the phone settle"},
        {"insmod", cmd_insmod,
         "insmod MODULE          load a module (a path or a name in the "
         "module folder)"},
        {"rmmod", cmd_rmmod, "rmmod MODULE...        unload modules"},
        {"modprobe", cmd_modprobe,
         "modprobe NAME|ALIAS    load a module, or the one an alias names (of:N*T*C...),\n"
         "                         after the modules it uses"},
        {"lsmod", cmd_lsmod, "lsmod                  list loaded modules"},
        {"ps", cmd_ps,
         "ps                     list tasks: pid, flags (K kernel thread, S "
         "kswapd), CPUs, name"},
        {"fault", cmd_fault,
         "fault OP next N|nth N|random P [seed S] [module NAME]\n"
         "                         make calls of OP fail: the next N, the Nth, or a seeded\n"
         "                         fraction P; OP is one of kmalloc, kthread_create,\n"
         "                         proc_create, kobject_create_and_add, sysfs_create_group,\n"
         "                         notifier_register, wakeup_source_register,\n"
         "                         copy_from_user, tracepoint_probe_register; `fault` lists,\n"
         "                         `fault clear` disarms"},
    };
}

}  // namespace phonesim
