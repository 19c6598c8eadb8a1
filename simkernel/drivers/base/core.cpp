// Devices (drivers/base/core.c): reference-counted kobjects under /sys/devices, with their
// uevent file, class links and glue directories, the release callback (and the kernel's
// warning for a device without one), and dev_printk.
#include "simkernel/drivers/base/base.h"

#include "simkernel/fs/fs_internal.h"
#include "simkernel/fs/sysfs_dirs.h"

#include <cstdarg>
#include <cstring>
#include <map>
#include <utility>

#include <platform/err.h>
#include <platform/errno.h>
#include <platform/of.h>
#include <platform/of_device.h>
#include <platform/slab.h>
#include <platform/string.h>

namespace sim::drivers {
namespace {

ssize_t dev_attr_show(struct kobject *kobj, struct attribute *attr, char *buf) {
    auto *dev_attr = container_of(attr, struct device_attribute, attr);
    struct device *dev = kobj_to_dev(kobj);
    ssize_t ret = -EIO;
    if (dev_attr->show)
        ret = dev_attr->show(dev, dev_attr, buf);
    if (ret >= (ssize_t)PAGE_SIZE)
        printk(KERN_ERR "dev_attr_show: %pS returned bad count\n", (void *)dev_attr->show);
    return ret;
}

ssize_t dev_attr_store(struct kobject *kobj, struct attribute *attr, const char *buf,
                       size_t count) {
    auto *dev_attr = container_of(attr, struct device_attribute, attr);
    struct device *dev = kobj_to_dev(kobj);
    ssize_t ret = -EIO;
    if (dev_attr->store)
        ret = dev_attr->store(dev, dev_attr, buf, count);
    return ret;
}

const struct sysfs_ops dev_sysfs_ops = {dev_attr_show, dev_attr_store};

void device_release(struct kobject *kobj) {
    struct device *dev = kobj_to_dev(kobj);
    struct device_private *p = dev->p;

    // A device used without a driver may still hold managed resources.
    devres_release_all(dev);
    of_node_put(dev->of_node);
    if (dev->release)
        dev->release(dev);
    else if (dev->type && dev->type->release)
        dev->type->release(dev);
    else if (dev->class_ && dev->class_->dev_release)
        dev->class_->dev_release(dev);
    else
        fs::warn("drivers/base/core.c", "device_release",
                 KERN_ERR
                 "Device '%s' does not have a release() function, it is broken and "
                 "must be fixed. See Documentation/core-api/kobject.rst.\n",
                 kobject_name(kobj));
    delete p;
}

const struct kobj_type device_ktype = {device_release, &dev_sysfs_ops, nullptr, nullptr};

int dev_uevent_filter(struct kset *, struct kobject *kobj) {
    if (kobj->ktype != &device_ktype)
        return 0;
    struct device *dev = kobj_to_dev(kobj);
    return dev->bus || dev->class_;
}

const char *dev_uevent_name(struct kset *, struct kobject *kobj) {
    struct device *dev = kobj_to_dev(kobj);
    if (dev->bus)
        return dev->bus->name;
    if (dev->class_)
        return dev->class_->name;
    return nullptr;
}

int dev_uevent(struct kset *, struct kobject *kobj, struct kobj_uevent_env *env) {
    struct device *dev = kobj_to_dev(kobj);
    int retval = 0;

    if (dev->type && dev->type->name)
        add_uevent_var(env, "DEVTYPE=%s", dev->type->name);
    if (dev->driver)
        add_uevent_var(env, "DRIVER=%s", dev->driver->name);
    of_device_uevent(dev, env);
    if (dev->bus && dev->bus->uevent) {
        retval = dev->bus->uevent(dev, env);
        if (retval)
            return retval;
    }
    if (dev->class_ && dev->class_->dev_uevent) {
        retval = dev->class_->dev_uevent(dev, env);
        if (retval)
            return retval;
    }
    if (dev->type && dev->type->uevent)
        retval = dev->type->uevent(dev, env);
    return retval;
}

const struct kset_uevent_ops device_uevent_ops = {dev_uevent_filter, dev_uevent_name, dev_uevent};

struct kset devices_kset_storage;

ssize_t uevent_show(struct device *dev, struct device_attribute *, char *buf) {
    struct kset *kset = dev->kobj.kset;
    if (!kset || !kset->uevent_ops->filter(kset, &dev->kobj))
        return 0;
    auto *env =
        static_cast<struct kobj_uevent_env *>(kzalloc(sizeof(struct kobj_uevent_env), GFP_KERNEL));
    if (!env)
        return -ENOMEM;
    ssize_t count = 0;
    if (kset->uevent_ops->uevent(kset, &dev->kobj, env) == 0)
        for (int i = 0; i < env->envp_idx; i++)
            count += snprintf(buf + count, PAGE_SIZE - count, "%s\n", env->envp[i]);
    kfree(env);
    return count;
}

// kobject_synth_uevent(): "add", "change", ... (an optional newline); arguments after the
// action (a UUID and variables) are not supported here.
ssize_t uevent_store(struct device *dev, struct device_attribute *, const char *buf, size_t count) {
    static const char *const actions[] = {"add",    "remove",  "change", "move",
                                          "online", "offline", "bind",   "unbind"};
    size_t len = count;
    if (len && (buf[len - 1] == '\n' || buf[len - 1] == '\0'))
        len--;
    int rc = -EINVAL;
    for (size_t i = 0; i < sizeof(actions) / sizeof(actions[0]); i++)
        if (strlen(actions[i]) == len && !strncmp(actions[i], buf, len))
            rc = kobject_uevent_env(&dev->kobj, (enum kobject_action)i, nullptr);
    if (rc) {
        if (rc == -EINVAL) {
            char *path = kobject_get_path(&dev->kobj, GFP_KERNEL);
            pr_warn("synth uevent: %s: %s\n", path ? path : "unknown device",
                    "unknown uevent action string");
            kfree(path);
        }
        dev_err(dev, "uevent: failed to send synthetic uevent\n");
        return rc;
    }
    return count;
}

struct device_attribute dev_attr_uevent = __ATTR(uevent, 0644, uevent_show, uevent_store);

// Class glue directories ("/sys/devices/platform/x/power_supply"), shared by the devices of
// one class under one parent and removed with the last of them.
struct Glue {
    struct kobject *kobj;
    int users;
};
std::mutex glue_lock;
std::map<std::pair<struct kobject *, const struct class_ *>, Glue> glue_dirs;
struct kobject *virtual_dir;
std::mutex children_lock;

struct kobject *get_device_parent(struct device *dev, struct device *parent) {
    if (dev->class_) {
        struct kobject *parent_kobj;
        if (!parent) {
            std::lock_guard g(glue_lock);
            if (!virtual_dir)
                virtual_dir = kobject_create_and_add("virtual", sysfs_devices_kobj());
            parent_kobj = virtual_dir;
        } else if (parent->class_) {
            // A class device under a class device needs no glue.
            return &parent->kobj;
        } else {
            parent_kobj = &parent->kobj;
        }
        if (!parent_kobj)
            return (struct kobject *)ERR_PTR(-ENOMEM);
        std::lock_guard g(glue_lock);
        Glue &glue = glue_dirs[{parent_kobj, dev->class_}];
        if (!glue.kobj) {
            glue.kobj = kobject_create_and_add(dev->class_->name, parent_kobj);
            if (!glue.kobj) {
                glue_dirs.erase({parent_kobj, dev->class_});
                return (struct kobject *)ERR_PTR(-ENOMEM);
            }
        }
        glue.users++;
        dev->p->glue = glue.kobj;
        return glue.kobj;
    }
    if (parent)
        return &parent->kobj;
    return sysfs_devices_kobj();
}

void cleanup_glue_dir(struct device *dev) {
    struct kobject *glue_kobj = dev->p->glue;
    if (!glue_kobj)
        return;
    dev->p->glue = nullptr;
    std::lock_guard g(glue_lock);
    for (auto it = glue_dirs.begin(); it != glue_dirs.end(); ++it) {
        if (it->second.kobj != glue_kobj)
            continue;
        if (--it->second.users == 0) {
            kobject_del(glue_kobj);
            kobject_put(glue_kobj);
            glue_dirs.erase(it);
        }
        return;
    }
}

int device_add_class_symlinks(struct device *dev) {
    int error;
    if (dev->of_node && dev->of_node->kobj.sd) {
        error = sysfs_create_link(&dev->kobj, &dev->of_node->kobj, "of_node");
        if (error)
            dev_warn(dev, "Error %d creating of_node link\n", error);
    }
    if (!dev->class_)
        return 0;
    error = sysfs_create_link(&dev->kobj, &dev->class_->p->subsys.kobj, "subsystem");
    if (error)
        goto out_devnode;
    if (dev->parent && !dev->parent->class_) {
        error = sysfs_create_link(&dev->kobj, &dev->parent->kobj, "device");
        if (error)
            goto out_subsys;
    }
    error = sysfs_create_link(&dev->class_->p->subsys.kobj, &dev->kobj, dev_name(dev));
    if (error)
        goto out_device;
    return 0;

out_device:
    sysfs_remove_link(&dev->kobj, "device");
out_subsys:
    sysfs_remove_link(&dev->kobj, "subsystem");
out_devnode:
    sysfs_remove_link(&dev->kobj, "of_node");
    return error;
}

void device_remove_class_symlinks(struct device *dev) {
    if (dev->of_node)
        sysfs_remove_link(&dev->kobj, "of_node");
    if (!dev->class_)
        return;
    if (dev->parent && !dev->parent->class_)
        sysfs_remove_link(&dev->kobj, "device");
    sysfs_remove_link(&dev->kobj, "subsystem");
    sysfs_remove_link(&dev->class_->p->subsys.kobj, dev_name(dev));
}

int device_add_attrs(struct device *dev) {
    int error = 0;
    if (dev->class_ && (error = sysfs_create_groups(&dev->kobj, dev->class_->dev_groups)))
        return error;
    if (dev->type && (error = sysfs_create_groups(&dev->kobj, dev->type->groups)))
        goto err_class;
    if ((error = sysfs_create_groups(&dev->kobj, dev->groups)))
        goto err_type;
    return 0;
err_type:
    if (dev->type)
        sysfs_remove_groups(&dev->kobj, dev->type->groups);
err_class:
    if (dev->class_)
        sysfs_remove_groups(&dev->kobj, dev->class_->dev_groups);
    return error;
}

void device_remove_attrs(struct device *dev) {
    sysfs_remove_groups(&dev->kobj, dev->groups);
    if (dev->type)
        sysfs_remove_groups(&dev->kobj, dev->type->groups);
    if (dev->class_)
        sysfs_remove_groups(&dev->kobj, dev->class_->dev_groups);
}

void class_list_add(struct device *dev) {
    std::lock_guard g(dev->class_->p->list_lock);
    dev->class_->p->devices.push_back(dev);
}

void class_list_del(struct device *dev) {
    auto &v = dev->class_->p->devices;
    std::lock_guard g(dev->class_->p->list_lock);
    for (auto it = v.begin(); it != v.end(); ++it)
        if (*it == dev) {
            v.erase(it);
            break;
        }
}

const char *dev_driver_string(const struct device *dev) {
    struct device_driver *drv = __atomic_load_n(&dev->driver, __ATOMIC_ACQUIRE);
    if (drv)
        return drv->name;
    if (dev->bus)
        return dev->bus->name;
    if (dev->class_)
        return dev->class_->name;
    return "";
}

void dev_vprintk(const char *level, const struct device *dev, const char *fmt, va_list args) {
    char text[1024];
    vsnprintf(text, sizeof(text), fmt, args);
    if (dev)
        printk("%s%s %s: %s", level, dev_driver_string(dev), dev_name(dev), text);
    else
        printk("%s(NULL device *): %s", level, text);
}

}  // namespace

struct kset *devices_kset;

void device_lock(struct device *dev) {
    mutex_lock(&dev->p->lock);
}

void device_unlock(struct device *dev) {
    mutex_unlock(&dev->p->lock);
}

void devices_boot() {
    devices_kset_storage = {};
    devices_kset_storage.uevent_ops = &device_uevent_ops;
    devices_kset = &devices_kset_storage;
}

void devices_shutdown() {
    std::lock_guard g(glue_lock);
    for (auto &[key, glue] : glue_dirs) {
        kobject_del(glue.kobj);
        kobject_put(glue.kobj);
    }
    glue_dirs.clear();
    if (virtual_dir) {
        kobject_put(virtual_dir);
        virtual_dir = nullptr;
    }
}

}  // namespace sim::drivers

