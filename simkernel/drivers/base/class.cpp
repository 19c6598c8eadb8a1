// Device classes (drivers/base/class.c): /sys/class/NAME and its device links, the class's
// device list in registration order, and the searches over it.
#include "simkernel/drivers/base/base.h"

#include "simkernel/fs/sysfs_dirs.h"
#include "simkernel/kernel/module_owner.h"

#include <cstdarg>

#include <platform/err.h>
#include <platform/errno.h>
#include <platform/slab.h>
#include <platform/string.h>

namespace sim::drivers {
namespace {

void class_release(struct kobject *kobj) {
    auto *priv = container_of(kobj, struct subsys_private, subsys.kobj);
    struct class_ *cls = priv->cls;
    cls->p = nullptr;
    if (cls->class_release)
        cls->class_release(cls);
    delete priv;
}

const struct kobj_type class_ktype = {class_release, nullptr, nullptr, nullptr};

void class_create_release(struct class_ *cls) {
    kfree(cls);
}

// The class's devices after start, each with a reference taken.
std::vector<struct device *> class_devices(struct class_ *cls, struct device *start) {
    std::vector<struct device *> out;
    std::lock_guard g(cls->p->list_lock);
    bool started = !start;
    for (struct device *dev : cls->p->devices) {
        if (started)
            out.push_back(get_device(dev));
        else if (dev == start)
            started = true;
    }
    return out;
}

}  // namespace
}  // namespace sim::drivers

using namespace sim::drivers;

extern "C" {

int __class_register(struct class_ *cls, struct lock_class_key *) {
    auto *cp = new subsys_private();
    cp->subsys = {};
    cp->cls = cls;
    int error = kobject_set_name(&cp->subsys.kobj, "%s", cls->name);
    if (error) {
        delete cp;
        return error;
    }
    cls->p = cp;
    kobject_init(&cp->subsys.kobj, &class_ktype);
    error = kobject_add(&cp->subsys.kobj, sim::sysfs_class_kobj(), nullptr);
    if (!error)
        error = sysfs_create_groups(&cp->subsys.kobj, cls->class_groups);
    if (error) {
        kobject_del(&cp->subsys.kobj);
        // The class is the caller's to free: only the private half goes.
        void (*release)(struct class_ *) = cls->class_release;
        cls->class_release = nullptr;
        kobject_put(&cp->subsys.kobj);
        cls->class_release = release;
    }
    return error;
}

void class_unregister(struct class_ *cls) {
    sysfs_remove_groups(&cls->p->subsys.kobj, cls->class_groups);
    kobject_del(&cls->p->subsys.kobj);
    kobject_put(&cls->p->subsys.kobj);
}

struct class_ *__class_create(struct module *owner, const char *name, struct lock_class_key *key) {
    struct module *caller = SIM_CALLER_MODULE();
    auto *cls = static_cast<struct class_ *>(kzalloc(sizeof(struct class_), GFP_KERNEL));
    if (!cls)
        return (struct class_ *)ERR_PTR(-ENOMEM);
    cls->name = name;
    cls->owner = owner;
    cls->class_release = class_create_release;
    int retval = __class_register(cls, key);
    if (retval) {
        kfree(cls);
        return (struct class_ *)ERR_PTR(retval);
    }
    sim::resource_add(caller, cls, "class", name, [cls] { class_unregister(cls); });
    return cls;
}

void class_destroy(struct class_ *cls) {
    if (IS_ERR_OR_NULL(cls))
        return;
    sim::resource_remove(cls);
    class_unregister(cls);
}

struct device *class_find_device(struct class_ *cls, struct device *start, const void *data,
                                 int (*match)(struct device *, const void *)) {
    if (!cls || !cls->p) {
        pr_err("%s: class %p was not registered yet\n", __func__, cls);
        return nullptr;
    }
    struct device *found = nullptr;
    for (struct device *dev : class_devices(cls, start)) {
        if (!found && match(dev, data))
            found = dev;
        else
            put_device(dev);
    }
    return found;
}

int class_for_each_device(struct class_ *cls, struct device *start, void *data,
                          int (*fn)(struct device *, void *)) {
    if (!cls || !cls->p) {
        pr_err("%s: class %p was not registered yet\n", __func__, cls);
        return -EINVAL;
    }
    int error = 0;
    for (struct device *dev : class_devices(cls, start)) {
        if (!error)
            error = fn(dev, data);
        put_device(dev);
    }
    return error;
}

}  // extern "C"

namespace {
void device_create_release(struct device *dev) {
    kfree(dev);
}
int match_devt(struct device *dev, const void *data) {
    return dev->devt == *static_cast<const dev_t *>(data);
}
}  // namespace

extern "C" {

struct device *device_create(struct class_ *cls, struct device *parent, dev_t devt, void *drvdata,
                             const char *fmt, ...) {
    auto *dev = static_cast<struct device *>(kzalloc(sizeof(struct device), GFP_KERNEL));
    if (!dev)
        return (struct device *)ERR_PTR(-ENOMEM);
    device_initialize(dev);
    dev->devt = devt;
    dev->class_ = cls;
    dev->parent = parent;
    dev->release = device_create_release;
    dev_set_drvdata(dev, drvdata);
    va_list args;
    va_start(args, fmt);
    char *name = kvasprintf(GFP_KERNEL, fmt, args);
    va_end(args);
    int retval = name ? dev_set_name(dev, "%s", name) : -ENOMEM;
    kfree(name);
    if (!retval)
        retval = device_add(dev);
    if (retval) {
        put_device(dev);
        return (struct device *)ERR_PTR(retval);
    }
    return dev;
}

void device_destroy(struct class_ *cls, dev_t devt) {
    struct device *dev = class_find_device(cls, nullptr, &devt, match_devt);
    if (dev) {
        put_device(dev);
        device_unregister(dev);
    }
}

}  // extern "C"
