// The platform bus (drivers/base/platform.c): the /sys/devices/platform root device, platform
// devices with their modalias and driver_override files, matching by device-tree compatible
// (then by name), and platform drivers registered with their owning module.
#include "simkernel/drivers/base/base.h"

#include "simkernel/kernel/module_owner.h"

#include <cstring>

#include <platform/errno.h>
#include <platform/of_device.h>
#include <platform/platform_device.h>
#include <platform/slab.h>
#include <platform/string.h>

namespace sim::drivers {
namespace {

struct platform_object {
    struct platform_device pdev;
    char name[];
};

void platform_device_release(struct device *dev) {
    auto *pa = container_of(to_platform_device(dev), struct platform_object, pdev);
    kfree(pa->pdev.driver_override);
    kfree(pa);
}

int platform_match(struct device *dev, struct device_driver *drv) {
    struct platform_device *pdev = to_platform_device(dev);
    if (pdev->driver_override)
        return !strcmp(pdev->driver_override, drv->name);
    if (drv->of_match_table && of_match_device(drv->of_match_table, dev))
        return 1;
    return !strcmp(pdev->name, drv->name);
}

int platform_uevent(struct device *dev, struct kobj_uevent_env *env) {
    int rc = of_device_uevent_modalias(dev, env);
    if (rc != -ENODEV)
        return rc;
    add_uevent_var(env, "MODALIAS=platform:%s", to_platform_device(dev)->name);
    return 0;
}

ssize_t modalias_show(struct device *dev, struct device_attribute *, char *buf) {
    ssize_t len = of_device_modalias(dev, buf, PAGE_SIZE);
    if (len != -ENODEV)
        return len;
    return snprintf(buf, PAGE_SIZE, "platform:%s\n", to_platform_device(dev)->name);
}

ssize_t driver_override_show(struct device *dev, struct device_attribute *, char *buf) {
    device_lock(dev);
    const char *o = to_platform_device(dev)->driver_override;
    ssize_t len = snprintf(buf, PAGE_SIZE, "%s\n", o ? o : "(null)");
    device_unlock(dev);
    return len;
}

ssize_t driver_override_store(struct device *dev, struct device_attribute *, const char *buf,
                              size_t count) {
    // One page less one byte, as the kernel's buffer holds it.
    if (count >= PAGE_SIZE - 1)
        return -EINVAL;
    char *driver_override = kstrndup(buf, count, GFP_KERNEL);
    if (!driver_override)
        return -ENOMEM;
    if (char *cp = strchr(driver_override, '\n'))
        *cp = '\0';
    struct platform_device *pdev = to_platform_device(dev);
    device_lock(dev);
    char *old = (char *)pdev->driver_override;
    if (*driver_override) {
        pdev->driver_override = driver_override;
    } else {
        kfree(driver_override);
        pdev->driver_override = nullptr;
    }
    device_unlock(dev);
    kfree(old);
    return (ssize_t)count;
}

struct device_attribute dev_attr_modalias = {{"modalias", 0444}, modalias_show, nullptr};
struct device_attribute dev_attr_driver_override = __ATTR_RW(driver_override);
struct attribute *platform_dev_attrs[] = {&dev_attr_modalias.attr, &dev_attr_driver_override.attr,
                                          nullptr};
const struct attribute_group platform_dev_group = {nullptr, nullptr, nullptr, platform_dev_attrs,
                                                   nullptr};
const struct attribute_group *platform_dev_groups[] = {&platform_dev_group, nullptr};

int platform_drv_probe(struct device *dev) {
    struct platform_driver *drv = to_platform_driver(dev->driver);
    return drv->probe ? drv->probe(to_platform_device(dev)) : 0;
}

int platform_drv_remove(struct device *dev) {
    struct platform_driver *drv = to_platform_driver(dev->driver);
    if (drv->remove)
        drv->remove(to_platform_device(dev));
    return 0;
}

void platform_drv_shutdown(struct device *dev) {
    struct platform_driver *drv = to_platform_driver(dev->driver);
    if (drv->shutdown)
        drv->shutdown(to_platform_device(dev));
}

void platform_bus_release(struct device *) {}

}  // namespace

}  // namespace sim::drivers

using namespace sim::drivers;

extern "C" {

struct bus_type platform_bus_type = {
    .name = "platform",
    .dev_groups = platform_dev_groups,
    .drv_groups = nullptr,
    .match = platform_match,
    .uevent = platform_uevent,
    .probe = nullptr,
    .remove = nullptr,
    .p = nullptr,
};

struct device platform_bus = {};

struct platform_device *platform_device_alloc(const char *name, int id) {
    size_t len = strlen(name);
    auto *pa = static_cast<struct platform_object *>(
        kzalloc(sizeof(struct platform_object) + len + 1, GFP_KERNEL));
    if (!pa)
        return nullptr;
    memcpy(pa->name, name, len + 1);
    pa->pdev.name = pa->name;
    pa->pdev.id = id;
    device_initialize(&pa->pdev.dev);
    pa->pdev.dev.release = platform_device_release;
    return &pa->pdev;
}

int platform_device_add(struct platform_device *pdev) {
    if (!pdev)
        return -EINVAL;
    if (!pdev->dev.parent)
        pdev->dev.parent = &platform_bus;
    pdev->dev.bus = &platform_bus_type;
    int ret;
    if (pdev->id == PLATFORM_DEVID_NONE)
        ret = dev_set_name(&pdev->dev, "%s", pdev->name);
    else if (pdev->id == PLATFORM_DEVID_AUTO)
        return -EINVAL;
    else
        ret = dev_set_name(&pdev->dev, "%s.%d", pdev->name, pdev->id);
    if (ret)
        return ret;
    return device_add(&pdev->dev);
}

void platform_device_del(struct platform_device *pdev) {
    if (pdev)
        device_del(&pdev->dev);
}

void platform_device_put(struct platform_device *pdev) {
    if (pdev)
        put_device(&pdev->dev);
}

int platform_device_register(struct platform_device *pdev) {
    device_initialize(&pdev->dev);
    return platform_device_add(pdev);
}

void platform_device_unregister(struct platform_device *pdev) {
    platform_device_del(pdev);
    platform_device_put(pdev);
}

int __platform_driver_register(struct platform_driver *drv, struct module *owner) {
    drv->driver.owner = owner;
    drv->driver.bus = &platform_bus_type;
    drv->driver.probe = platform_drv_probe;
    drv->driver.remove = platform_drv_remove;
    drv->driver.shutdown = platform_drv_shutdown;
    int ret = driver_register(&drv->driver);
    if (ret == 0)
        sim::resource_add(owner, drv, "platform driver", drv->driver.name,
                          [drv] { driver_unregister(&drv->driver); });
    return ret;
}

void platform_driver_unregister(struct platform_driver *drv) {
    sim::resource_remove(drv);
    driver_unregister(&drv->driver);
}

}  // extern "C"

namespace sim::drivers {

int platform_bus_init() {
    platform_bus = {};
    platform_bus.init_name = "platform";
    platform_bus.release = platform_bus_release;
    int error = device_register(&platform_bus);
    if (error) {
        put_device(&platform_bus);
        return error;
    }
    error = bus_register(&platform_bus_type);
    if (error)
        device_unregister(&platform_bus);
    return error;
}

void platform_bus_exit() {
    bus_unregister(&platform_bus_type);
    device_unregister(&platform_bus);
}

}  // namespace sim::drivers
