// dv_fg_class: fuel gauges registered by name in the class "dv_fuel_gauge"
// (/sys/class/dv_fuel_gauge/NAME). Users look a gauge up by name once and keep the handle;
// when its driver unregisters, the handle stays valid (its operations are gone, so its status
// word reads 0) until this module unloads, which its users prevent.
#include <platform/device.h>
#include <platform/err.h>
#include <platform/errno.h>
#include <platform/fuel_gauge_class.h>
#include <platform/list.h>
#include <platform/module.h>
#include <platform/slab.h>
#include <platform/spinlock.h>
#include <platform/string.h>

struct fg_record {
    struct fuel_gauge_dev fg;
    struct list_head retired;
    char name[32];  // outlives the device's own name, which goes with its release
};

static struct class_ *fuel_gauge_class;
// Guards every device's ops against its unregistration (operations do not sleep: callers
// may be in atomic context, as the power-supply chain is), and the retired list.
static DEFINE_SPINLOCK(fuel_gauge_lock);
static LIST_HEAD(fuel_gauge_retired);

static void fuel_gauge_device_release(struct device *dev) {
    struct fg_record *rec = container_of(dev, struct fg_record, fg.dev);

    spin_lock(&fuel_gauge_lock);
    list_add_tail(&rec->retired, &fuel_gauge_retired);
    spin_unlock(&fuel_gauge_lock);
}

static int fuel_gauge_match_device_by_name(struct device *dev, const void *data) {
    return strcmp(dev_name(dev), (const char *)data) == 0;
}

struct fuel_gauge_dev *fuel_gauge_find_dev_by_name(const char *name) {
    struct device *dev;

    if (!name)
        return nullptr;
    dev = class_find_device(fuel_gauge_class, nullptr, name, fuel_gauge_match_device_by_name);
    if (!dev)
        return nullptr;
    put_device(dev);
    return container_of(dev, struct fuel_gauge_dev, dev);
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
    struct fg_record *rec;
    int ret;

    if (!name)
        return (struct fuel_gauge_dev *)ERR_PTR(-EINVAL);
    rec = (struct fg_record *)kzalloc(sizeof(*rec), GFP_KERNEL);
    if (!rec)
        return (struct fuel_gauge_dev *)ERR_PTR(-ENOMEM);
    INIT_LIST_HEAD(&rec->retired);
    device_initialize(&rec->fg.dev);
    rec->fg.dev.class_ = fuel_gauge_class;
    rec->fg.dev.parent = parent;
    rec->fg.dev.release = fuel_gauge_device_release;
    dev_set_name(&rec->fg.dev, "%s", name);
    snprintf(rec->name, sizeof(rec->name), "%s", name);
    rec->fg.name = rec->name;
    rec->fg.driver_data = driver_data;
    rec->fg.ops = ops;
    ret = device_add(&rec->fg.dev);
    if (ret) {
        put_device(&rec->fg.dev);
        return (struct fuel_gauge_dev *)ERR_PTR(ret);
    }
    return &rec->fg;
}
EXPORT_SYMBOL_GPL(fuel_gauge_device_register);

void fuel_gauge_device_unregister(struct fuel_gauge_dev *fg) {
    if (IS_ERR_OR_NULL(fg))
        return;
    spin_lock(&fuel_gauge_lock);
    fg->ops = nullptr;
    fg->driver_data = nullptr;
    spin_unlock(&fuel_gauge_lock);
    device_unregister(&fg->dev);
}
EXPORT_SYMBOL_GPL(fuel_gauge_device_unregister);

static int __init dv_fg_class_init(void) {
    fuel_gauge_class = class_create(THIS_MODULE, "dv_fuel_gauge");
    if (IS_ERR(fuel_gauge_class))
        return (int)PTR_ERR(fuel_gauge_class);
    return 0;
}
module_init(dv_fg_class_init);

static void __exit dv_fg_class_exit(void) {
    struct fg_record *rec, *tmp;

    class_destroy(fuel_gauge_class);
    list_for_each_entry_safe(rec, tmp, &fuel_gauge_retired, retired) kfree(rec);
}
module_exit(dv_fg_class_exit);

MODULE_DESCRIPTION("Fuel gauge class");
MODULE_LICENSE("GPL v2");
