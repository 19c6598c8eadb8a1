// dv_charger_class: charger ICs registered by name in the class "dv_charger"
// (/sys/class/dv_charger/NAME). Users look a charger up by name once and keep the handle;
// when its driver unregisters, the handle stays valid (without operations) until this module
// unloads, which its users prevent.
#include <platform/charger_class.h>
#include <platform/device.h>
#include <platform/err.h>
#include <platform/list.h>
#include <platform/module.h>
#include <platform/spinlock.h>

#include "board/common/named_class.h"

static DEFINE_SPINLOCK(charger_lock);
static LIST_HEAD(charger_retired);
static struct named_class chargers = {nullptr, &charger_lock, &charger_retired};

static void charger_device_release(struct device *dev) {
    named_class_retire<struct charger_device>(&chargers, dev);
}

struct charger_device *charger_find_dev_by_name(const char *name) {
    return named_class_find<struct charger_device>(&chargers, name);
}
EXPORT_SYMBOL_GPL(charger_find_dev_by_name);

struct charger_device *charger_device_register(const char *name, struct device *parent,
                                               void *driver_data, const struct charger_ops *ops) {
    return named_class_register<struct charger_device>(&chargers, name, parent, driver_data, ops,
                                                       charger_device_release);
}
EXPORT_SYMBOL_GPL(charger_device_register);

void charger_device_unregister(struct charger_device *chg) {
    named_class_unregister(&chargers, chg);
}
EXPORT_SYMBOL_GPL(charger_device_unregister);

static int __init dv_charger_class_init(void) {
    chargers.cls = class_create(THIS_MODULE, "dv_charger");
    if (IS_ERR(chargers.cls))
        return (int)PTR_ERR(chargers.cls);
    return 0;
}
module_init(dv_charger_class_init);

static void __exit dv_charger_class_exit(void) {
    named_class_destroy<struct charger_device>(&chargers);
}
module_exit(dv_charger_class_exit);

MODULE_DESCRIPTION("Charger class");
MODULE_LICENSE("GPL v2");
