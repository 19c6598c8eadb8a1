// A class of devices registered by name, shared by the charging stack's class modules (each
// keeps its own class, lock and records: this header only spares them writing the same code).
// D is the class's public device: a struct with `dev`, `name`, `ops` and `driver_data`.
//
// Users look a device up by name once and keep the handle, so a device's memory must outlive
// its unregistration: its release parks the record on the retired list, and the module frees
// the list when it unloads (which the users' references prevent before they are done).
#pragma once

#include <platform/device.h>
#include <platform/err.h>
#include <platform/errno.h>
#include <platform/list.h>
#include <platform/slab.h>
#include <platform/spinlock.h>
#include <platform/string.h>

struct named_class {
    struct class_ *cls;
    // Guards every device's ops against its unregistration (operations do not sleep: callers
    // may be in atomic context, as the power-supply chain is), and the retired list.
    spinlock_t *lock;
    struct list_head *retired;
};

template <typename D>
struct named_class_record {
    D d;
    struct list_head retired;
    char name[32];  // outlives the device's own name, which goes with its release
};

// For the device's release: parks its record until the module unloads.
template <typename D>
static inline void named_class_retire(struct named_class *nc, struct device *dev) {
    struct named_class_record<D> *rec = container_of(dev, struct named_class_record<D>, d.dev);

    spin_lock(nc->lock);
    list_add_tail(&rec->retired, nc->retired);
    spin_unlock(nc->lock);
}

static inline int named_class_match_name(struct device *dev, const void *data) {
    return strcmp(dev_name(dev), (const char *)data) == 0;
}

// Null when no device of that name is registered. The reference is dropped at once: the
// handle stays valid until the module unloads.
template <typename D>
static inline D *named_class_find(struct named_class *nc, const char *name) {
    struct device *dev;

    if (!name)
        return nullptr;
    dev = class_find_device(nc->cls, nullptr, name, named_class_match_name);
    if (!dev)
        return nullptr;
    put_device(dev);
    return container_of(dev, D, dev);
}

// An error pointer on failure.
template <typename D, typename Ops>
static inline D *named_class_register(struct named_class *nc, const char *name,
                                      struct device *parent, void *driver_data, const Ops *ops,
                                      void (*release)(struct device *dev)) {
    struct named_class_record<D> *rec;
    int ret;

    if (!name)
        return (D *)ERR_PTR(-EINVAL);
    rec = (struct named_class_record<D> *)kzalloc(sizeof(*rec), GFP_KERNEL);
    if (!rec)
        return (D *)ERR_PTR(-ENOMEM);
    INIT_LIST_HEAD(&rec->retired);
    device_initialize(&rec->d.dev);
    rec->d.dev.class_ = nc->cls;
    rec->d.dev.parent = parent;
    rec->d.dev.release = release;
    dev_set_name(&rec->d.dev, "%s", name);
    snprintf(rec->name, sizeof(rec->name), "%s", name);
    rec->d.name = rec->name;
    rec->d.driver_data = driver_data;
    rec->d.ops = ops;
    ret = device_add(&rec->d.dev);
    if (ret) {
        put_device(&rec->d.dev);
        return (D *)ERR_PTR(ret);
    }
    return &rec->d;
}

// Drops the device's operations under the lock first, so that a caller holding the handle
// sees either the driver's operations or none.
template <typename D>
static inline void named_class_unregister(struct named_class *nc, D *d) {
    if (IS_ERR_OR_NULL(d))
        return;
    spin_lock(nc->lock);
    d->ops = nullptr;
    d->driver_data = nullptr;
    spin_unlock(nc->lock);
    device_unregister(&d->dev);
}

// At module exit: destroys the class and frees every retired record.
template <typename D>
static inline void named_class_destroy(struct named_class *nc) {
    struct named_class_record<D> *rec, *tmp;

    class_destroy(nc->cls);
    list_for_each_entry_safe(rec, tmp, nc->retired, retired) kfree(rec);
}
