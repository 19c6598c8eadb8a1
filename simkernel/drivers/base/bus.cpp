// Buses and drivers (drivers/base/bus.c, driver.c, module.c): /sys/bus/NAME with its devices
// and drivers directories, each driver's bind, unbind and module links, and the bus's lists
// of devices and drivers in registration order.
#include "simkernel/drivers/base/base.h"

#include "simkernel/fs/fs_internal.h"
#include "simkernel/fs/sysfs_dirs.h"

#include <cstring>

#include <platform/errno.h>
#include <platform/module.h>
#include <platform/slab.h>
#include <platform/string.h>

namespace sim::drivers {
namespace {

struct driver_attribute {
    struct attribute attr;
    ssize_t (*show)(struct device_driver *drv, char *buf);
    ssize_t (*store)(struct device_driver *drv, const char *buf, size_t count);
};

ssize_t drv_attr_show(struct kobject *kobj, struct attribute *attr, char *buf) {
    auto *drv_attr = container_of(attr, struct driver_attribute, attr);
    auto *priv = container_of(kobj, struct driver_private, kobj);
    return drv_attr->show ? drv_attr->show(priv->driver, buf) : -EIO;
}

ssize_t drv_attr_store(struct kobject *kobj, struct attribute *attr, const char *buf,
                       size_t count) {
    auto *drv_attr = container_of(attr, struct driver_attribute, attr);
    auto *priv = container_of(kobj, struct driver_private, kobj);
    return drv_attr->store ? drv_attr->store(priv->driver, buf, count) : -EIO;
}

const struct sysfs_ops driver_sysfs_ops = {drv_attr_show, drv_attr_store};

void driver_release(struct kobject *kobj) {
    delete container_of(kobj, struct driver_private, kobj);
}

const struct kobj_type driver_ktype = {driver_release, &driver_sysfs_ops, nullptr, nullptr};

// sysfs_streq(): equal up to one trailing newline on either side.
bool name_matches(const char *name, const char *buf, size_t count) {
    size_t len = strlen(name);
    if (count && buf[count - 1] == '\n')
        count--;
    return len == count && !strncmp(name, buf, count);
}

struct device *bus_find_device_by_name(struct bus_type *bus, const char *buf, size_t count) {
    struct device *found = nullptr;
    for (struct device *dev : bus_devices(bus)) {
        if (!found && name_matches(dev_name(dev), buf, count))
            found = dev;
        else
            put_device(dev);
    }
    return found;
}

// Manually detaches a device from its driver.
ssize_t unbind_store(struct device_driver *drv, const char *buf, size_t count) {
    ssize_t err = -ENODEV;
    struct device *dev = bus_find_device_by_name(drv->bus, buf, count);
    if (dev && __atomic_load_n(&dev->driver, __ATOMIC_ACQUIRE) == drv) {
        device_release_driver(dev);
        err = (ssize_t)count;
    }
    put_device(dev);
    return err;
}

// Manually attaches a device to a driver: a probe that defers or fails is -ENODEV.
ssize_t bind_store(struct device_driver *drv, const char *buf, size_t count) {
    ssize_t err = -ENODEV;
    struct device *dev = bus_find_device_by_name(drv->bus, buf, count);
    if (dev && !__atomic_load_n(&dev->driver, __ATOMIC_ACQUIRE) && driver_match_device(drv, dev)) {
        err = device_driver_attach(drv, dev);
        if (err > 0)
            err = (ssize_t)count;
        else if (err == 0)
            err = -ENODEV;
    }
    put_device(dev);
    return err;
}

ssize_t drv_uevent_store(struct device_driver *drv, const char *buf, size_t count) {
    size_t len = count && buf[count - 1] == '\n' ? count - 1 : count;
    if (len != strlen("add") || strncmp(buf, "add", len))
        return -EINVAL;
    int err = kobject_uevent(&drv->p->kobj, KOBJ_ADD);
    return err ? err : (ssize_t)count;
}

struct driver_attribute driver_attr_bind = {{"bind", 0200}, nullptr, bind_store};
struct driver_attribute driver_attr_unbind = {{"unbind", 0200}, nullptr, unbind_store};
struct driver_attribute driver_attr_uevent = {{"uevent", 0200}, nullptr, drv_uevent_store};

}  // namespace

std::vector<struct device *> bus_devices(struct bus_type *bus) {
    std::vector<struct device *> out;
    std::lock_guard g(bus->p->list_lock);
    for (struct device *dev : bus->p->devices)
        out.push_back(get_device(dev));
    return out;
}

std::vector<struct device_driver *> bus_drivers(struct bus_type *bus) {
    std::lock_guard g(bus->p->list_lock);
    return bus->p->drivers;
}

struct device_driver *bus_find_driver(struct bus_type *bus, const char *name) {
    std::lock_guard g(bus->p->list_lock);
    for (struct device_driver *drv : bus->p->drivers)
        if (!strcmp(drv->name, name))
            return drv;
    return nullptr;
}

int bus_add_device(struct device *dev) {
    struct bus_type *bus = dev->bus;
    if (!bus)
        return 0;
    int error = sysfs_create_groups(&dev->kobj, bus->dev_groups);
    if (error)
        return error;
    error = sysfs_create_link(bus->p->devices_kobj, &dev->kobj, dev_name(dev));
    if (error)
        goto out_groups;
    error = sysfs_create_link(&dev->kobj, &bus->p->subsys.kobj, "subsystem");
    if (error)
        goto out_subsys;
    {
        std::lock_guard g(bus->p->list_lock);
        bus->p->devices.push_back(dev);
    }
    return 0;
out_subsys:
    sysfs_remove_link(bus->p->devices_kobj, dev_name(dev));
out_groups:
    sysfs_remove_groups(&dev->kobj, bus->dev_groups);
    return error;
}

void bus_remove_device(struct device *dev) {
    struct bus_type *bus = dev->bus;
    if (!bus)
        return;
    sysfs_remove_link(&dev->kobj, "subsystem");
    sysfs_remove_link(bus->p->devices_kobj, dev_name(dev));
    sysfs_remove_groups(&dev->kobj, bus->dev_groups);
    {
        std::lock_guard g(bus->p->list_lock);
        auto &v = bus->p->devices;
        for (auto it = v.begin(); it != v.end(); ++it)
            if (*it == dev) {
                v.erase(it);
                break;
            }
    }
    device_release_driver(dev);
}

int bus_add_driver(struct device_driver *drv) {
    struct bus_type *bus = drv->bus;
    auto *priv = new driver_private();
    priv->kobj = {};
    priv->driver = drv;
    drv->p = priv;
    priv->kobj.kset = &bus->p->drivers_kset;
    int error =
        kobject_init_and_add(&priv->kobj, &driver_ktype, bus->p->drivers_kobj, "%s", drv->name);
    if (error) {
        kobject_put(&priv->kobj);
        drv->p = nullptr;
        return error;
    }
    {
        std::lock_guard g(bus->p->list_lock);
        bus->p->drivers.push_back(drv);
    }
    driver_attach(drv);
    if (drv->owner) {
        struct kobject *mkobj = &drv->owner->mkobj.kobj;
        if (!drv->owner->mkobj.drivers_dir)
            drv->owner->mkobj.drivers_dir = kobject_create_and_add("drivers", mkobj);
        priv->module_link = std::string(bus->name) + ":" + drv->name;
        sysfs_create_link(&priv->kobj, mkobj, "module");
        if (drv->owner->mkobj.drivers_dir)
            sysfs_create_link(drv->owner->mkobj.drivers_dir, &priv->kobj,
                              priv->module_link.c_str());
    }
    sysfs_create_file(&priv->kobj, &driver_attr_uevent.attr);
    sysfs_create_groups(&priv->kobj, drv->groups);
    if (!drv->suppress_bind_attrs) {
        sysfs_create_file(&priv->kobj, &driver_attr_bind.attr);
        sysfs_create_file(&priv->kobj, &driver_attr_unbind.attr);
    }
    kobject_uevent(&priv->kobj, KOBJ_ADD);
    return 0;
}

void bus_remove_driver(struct device_driver *drv) {
    struct bus_type *bus = drv->bus;
    struct driver_private *priv = drv->p;
    if (!priv)
        return;
    if (!drv->suppress_bind_attrs) {
        sysfs_remove_file(&priv->kobj, &driver_attr_bind.attr);
        sysfs_remove_file(&priv->kobj, &driver_attr_unbind.attr);
    }
    sysfs_remove_groups(&priv->kobj, drv->groups);
    sysfs_remove_file(&priv->kobj, &driver_attr_uevent.attr);
    kobject_uevent(&priv->kobj, KOBJ_REMOVE);
    if (drv->owner) {
        if (drv->owner->mkobj.drivers_dir)
            sysfs_remove_link(drv->owner->mkobj.drivers_dir, priv->module_link.c_str());
        sysfs_remove_link(&priv->kobj, "module");
    }
    driver_detach(drv);
    {
        std::lock_guard g(bus->p->list_lock);
        auto &v = bus->p->drivers;
        for (auto it = v.begin(); it != v.end(); ++it)
            if (*it == drv) {
                v.erase(it);
                break;
            }
    }
    kobject_del(&priv->kobj);
    kobject_put(&priv->kobj);
    drv->p = nullptr;
}

}  // namespace sim::drivers

