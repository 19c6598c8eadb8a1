// Kernel objects (include/linux/kobject.h, kref.h, lib/kobject.c): reference-counted nodes of
// sysfs. A kobject added to sysfs is a directory; its attributes are files read and written
// through its ktype's sysfs_ops. The last kobject_put() removes the directory with everything
// in it and calls the ktype's release.
#pragma once

#include <platform/compiler.h>
#include <platform/list.h>
#include <platform/sysfs.h>

struct kernfs_node;
struct kset;

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
    unsigned int state_add_uevent_sent : 1;
    unsigned int state_remove_uevent_sent : 1;
    unsigned int uevent_suppress : 1;
};

struct kobj_type {
    void (*release)(struct kobject *kobj);
    const struct sysfs_ops *sysfs_ops;
    struct attribute **default_attrs;
    const struct attribute_group **default_groups;
};

// The attribute type of kobjects made by kobject_create_and_add() (kobj_sysfs_ops).
struct kobj_attribute {
    struct attribute attr;
    ssize_t (*show)(struct kobject *kobj, struct kobj_attribute *attr, char *buf);
    ssize_t (*store)(struct kobject *kobj, struct kobj_attribute *attr, const char *buf,
                     size_t count);
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

#define UEVENT_NUM_ENVP 64
#define UEVENT_BUFFER_SIZE 2048

// The environment of one uevent as it is built: "KEY=value" strings in buf.
struct kobj_uevent_env {
    char *argv[3];
    char *envp[UEVENT_NUM_ENVP];
    int envp_idx;
    char buf[UEVENT_BUFFER_SIZE];
    int buflen;
};

struct kset_uevent_ops {
    int (*filter)(struct kset *kset, struct kobject *kobj);
    const char *(*name)(struct kset *kset, struct kobject *kobj);
    int (*uevent)(struct kset *kset, struct kobject *kobj, struct kobj_uevent_env *env);
};

// A group of kobjects that share a subsystem: the top kset above a kobject names its uevents'
// subsystem and adds their variables.
struct kset {
    struct kobject kobj;
    const struct kset_uevent_ops *uevent_ops;
};

extern "C" {
// The kobjects of /sys/kernel and /sys/fs, for modules that hang directories there.
extern struct kobject *kernel_kobj;
extern struct kobject *fs_kobj;

extern const struct sysfs_ops kobj_sysfs_ops;

// A directory name under parent (null: /sys); null on failure.
struct kobject *kobject_create_and_add(const char *name, struct kobject *parent);
void kobject_init(struct kobject *kobj, const struct kobj_type *ktype);
__printf(3, 4) int kobject_add(struct kobject *kobj, struct kobject *parent, const char *fmt, ...);
__printf(4, 5) int kobject_init_and_add(struct kobject *kobj, const struct kobj_type *ktype,
                                        struct kobject *parent, const char *fmt, ...);
__printf(2, 3) int kobject_set_name(struct kobject *kobj, const char *name, ...);
struct kobject *kobject_get(struct kobject *kobj);
void kobject_put(struct kobject *kobj);
// Removes the directory now; the object lives on until its last reference is put.
void kobject_del(struct kobject *kobj);
// "/module/vmassist/zomd": the path below /sys, kmalloc'ed (kfree it); null on failure.
char *kobject_get_path(struct kobject *kobj, gfp_t flag);

// Sends a uevent for kobj with the standard variables (ACTION, DEVPATH, SUBSYSTEM and what
// the object's subsystem adds), then envp_ext's strings, then SEQNUM. 0, or -ENOMEM when the
// environment would pass 64 variables or 2048 bytes (nothing is sent), -ENOENT for an object
// without a subsystem.
int kobject_uevent_env(struct kobject *kobj, enum kobject_action action, char *envp_ext[]);
int kobject_uevent(struct kobject *kobj, enum kobject_action action);
// Appends "KEY=value" to env; -ENOMEM when it does not fit.
__printf(2, 3) int add_uevent_var(struct kobj_uevent_env *env, const char *format, ...);
}

static inline const char *kobject_name(const struct kobject *kobj) {
    return kobj->name;
}
