// Module loader (kernel/module.c): insmod, rmmod, lsmod over shared objects. A real model of
// load_module(), do_init_module(), delete_module(), symbol resolution with GPL-only exports,
// module use and reference counting, and the proprietary-licence taint.
#include "simkernel/kernel/module_loader.h"

#include "simkernel/fs/sysfs_module.h"
#include "simkernel/kernel/module_elf.h"
#include "simkernel/kernel/module_owner.h"
#include "simkernel/kernel/module_params.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

// After the standard headers: platform/compiler.h defines attribute macros libstdc++ uses.
#include <platform/errno.h>
#include <platform/module.h>
#include <platform/printk.h>

// The loader's record of a module; struct module points at it (sim_host).
struct sim_module_host {
    struct Export {
        std::string name;
        const void *value;
        bool gpl_only;
    };
    std::string name, path;
    sim::ModuleImage img;
    void *handle = nullptr;
    // The extra reference dlopen(RTLD_NOLOAD | RTLD_GLOBAL) took when an importer needed this
    // module's exports in the global scope.
    void *global_handle = nullptr;
    struct module *mod = nullptr;
    size_t size = 0;
    bool proprietary = false;
    // MODULE_REF_BASE plus pins plus users, as the kernel counts mod->refcnt.
    std::atomic<int> refcnt{1};
    std::vector<sim_module_host *> uses;   // target_list: modules this one takes symbols from
    std::vector<sim_module_host *> users;  // source_list: modules taking symbols from this one
    std::vector<Export> exports;
};

