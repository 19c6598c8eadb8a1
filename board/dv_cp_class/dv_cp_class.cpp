// dv_cp_class: charge pumps registered by name in the class "dv_chargerpump"
// (/sys/class/dv_chargerpump/NAME). Users look a charge pump up by name once and keep the
// handle; when its driver unregisters, the handle stays valid (its operations are gone, so the
// chip reads as not answering) until this module unloads, which its users prevent.
#include <platform/chargerpump_class.h>
#include <platform/device.h>
#include <platform/err.h>
#include <platform/errno.h>
#include <platform/list.h>
#include <platform/module.h>
#include <platform/spinlock.h>

#include "board/common/named_class.h"

static DEFINE_SPINLOCK(chargerpump_lock);
static LIST_HEAD(chargerpump_retired);
static struct named_class chargerpumps = {nullptr, &chargerpump_lock, &chargerpump_retired};

static void chargerpump_device_release(struct device *dev) {
    named_class_retire<struct chargerpump_dev>(&chargerpumps, dev);
}

struct chargerpump_dev *chargerpump_find_dev_by_name(const char *name) {
    return named_class_find<struct chargerpump_dev>(&chargerpumps, name);
}
EXPORT_SYMBOL_GPL(chargerpump_find_dev_by_name);

int chargerpump_get_chip_ok(struct chargerpump_dev *cp, int *ok) {
    int ret = -EOPNOTSUPP;

    if (!cp || !ok)
        return -EINVAL;
    *ok = 0;
    spin_lock(&chargerpump_lock);
    if (cp->ops && cp->ops->get_chip_ok)
        ret = cp->ops->get_chip_ok(cp, ok);
    spin_unlock(&chargerpump_lock);
    return ret;
}
EXPORT_SYMBOL_GPL(chargerpump_get_chip_ok);

struct chargerpump_dev *chargerpump_device_register(const char *name, struct device *parent,
                                                    void *driver_data,
                                                    const struct chargerpump_ops *ops) {
    return named_class_register<struct chargerpump_dev>(&chargerpumps, name, parent, driver_data,
                                                        ops, chargerpump_device_release);
}
EXPORT_SYMBOL_GPL(chargerpump_device_register);

void chargerpump_device_unregister(struct chargerpump_dev *cp) {
    named_class_unregister(&chargerpumps, cp);
}
EXPORT_SYMBOL_GPL(chargerpump_device_unregister);

static int __init dv_cp_class_init(void) {
    chargerpumps.cls = class_create(THIS_MODULE, "dv_chargerpump");
    if (IS_ERR(chargerpumps.cls))
        return (int)PTR_ERR(chargerpumps.cls);
    return 0;
}
module_init(dv_cp_class_init);

static void __exit dv_cp_class_exit(void) {
    named_class_destroy<struct chargerpump_dev>(&chargerpumps);
}
module_exit(dv_cp_class_exit);

MODULE_DESCRIPTION("Charge pump class");
MODULE_LICENSE("GPL v2");
