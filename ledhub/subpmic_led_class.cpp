// The sub-PMIC flash LED class: registration of LED devices, lookup by name, and the camera
// calls forwarded to the registrant's operations. The class's device list is the only registry.
#include "ledhub/subpmic_led.h"

#include <platform/err.h>
#include <platform/errno.h>
#include <platform/module.h>
#include <platform/printk.h>
#include <platform/slab.h>
#include <platform/string.h>

static struct class_ *subpmic_led_class;

// The record goes with the last reference on its device: at the end of a failed registration,
// or after unregistration once every holder of a looked-up reference has let go.
static void subpmic_led_release(struct device *dev) {
    kfree(container_of(dev, struct subpmic_led_dev, dev));
}

// Takes the device out of the class, then cuts the record off from the registrant's operations
// before dropping the registration's reference: a caller that still holds the record from a
// lookup gets -EINVAL instead of calling into a driver that has gone.
static int subpmic_led_unregister(struct subpmic_led_dev *led) {
    device_del(&led->dev);
    down_write(&led->ops_lock);
    led->ops = nullptr;
    up_write(&led->ops_lock);
    put_device(&led->dev);
    return 0;
}

static void subpmic_led_unregister_action(void *data) {
    subpmic_led_unregister((struct subpmic_led_dev *)data);
}

struct subpmic_led_dev *subpmic_led_register(const char *name, struct device *parent,
                                             const struct subpmic_led_ops *ops,
                                             void *private_data) {
    struct subpmic_led_dev *led;
    int ret;

    if (!parent)
        pr_warn("%s: Expected proper parent device\n", __func__);
    if (!name || !ops)
        return (struct subpmic_led_dev *)ERR_PTR(-EINVAL);

    led = (struct subpmic_led_dev *)kzalloc(sizeof(*led), GFP_KERNEL);
    if (!led)
        return (struct subpmic_led_dev *)ERR_PTR(-ENOMEM);

    device_initialize(&led->dev);
    led->dev.parent = parent;
    dev_set_drvdata(&led->dev, led);
    led->dev.class_ = subpmic_led_class;
    led->dev.release = subpmic_led_release;
    led->name = name;
    led->private_data = private_data;
    led->ops = ops;
    init_rwsem(&led->ops_lock);

    ret = dev_set_name(&led->dev, "%s", name);
    if (ret)
        goto err_put;
    ret = device_add(&led->dev);
    if (ret)
        goto err_put;

    // The unregister routine is not offered to registrants, so tie the registration to the
    // parent's binding: when its driver is unbound (and its operations and private data go),
    // the record leaves the class with it.
    if (parent) {
        ret = devm_add_action(parent, subpmic_led_unregister_action, led);
        if (ret) {
            subpmic_led_unregister(led);
            return (struct subpmic_led_dev *)ERR_PTR(ret);
        }
    }
    return led;

err_put:
    put_device(&led->dev);
    return (struct subpmic_led_dev *)ERR_PTR(ret);
}
EXPORT_SYMBOL(subpmic_led_register);

void *subpmic_led_get_private(struct subpmic_led_dev *led) {
    if (!led)
        return ERR_PTR(-EINVAL);
    return led->private_data;
}
EXPORT_SYMBOL(subpmic_led_get_private);

static int subpmic_led_match_device_by_name(struct device *dev, const void *data) {
    struct subpmic_led_dev *led = (struct subpmic_led_dev *)dev_get_drvdata(dev);

    return strcmp(led->name, (const char *)data) == 0;
}

struct subpmic_led_dev *subpmic_led_find_dev_by_name(const char *name) {
    struct device *dev;

    if (!name)
        return nullptr;
    // The reference the search takes stays with the caller.
    dev = class_find_device(subpmic_led_class, nullptr, name, subpmic_led_match_device_by_name);
    if (!dev)
        return nullptr;
    return (struct subpmic_led_dev *)dev_get_drvdata(dev);
}
EXPORT_SYMBOL(subpmic_led_find_dev_by_name);

// The five camera calls differ only in the slot they call and the type of their value.
#define SUBPMIC_CAMERA_OP(fn, slot, type)                                   \
    int fn(struct subpmic_led_dev *led, enum SUBPMIC_LED_ID id, type val) { \
        int ret;                                                            \
                                                                            \
        if (!led)                                                           \
            return -EINVAL;                                                 \
        down_read(&led->ops_lock);                                          \
        if (!led->ops)                                                      \
            ret = -EINVAL;                                                  \
        else if (!led->ops->slot)                                           \
            ret = -EOPNOTSUPP;                                              \
        else                                                                \
            ret = led->ops->slot(led, id, val);                             \
        up_read(&led->ops_lock);                                            \
        return ret;                                                         \
    }                                                                       \
    EXPORT_SYMBOL(fn)

SUBPMIC_CAMERA_OP(subpmic_camera_set_led_flash_curr, set_led_flash_curr, int);
SUBPMIC_CAMERA_OP(subpmic_camera_set_led_flash_time, set_led_flash_time, int);
SUBPMIC_CAMERA_OP(subpmic_camera_set_led_flash_enable, set_led_flash_enable, bool);
SUBPMIC_CAMERA_OP(subpmic_camera_set_led_torch_curr, set_led_torch_curr, int);
SUBPMIC_CAMERA_OP(subpmic_camera_set_led_torch_enable, set_led_torch_enable, bool);

static int subpmic_led_class_init(void) {
    static struct lock_class_key key;

    subpmic_led_class = __class_create(THIS_MODULE, "subpmic_led_class", &key);
    if (IS_ERR(subpmic_led_class))
        return (int)PTR_ERR(subpmic_led_class);
    return 0;
}

static int subpmic_led_match_any(struct device *, const void *) {
    return 1;
}

// Records still registered belong to registrants that never passed a parent, or whose parent
// was never unbound: unregister them, so that nothing of the class outlives the module.
static void subpmic_led_class_exit(void) {
    struct device *dev;

    while ((dev = class_find_device(subpmic_led_class, nullptr, nullptr, subpmic_led_match_any))) {
        struct subpmic_led_dev *led = (struct subpmic_led_dev *)dev_get_drvdata(dev);

        if (dev->parent)
            devm_remove_action(dev->parent, subpmic_led_unregister_action, led);
        subpmic_led_unregister(led);
        put_device(dev);
    }
    class_destroy(subpmic_led_class);
}

module_init(subpmic_led_class_init);
module_exit(subpmic_led_class_exit);

MODULE_DESCRIPTION("Dorvan Led Class Core");
MODULE_LICENSE("GPL v2");
