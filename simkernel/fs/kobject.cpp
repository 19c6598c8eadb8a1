// Real model: lib/kobject.c of 5.10 (reference counting, add with its -EEXIST report, cleanup
// on the last put) and the dynamic kobjects of kobject_create_and_add().
#include "simkernel/fs/fs_internal.h"
#include "simkernel/fs/sysfs_internal.h"
#include "simkernel/kernel/fault.h"
#include "simkernel/kernel/module_owner.h"

#include <platform/err.h>
#include <platform/errno.h>
#include <platform/printk.h>
#include <platform/slab.h>
#include <platform/string.h>

#include <cassert>

namespace sim::fs {
namespace {

void kobject_init_internal(struct kobject *kobj) {
    kobj->kref.refcount = 1;
    INIT_LIST_HEAD(&kobj->entry);
    kobj->state_in_sysfs = 0;
    kobj->state_add_uevent_sent = 0;
    kobj->state_remove_uevent_sent = 0;
    kobj->state_initialized = 1;
}

int populate_dir(struct kobject *kobj) {
    const struct kobj_type *t = kobj->ktype;
    if (t && t->default_attrs) {
        for (int i = 0; t->default_attrs[i]; i++) {
            int error = sysfs_create_file(kobj, t->default_attrs[i]);
            if (error)
                return error;
        }
    }
    return 0;
}

int create_dir(struct kobject *kobj) {
    int error = sysfs_create_dir(kobj);
    if (error)
        return error;
    error = populate_dir(kobj);
    if (!error && kobj->ktype)
        error = sysfs_create_groups(kobj, kobj->ktype->default_groups);
    if (error)
        sysfs_remove_dir(kobj);
    return error;
}

int kobject_add_internal(struct kobject *kobj, struct module *owner) {
    if (!kobj)
        return -ENOENT;
    if (!kobj->name || !kobj->name[0]) {
        warn("lib/kobject.c", "kobject_add_internal",
             "kobject: (%p): attempted to be registered with empty name!\n", kobj);
        return -EINVAL;
    }
    struct kobject *parent = kobject_get(kobj->parent);
    kobj->parent = parent;
    int error = create_dir(kobj);
    if (error) {
        kobject_put(parent);
        kobj->parent = nullptr;
        if (error == -EEXIST)
            pr_err(
                "%s failed for %s with -EEXIST, don't try to register things with the same "
                "name in the same directory.\n",
                "kobject_add_internal", kobject_name(kobj));
        else
            pr_err("%s failed for %s (error: %d parent: %s)\n", "kobject_add_internal",
                   kobject_name(kobj), error, parent ? kobject_name(parent) : "'none'");
        return error;
    }
    kobj->state_in_sysfs = 1;
    resource_add(owner, kobj, "kobject", kobject_name(kobj), [kobj] { kobject_put(kobj); });
    return 0;
}

int kobject_set_name_vargs(struct kobject *kobj, const char *fmt, va_list vargs) {
    if (kobj->name && !fmt)
        return 0;
    char *s = kvasprintf(GFP_KERNEL, fmt, vargs);
    if (!s)
        return -ENOMEM;
    // A name is a single path component.
    for (char *c = s; *c; c++)
        if (*c == '/')
            *c = '!';
    kfree(kobj->name);
    kobj->name = s;
    return 0;
}

int kobject_add_varg(struct kobject *kobj, struct kobject *parent, const char *fmt, va_list vargs,
                     struct module *owner) {
    int retval = kobject_set_name_vargs(kobj, fmt, vargs);
    if (retval) {
        pr_err("kobject: can not set name properly!\n");
        return retval;
    }
    kobj->parent = parent;
    return kobject_add_internal(kobj, owner);
}

int add(struct kobject *kobj, struct kobject *parent, const char *fmt, va_list args,
        struct module *owner) {
    if (!kobj)
        return -EINVAL;
    if (!kobj->state_initialized) {
        pr_err(
            "kobject '%s' (%p): tried to add an uninitialized object, something is seriously "
            "wrong.\n",
            kobject_name(kobj), kobj);
        return -EINVAL;
    }
    return kobject_add_varg(kobj, parent, fmt, args, owner);
}

void __kobject_del(struct kobject *kobj) {
    if (kobj->ktype)
        sysfs_remove_groups(kobj, kobj->ktype->default_groups);
    sysfs_remove_dir(kobj);
    kobj->state_in_sysfs = 0;
    kobj->parent = nullptr;
}

void kobject_cleanup(struct kobject *kobj) {
    struct kobject *parent = kobj->parent;
    const struct kobj_type *t = kobj->ktype;
    const char *name = kobj->name;

    resource_remove(kobj);
    if (kobj->state_in_sysfs)
        __kobject_del(kobj);
    else
        parent = nullptr;
    if (t && t->release)
        t->release(kobj);
    kfree(name);
    kobject_put(parent);
}

void dynamic_kobj_release(struct kobject *kobj) {
    kfree(kobj);
}

const struct kobj_type dynamic_kobj_ktype = {dynamic_kobj_release, &kobj_sysfs_ops, nullptr,
                                             nullptr};

struct kobject *create_and_add(const char *name, struct kobject *parent, struct module *owner) {
    if (fault_should_fail(fault_op::kobject_create_and_add, owner))
        return nullptr;
    auto *kobj = static_cast<struct kobject *>(kzalloc(sizeof(struct kobject), GFP_KERNEL));
    if (!kobj)
        return nullptr;
    kobject_init(kobj, &dynamic_kobj_ktype);
    char *s = kstrdup(name, GFP_KERNEL);
    if (!s) {
        kobject_put(kobj);
        return nullptr;
    }
    kobj->name = s;
    kobj->parent = parent;
    if (kobject_add_internal(kobj, owner)) {
        kobject_put(kobj);
        return nullptr;
    }
    return kobj;
}

}  // namespace
}  // namespace sim::fs

