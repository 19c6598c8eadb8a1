// The driver model (include/linux/device.h, device/bus.h, device/class.h, device/driver.h;
// drivers/base/): devices with reference counts and release callbacks, buses that bind
// drivers to devices, classes that group devices, and device-managed resources (devres).
#pragma once

#include <platform/compiler.h>
#include <platform/gfp.h>
#include <platform/kobject.h>
#include <platform/lockdep_types.h>
#include <platform/mod_devicetable.h>
#include <platform/printk.h>
#include <platform/types.h>

struct device;
struct device_driver;
struct device_node;
struct module;
struct kobj_uevent_env;
struct subsys_private;
struct driver_private;
struct device_private;

struct bus_type {
    const char *name;
    const struct attribute_group **dev_groups;
    const struct attribute_group **drv_groups;
    int (*match)(struct device *dev, struct device_driver *drv);
    int (*uevent)(struct device *dev, struct kobj_uevent_env *env);
    int (*probe)(struct device *dev);
    int (*remove)(struct device *dev);
    struct subsys_private *p;
};

struct device_driver {
    const char *name;
    struct bus_type *bus;
    struct module *owner;
    const char *mod_name;
    bool suppress_bind_attrs;
    const struct of_device_id *of_match_table;
    int (*probe)(struct device *dev);
    int (*remove)(struct device *dev);
    void (*shutdown)(struct device *dev);
    const struct attribute_group **groups;
    struct driver_private *p;
};

// The kernel's struct class, spelled class_ because class is a C++ keyword (so is the
// device's member, dev->class_).
struct class_ {
    const char *name;
    struct module *owner;
    const struct attribute_group **class_groups;
    const struct attribute_group **dev_groups;
    int (*dev_uevent)(struct device *dev, struct kobj_uevent_env *env);
    void (*class_release)(struct class_ *cls);
    void (*dev_release)(struct device *dev);
    struct subsys_private *p;
};

struct device_type {
    const char *name;
    const struct attribute_group **groups;
    int (*uevent)(struct device *dev, struct kobj_uevent_env *env);
    void (*release)(struct device *dev);
};

struct device {
    struct kobject kobj;
    struct device *parent;
    struct device_private *p;
    const char *init_name;
    const struct device_type *type;
    struct bus_type *bus;
    struct device_driver *driver;
    void *platform_data;
    void *driver_data;
    struct device_node *of_node;
    dev_t devt;
    struct class_ *class_;  // the kernel's dev->class
    const struct attribute_group **groups;
    void (*release)(struct device *dev);
};

struct device_attribute {
    struct attribute attr;
    ssize_t (*show)(struct device *dev, struct device_attribute *attr, char *buf);
    ssize_t (*store)(struct device *dev, struct device_attribute *attr, const char *buf,
                     size_t count);
};

#define DEVICE_ATTR(_name, _mode, _show, _store) \
    struct device_attribute dev_attr_##_name = __ATTR(_name, _mode, _show, _store)
#define DEVICE_ATTR_RW(_name) struct device_attribute dev_attr_##_name = __ATTR_RW(_name)
#define DEVICE_ATTR_RO(_name) struct device_attribute dev_attr_##_name = __ATTR_RO(_name)
#define DEVICE_ATTR_WO(_name) struct device_attribute dev_attr_##_name = __ATTR_WO(_name)

static inline struct device *kobj_to_dev(struct kobject *kobj) {
    return (struct device *)((char *)kobj - __builtin_offsetof(struct device, kobj));
}

typedef void (*dr_release_t)(struct device *dev, void *res);

