// Kernel start-up and shutdown: calls each area's boot routine in the kernel's order.
#include "simkernel/kernel/boot.h"

#include "simkernel/drivers/base/driver_init.h"
#include "simkernel/drivers/of/of_host.h"
#include "simkernel/fs/fs_boot.h"
#include "simkernel/kernel/module_loader.h"
#include "simkernel/kernel/sched_boot.h"
#include "simkernel/mm/mm_host.h"

#include <cassert>

#include <platform/printk.h>

namespace sim {
namespace {
bool booted;
BootParams boot_params;
void (*hardware_start)();
void (*hardware_stop)();
}  // namespace

bool kernel_boot(const BootParams &params, std::string *error) {
    assert(!booted && "kernel_boot() called twice");
    boot_params = params;
    if (!params.dtb.empty()) {
        std::string err = of_unflatten(params.dtb, &boot_params);
        if (!err.empty()) {
            if (error)
                *error = err;
            return false;
        }
    }
    fs_boot();
    sched_boot(boot_params);
    printk(KERN_NOTICE "Linux version 5.10.236-android12-9 (phonesim) #1 SMP PREEMPT\n");
    if (!boot_params.model.empty())
        printk(KERN_INFO "Machine model: %s\n", boot_params.model.c_str());
    printk(KERN_INFO "smp: Brought up 1 node, %u CPUs\n", boot_params.cpus);
    mm_boot(boot_params);
    driver_init();
    of_core_init();
    of_populate_init();
    modules_boot();
    if (hardware_start)
        hardware_start();
    booted = true;
    return true;
}

void kernel_shutdown() {
    if (!booted)
        return;
    modules_shutdown();
    if (hardware_stop)
        hardware_stop();
    of_shutdown();
    driver_shutdown();
    mm_shutdown();
    sched_shutdown();
    fs_shutdown();
    booted = false;
}

void kernel_set_hardware_hooks(void (*start)(), void (*stop)()) {
    hardware_start = start;
    hardware_stop = stop;
}

bool kernel_booted() {
    return booted;
}
const BootParams &kernel_boot_params() {
    return boot_params;
}

}  // namespace sim
