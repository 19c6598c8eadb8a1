// Real model: the top-level kobjects of sysfs and a loaded module's /sys/module/<name>
// directory (kernel/params.c, kernel/module.c mod_sysfs_setup()): initstate, refcnt, coresize
// and taint, holders/ with a link per module using this one, and parameters/ with a file per
// parameter that has permissions, read and written through the parameter's operations.
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
#include <map>
#include <mutex>
#include <vector>

#include <platform/moduleparam.h>
#include <platform/slab.h>

namespace sim {
namespace {

struct kobject *devices_kobj, *bus_kobj, *class_kobj, *module_kobj;

// struct module_attribute of the kernel; a parameter's also names its kernel_param.
struct module_attribute {
    struct attribute attr;
    ssize_t (*show)(struct module *mod, const struct kernel_param *kp, char *buf);
    ssize_t (*store)(struct module *mod, const struct kernel_param *kp, const char *buf,
                     size_t count);
    const struct kernel_param *param;
};

// What the loader knows of a module that its attributes show.
struct ModuleSysfs {
    size_t core_size = 0;
    bool proprietary = false;
    struct kobject *holders = nullptr, *parameters = nullptr;
    std::vector<module_attribute> params;
};
std::mutex sysfs_state_lock;
std::map<const struct module *, ModuleSysfs> sysfs_state;

ModuleSysfs &state_of(const struct module *mod) {
    std::lock_guard g(sysfs_state_lock);
    return sysfs_state[mod];
}

ssize_t show_initstate(struct module *mod, const struct kernel_param *, char *buf) {
    const char *state = "unknown";
    switch (__atomic_load_n(&mod->state, __ATOMIC_ACQUIRE)) {
        case MODULE_STATE_LIVE:
            state = "live";
            break;
        case MODULE_STATE_COMING:
            state = "coming";
            break;
        case MODULE_STATE_GOING:
            state = "going";
            break;
        case MODULE_STATE_UNFORMED:
            break;
    }
    return sprintf(buf, "%s\n", state);
}

ssize_t show_refcnt(struct module *mod, const struct kernel_param *, char *buf) {
    return sprintf(buf, "%i\n", module_refcount(mod));
}

ssize_t show_coresize(struct module *mod, const struct kernel_param *, char *buf) {
    return sprintf(buf, "%zu\n", state_of(mod).core_size);
}

ssize_t show_taint(struct module *mod, const struct kernel_param *, char *buf) {
    return sprintf(buf, "%s\n", state_of(mod).proprietary ? "P" : "");
}

ssize_t param_attr_show(struct module *, const struct kernel_param *kp, char *buf) {
    return kp->ops->get ? kp->ops->get(buf, kp) : -EPERM;
}

ssize_t param_attr_store(struct module *, const struct kernel_param *kp, const char *buf,
                         size_t count) {
    if (!kp->ops->set)
        return -EPERM;
    int err = kp->ops->set(buf, kp);
    return err ? err : (ssize_t)count;
}

module_attribute modinfo_attrs[] = {
    {{"initstate", 0444}, show_initstate, nullptr, nullptr},
    {{"refcnt", 0444}, show_refcnt, nullptr, nullptr},
    {{"coresize", 0444}, show_coresize, nullptr, nullptr},
    {{"taint", 0444}, show_taint, nullptr, nullptr},
};

const struct kobj_type &module_ktype_ref();

struct module *module_of_kobj(struct kobject *kobj) {
    // The module's own directory, or its parameters/ directory below it.
    if (kobj->ktype != &module_ktype_ref())
        kobj = kobj->parent;
    return container_of(kobj, struct module_kobject, kobj)->mod;
}

ssize_t module_attr_show(struct kobject *kobj, struct attribute *attr, char *buf) {
    auto *a = container_of(attr, module_attribute, attr);
    return a->show ? a->show(module_of_kobj(kobj), a->param, buf) : -EIO;
}

ssize_t module_attr_store(struct kobject *kobj, struct attribute *attr, const char *buf,
                          size_t count) {
    auto *a = container_of(attr, module_attribute, attr);
    return a->store ? a->store(module_of_kobj(kobj), a->param, buf, count) : -EIO;
}

const struct sysfs_ops module_sysfs_ops = {
    .show = module_attr_show,
    .store = module_attr_store,
};

// The module record outlives its kobject: nothing to free.
void module_kobj_release(struct kobject *) {}

const struct kobj_type module_ktype = {module_kobj_release, &module_sysfs_ops, nullptr, nullptr};
const struct kobj_type param_dir_ktype = {[](struct kobject *kobj) { kfree(kobj); },
                                          &module_sysfs_ops, nullptr, nullptr};

const struct kobj_type &module_ktype_ref() {
    return module_ktype;
}

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

int module_sysfs_add(struct module *mod, const struct kernel_param *kp, size_t num_params,
                     size_t core_size, bool proprietary) {
    if (fs::Dir *dir = dynamic_cast<fs::Dir *>(module_kobj->sd->node); dir->lookup(mod->name)) {
        pr_err("%s: module is already loaded\n", mod->name);
        return -EINVAL;
    }
    mod->mkobj.mod = mod;
    memset(&mod->mkobj.kobj, 0, sizeof(mod->mkobj.kobj));
    mod->mkobj.drivers_dir = nullptr;
    int err = kobject_init_and_add(&mod->mkobj.kobj, &module_ktype, module_kobj, "%s", mod->name);
    if (err) {
        kobject_put(&mod->mkobj.kobj);
        return err;
    }
    ModuleSysfs &st = state_of(mod);
    st.core_size = core_size;
    st.proprietary = proprietary;
    for (const module_attribute &a : modinfo_attrs)
        if ((err = sysfs_create_file(&mod->mkobj.kobj, &a.attr)))
            goto fail;
    st.holders = kobject_create_and_add("holders", &mod->mkobj.kobj);
    if (!st.holders) {
        err = -ENOMEM;
        goto fail;
    }
    // Only parameters with permissions show; the attributes must not move once made.
    st.params.reserve(num_params);
    for (size_t i = 0; i < num_params; i++) {
        if (!kp[i].perm)
            continue;
        if (!st.parameters) {
            st.parameters =
                static_cast<struct kobject *>(kzalloc(sizeof(struct kobject), GFP_KERNEL));
            if (!st.parameters) {
                err = -ENOMEM;
                goto fail;
            }
            if ((err = kobject_init_and_add(st.parameters, &param_dir_ktype, &mod->mkobj.kobj,
                                            "parameters"))) {
                kobject_put(st.parameters);
                st.parameters = nullptr;
                goto fail;
            }
        }
        st.params.push_back({{kp[i].name, (umode_t)kp[i].perm},
                             param_attr_show,
                             (kp[i].perm & 0222) ? param_attr_store : nullptr,
                             &kp[i]});
        if ((err = sysfs_create_file(st.parameters, &st.params.back().attr)))
            goto fail;
    }
    return 0;
fail:
    module_sysfs_remove(mod);
    return err;
}

void module_sysfs_link_holder(struct module *used, struct module *user) {
    if (struct kobject *holders = state_of(used).holders)
        sysfs_create_link(holders, &user->mkobj.kobj, user->name);
}

void module_sysfs_unlink_holder(struct module *used, struct module *user) {
    if (struct kobject *holders = state_of(used).holders)
        sysfs_remove_link(holders, user->name);
}

void module_sysfs_remove(struct module *mod) {
    struct kobject *kobj = &mod->mkobj.kobj;
    ModuleSysfs st;
    {
        std::lock_guard g(sysfs_state_lock);
        auto it = sysfs_state.find(mod);
        if (it != sysfs_state.end()) {
            st = std::move(it->second);
            sysfs_state.erase(it);
        }
    }
    if (st.parameters) {
        kobject_del(st.parameters);
        kobject_put(st.parameters);
    }
    if (st.holders) {
        kobject_del(st.holders);
        kobject_put(st.holders);
    }
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
