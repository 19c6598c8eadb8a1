// Fuel gauges (module dv_fg_class): gauge ICs registered by name, and the driver data the
// battery supply carries.
#pragma once

#include <platform/device.h>

// Bits of the fuel-gauge status word.
#define FG_STATUS_BATT_AUTH_FAULT (1U << 0)
#define FG_STATUS_I2C_ERROR (1U << 1)

struct fuel_gauge_dev;

struct fuel_gauge_ops {
    int (*check_fg_status)(struct fuel_gauge_dev *fg);
};

struct fuel_gauge_dev {
    struct device dev;
    const char *name;
    const struct fuel_gauge_ops *ops;
    void *driver_data;
};

// Driver data of the "battery" power supply.
struct dv_battery_drvdata {
    int vbus_type;  // charger input type; 5 = non-standard charger
    int rsoc;       // raw state of charge
    int tboard;     // board temperature, tenths of a degree
};

#define DV_VBUS_TYPE_NONSTANDARD 5

extern "C" {
// Null when no gauge of that name is registered.
struct fuel_gauge_dev *fuel_gauge_find_dev_by_name(const char *name);
// The status word (FG_STATUS_*); 0 for a null gauge or one without the operation.
int fuel_gauge_check_fg_status(struct fuel_gauge_dev *fg);
struct fuel_gauge_dev *fuel_gauge_device_register(const char *name, struct device *parent,
                                                  void *driver_data,
                                                  const struct fuel_gauge_ops *ops);
void fuel_gauge_device_unregister(struct fuel_gauge_dev *fg);
}
