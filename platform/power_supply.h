// The power-supply class (include/linux/power_supply.h, drivers/power/supply/): supplies
// registered by charger and fuel-gauge drivers, read through get_property, shown under
// /sys/class/power_supply/NAME/, and announced on the power-supply notifier chain (from the
// class's change work) whenever a driver calls power_supply_changed().
#pragma once

#include <platform/device.h>
#include <platform/notifier.h>

enum power_supply_property {
    POWER_SUPPLY_PROP_STATUS = 0,
    POWER_SUPPLY_PROP_CHARGE_TYPE,
    POWER_SUPPLY_PROP_HEALTH,
    POWER_SUPPLY_PROP_PRESENT,
    POWER_SUPPLY_PROP_ONLINE,
    POWER_SUPPLY_PROP_AUTHENTIC,
    POWER_SUPPLY_PROP_TECHNOLOGY,
    POWER_SUPPLY_PROP_CYCLE_COUNT,
    POWER_SUPPLY_PROP_VOLTAGE_MAX,
    POWER_SUPPLY_PROP_VOLTAGE_MIN,
    POWER_SUPPLY_PROP_VOLTAGE_MAX_DESIGN,
    POWER_SUPPLY_PROP_VOLTAGE_MIN_DESIGN,
    POWER_SUPPLY_PROP_VOLTAGE_NOW,
    POWER_SUPPLY_PROP_VOLTAGE_AVG,
    POWER_SUPPLY_PROP_VOLTAGE_OCV,
    POWER_SUPPLY_PROP_VOLTAGE_BOOT,
    POWER_SUPPLY_PROP_CURRENT_MAX,
    POWER_SUPPLY_PROP_CURRENT_NOW,
    POWER_SUPPLY_PROP_CURRENT_AVG,
    POWER_SUPPLY_PROP_CURRENT_BOOT,
    POWER_SUPPLY_PROP_POWER_NOW,
    POWER_SUPPLY_PROP_POWER_AVG,
    POWER_SUPPLY_PROP_CHARGE_FULL_DESIGN,
    POWER_SUPPLY_PROP_CHARGE_EMPTY_DESIGN,
    POWER_SUPPLY_PROP_CHARGE_FULL,
    POWER_SUPPLY_PROP_CHARGE_EMPTY,
    POWER_SUPPLY_PROP_CHARGE_NOW,
    POWER_SUPPLY_PROP_CHARGE_AVG,
    POWER_SUPPLY_PROP_CHARGE_COUNTER,
    POWER_SUPPLY_PROP_CONSTANT_CHARGE_CURRENT,
    POWER_SUPPLY_PROP_CONSTANT_CHARGE_CURRENT_MAX,
    POWER_SUPPLY_PROP_CONSTANT_CHARGE_VOLTAGE,
    POWER_SUPPLY_PROP_CONSTANT_CHARGE_VOLTAGE_MAX,
    POWER_SUPPLY_PROP_CHARGE_CONTROL_LIMIT,
    POWER_SUPPLY_PROP_CHARGE_CONTROL_LIMIT_MAX,
    POWER_SUPPLY_PROP_CHARGE_CONTROL_START_THRESHOLD,
    POWER_SUPPLY_PROP_CHARGE_CONTROL_END_THRESHOLD,
    POWER_SUPPLY_PROP_INPUT_CURRENT_LIMIT,
    POWER_SUPPLY_PROP_INPUT_VOLTAGE_LIMIT,
    POWER_SUPPLY_PROP_INPUT_POWER_LIMIT,
    POWER_SUPPLY_PROP_ENERGY_FULL_DESIGN,
    POWER_SUPPLY_PROP_ENERGY_EMPTY_DESIGN,
    POWER_SUPPLY_PROP_ENERGY_FULL,
    POWER_SUPPLY_PROP_ENERGY_EMPTY,
    POWER_SUPPLY_PROP_ENERGY_NOW,
    POWER_SUPPLY_PROP_ENERGY_AVG,
    POWER_SUPPLY_PROP_CAPACITY,
    POWER_SUPPLY_PROP_CAPACITY_ALERT_MIN,
    POWER_SUPPLY_PROP_CAPACITY_ALERT_MAX,
    POWER_SUPPLY_PROP_CAPACITY_ERROR_MARGIN,
    POWER_SUPPLY_PROP_CAPACITY_LEVEL,
    POWER_SUPPLY_PROP_TEMP,
    POWER_SUPPLY_PROP_TEMP_MAX,
    POWER_SUPPLY_PROP_TEMP_MIN,
    POWER_SUPPLY_PROP_TEMP_ALERT_MIN,
    POWER_SUPPLY_PROP_TEMP_ALERT_MAX,
    POWER_SUPPLY_PROP_TEMP_AMBIENT,
    POWER_SUPPLY_PROP_TEMP_AMBIENT_ALERT_MIN,
    POWER_SUPPLY_PROP_TEMP_AMBIENT_ALERT_MAX,
    POWER_SUPPLY_PROP_TIME_TO_EMPTY_NOW,
    POWER_SUPPLY_PROP_TIME_TO_EMPTY_AVG,
    POWER_SUPPLY_PROP_TIME_TO_FULL_NOW,
    POWER_SUPPLY_PROP_TIME_TO_FULL_AVG,
    POWER_SUPPLY_PROP_TYPE,
    POWER_SUPPLY_PROP_USB_TYPE,
    POWER_SUPPLY_PROP_SCOPE,
    POWER_SUPPLY_PROP_PRECHARGE_CURRENT,
    POWER_SUPPLY_PROP_CHARGE_TERM_CURRENT,
    POWER_SUPPLY_PROP_CALIBRATE,
    POWER_SUPPLY_PROP_MANUFACTURE_YEAR,
    POWER_SUPPLY_PROP_MANUFACTURE_MONTH,
    POWER_SUPPLY_PROP_MANUFACTURE_DAY,
    POWER_SUPPLY_PROP_MODEL_NAME,
    POWER_SUPPLY_PROP_MANUFACTURER,
    POWER_SUPPLY_PROP_SERIAL_NUMBER,
};

