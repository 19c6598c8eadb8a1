// Internal to the driver core (drivers/base/base.h): the private halves of devices, buses,
// classes and drivers, and the steps one part of the core calls in another.
#pragma once

#include <platform/device.h>
#include <platform/mutex.h>

#include <mutex>
#include <string>
#include <vector>

struct devres_node;

struct device_private {
    struct device *device;
    struct mutex lock;  // device_lock()
    // Children in the order they were added, under the core's children lock.
    std::vector<struct device *> children;
    // Device-managed resources, oldest first; released newest first.
    std::mutex devres_lock;
    std::vector<devres_node *> devres;
    bool dead = false;
    // The class glue directory this device sits in, if any.
    struct kobject *glue = nullptr;
    bool deferred = false;
};

// A bus or a class: its directory, and its devices (and drivers) in registration order.
struct subsys_private {
    struct kset subsys;
    struct kset drivers_kset;  // bus: names the "drivers" subsystem of its drivers' uevents
    struct kobject *devices_kobj = nullptr;  // bus: /sys/bus/NAME/devices
    struct kobject *drivers_kobj = nullptr;  // bus: /sys/bus/NAME/drivers
    std::mutex list_lock;
    std::vector<struct device *> devices;
    std::vector<struct device_driver *> drivers;
    struct bus_type *bus = nullptr;
    struct class_ *cls = nullptr;
};

struct driver_private {
    struct kobject kobj;  // /sys/bus/BUS/drivers/NAME
    struct device_driver *driver;
    std::vector<struct device *> devices;  // bound, under the bus's list_lock
    std::string module_link;               // "platform:NAME" under /sys/module/M/drivers
};

namespace sim::drivers {

// The device lock (device_lock()): held across probe and remove.
void device_lock(struct device *dev);
void device_unlock(struct device *dev);

// bus.cpp
int bus_add_device(struct device *dev);
void bus_remove_device(struct device *dev);
void bus_probe_device(struct device *dev);
int bus_add_driver(struct device_driver *drv);
void bus_remove_driver(struct device_driver *drv);
// Devices of the bus, each with a reference taken (put them).
std::vector<struct device *> bus_devices(struct bus_type *bus);
std::vector<struct device_driver *> bus_drivers(struct bus_type *bus);
struct device_driver *bus_find_driver(struct bus_type *bus, const char *name);

// dd.cpp
int driver_match_device(struct device_driver *drv, struct device *dev);
// Binds dev to drv (already matched); the probe's result, or 0 when it defers or fails.
int device_driver_attach(struct device_driver *drv, struct device *dev);
int driver_attach(struct device_driver *drv);
void driver_detach(struct device_driver *drv);
void driver_deferred_probe_del(struct device *dev);
void deferred_probe_boot();
void deferred_probe_shutdown();

// devres.cpp
void devres_release_all(struct device *dev);

// core.cpp
void devices_boot();
void devices_shutdown();
extern struct kset *devices_kset;

}  // namespace sim::drivers
