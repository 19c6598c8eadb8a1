// vq_adapter_class: USB-PD port adapters registered by name in the class "vq_adapter"
// (/sys/class/vq_adapter/NAME). The port driver keeps the attached adapter's SVID and
// verification state in the record, where listeners read them. Users look an adapter up by
// name once and keep the handle; when its driver unregisters, the handle stays valid (without
// operations, the last values frozen) until this module unloads, which its users prevent.
#include <platform/adapter_class.h>
#include <platform/device.h>
#include <platform/err.h>
#include <platform/errno.h>
#include <platform/list.h>
#include <platform/module.h>
#include <platform/slab.h>
#include <platform/spinlock.h>
#include <platform/string.h>

struct adapter_record {
    struct adapter_device adapter;
    struct list_head retired;
    char name[32];  // outlives the device's own name, which goes with its release
};

static struct class_ *adapter_class;
// Guards every device's ops against its unregistration (operations do not sleep: callers
// may be in atomic context, as the power-supply chain is), and the retired list.
static DEFINE_SPINLOCK(adapter_lock);
static LIST_HEAD(adapter_retired);

static void adapter_device_release(struct device *dev) {
    struct adapter_record *rec = container_of(dev, struct adapter_record, adapter.dev);

    spin_lock(&adapter_lock);
    list_add_tail(&rec->retired, &adapter_retired);
    spin_unlock(&adapter_lock);
}

static int adapter_match_device_by_name(struct device *dev, const void *data) {
    return strcmp(dev_name(dev), (const char *)data) == 0;
}

struct adapter_device *get_adapter_by_name(const char *name) {
    struct device *dev;

    if (!name)
        return nullptr;
    dev = class_find_device(adapter_class, nullptr, name, adapter_match_device_by_name);
    if (!dev)
        return nullptr;
    put_device(dev);
    return container_of(dev, struct adapter_device, dev);
}
EXPORT_SYMBOL_GPL(get_adapter_by_name);

int adapter_get_usbpd_verifed(struct adapter_device *adapter, bool *verified) {
    int ret = -EOPNOTSUPP;

    if (!adapter || !verified)
        return -EINVAL;
    spin_lock(&adapter_lock);
    if (adapter->ops && adapter->ops->get_usbpd_verifed)
        ret = adapter->ops->get_usbpd_verifed(adapter, verified);
    spin_unlock(&adapter_lock);
    return ret;
}
EXPORT_SYMBOL_GPL(adapter_get_usbpd_verifed);

struct adapter_device *adapter_device_register(const char *name, struct device *parent,
                                               void *driver_data, const struct adapter_ops *ops) {
    struct adapter_record *rec;
    int ret;

    if (!name)
        return (struct adapter_device *)ERR_PTR(-EINVAL);
    rec = (struct adapter_record *)kzalloc(sizeof(*rec), GFP_KERNEL);
    if (!rec)
        return (struct adapter_device *)ERR_PTR(-ENOMEM);
    INIT_LIST_HEAD(&rec->retired);
    device_initialize(&rec->adapter.dev);
    rec->adapter.dev.class_ = adapter_class;
    rec->adapter.dev.parent = parent;
    rec->adapter.dev.release = adapter_device_release;
    dev_set_name(&rec->adapter.dev, "%s", name);
    snprintf(rec->name, sizeof(rec->name), "%s", name);
    rec->adapter.name = rec->name;
    rec->adapter.driver_data = driver_data;
    rec->adapter.ops = ops;
    ret = device_add(&rec->adapter.dev);
    if (ret) {
        put_device(&rec->adapter.dev);
        return (struct adapter_device *)ERR_PTR(ret);
    }
    return &rec->adapter;
}
EXPORT_SYMBOL_GPL(adapter_device_register);

void adapter_device_unregister(struct adapter_device *adapter) {
    if (IS_ERR_OR_NULL(adapter))
        return;
    spin_lock(&adapter_lock);
    adapter->ops = nullptr;
    adapter->driver_data = nullptr;
    spin_unlock(&adapter_lock);
    device_unregister(&adapter->dev);
}
EXPORT_SYMBOL_GPL(adapter_device_unregister);

static int __init vq_adapter_class_init(void) {
    adapter_class = class_create(THIS_MODULE, "vq_adapter");
    if (IS_ERR(adapter_class))
        return (int)PTR_ERR(adapter_class);
    return 0;
}
module_init(vq_adapter_class_init);

static void __exit vq_adapter_class_exit(void) {
    struct adapter_record *rec, *tmp;

    class_destroy(adapter_class);
    list_for_each_entry_safe(rec, tmp, &adapter_retired, retired) kfree(rec);
}
module_exit(vq_adapter_class_exit);

MODULE_DESCRIPTION("USB-PD adapter class");
MODULE_LICENSE("GPL v2");
