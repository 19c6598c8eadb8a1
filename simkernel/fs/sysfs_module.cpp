// Real model: the top-level kobjects of sysfs and a loaded module's /sys/module/<name>
// directory (kernel/params.c, kernel/module.c mod_sysfs_init()); module attributes of their
// own (initstate, refcnt, parameters) are not modelled and trap.
#include "simkernel/fs/sysfs_module.h"

#include "simkernel/fs/fs_internal.h"
#include "simkernel/fs/sysfs_dirs.h"
#include "simkernel/fs/sysfs_internal.h"

#include <platform/errno.h>
#include <platform/kobject.h>
#include <platform/module.h>
#include <platform/printk.h>

#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sim {
namespace {

struct kobject *devices_kobj, *bus_kobj, *class_kobj, *module_kobj;

ssize_t module_attr_show(struct kobject *kobj, struct attribute *attr, char *) {
    fprintf(stderr, "sysfs: module attribute %s/%s is not modelled\n", kobject_name(kobj),
            attr->name);
    abort();
}

ssize_t module_attr_store(struct kobject *kobj, struct attribute *attr, const char *, size_t) {
    fprintf(stderr, "sysfs: module attribute %s/%s is not modelled\n", kobject_name(kobj),
            attr->name);
    abort();
}

const struct sysfs_ops module_sysfs_ops = {
    .show = module_attr_show,
    .store = module_attr_store,
};

// The module record outlives its kobject: nothing to free.
void module_kobj_release(struct kobject *) {}

const struct kobj_type module_ktype = {module_kobj_release, &module_sysfs_ops, nullptr, nullptr};

struct kobject *top(const char *name) {
    struct kobject *kobj = kobject_create_and_add(name, nullptr);
    assert(kobj && "cannot create a top-level sysfs directory");
    return kobj;
}

}  // namespace

namespace fs {

void kobjects_boot() {
    devices_kobj = top("devices");
    bus_kobj = top("bus");
    class_kobj = top("class");
    fs_kobj = top("fs");
    kernel_kobj = top("kernel");
    module_kobj = top("module");
}

void kobjects_shutdown() {
    for (struct kobject **k :
         {&module_kobj, &kernel_kobj, &fs_kobj, &class_kobj, &bus_kobj, &devices_kobj}) {
        kobject_put(*k);
        *k = nullptr;
    }
}

}  // namespace fs

struct kobject *sysfs_devices_kobj() {
    return devices_kobj;
}
struct kobject *sysfs_bus_kobj() {
    return bus_kobj;
}
struct kobject *sysfs_class_kobj() {
    return class_kobj;
}
struct kobject *sysfs_module_kobj() {
    return module_kobj;
}

int module_sysfs_add(struct module *mod) {
    if (fs::Dir *dir = dynamic_cast<fs::Dir *>(module_kobj->sd->node); dir->lookup(mod->name)) {
        pr_err("%s: module is already loaded\n", mod->name);
        return -EINVAL;
    }
    mod->mkobj.mod = mod;
    memset(&mod->mkobj.kobj, 0, sizeof(mod->mkobj.kobj));
    mod->mkobj.drivers_dir = nullptr;
    int err = kobject_init_and_add(&mod->mkobj.kobj, &module_ktype, module_kobj, "%s", mod->name);
    if (err)
        kobject_put(&mod->mkobj.kobj);
    return err;
}

void module_sysfs_remove(struct module *mod) {
    struct kobject *kobj = &mod->mkobj.kobj;
    if (mod->mkobj.drivers_dir) {
        kobject_put(mod->mkobj.drivers_dir);
        mod->mkobj.drivers_dir = nullptr;
    }
    kobject_del(kobj);
    if (__atomic_load_n(&kobj->kref.refcount, __ATOMIC_ACQUIRE) != 1)
        pr_err("%s: module kobject still referenced at unload\n", mod->name);
    kobject_put(kobj);
}

}  // namespace sim
