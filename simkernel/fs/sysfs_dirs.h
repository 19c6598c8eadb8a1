// The kobjects of the top-level sysfs directories, for the parts of the simulated kernel that
// hang their objects there (the driver core, the module loader). kernel_kobj and fs_kobj
// (/sys/kernel, /sys/fs) are in platform/kobject.h.
#pragma once

struct kobject;

namespace sim {

struct kobject *sysfs_devices_kobj();  // /sys/devices
struct kobject *sysfs_bus_kobj();      // /sys/bus
struct kobject *sysfs_class_kobj();    // /sys/class
struct kobject *sysfs_module_kobj();   // /sys/module

}  // namespace sim
