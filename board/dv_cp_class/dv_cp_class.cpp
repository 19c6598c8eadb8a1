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
#include <platform/slab.h>
#include <platform/spinlock.h>
#include <platform/string.h>

struct cp_record {
    struct chargerpump_dev cp;
    struct list_head retired;
    char name[32];  // outlives the device's own name, which goes with its release
};

static struct class_ *chargerpump_class;
// Guards every device's ops against its unregistration (operations do not sleep: callers
// may be in atomic context, as the power-supply chain is), and the retired list.
static DEFINE_SPINLOCK(chargerpump_lock);
static LIST_HEAD(chargerpump_retired);

static void chargerpump_device_release(struct device *dev) {
    struct cp_record *rec = container_of(dev, struct cp_record, cp.dev);

    spin_lock(&chargerpump_lock);
    list_add_tail(&rec->retired, &chargerpump_retired);
    spin_unlock(&chargerpump_lock);
}

static int chargerpump_match_device_by_name(struct device *dev, const void *data) {
    return strcmp(dev_name(dev), (const char *)data) == 0;
}

struct chargerpump_dev *chargerpump_find_dev_by_name(const char *name) {
    struct device *dev;

    if (!name)
        return nullptr;
    dev = class_find_device(chargerpump_class, nullptr, name, chargerpump_match_device_by_name);
    if (!dev)
        return nullptr;
    put_device(dev);
    return container_of(dev, struct chargerpump_dev, dev);
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
    struct cp_record *rec;
    int ret;

    if (!name)
        return (struct chargerpump_dev *)ERR_PTR(-EINVAL);
    rec = (struct cp_record *)kzalloc(sizeof(*rec), GFP_KERNEL);
    if (!rec)
        return (struct chargerpump_dev *)ERR_PTR(-ENOMEM);
    INIT_LIST_HEAD(&rec->retired);
    device_initialize(&rec->cp.dev);
    rec->cp.dev.class_ = chargerpump_class;
    rec->cp.dev.parent = parent;
    rec->cp.dev.release = chargerpump_device_release;
    dev_set_name(&rec->cp.dev, "%s", name);
    snprintf(rec->name, sizeof(rec->name), "%s", name);
    rec->cp.name = rec->name;
    rec->cp.driver_data = driver_data;
    rec->cp.ops = ops;
    ret = device_add(&rec->cp.dev);
    if (ret) {
        put_device(&rec->cp.dev);
        return (struct chargerpump_dev *)ERR_PTR(ret);
    }
    return &rec->cp;
}
EXPORT_SYMBOL_GPL(chargerpump_device_register);

void chargerpump_device_unregister(struct chargerpump_dev *cp) {
    if (IS_ERR_OR_NULL(cp))
        return;
    spin_lock(&chargerpump_lock);
    cp->ops = nullptr;
    cp->driver_data = nullptr;
    spin_unlock(&chargerpump_lock);
    device_unregister(&cp->dev);
}
EXPORT_SYMBOL_GPL(chargerpump_device_unregister);

static int __init dv_cp_class_init(void) {
    chargerpump_class = class_create(THIS_MODULE, "dv_chargerpump");
    if (IS_ERR(chargerpump_class))
        return (int)PTR_ERR(chargerpump_class);
    return 0;
}
module_init(dv_cp_class_init);

static void __exit dv_cp_class_exit(void) {
    struct cp_record *rec, *tmp;

    class_destroy(chargerpump_class);
    list_for_each_entry_safe(rec, tmp, &chargerpump_retired, retired) kfree(rec);
}
module_exit(dv_cp_class_exit);

MODULE_DESCRIPTION("Charge pump class");
MODULE_LICENSE("GPL v2");
