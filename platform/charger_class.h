// Chargers (module dv_charger_class): charger ICs registered by name.
#pragma once

#include <platform/device.h>

struct charger_device;

struct charger_ops {
    int (*enable)(struct charger_device *chg, bool en);
    int (*is_enabled)(struct charger_device *chg, bool *en);
};

struct charger_device {
    struct device dev;
    const char *name;
    const struct charger_ops *ops;
    void *driver_data;
};

extern "C" {
// Null when no charger of that name is registered.
struct charger_device *charger_find_dev_by_name(const char *name);
struct charger_device *charger_device_register(const char *name, struct device *parent,
                                               void *driver_data, const struct charger_ops *ops);
void charger_device_unregister(struct charger_device *chg);
}
