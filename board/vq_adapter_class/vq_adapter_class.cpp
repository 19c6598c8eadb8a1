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
#include <platform/spinlock.h>

#include "board/common/named_class.h"

static DEFINE_SPINLOCK(adapter_lock);
static LIST_HEAD(adapter_retired);
static struct named_class adapters = {nullptr, &adapter_lock, &adapter_retired};

static void adapter_device_release(struct device *dev) {
    named_class_retire<struct adapter_device>(&adapters, dev);
}

struct adapter_device *get_adapter_by_name(const char *name) {
    return named_class_find<struct adapter_device>(&adapters, name);
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
    return named_class_register<struct adapter_device>(&adapters, name, parent, driver_data, ops,
                                                       adapter_device_release);
}
EXPORT_SYMBOL_GPL(adapter_device_register);

void adapter_device_unregister(struct adapter_device *adapter) {
    named_class_unregister(&adapters, adapter);
}
EXPORT_SYMBOL_GPL(adapter_device_unregister);

static int __init vq_adapter_class_init(void) {
    adapters.cls = class_create(THIS_MODULE, "vq_adapter");
    if (IS_ERR(adapters.cls))
        return (int)PTR_ERR(adapters.cls);
    return 0;
}
module_init(vq_adapter_class_init);

static void __exit vq_adapter_class_exit(void) {
    named_class_destroy<struct adapter_device>(&adapters);
}
module_exit(vq_adapter_class_exit);

MODULE_DESCRIPTION("USB-PD adapter class");
MODULE_LICENSE("GPL v2");
