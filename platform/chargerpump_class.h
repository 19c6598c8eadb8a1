// Charge pumps (module dv_cp_class): charge-pump ICs registered by name.
#pragma once

#include <platform/device.h>

struct chargerpump_dev;

struct chargerpump_ops {
    // Writes 1 when the chip answers on its bus, else 0.
    int (*get_chip_ok)(struct chargerpump_dev *cp, int *ok);
};

struct chargerpump_dev {
    struct device dev;
    const char *name;
    const struct chargerpump_ops *ops;
    void *driver_data;
};

extern "C" {
// Null when no charge pump of that name is registered.
struct chargerpump_dev *chargerpump_find_dev_by_name(const char *name);
// Writes *ok (0 when the chip does not answer, or without a driver operation); 0 or a
// negative errno.
int chargerpump_get_chip_ok(struct chargerpump_dev *cp, int *ok);
struct chargerpump_dev *chargerpump_device_register(const char *name, struct device *parent,
                                                    void *driver_data,
                                                    const struct chargerpump_ops *ops);
void chargerpump_device_unregister(struct chargerpump_dev *cp);
}
