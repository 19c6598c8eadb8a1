// Start and stop of the driver core, called by the kernel's boot and shutdown.
#pragma once

namespace sim {

// Devices, the platform bus and deferred probing; before the device tree is populated.
void driver_init();
// After every module is gone: unregisters the devices left on the platform bus, then the bus.
void driver_shutdown();

}  // namespace sim
