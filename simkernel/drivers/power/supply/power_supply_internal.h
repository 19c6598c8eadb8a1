// Internal to the power-supply class: the private half of a supply and the sysfs side
// (drivers/power/supply/power_supply.h).
#pragma once

#include "simkernel/fs/fs_internal.h"

#include <platform/device.h>
#include <platform/notifier.h>
#include <platform/power_supply.h>
#include <platform/spinlock.h>
#include <platform/workqueue.h>

extern "C" {
extern struct atomic_notifier_head power_supply_notifier;
}

namespace sim::power_supply {

// A registered supply: the driver's struct power_supply and the class's work and lock.
struct PsyHost {
    struct power_supply psy {};
    spinlock_t changed_lock;
    struct work_struct changed_work;
    struct delayed_work deferred_register_work;
};

// The class "power_supply", made on first use.
struct class_ *class_get();

// power_supply_sysfs.cpp
extern struct device_type power_supply_dev_type;
int power_supply_uevent(struct device *dev, struct kobj_uevent_env *env);

}  // namespace sim::power_supply
