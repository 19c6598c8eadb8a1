// Binding drivers to devices (drivers/base/dd.c): really_probe() with its driver links, the
// unwinding of a failed probe, the deferred-probe lists that are retried whenever a driver
// binds, and the release of a driver from its device.
#include "simkernel/drivers/base/base.h"

#include <algorithm>
#include <string>

#include <platform/errno.h>
#include <platform/kobject.h>
#include <platform/workqueue.h>

namespace sim::drivers {
namespace {

// Devices whose probe asked to be retried, in the order they asked; the trigger moves the
// pending ones to the active list, which the deferred-probe work drains.
std::mutex deferred_lock;
std::vector<struct device *> pending_list;
std::vector<struct device *> active_list;
int deferred_trigger_count;

void deferred_probe_work_func(struct work_struct *) {
    for (;;) {
        struct device *dev;
        {
            std::lock_guard g(deferred_lock);
            if (active_list.empty())
                return;
            dev = get_device(active_list.front());
            active_list.erase(active_list.begin());
            dev->p->deferred = false;
        }
        bus_probe_device(dev);
        put_device(dev);
    }
}

DECLARE_WORK(deferred_probe_work, deferred_probe_work_func);

void driver_deferred_probe_add(struct device *dev) {
    std::lock_guard g(deferred_lock);
    if (!dev->p->deferred) {
        dev->p->deferred = true;
        pending_list.push_back(dev);
    }
}

void driver_deferred_probe_trigger() {
    {
        std::lock_guard g(deferred_lock);
        deferred_trigger_count++;
        active_list.insert(active_list.end(), pending_list.begin(), pending_list.end());
        pending_list.clear();
    }
    schedule_work(&deferred_probe_work);
}

// Adds dev and, if a driver bound while it was probing, triggers at once: that driver may be
// what the probe was waiting for.
void driver_deferred_probe_add_trigger(struct device *dev, int local_trigger_count) {
    driver_deferred_probe_add(dev);
    bool missed;
    {
        std::lock_guard g(deferred_lock);
        missed = local_trigger_count != deferred_trigger_count;
    }
    if (missed)
        driver_deferred_probe_trigger();
}

int driver_sysfs_add(struct device *dev) {
    int ret = sysfs_create_link(&dev->driver->p->kobj, &dev->kobj, kobject_name(&dev->kobj));
    if (ret)
        return ret;
    ret = sysfs_create_link(&dev->kobj, &dev->driver->p->kobj, "driver");
    if (ret)
        sysfs_remove_link(&dev->driver->p->kobj, kobject_name(&dev->kobj));
    return ret;
}

void driver_sysfs_remove(struct device *dev) {
    struct device_driver *drv = dev->driver;
    if (drv) {
        sysfs_remove_link(&drv->p->kobj, kobject_name(&dev->kobj));
        sysfs_remove_link(&dev->kobj, "driver");
    }
}

void driver_bound(struct device *dev) {
    {
        std::lock_guard g(dev->bus->p->list_lock);
        dev->driver->p->devices.push_back(dev);
    }
    driver_deferred_probe_del(dev);
    driver_deferred_probe_trigger();
    kobject_uevent(&dev->kobj, KOBJ_BIND);
}

// 1 when bound, 0 when the probe deferred or failed (so the next driver may try).
int really_probe(struct device *dev, struct device_driver *drv) {
    int local_trigger_count;
    {
        std::lock_guard g(deferred_lock);
        local_trigger_count = deferred_trigger_count;
    }
    __atomic_store_n(&dev->driver, drv, __ATOMIC_RELEASE);
    int ret = driver_sysfs_add(dev);
    if (ret) {
        pr_err("%s: driver_sysfs_add(%s) failed\n", __func__, dev_name(dev));
        goto probe_failed;
    }
    if (dev->bus->probe)
        ret = dev->bus->probe(dev);
    else if (drv->probe)
        ret = drv->probe(dev);
    if (ret) {
        driver_sysfs_remove(dev);
        goto probe_failed;
    }
    driver_bound(dev);
    return 1;

probe_failed:
    devres_release_all(dev);
    __atomic_store_n(&dev->driver, nullptr, __ATOMIC_RELEASE);
    dev_set_drvdata(dev, nullptr);
    switch (ret) {
        case -EPROBE_DEFER:
            driver_deferred_probe_add_trigger(dev, local_trigger_count);
            break;
        case -ENODEV:
        case -ENXIO:
            break;
        default:
            pr_warn("%s: probe of %s failed with error %d\n", drv->name, dev_name(dev), ret);
    }
    return 0;
}

int driver_probe_device(struct device_driver *drv, struct device *dev) {
    if (!dev->kobj.state_in_sysfs)
        return -ENODEV;
    return really_probe(dev, drv);
}

void device_release_driver_internal(struct device *dev, struct device_driver *drv) {
    device_lock(dev);
    if (dev->driver && (!drv || dev->driver == drv)) {
        drv = dev->driver;
        driver_sysfs_remove(dev);
        if (dev->bus && dev->bus->remove)
            dev->bus->remove(dev);
        else if (drv->remove)
            drv->remove(dev);
        devres_release_all(dev);
        {
            std::lock_guard g(dev->bus->p->list_lock);
            auto &v = drv->p->devices;
            v.erase(std::remove(v.begin(), v.end(), dev), v.end());
        }
        __atomic_store_n(&dev->driver, nullptr, __ATOMIC_RELEASE);
        dev_set_drvdata(dev, nullptr);
        kobject_uevent(&dev->kobj, KOBJ_UNBIND);
    }
    device_unlock(dev);
}

ssize_t devices_deferred_show(struct kobject *, struct kobj_attribute *, char *buf) {
    std::string text;
    {
        std::lock_guard g(deferred_lock);
        for (struct device *dev : pending_list)
            text += std::string(dev_name(dev)) + "\t\n";
    }
    size_t n = std::min(text.size(), size_t(PAGE_SIZE - 1));
    text.copy(buf, n);
    return (ssize_t)n;
}

struct kobj_attribute devices_deferred_attr =
    __ATTR(devices_deferred, 0444, devices_deferred_show, nullptr);
struct kobject *debug_kobj;

}  // namespace

void driver_deferred_probe_del(struct device *dev) {
    std::lock_guard g(deferred_lock);
    if (!dev->p->deferred)
        return;
    dev->p->deferred = false;
    pending_list.erase(std::remove(pending_list.begin(), pending_list.end(), dev),
                       pending_list.end());
    active_list.erase(std::remove(active_list.begin(), active_list.end(), dev), active_list.end());
}

int driver_match_device(struct device_driver *drv, struct device *dev) {
    return drv->bus->match ? drv->bus->match(dev, drv) : 1;
}

int device_driver_attach(struct device_driver *drv, struct device *dev) {
    int ret = 0;
    device_lock(dev);
    if (!dev->p->dead && !dev->driver)
        ret = driver_probe_device(drv, dev);
    device_unlock(dev);
    return ret;
}

int driver_attach(struct device_driver *drv) {
    for (struct device *dev : bus_devices(drv->bus)) {
        int match = driver_match_device(drv, dev);
        if (match == -EPROBE_DEFER)
            driver_deferred_probe_add(dev);
        else if (match > 0)
            device_driver_attach(drv, dev);
        put_device(dev);
    }
    return 0;
}

void driver_detach(struct device_driver *drv) {
    for (;;) {
        struct device *dev;
        {
            std::lock_guard g(drv->bus->p->list_lock);
            if (drv->p->devices.empty())
                return;
            dev = get_device(drv->p->devices.back());
        }
        device_release_driver_internal(dev, drv);
        put_device(dev);
    }
}

void bus_probe_device(struct device *dev) {
    if (!dev->bus)
        return;
    device_lock(dev);
    if (!dev->driver && !dev->p->dead) {
        for (struct device_driver *drv : bus_drivers(dev->bus)) {
            int match = driver_match_device(drv, dev);
            if (match == -EPROBE_DEFER) {
                driver_deferred_probe_add(dev);
                break;
            }
            if (match > 0 && driver_probe_device(drv, dev) > 0)
                break;
        }
    }
    device_unlock(dev);
}

void deferred_probe_boot() {
    debug_kobj = kobject_create_and_add("debug", kernel_kobj);
    if (debug_kobj)
        sysfs_create_file(debug_kobj, &devices_deferred_attr.attr);
}

void deferred_probe_shutdown() {
    cancel_work_sync(&deferred_probe_work);
    {
        std::lock_guard g(deferred_lock);
        pending_list.clear();
        active_list.clear();
    }
    kobject_put(debug_kobj);
    debug_kobj = nullptr;
}

}  // namespace sim::drivers

using namespace sim::drivers;

extern "C" {

int device_attach(struct device *dev) {
    bus_probe_device(dev);
    return dev->driver ? 1 : 0;
}

void device_release_driver(struct device *dev) {
    device_release_driver_internal(dev, nullptr);
}

}  // extern "C"