using namespace sim::fs;

extern "C" {

struct kobject *kernel_kobj;
struct kobject *fs_kobj;

// Visible by name: a bad count from show is reported with the routine's symbol.
ssize_t kobj_attr_show(struct kobject *kobj, struct attribute *attr, char *buf) {
    struct kobj_attribute *kattr = container_of(attr, struct kobj_attribute, attr);
    ssize_t ret = -EIO;
    if (kattr->show)
        ret = kattr->show(kobj, kattr, buf);
    return ret;
}

ssize_t kobj_attr_store(struct kobject *kobj, struct attribute *attr, const char *buf,
                        size_t count) {
    struct kobj_attribute *kattr = container_of(attr, struct kobj_attribute, attr);
    ssize_t ret = -EIO;
    if (kattr->store)
        ret = kattr->store(kobj, kattr, buf, count);
    return ret;
}

const struct sysfs_ops kobj_sysfs_ops = {
    .show = kobj_attr_show,
    .store = kobj_attr_store,
};

void kobject_init(struct kobject *kobj, const struct kobj_type *ktype) {
    const char *err_str;
    if (!kobj) {
        err_str = "invalid kobject pointer!";
        goto error;
    }
    if (!ktype) {
        err_str = "must have a ktype to be initialized properly!\n";
        goto error;
    }
    if (kobj->state_initialized) {
        pr_err(
            "kobject (%p): tried to init an initialized object, something is seriously "
            "wrong.\n",
            kobj);
    }
    kobject_init_internal(kobj);
    kobj->ktype = ktype;
    return;
error:
    pr_err("kobject (%p): %s\n", kobj, err_str);
}

int kobject_add(struct kobject *kobj, struct kobject *parent, const char *fmt, ...) {
    va_list args;
    va_start(args, fmt);
    int retval = add(kobj, parent, fmt, args, SIM_CALLER_MODULE());
    va_end(args);
    return retval;
}

int kobject_init_and_add(struct kobject *kobj, const struct kobj_type *ktype,
                         struct kobject *parent, const char *fmt, ...) {
    struct module *owner = SIM_CALLER_MODULE();
    kobject_init(kobj, ktype);
    va_list args;
    va_start(args, fmt);
    int retval = add(kobj, parent, fmt, args, owner);
    va_end(args);
    return retval;
}

int kobject_set_name(struct kobject *kobj, const char *fmt, ...) {
    va_list vargs;
    va_start(vargs, fmt);
    int retval = kobject_set_name_vargs(kobj, fmt, vargs);
    va_end(vargs);
    return retval;
}

struct kobject *kobject_create_and_add(const char *name, struct kobject *parent) {
    return create_and_add(name, parent, SIM_CALLER_MODULE());
}

struct kobject *kobject_get(struct kobject *kobj) {
    if (kobj) {
        if (!kobj->state_initialized)
            warn("lib/kobject.c", "kobject_get",
                 "kobject: '%s' (%p): is not initialized, yet kobject_get() is being called.\n",
                 kobject_name(kobj), kobj);
        __atomic_add_fetch(&kobj->kref.refcount, 1, __ATOMIC_RELAXED);
    }
    return kobj;
}

void kobject_put(struct kobject *kobj) {
    if (!kobj)
        return;
    if (!kobj->state_initialized)
        warn("lib/kobject.c", "kobject_put",
             "kobject: '%s' (%p): is not initialized, yet kobject_put() is being called.\n",
             kobject_name(kobj), kobj);
    int left = __atomic_sub_fetch(&kobj->kref.refcount, 1, __ATOMIC_ACQ_REL);
    if (left < 0) {
        warn("lib/kobject.c", "refcount_warn_saturate", "refcount_t: underflow; use-after-free.\n");
        return;
    }
    if (left == 0)
        kobject_cleanup(kobj);
}

void kobject_del(struct kobject *kobj) {
    if (!kobj)
        return;
    struct kobject *parent = kobj->parent;
    __kobject_del(kobj);
    kobject_put(parent);
}

char *kobject_get_path(struct kobject *kobj, gfp_t gfp_mask) {
    if (!kobj->sd)
        return nullptr;
    std::string p = kernfs_path(kobj->sd);
    char *path = static_cast<char *>(kmalloc(p.size() + 1, gfp_mask));
    if (path)
        memcpy(path, p.c_str(), p.size() + 1);
    return path;
}

}  // extern "C"
