// Matching devices against device-tree tables (include/linux/of_device.h).
#pragma once

#include <platform/mod_devicetable.h>
#include <platform/of.h>

struct device;
struct kobj_uevent_env;

extern "C" {
// The best-matching entry of matches for node, or null.
const struct of_device_id *of_match_node(const struct of_device_id *matches,
                                         const struct device_node *node);
const struct of_device_id *of_match_device(const struct of_device_id *matches,
                                           const struct device *dev);
// The data of the entry of the device's driver table that matches it, or null.
const void *of_device_get_match_data(const struct device *dev);

// "of:NbatteryT(null)Csimple-battery" (the compatibles each after a "C"): the length it needs,
// written into str up to len bytes; -ENODEV for a device without a node.
ssize_t of_device_modalias(struct device *dev, char *str, ssize_t len);
// Adds OF_NAME, OF_FULLNAME, OF_TYPE (if any), OF_COMPATIBLE_n and OF_COMPATIBLE_N to env.
void of_device_uevent(struct device *dev, struct kobj_uevent_env *env);
// Adds MODALIAS=... to env; 0 or -ENODEV/-ENOMEM.
int of_device_uevent_modalias(struct device *dev, struct kobj_uevent_env *env);
}
