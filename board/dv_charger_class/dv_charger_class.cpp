// dv_charger_class: charger ICs registered by name in the class "dv_charger"
// (/sys/class/dv_charger/NAME). Users look a charger up by name once and keep the handle;
// when its driver unregisters, the handle stays valid (without operations) until this module
// unloads, which its users prevent.
#include <platform/charger_class.h>
#include <platform/device.h>
#include <platform/err.h>
#include <platform/errno.h>
#include <platform/list.h>
#include <platform/module.h>
#include <platform/slab.h>
#include <platform/spinlock.h>
#include <platform/string.h>

struct charger_record {
    struct charger_device chg;
    struct list_head retired;
    char name[32];  // outlives the device's own name, which goes with its release
};

static struct class_ *charger_class;
// Guards every device's ops against its unregistration (operations do not sleep: callers
// may be in atomic context, as the power-supply chain is), and the retired list.
static DEFINE_SPINLOCK(charger_lock);
static LIST_HEAD(charger_retired);

static void charger_device_release(struct device *dev) {
    struct charger_record *rec = container_of(dev, struct charger_record, chg.dev);

    spin_lock(&charger_lock);
    list_add_tail(&rec->retired, &charger_retired);
    spin_unlock(&charger_lock);
}

static int charger_match_device_by_name(struct device *dev, const void *data) {
    return strcmp(dev_name(dev), (const char *)data) == 0;
}

struct charger_device *charger_find_dev_by_name(const char *name) {
    struct device *dev;

    if (!name)
        return nullptr;
    dev = class_find_device(charger_class, nullptr, name, charger_match_device_by_name);
    if (!dev)
        return nullptr;
    put_device(dev);
    return container_of(dev, struct charger_device, dev);
}
EXPORT_SYMBOL_GPL(charger_find_dev_by_name);

struct charger_device *charger_device_register(const char *name, struct device *parent,
                                               void *driver_data, const struct charger_ops *ops) {
    struct charger_record *rec;
    int ret;

    if (!name)
        return (struct charger_device *)ERR_PTR(-EINVAL);
    rec = (struct charger_record *)kzalloc(sizeof(*rec), GFP_KERNEL);
    if (!rec)
        return (struct charger_device *)ERR_PTR(-ENOMEM);
    INIT_LIST_HEAD(&rec->retired);
    device_initialize(&rec->chg.dev);
    rec->chg.dev.class_ = charger_class;
    rec->chg.dev.parent = parent;
    rec->chg.dev.release = charger_device_release;
    dev_set_name(&rec->chg.dev, "%s", name);
    snprintf(rec->name, sizeof(rec->name), "%s", name);
    rec->chg.name = rec->name;
    rec->chg.driver_data = driver_data;
    rec->chg.ops = ops;
    ret = device_add(&rec->chg.dev);
    if (ret) {
        put_device(&rec->chg.dev);
        return (struct charger_device *)ERR_PTR(ret);
    }
    return &rec->chg;
}
EXPORT_SYMBOL_GPL(charger_device_register);

void charger_device_unregister(struct charger_device *chg) {
    if (IS_ERR_OR_NULL(chg))
        return;
    spin_lock(&charger_lock);
    chg->ops = nullptr;
    chg->driver_data = nullptr;
    spin_unlock(&charger_lock);
    device_unregister(&chg->dev);
}
EXPORT_SYMBOL_GPL(charger_device_unregister);

static int __init dv_charger_class_init(void) {
    charger_class = class_create(THIS_MODULE, "dv_charger");
    if (IS_ERR(charger_class))
        return (int)PTR_ERR(charger_class);
    return 0;
}
module_init(dv_charger_class_init);

static void __exit dv_charger_class_exit(void) {
    struct charger_record *rec, *tmp;

    class_destroy(charger_class);
    list_for_each_entry_safe(rec, tmp, &charger_retired, retired) kfree(rec);
}
module_exit(dv_charger_class_exit);

MODULE_DESCRIPTION("Charger class");
MODULE_LICENSE("GPL v2");
