// The driver core's start and stop (drivers/base/init.c): devices, the platform bus and the
// deferred-probe machinery, before any device or driver is registered.
#include "simkernel/drivers/base/driver_init.h"

#include "simkernel/drivers/base/base.h"

#include <cassert>

#include <platform/platform_device.h>

namespace sim::drivers {
int platform_bus_init();
void platform_bus_exit();
}  // namespace sim::drivers

namespace sim {

void driver_init() {
    drivers::devices_boot();
    int error = drivers::platform_bus_init();
    assert(!error && "cannot register the platform bus");
    (void)error;
    drivers::deferred_probe_boot();
}

namespace {
int unregister_child(struct device *dev, void *) {
    if (dev->bus == &platform_bus_type)
        platform_device_unregister(to_platform_device(dev));
    return 0;
}
}  // namespace

void driver_shutdown() {
    drivers::deferred_probe_shutdown();
    // Devices the kernel made itself (from the device tree) go with the bus.
    device_for_each_child(&platform_bus, nullptr, unregister_child);
    drivers::platform_bus_exit();
    drivers::devices_shutdown();
}

}  // namespace sim
