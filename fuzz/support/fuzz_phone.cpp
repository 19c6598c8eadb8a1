#include "fuzz/support/fuzz_phone.h"

#include "hw/component.h"
#include "simkernel/kernel/boot.h"
#include "simkernel/kernel/kmod.h"
#include "simkernel/kernel/module_loader.h"
#include "simkernel/kernel/printk_log.h"
#include "simkernel/kernel/sim_time.h"
#include "simkernel/kernel/task.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#ifndef FUZZ_SMALL_PHONE_DTB
#error "FUZZ_SMALL_PHONE_DTB names the compiled fuzz/small_phone.dts"
#endif

namespace fuzz {
namespace {

bool booted = false;
struct task_struct *g_user = nullptr;

std::string read_host_file(const char *path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "fuzz: cannot read %s\n", path);
        std::abort();
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool starts_with(std::string_view s, std::string_view p) {
    return s.substr(0, p.size()) == p;
}

}  // namespace

void boot_phone() {
    if (booted)
        return;
    booted = true;
    sim::kernel_set_hardware_hooks(hw::hw_boot, hw::hw_shutdown);
    sim::BootParams params;
    params.dtb = read_host_file(FUZZ_SMALL_PHONE_DTB);
    // A few apps keep the groups every reclaim walks few; uid_10010 is the first.
    params.boot_apps = 4;
    std::string err;
    if (!sim::kernel_boot(params, &err)) {
        std::fprintf(stderr, "fuzz: boot failed: %s\n", err.c_str());
        std::abort();
    }
    // The boot modules, in modules.load's order, then ueventd's coldplug, as phonesim boots.
    std::ifstream list(sim::module_dir() + "/modules.load");
    std::string name;
    while (std::getline(list, name)) {
        uint64_t mark = sim::log_next_seq();
        if (!name.empty() && sim::module_load(name) != 0) {
            std::fprintf(stderr, "fuzz: boot module %s did not load:\n", name.c_str());
            for (const std::string &t : sim::log_texts_since(mark))
                std::fprintf(stderr, "  %s\n", t.c_str());
            std::abort();
        }
    }
    sim::settle();
    sim::ueventd_run();
    sim::settle();
    g_user = sim::task_create_user("fuzz", 0);
    // libFuzzer ends a run with exit(0) (its crash paths use _Exit): the phone's kernel
    // threads still run then, so the process ends before the host's static objects go.
    std::atexit([] {
        std::fflush(nullptr);
        std::_Exit(0);
    });
    // The boot's own log says nothing about the inputs; a small log keeps reads cheap.
    sim::log_set_capacity(64 << 10);
}

struct task_struct *user_task() {
    return g_user;
}

uint64_t log_mark() {
    return sim::log_next_seq();
}

std::vector<std::string> kernel_problems_since(uint64_t mark) {
    // The kernel's own reports start their record; a module's line quoting user text does not.
    static const std::string_view prefixes[] = {
        "WARNING:",          "BUG:",
        "kernel BUG",        "------------[ cut here ]",
        "*** DEADLOCK",      "Unable to handle",
        "Kernel panic",      "dev_attr_show:",
        "kmalloc:",          "kmem_cache_destroy",
        "schedule_timeout:", "sysfs: cannot create duplicate filename",
    };
    std::vector<std::string> out;
    for (const std::string &t : sim::log_texts_since(mark)) {
        bool bad = false;
        for (std::string_view p : prefixes)
            bad = bad || starts_with(t, p);
        if (bad)
            out.push_back(t);
    }
    return out;
}

void check_kernel_quiet(uint64_t *mark, std::string_view what) {
    uint64_t next = sim::log_next_seq();
    std::vector<std::string> lines = kernel_problems_since(*mark);
    if (lines.empty()) {
        *mark = next;
        return;
    }
    std::fprintf(stderr, "fuzz: the kernel reported a fault after %.*s:\n", int(what.size()),
                 what.data());
    for (const std::string &l : lines)
        std::fprintf(stderr, "  %s\n", l.c_str());
    std::abort();
}

void finding(std::string_view what) {
    std::fprintf(stderr, "fuzz: %.*s\n", int(what.size()), what.data());
    std::abort();
}

std::vector<Record> split_records(const uint8_t *data, size_t size) {
    std::vector<Record> out;
    size_t i = 0;
    while (i < size && out.size() < kMaxRecords) {
        uint8_t sel = data[i++];
        size_t start = i;
        while (i < size && data[i] != '\n')
            i++;
        out.push_back(
            {sel, std::string_view(reinterpret_cast<const char *>(data) + start, i - start)});
        if (i < size)
            i++;  // the '\n'
    }
    return out;
}

}  // namespace fuzz
