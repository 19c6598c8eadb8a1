// Loadable modules (include/linux/module.h, moduleparam.h, export.h).
//
// module_init()/module_exit() define the entry points the loader looks up, init_module and
// cleanup_module; a module may also define those two directly. MODULE_* metadata goes to the
// object's .modinfo section as "key=value" strings, where the loader reads it before loading.
#pragma once

#include <platform/kobject.h>

#define MODULE_NAME_LEN 56

enum module_state {
    MODULE_STATE_LIVE,
    MODULE_STATE_COMING,
    MODULE_STATE_GOING,
    MODULE_STATE_UNFORMED,
};

struct module;

struct module_kobject {
    struct kobject kobj;
    struct module *mod;
};

struct sim_module_host;

struct module {
    enum module_state state;
    struct list_head list;
    char name[MODULE_NAME_LEN];
    struct module_kobject mkobj;
    int (*init)(void);
    void (*exit)(void);
    // Loader-side record of the module; opaque to module code.
    struct sim_module_host *sim_host;
};

// Defined for each module by the build (its generated .mod.cpp), as modpost does.
extern "C" struct module __this_module;
#define THIS_MODULE (&__this_module)

#define __MODULE_VISIBLE __attribute__((visibility("default")))

#define module_init(initfn) \
    extern "C" __MODULE_VISIBLE int init_module(void) { return initfn(); }
#define module_exit(exitfn) \
    extern "C" __MODULE_VISIBLE void cleanup_module(void) { exitfn(); }

#define __MODULE_CAT2(a, b) a##b
#define __MODULE_CAT(a, b) __MODULE_CAT2(a, b)
#define __MODULE_INFO(tag, info)                                                           \
    static const char __MODULE_CAT(__modinfo_, __COUNTER__)[]                               \
        __attribute__((section(".modinfo"), used, aligned(1))) = #tag "=" info

#define MODULE_INFO(tag, info) __MODULE_INFO(tag, info)
#define MODULE_LICENSE(_license) MODULE_INFO(license, _license)
#define MODULE_DESCRIPTION(_desc) MODULE_INFO(description, _desc)
#define MODULE_AUTHOR(_author) MODULE_INFO(author, _author)
#define MODULE_ALIAS(_alias) MODULE_INFO(alias, _alias)
#define MODULE_SOFTDEP(_dep) MODULE_INFO(softdep, _dep)
#define MODULE_VERSION(_version) MODULE_INFO(version, _version)
// The device table is recorded by name ("of:vantor_chgsentry_of_match") for modinfo and lsmod.
#define MODULE_DEVICE_TABLE(type, name) MODULE_INFO(devtable, #type ":" #name)

// Exports: a visible symbol plus an entry in the object's __ksymtab section, which the loader
// reads to learn what the module exports and which exports are GPL-only.
struct kernel_symbol {
    const void *value;
    const char *name;
    const char *license;  // "" or "GPL"
};

#define __EXPORT_SYMBOL(sym, lic)                                                          \
    extern "C" __typeof__(sym) sym __MODULE_VISIBLE;                                       \
    static const struct kernel_symbol __ksymtab_##sym                                      \
        __attribute__((section("__ksymtab"), used, aligned(sizeof(void *)))) = {           \
            (const void *)&sym, #sym, lic}
#define EXPORT_SYMBOL(sym) __EXPORT_SYMBOL(sym, "")
#define EXPORT_SYMBOL_GPL(sym) __EXPORT_SYMBOL(sym, "GPL")

extern "C" {
// Pins a module while another part of the kernel uses it; false once it is going away.
bool try_module_get(struct module *mod);
void module_put(struct module *mod);
}
