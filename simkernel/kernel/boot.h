// Bringing the simulated kernel up and down. A real model of the order in which the kernel's
// areas start: filesystems first, then the scheduler's boot tasks, then the module loader.
#pragma once

#include <climits>
#include <cstdint>
#include <string>

namespace sim {

// Without a device tree the kernel boots with the values given here; with one (dtb, the
// flattened blob's bytes), the CPUs, RAM, zram size and model come from the tree.
struct BootParams {
    std::string dtb;
    unsigned int cpus = 8;
    uint64_t ram_bytes = 8ULL << 30;
    uint64_t swap_bytes = 4ULL << 30;       // the zram device
    int64_t wall_clock_start = 1796716800;  // 2026-12-08 08:00:00 UTC
    std::string model = "phonesim";
    // How many of the default phone's apps run at boot, in their order (all of them unless set).
    unsigned int boot_apps = UINT_MAX;
};

// Starts every area; once per process until kernel_shutdown(). false (and nothing started)
// when the device tree is unusable; error then says why ("no /cpus node").
bool kernel_boot(const BootParams &params, std::string *error = nullptr);
// Unloads what is loaded, stops every kernel thread and releases the kernel's state.
void kernel_shutdown();
bool kernel_booted();

// The phone's hardware models, outside the kernel: start() runs at the end of boot, before any
// module loads; stop() at shutdown, once every module is unloaded. One pair per process.
void kernel_set_hardware_hooks(void (*start)(), void (*stop)());
const BootParams &kernel_boot_params();

}  // namespace sim