using namespace sim::drivers;

extern "C" {

void device_initialize(struct device *dev) {
    dev->kobj.kset = devices_kset;
    kobject_init(&dev->kobj, &device_ktype);
    dev->p = new device_private();
    dev->p->device = dev;
    __mutex_init(&dev->p->lock, "&dev->mutex", nullptr);
}

int dev_set_name(struct device *dev, const char *fmt, ...) {
    va_list args;
    va_start(args, fmt);
    char *name = kvasprintf(GFP_KERNEL, fmt, args);
    va_end(args);
    if (!name)
        return -ENOMEM;
    int err = kobject_set_name(&dev->kobj, "%s", name);
    kfree(name);
    return err;
}

const char *dev_name(const struct device *dev) {
    if (dev->init_name)
        return dev->init_name;
    return kobject_name(&dev->kobj);
}

struct device *get_device(struct device *dev) {
    return dev ? kobj_to_dev(kobject_get(&dev->kobj)) : nullptr;
}

void put_device(struct device *dev) {
    if (dev)
        kobject_put(&dev->kobj);
}

int device_add(struct device *dev) {
    struct device *parent;
    struct kobject *kobj;
    int error = -EINVAL;

    dev = get_device(dev);
    if (!dev)
        return -EINVAL;
    if (dev->init_name) {
        dev_set_name(dev, "%s", dev->init_name);
        dev->init_name = nullptr;
    }
    if (!dev_name(dev)) {
        put_device(dev);
        return -EINVAL;
    }
    parent = get_device(dev->parent);
    kobj = get_device_parent(dev, parent);
    if (IS_ERR(kobj)) {
        error = (int)PTR_ERR(kobj);
        goto parent_error;
    }
    error = kobject_add(&dev->kobj, kobj, nullptr);
    if (error)
        goto kobj_error;
    error = device_create_file(dev, &dev_attr_uevent);
    if (error)
        goto attr_error;
    error = device_add_class_symlinks(dev);
    if (error)
        goto symlink_error;
    error = device_add_attrs(dev);
    if (error)
        goto attrs_error;
    error = bus_add_device(dev);
    if (error)
        goto bus_error;
    kobject_uevent(&dev->kobj, KOBJ_ADD);
    bus_probe_device(dev);
    if (parent) {
        std::lock_guard g(children_lock);
        parent->p->children.push_back(dev);
    }
    if (dev->class_)
        class_list_add(dev);
    put_device(dev);
    return 0;

bus_error:
    device_remove_attrs(dev);
attrs_error:
    device_remove_class_symlinks(dev);
symlink_error:
    device_remove_file(dev, &dev_attr_uevent);
attr_error:
    kobject_uevent(&dev->kobj, KOBJ_REMOVE);
    kobject_del(&dev->kobj);
kobj_error:
    cleanup_glue_dir(dev);
parent_error:
    put_device(parent);
    put_device(dev);
    return error;
}

void device_del(struct device *dev) {
    struct device *parent = dev->parent;

    sim::drivers::device_lock(dev);
    dev->p->dead = true;
    sim::drivers::device_unlock(dev);
    if (parent) {
        std::lock_guard g(children_lock);
        auto &c = parent->p->children;
        for (auto it = c.begin(); it != c.end(); ++it)
            if (*it == dev) {
                c.erase(it);
                break;
            }
    }
    if (dev->class_) {
        device_remove_class_symlinks(dev);
        class_list_del(dev);
    } else if (dev->of_node) {
        sysfs_remove_link(&dev->kobj, "of_node");
    }
    device_remove_file(dev, &dev_attr_uevent);
    device_remove_attrs(dev);
    bus_remove_device(dev);
    driver_deferred_probe_del(dev);
    kobject_uevent(&dev->kobj, KOBJ_REMOVE);
    kobject_del(&dev->kobj);
    cleanup_glue_dir(dev);
    put_device(parent);
}

int device_register(struct device *dev) {
    device_initialize(dev);
    return device_add(dev);
}

void device_unregister(struct device *dev) {
    device_del(dev);
    put_device(dev);
}

int device_for_each_child(struct device *parent, void *data, int (*fn)(struct device *, void *)) {
    std::vector<struct device *> children;
    {
        std::lock_guard g(children_lock);
        for (struct device *child : parent->p->children)
            children.push_back(get_device(child));
    }
    int error = 0;
    for (struct device *child : children) {
        if (!error)
            error = fn(child, data);
        put_device(child);
    }
    return error;
}

int device_create_file(struct device *dev, const struct device_attribute *attr) {
    if (!dev)
        return -EINVAL;
    return sysfs_create_file(&dev->kobj, &attr->attr);
}

void device_remove_file(struct device *dev, const struct device_attribute *attr) {
    if (dev)
        sysfs_remove_file(&dev->kobj, &attr->attr);
}

#define DEFINE_DEV_PRINTK(func, level)                          \
    void func(const struct device *dev, const char *fmt, ...) { \
        va_list args;                                           \
        va_start(args, fmt);                                    \
        dev_vprintk(level, dev, fmt, args);                     \
        va_end(args);                                           \
    }

DEFINE_DEV_PRINTK(_dev_emerg, KERN_EMERG)
DEFINE_DEV_PRINTK(_dev_err, KERN_ERR)
DEFINE_DEV_PRINTK(_dev_warn, KERN_WARNING)
DEFINE_DEV_PRINTK(_dev_notice, KERN_NOTICE)
DEFINE_DEV_PRINTK(_dev_info, KERN_INFO)

}  // extern "C"
