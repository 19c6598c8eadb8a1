// dv_fg_class: fuel gauges registered by name in the class "dv_fuel_gauge"
// (/sys/class/dv_fuel_gauge/NAME). Users look a gauge up by name once and keep the handle;
// when its driver unregisters, the handle stays valid (its operations are gone, so its status
// word reads 0) until this module unloads, which its users prevent.
#include <platform/device.h>
#include <platform/err.h>
#include <platform/fuel_gauge_class.h>
#include <platform/list.h>
#include <platform/module.h>
#include <platform/spinlock.h>

#include "board/common/named_class.h"

static DEFINE_SPINLOCK(fuel_gauge_lock);
static LIST_HEAD(fuel_gauge_retired);
static struct named_class fuel_gauges = {nullptr, &fuel_gauge_lock, &fuel_gauge_retired};

static void fuel_gauge_device_release(struct device *dev) {
    named_class_retire<struct fuel_gauge_dev>(&fuel_gauges, dev);
}

struct fuel_gauge_dev *fuel_gauge_find_dev_by_name(const char *name) {
    return named_class_find<struct fuel_gauge_dev>(&fuel_gauges, name);
}
EXPORT_SYMBOL_GPL(fuel_gauge_find_dev_by_name);

int fuel_gauge_check_fg_status(struct fuel_gauge_dev *fg) {
    int status = 0;

    if (!fg)
        return 0;
    spin_lock(&fuel_gauge_lock);
    if (fg->ops && fg->ops->check_fg_status)
        status = fg->ops->check_fg_status(fg);
    spin_unlock(&fuel_gauge_lock);
    return status;
}
EXPORT_SYMBOL_GPL(fuel_gauge_check_fg_status);

struct fuel_gauge_dev *fuel_gauge_device_register(const char *name, struct device *parent,
                                                  void *driver_data,
                                                  const struct fuel_gauge_ops *ops) {
    return named_class_register<struct fuel_gauge_dev>(&fuel_gauges, name, parent, driver_data, ops,
                                                       fuel_gauge_device_release);
}
EXPORT_SYMBOL_GPL(fuel_gauge_device_register);

void fuel_gauge_device_unregister(struct fuel_gauge_dev *fg) {
    named_class_unregister(&fuel_gauges, fg);
}
EXPORT_SYMBOL_GPL(fuel_gauge_device_unregister);

static int __init dv_fg_class_init(void) {
    fuel_gauges.cls = class_create(THIS_MODULE, "dv_fuel_gauge");
    if (IS_ERR(fuel_gauges.cls))
        return (int)PTR_ERR(fuel_gauges.cls);
    return 0;
}
module_init(dv_fg_class_init);

static void __exit dv_fg_class_exit(void) {
    named_class_destroy<struct fuel_gauge_dev>(&fuel_gauges);
}
module_exit(dv_fg_class_exit);

MODULE_DESCRIPTION("Fuel gauge class");
MODULE_LICENSE("GPL v2");
