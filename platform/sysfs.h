// sysfs attributes and groups (include/linux/sysfs.h, fs/sysfs/): the files of a kobject's
// directory, read through show and written through store of the kobject's sysfs_ops.
#pragma once

#include <platform/compiler.h>
#include <platform/stat.h>

struct kobject;
struct bin_attribute;

#ifndef __stringify
#define __stringify_1(x...) #x
#define __stringify(x...) __stringify_1(x)
#endif

struct attribute {
    const char *name;
    umode_t mode;
};

struct attribute_group {
    // A named group is a subdirectory of the kobject's directory.
    const char *name;
    // The mode for attribute number n, or 0 to leave it out.
    umode_t (*is_visible)(struct kobject *, struct attribute *, int);
    umode_t (*is_bin_visible)(struct kobject *, struct bin_attribute *, int);
    struct attribute **attrs;
    struct bin_attribute **bin_attrs;
};

struct sysfs_ops {
    ssize_t (*show)(struct kobject *, struct attribute *, char *);
    ssize_t (*store)(struct kobject *, struct attribute *, const char *, size_t);
};

// Marks an attribute whose buffer is allocated at open.
#define SYSFS_PREALLOC 010000

#define VERIFY_OCTAL_PERMISSIONS(perms) (perms)

#define __ATTR(_name, _mode, _show, _store)                                            \
    {                                                                                  \
        .attr = {.name = __stringify(_name), .mode = VERIFY_OCTAL_PERMISSIONS(_mode)}, \
        .show = _show, .store = _store,                                                \
    }
#define __ATTR_RO_MODE(_name, _mode)                                                   \
    {                                                                                  \
        .attr = {.name = __stringify(_name), .mode = VERIFY_OCTAL_PERMISSIONS(_mode)}, \
        .show = _name##_show,                                                          \
    }
#define __ATTR_RO(_name) \
    { .attr = {.name = __stringify(_name), .mode = 0444}, .show = _name##_show, }
#define __ATTR_WO(_name) \
    { .attr = {.name = __stringify(_name), .mode = 0200}, .store = _name##_store, }
#define __ATTR_RW(_name) __ATTR(_name, 0644, _name##_show, _name##_store)
#define __ATTR_NULL             \
    {                           \
        .attr = {.name = NULL } \
    }

#define __ATTRIBUTE_GROUPS(_name)                             \
    static const struct attribute_group *_name##_groups[] = { \
        &_name##_group,                                       \
        NULL,                                                 \
    }
#define ATTRIBUTE_GROUPS(_name)                           \
    static const struct attribute_group _name##_group = { \
        .attrs = _name##_attrs,                           \
    };                                                    \
    __ATTRIBUTE_GROUPS(_name)

extern "C" {
int sysfs_create_group(struct kobject *kobj, const struct attribute_group *grp);
void sysfs_remove_group(struct kobject *kobj, const struct attribute_group *grp);
int sysfs_create_groups(struct kobject *kobj, const struct attribute_group **groups);
void sysfs_remove_groups(struct kobject *kobj, const struct attribute_group **groups);
int sysfs_create_file_ns(struct kobject *kobj, const struct attribute *attr, const void *ns);
void sysfs_remove_file_ns(struct kobject *kobj, const struct attribute *attr, const void *ns);
// A symbolic link name in kobj's directory that points to target's directory.
int sysfs_create_link(struct kobject *kobj, struct kobject *target, const char *name);
void sysfs_remove_link(struct kobject *kobj, const char *name);

// Formats into a show routine's page-aligned buffer, never past the page; the length written.
__printf(2, 3) int sysfs_emit(char *buf, const char *fmt, ...);
__printf(3, 4) int sysfs_emit_at(char *buf, int at, const char *fmt, ...);
}

static inline int sysfs_create_file(struct kobject *kobj, const struct attribute *attr) {
    return sysfs_create_file_ns(kobj, attr, nullptr);
}

static inline void sysfs_remove_file(struct kobject *kobj, const struct attribute *attr) {
    sysfs_remove_file_ns(kobj, attr, nullptr);
}