extern "C" {
void device_initialize(struct device *dev);
__printf(2, 3) int dev_set_name(struct device *dev, const char *name, ...);
// 0, or -EINVAL (no name), -EEXIST (the name is taken where it goes), -ENOMEM.
int device_add(struct device *dev);
void device_del(struct device *dev);
int device_register(struct device *dev);
void device_unregister(struct device *dev);
struct device *get_device(struct device *dev);
void put_device(struct device *dev);
const char *dev_name(const struct device *dev);
int device_create_file(struct device *dev, const struct device_attribute *attr);
void device_remove_file(struct device *dev, const struct device_attribute *attr);
int device_for_each_child(struct device *dev, void *data, int (*fn)(struct device *, void *));

int bus_register(struct bus_type *bus);
void bus_unregister(struct bus_type *bus);

// Binding: attach a driver to a device by hand, or let it go.
int device_attach(struct device *dev);
void device_release_driver(struct device *dev);
int driver_register(struct device_driver *drv);
void driver_unregister(struct device_driver *drv);

struct class_ *__class_create(struct module *owner, const char *name, struct lock_class_key *key);
void class_destroy(struct class_ *cls);
int __class_register(struct class_ *cls, struct lock_class_key *key);
void class_unregister(struct class_ *cls);
// The first device of the class, after start, for which match returns nonzero, with a
// reference taken; null if none.
struct device *class_find_device(struct class_ *cls, struct device *start, const void *data,
                                 int (*match)(struct device *, const void *));
// Calls fn for each device of the class after start until it returns nonzero; that result.
int class_for_each_device(struct class_ *cls, struct device *start, void *data,
                          int (*fn)(struct device *, void *));
struct device *device_create(struct class_ *cls, struct device *parent, dev_t devt, void *drvdata,
                             const char *fmt, ...) __printf(5, 6);
void device_destroy(struct class_ *cls, dev_t devt);

// Device-managed resources: released in reverse order after the driver's remove, or after
// a failed probe.
void *devm_kmalloc(struct device *dev, size_t size, gfp_t gfp);
void devm_kfree(struct device *dev, const void *p);
char *devm_kstrdup(struct device *dev, const char *s, gfp_t gfp);
int devm_add_action(struct device *dev, void (*action)(void *), void *data);
void devm_remove_action(struct device *dev, void (*action)(void *), void *data);
void *__devres_alloc_node(dr_release_t release, size_t size, gfp_t gfp, int nid, const char *name);
void devres_add(struct device *dev, void *res);
void devres_free(void *res);

__printf(2, 3) void _dev_emerg(const struct device *dev, const char *fmt, ...);
__printf(2, 3) void _dev_err(const struct device *dev, const char *fmt, ...);
__printf(2, 3) void _dev_warn(const struct device *dev, const char *fmt, ...);
__printf(2, 3) void _dev_notice(const struct device *dev, const char *fmt, ...);
__printf(2, 3) void _dev_info(const struct device *dev, const char *fmt, ...);
}

static inline void *devm_kzalloc(struct device *dev, size_t size, gfp_t gfp) {
    return devm_kmalloc(dev, size, gfp | __GFP_ZERO);
}
static inline int devm_add_action_or_reset(struct device *dev, void (*action)(void *), void *data) {
    int ret = devm_add_action(dev, action, data);
    if (ret)
        action(data);
    return ret;
}
#define devres_alloc(release, size, gfp) __devres_alloc_node(release, size, gfp, -1, #release)

static inline void *dev_get_drvdata(const struct device *dev) {
    return dev->driver_data;
}
static inline void dev_set_drvdata(struct device *dev, void *data) {
    dev->driver_data = data;
}

#define class_create(owner, name) __class_create(owner, name, nullptr)

#ifndef dev_fmt
#define dev_fmt(fmt) fmt
#endif
#define dev_emerg(dev, fmt, ...) _dev_emerg(dev, dev_fmt(fmt), ##__VA_ARGS__)
#define dev_err(dev, fmt, ...) _dev_err(dev, dev_fmt(fmt), ##__VA_ARGS__)
#define dev_warn(dev, fmt, ...) _dev_warn(dev, dev_fmt(fmt), ##__VA_ARGS__)
#define dev_notice(dev, fmt, ...) _dev_notice(dev, dev_fmt(fmt), ##__VA_ARGS__)
#define dev_info(dev, fmt, ...) _dev_info(dev, dev_fmt(fmt), ##__VA_ARGS__)
