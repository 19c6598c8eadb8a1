// Kernel objects (include/linux/kobject.h, kref.h): reference-counted nodes of sysfs.
#pragma once

#include <platform/list.h>

struct kernfs_node;
struct kset;
struct kobj_type;
struct attribute;
struct sysfs_ops;

struct kref {
    int refcount;
};

struct kobject {
    const char *name;
    struct list_head entry;
    struct kobject *parent;
    struct kset *kset;
    const struct kobj_type *ktype;
    struct kernfs_node *sd;  // the directory in sysfs
    struct kref kref;
    unsigned int state_initialized : 1;
    unsigned int state_in_sysfs : 1;
};

struct kobj_type {
    void (*release)(struct kobject *kobj);
    const struct sysfs_ops *sysfs_ops;
    struct attribute **default_attrs;
};

enum kobject_action {
    KOBJ_ADD,
    KOBJ_REMOVE,
    KOBJ_CHANGE,
    KOBJ_MOVE,
    KOBJ_ONLINE,
    KOBJ_OFFLINE,
    KOBJ_BIND,
    KOBJ_UNBIND,
};

extern "C" {
// The kobjects of /sys/kernel, /sys/fs and friends, for modules that hang directories there.
extern struct kobject *kernel_kobj;
extern struct kobject *fs_kobj;

struct kobject *kobject_create_and_add(const char *name, struct kobject *parent);
struct kobject *kobject_get(struct kobject *kobj);
void kobject_put(struct kobject *kobj);
void kobject_del(struct kobject *kobj);
}

static inline const char *kobject_name(const struct kobject *kobj) { return kobj->name; }