enum {
    POWER_SUPPLY_STATUS_UNKNOWN = 0,
    POWER_SUPPLY_STATUS_CHARGING,
    POWER_SUPPLY_STATUS_DISCHARGING,
    POWER_SUPPLY_STATUS_NOT_CHARGING,
    POWER_SUPPLY_STATUS_FULL,
};

enum power_supply_type {
    POWER_SUPPLY_TYPE_UNKNOWN = 0,
    POWER_SUPPLY_TYPE_BATTERY,
    POWER_SUPPLY_TYPE_UPS,
    POWER_SUPPLY_TYPE_MAINS,
    POWER_SUPPLY_TYPE_USB,
};

enum power_supply_notifier_events {
    PSY_EVENT_PROP_CHANGED,
};

union power_supply_propval {
    int intval;
    const char *strval;
};

struct power_supply;

struct power_supply_config {
    struct device_node *of_node;
    void *drv_data;
    const struct attribute_group **attr_grp;
    char **supplied_to;
    size_t num_supplicants;
};

struct power_supply_desc {
    const char *name;
    enum power_supply_type type;
    const enum power_supply_property *properties;
    size_t num_properties;
    int (*get_property)(struct power_supply *psy, enum power_supply_property psp,
                        union power_supply_propval *val);
    int (*set_property)(struct power_supply *psy, enum power_supply_property psp,
                        const union power_supply_propval *val);
    int (*property_is_writeable)(struct power_supply *psy, enum power_supply_property psp);
    void (*external_power_changed)(struct power_supply *psy);
};

struct power_supply {
    const struct power_supply_desc *desc;
    char **supplied_to;
    size_t num_supplicants;
    struct device_node *of_node;
    void *drv_data;
    struct device dev;
    bool changed;
    bool initialized;
    bool removing;
    int use_cnt;
    void *sim_priv;  // the class's change work and lock; opaque to drivers
};

extern "C" {
extern struct class_ *power_supply_class;

// A supply under parent, with its attribute files, change work and uevents; an error pointer
// on failure.
struct power_supply *power_supply_register(struct device *parent,
                                           const struct power_supply_desc *desc,
                                           const struct power_supply_config *cfg);
struct power_supply *devm_power_supply_register(struct device *parent,
                                                const struct power_supply_desc *desc,
                                                const struct power_supply_config *cfg);
void power_supply_unregister(struct power_supply *psy);
// The supply with a reference taken (drop it with power_supply_put), or null.
struct power_supply *power_supply_get_by_name(const char *name);
void power_supply_put(struct power_supply *psy);
// 0, or a negative errno (-ENODEV while the supply is not ready, or the driver's).
int power_supply_get_property(struct power_supply *psy, enum power_supply_property psp,
                              union power_supply_propval *val);
int power_supply_set_property(struct power_supply *psy, enum power_supply_property psp,
                              const union power_supply_propval *val);
void *power_supply_get_drvdata(struct power_supply *psy);
// Schedules the change work: the chain is called with PSY_EVENT_PROP_CHANGED and a change
// uevent is sent, once for any number of calls before the work runs.
void power_supply_changed(struct power_supply *psy);
int power_supply_reg_notifier(struct notifier_block *nb);
void power_supply_unreg_notifier(struct notifier_block *nb);
}
