// The platform bus (include/linux/platform_device.h, drivers/base/platform.c): devices made
// from device-tree nodes, and the drivers that bind to them by compatible string.
#pragma once

#include <platform/device.h>

struct platform_device {
    const char *name;
    int id;
    struct device dev;
    const char *driver_override;
};

struct platform_driver {
    int (*probe)(struct platform_device *pdev);
    int (*remove)(struct platform_device *pdev);
    void (*shutdown)(struct platform_device *pdev);
    struct device_driver driver;
};

#define PLATFORM_DEVID_NONE (-1)
#define PLATFORM_DEVID_AUTO (-2)

extern "C" {
extern struct bus_type platform_bus_type;
extern struct device platform_bus;

int __platform_driver_register(struct platform_driver *drv, struct module *owner);
void platform_driver_unregister(struct platform_driver *drv);

struct platform_device *platform_device_alloc(const char *name, int id);
int platform_device_add(struct platform_device *pdev);
void platform_device_del(struct platform_device *pdev);
void platform_device_put(struct platform_device *pdev);
int platform_device_register(struct platform_device *pdev);
void platform_device_unregister(struct platform_device *pdev);
}

#define platform_driver_register(drv) __platform_driver_register(drv, THIS_MODULE)

static inline struct platform_device *to_platform_device(struct device *dev) {
    return (struct platform_device *)((char *)dev -
                                      __builtin_offsetof(struct platform_device, dev));
}
static inline struct platform_driver *to_platform_driver(struct device_driver *drv) {
    return (struct platform_driver *)((char *)drv -
                                      __builtin_offsetof(struct platform_driver, driver));
}
static inline void *platform_get_drvdata(const struct platform_device *pdev) {
    return dev_get_drvdata(&pdev->dev);
}
static inline void platform_set_drvdata(struct platform_device *pdev, void *data) {
    dev_set_drvdata(&pdev->dev, data);
}

// Registers the driver at module start and unregisters it at module stop.
#define module_platform_driver(__platform_driver)              \
    static int __platform_driver##_init(void) {                \
        return platform_driver_register(&(__platform_driver)); \
    }                                                          \
    module_init(__platform_driver##_init);                     \
    static void __platform_driver##_exit(void) {               \
        platform_driver_unregister(&(__platform_driver));      \
    }                                                          \
    module_exit(__platform_driver##_exit)