namespace sim {
namespace {

constexpr int MODULE_REF_BASE = 1;

// Serialises whole loads and unloads (init and exit routines run under it).
std::mutex module_mutex;
// Guards the table below, which try_module_get() and module_list() read while a module's init
// routine runs.
std::mutex table_lock;
std::vector<std::unique_ptr<sim_module_host>> modules;  // in load order
std::string dir;
bool tainted_proprietary, debug_locks = true;

module_state state_of(const struct module *mod) {
    return __atomic_load_n(&mod->state, __ATOMIC_ACQUIRE);
}
void set_state(struct module *mod, module_state s) {
    __atomic_store_n(&mod->state, s, __ATOMIC_RELEASE);
}

sim_module_host *find_locked(std::string_view name) {
    for (auto &m : modules)
        if (m->name == name)
            return m.get();
    return nullptr;
}

// license_is_gpl_compatible() of include/linux/license.h.
bool license_is_gpl_compatible(const std::string &license) {
    static const char *const compatible[] = {
        "GPL",          "GPL v2",       "GPL and additional rights",
        "Dual BSD/GPL", "Dual MIT/GPL", "Dual MPL/GPL"};
    return std::any_of(std::begin(compatible), std::end(compatible),
                       [&](const char *l) { return license == l; });
}

// set_license(): taints the kernel the first time a proprietary module comes along.
void set_license(sim_module_host *m) {
    std::string license = modinfo_get(m->img, "license");
    if (license.empty())
        license = "unspecified";
    if (license_is_gpl_compatible(license))
        return;
    m->proprietary = true;
    if (!tainted_proprietary)
        printk(KERN_WARNING "%s: module license '%s' taints kernel.\n", m->name.c_str(),
               license.c_str());
    tainted_proprietary = true;
    if (debug_locks) {
        debug_locks = false;
        printk(KERN_WARNING "Disabling lock debugging due to kernel taint\n");
    }
}

std::string resolve_path(const std::string &arg) {
    if (arg.find('/') != std::string::npos)
        return arg;
    std::lock_guard g(table_lock);
    return dir + "/" + (arg.ends_with(".ko") ? arg : arg + ".ko");
}

const sim_module_host::Export *find_export_locked(const std::string &sym, sim_module_host **owner) {
    for (auto &m : modules) {
        if (state_of(m->mod) == MODULE_STATE_UNFORMED)
            continue;
        for (const auto &e : m->exports)
            if (e.name == sym) {
                *owner = m.get();
                return &e;
            }
    }
    return nullptr;
}

// ref_module(): the first symbol a module takes from another pins that other module.
int ref_module(sim_module_host *a, sim_module_host *b) {
    if (std::find(a->uses.begin(), a->uses.end(), b) != a->uses.end())
        return 0;
    if (state_of(b->mod) == MODULE_STATE_COMING)
        return -EBUSY;
    if (!try_module_get(b->mod))
        return -ENOENT;
    a->uses.push_back(b);
    b->users.push_back(a);
    return 0;
}

void drop_uses_locked(sim_module_host *a) {
    for (sim_module_host *b : a->uses) {
        // A load that failed before the importer's descriptor was found has no holder link.
        if (a->mod)
            module_sysfs_unlink_holder(b->mod, a->mod);
        std::erase(b->users, a);
        module_put(b->mod);
    }
    a->uses.clear();
}

// simplify_symbols(): every import must be a loaded module's export the importer may use, or a
// symbol of the kernel itself. Reports each unresolved symbol; returns the last error.
int simplify_symbols(sim_module_host *m) {
    int ret = 0;
    std::lock_guard g(table_lock);
    for (const std::string &sym : m->img.imports) {
        sim_module_host *owner = nullptr;
        const sim_module_host::Export *e = find_export_locked(sym, &owner);
        int err;
        if (e) {
            // find_symbol() with gplok false does not see GPL-only exports at all.
            err = e->gpl_only && m->proprietary ? -ENOENT : ref_module(m, owner);
        } else {
            err = dlsym(RTLD_DEFAULT, sym.c_str()) ? 0 : -ENOENT;
        }
        if (err) {
            printk(KERN_WARNING "%s: Unknown symbol %s (err %d)\n", m->name.c_str(), sym.c_str(),
                   err);
            ret = err;
        }
    }
    if (ret)
        drop_uses_locked(m);
    return ret;
}

void read_exports(sim_module_host *m, uintptr_t load_base) {
    if (!m->img.ksymtab_size)
        return;
    auto *ks = reinterpret_cast<const kernel_symbol *>(load_base + m->img.ksymtab_addr);
    size_t n = m->img.ksymtab_size / sizeof(kernel_symbol);
    for (size_t i = 0; i < n; i++)
        m->exports.push_back({ks[i].name, ks[i].value, std::strcmp(ks[i].license, "GPL") == 0});
}

// verify_exported_symbols(): an export may not shadow the kernel's or another module's.
int verify_exported_symbols(sim_module_host *m) {
    std::lock_guard g(table_lock);
    for (const auto &e : m->exports) {
        sim_module_host *owner = nullptr;
        const char *owner_name = nullptr;
        if (find_export_locked(e.name, &owner))
            owner_name = owner->name.c_str();
        else if (dlsym(RTLD_DEFAULT, e.name.c_str()))
            owner_name = "kernel";
        if (owner_name) {
            printk(KERN_ERR "%s: exports duplicate symbol %s (owned by %s)\n", m->name.c_str(),
                   e.name.c_str(), owner_name);
            return -ENOEXEC;
        }
    }
    return 0;
}

// Makes the exporters an importer uses visible to the dynamic linker's global scope.
void promote_uses(sim_module_host *m) {
    for (sim_module_host *b : m->uses) {
        if (b->global_handle)
            continue;
        b->global_handle = dlopen(b->path.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_GLOBAL);
        if (!b->global_handle) {
            std::fprintf(stderr, "simkernel: cannot promote module %s: %s\n", b->name.c_str(),
                         dlerror());
            std::abort();
        }
    }
}

// Unmaps the object; loading it again must give fresh module-wide state.
void unmap(sim_module_host *m) {
    if (m->global_handle)
        dlclose(m->global_handle);
    dlclose(m->handle);
    if (void *still = dlopen(m->path.c_str(), RTLD_NOW | RTLD_NOLOAD)) {
        dlclose(still);
        std::fprintf(stderr, "simkernel: module %s is still mapped after dlclose()\n",
                     m->name.c_str());
        std::abort();
    }
}

std::unique_ptr<sim_module_host> remove_from_table(sim_module_host *m) {
    std::lock_guard g(table_lock);
    drop_uses_locked(m);
    auto it =
        std::find_if(modules.begin(), modules.end(), [m](const auto &p) { return p.get() == m; });
    std::unique_ptr<sim_module_host> owned = std::move(*it);
    modules.erase(it);
    return owned;
}

// free_module() after the module has been taken off the kernel's lists' users.
void free_module(sim_module_host *m, bool in_sysfs) {
    resource_release_all(m->mod);
    if (in_sysfs)
        module_sysfs_remove(m->mod);
    module_range_remove(m->mod);
    std::unique_ptr<sim_module_host> owned = remove_from_table(m);
    unmap(m);
}

std::string state_name(module_state s) {
    switch (s) {
        case MODULE_STATE_LIVE:
            return "Live";
        case MODULE_STATE_COMING:
            return "Loading";
        case MODULE_STATE_GOING:
            return "Unloading";
        case MODULE_STATE_UNFORMED:
            break;
    }
    return "Unformed";
}

}  // namespace

void module_set_dir(const std::string &d) {
    std::lock_guard g(table_lock);
    dir = d;
}

std::string module_dir() {
    std::lock_guard g(table_lock);
    return dir;
}

int module_read_info(const std::string &path,
                     std::vector<std::pair<std::string, std::string>> *info) {
    ModuleImage img;
    int err = module_image_read(resolve_path(path), &img);
    if (err)
        return err;
    *info = std::move(img.modinfo);
    return 0;
}

int module_load(const std::string &arg, std::string_view args) {
    std::lock_guard load(module_mutex);
    auto m = std::make_unique<sim_module_host>();
    m->path = resolve_path(arg);
    if (int err = module_image_read(m->path, &m->img))
        return err;
    m->name = modinfo_get(m->img, "name");
    if (m->name.empty() || m->name.size() >= MODULE_NAME_LEN) {
        printk(KERN_WARNING "%s: No module found in object\n",
               m->name.empty() ? "(missing .modinfo name field)" : m->name.c_str());
        return -ENOEXEC;
    }
    set_license(m.get());
    {
        // add_unformed_module(): the name is taken from here on.
        std::lock_guard g(table_lock);
        if (find_locked(m->name))
            return -EEXIST;
    }
    if (int err = simplify_symbols(m.get()))
        return err;

    promote_uses(m.get());
    m->handle = dlopen(m->path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m->handle) {
        printk(KERN_WARNING "%s: %s\n", m->name.c_str(), dlerror());
        std::lock_guard g(table_lock);
        drop_uses_locked(m.get());
        return -ENOEXEC;
    }
    struct link_map *lm = nullptr;
    dlinfo(m->handle, RTLD_DI_LINKMAP, &lm);
    m->mod = static_cast<struct module *>(dlsym(m->handle, "__this_module"));
    if (!m->mod || std::strncmp(m->mod->name, m->name.c_str(), MODULE_NAME_LEN) != 0) {
        printk(KERN_WARNING "%s: No module found in object\n", m->name.c_str());
        std::lock_guard g(table_lock);
        drop_uses_locked(m.get());
        dlclose(m->handle);
        return -ENOEXEC;
    }
    read_exports(m.get(), lm->l_addr);
    if (int err = verify_exported_symbols(m.get())) {
        std::lock_guard g(table_lock);
        drop_uses_locked(m.get());
        unmap(m.get());
        return err;
    }

    struct module *mod = m->mod;
    long page = sysconf(_SC_PAGESIZE);
    uint64_t begin = m->img.map_begin & ~uint64_t(page - 1);
    m->size = (m->img.map_end - begin + page - 1) & ~uint64_t(page - 1);
    INIT_LIST_HEAD(&mod->list);
    mod->sim_host = m.get();
    set_state(mod, MODULE_STATE_COMING);
    module_range_add(mod, reinterpret_cast<const void *>(lm->l_addr + begin), m->size);
    sim_module_host *host = m.get();
    {
        std::lock_guard g(table_lock);
        modules.push_back(std::move(m));
    }

    auto *kp = reinterpret_cast<const kernel_param *>(lm->l_addr + host->img.param_addr);
    if (int err =
            module_parse_args(mod->name, args, kp, host->img.param_size / sizeof(kernel_param))) {
        free_module(host, false);
        return err;
    }

    // mod_sysfs_setup(): /sys/module/<name> exists while init runs.
    if (int err = module_sysfs_add(mod, kp, host->img.param_size / sizeof(kernel_param), host->size,
                                   host->proprietary)) {
        free_module(host, false);
        return err;
    }
    // add_usage_links()
    for (sim_module_host *used : host->uses)
        module_sysfs_link_holder(used->mod, mod);

    // do_init_module(), in the loading task.
    int ret = mod->init ? mod->init() : 0;
    if (ret < 0) {
        set_state(mod, MODULE_STATE_GOING);
        free_module(host, true);
        return ret;
    }
    if (ret > 0)
        printk(KERN_WARNING
               "do_init_module: '%s'->init suspiciously returned %d, it should follow 0/-E "
               "convention\ndo_init_module: loading module anyway...\n",
               mod->name, ret);
    set_state(mod, MODULE_STATE_LIVE);
    return 0;
}

int module_unload(std::string_view name) {
    std::lock_guard load(module_mutex);
    sim_module_host *m;
    {
        std::lock_guard g(table_lock);
        m = find_locked(name);
        if (!m)
            return -ENOENT;
        // Other modules depend on us: get rid of them first. Android's kernel reports a module in
        // use as busy, which rmmod turns into "Module %s is in use".
        if (!m->users.empty())
            return -EBUSY;
    }
    struct module *mod = m->mod;
    if (state_of(mod) != MODULE_STATE_LIVE)
        return -EBUSY;
    // If it has an init routine, it must have an exit routine to unload.
    if (mod->init && !mod->exit)
        return -EBUSY;
    // try_release_module_ref(): only the base reference may be left.
    int expected = MODULE_REF_BASE;
    if (!m->refcnt.compare_exchange_strong(expected, 0))
        return -EBUSY;
    set_state(mod, MODULE_STATE_GOING);
    if (mod->exit)
        mod->exit();
    free_module(m, true);
    return 0;
}

std::vector<ModuleInfo> module_list() {
    std::lock_guard g(table_lock);
    std::vector<ModuleInfo> out;
    for (auto it = modules.rbegin(); it != modules.rend(); ++it) {
        const sim_module_host &m = **it;
        ModuleInfo info;
        info.name = m.name;
        info.path = m.path;
        info.size = m.size;
        info.refcount = std::max(0, m.refcnt.load() - MODULE_REF_BASE);
        for (const sim_module_host *u : m.users)
            info.used_by.push_back(u->name);
        info.state = state_name(state_of(m.mod));
        info.taints = m.proprietary ? "P" : "";
        info.license = modinfo_get(m.img, "license");
        info.description = modinfo_get(m.img, "description");
        info.softdeps = modinfo_get_all(m.img, "softdep");
        info.devtables = modinfo_get_all(m.img, "devtable");
        out.push_back(std::move(info));
    }
    return out;
}

struct module *module_find(std::string_view name) {
    std::lock_guard g(table_lock);
    sim_module_host *m = find_locked(name);
    return m ? m->mod : nullptr;
}

void *module_symbol_get(std::string_view sym) {
    std::lock_guard g(table_lock);
    sim_module_host *owner = nullptr;
    const sim_module_host::Export *e = find_export_locked(std::string(sym), &owner);
    if (!e || !try_module_get(owner->mod))
        return nullptr;
    return const_cast<void *>(e->value);
}

void module_symbol_put(std::string_view sym) {
    std::lock_guard g(table_lock);
    sim_module_host *owner = nullptr;
    if (!find_export_locked(std::string(sym), &owner)) {
        std::fprintf(stderr, "simkernel: symbol_put(%.*s): no such export\n", int(sym.size()),
                     sym.data());
        std::abort();
    }
    module_put(owner->mod);
}

bool kernel_tainted_proprietary() {
    std::lock_guard load(module_mutex);
    return tainted_proprietary;
}

void modules_boot() {
    const char *env = std::getenv("SIM_MODULE_DIR");
    module_set_dir(env && *env ? env : SIM_MODULE_DIR_DEFAULT);
}

void modules_shutdown() {
    std::lock_guard load(module_mutex);
    // Users are always loaded after what they use, so the newest module has no users.
    for (;;) {
        sim_module_host *m;
        {
            std::lock_guard g(table_lock);
            if (modules.empty())
                break;
            m = modules.back().get();
        }
        struct module *mod = m->mod;
        set_state(mod, MODULE_STATE_GOING);
        if (mod->exit)
            mod->exit();
        free_module(m, true);
    }
}

}  // namespace sim

// A pin fails once the module is going away, or after rmmod dropped the base reference.
extern "C" bool try_module_get(struct module *mod) {
    if (!mod)
        return true;
    if (sim::state_of(mod) == MODULE_STATE_GOING)
        return false;
    std::atomic<int> &refcnt = mod->sim_host->refcnt;
    int v = refcnt.load();
    do {
        if (v == 0)
            return false;
    } while (!refcnt.compare_exchange_weak(v, v + 1));
    return true;
}

extern "C" void module_put(struct module *mod) {
    if (!mod)
        return;
    std::atomic<int> &refcnt = mod->sim_host->refcnt;
    int v = refcnt.load();
    do {
        if (v <= 0) {
            printk(KERN_WARNING "WARNING: module_put() of %s without a reference\n", mod->name);
            return;
        }
    } while (!refcnt.compare_exchange_weak(v, v - 1));
}

extern "C" int module_refcount(struct module *mod) {
    return mod->sim_host->refcnt.load() - sim::MODULE_REF_BASE;
}