using namespace sim::drivers;

extern "C" {

int bus_register(struct bus_type *bus) {
    auto *priv = new subsys_private();
    priv->bus = bus;
    bus->p = priv;
    priv->drivers_kset.kobj.name = "drivers";
    int error = kobject_set_name(&priv->subsys.kobj, "%s", bus->name);
    if (!error) {
        static const struct kobj_type bus_ktype = {[](struct kobject *) {}, nullptr, nullptr,
                                                   nullptr};
        kobject_init(&priv->subsys.kobj, &bus_ktype);
        error = kobject_add(&priv->subsys.kobj, sim::sysfs_bus_kobj(), nullptr);
    }
    if (!error) {
        priv->devices_kobj = kobject_create_and_add("devices", &priv->subsys.kobj);
        priv->drivers_kobj = kobject_create_and_add("drivers", &priv->subsys.kobj);
        if (!priv->devices_kobj || !priv->drivers_kobj)
            error = -ENOMEM;
    }
    return error;
}

void bus_unregister(struct bus_type *bus) {
    struct subsys_private *priv = bus->p;
    kobject_put(priv->drivers_kobj);
    kobject_put(priv->devices_kobj);
    kobject_del(&priv->subsys.kobj);
    kobject_put(&priv->subsys.kobj);
    bus->p = nullptr;
    delete priv;
}

int driver_register(struct device_driver *drv) {
    if (!drv->bus || !drv->bus->p) {
        pr_err(
            "Driver '%s' was unable to register with bus_type '%s' because the bus was not "
            "initialized.\n",
            drv->name, drv->bus ? drv->bus->name : "(null)");
        return -EINVAL;
    }
    if (bus_find_driver(drv->bus, drv->name)) {
        pr_err("Error: Driver '%s' is already registered, aborting...\n", drv->name);
        return -EBUSY;
    }
    return bus_add_driver(drv);
}

void driver_unregister(struct device_driver *drv) {
    if (!drv || !drv->p) {
        sim::fs::warn("drivers/base/driver.c", "driver_unregister",
                      "Unexpected driver unregister!\n");
        return;
    }
    bus_remove_driver(drv);
}

}  // extern "C"
