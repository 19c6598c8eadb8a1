// Host-side API of the module loader (insmod, rmmod, lsmod, modinfo). A real model: each module
// is a shared object (NAME.ko) with its own symbol namespace, its .modinfo metadata and its
// __ksymtab exports; uses between modules pin the used module as the kernel's do.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct module;

namespace sim {

// Directory searched for NAME.ko when insmod is given a bare name (NAME or NAME.ko). Set at
// boot from the environment variable SIM_MODULE_DIR, or else the build's module directory.
void module_set_dir(const std::string &dir);
std::string module_dir();

// insmod (init_module(2)): reads, links and initialises the module, with args ("name=value ...")
// for its parameters; 0 or a negative errno, with the kernel's log lines: -ENOENT (no such file,
// or "Unknown symbol"), -ENOEXEC (not a module), -EEXIST (a module of that name is loaded),
// -EINVAL (a bad parameter value), or what the module's init routine returned.
int module_load(const std::string &path, std::string_view args = {});
// rmmod (delete_module(2)): -ENOENT if not loaded; -EAGAIN (the kernel's -EWOULDBLOCK) while
// other modules use it or something holds a reference; -EBUSY if it is still coming up or
// going away, or has an init routine but no exit routine.
int module_unload(std::string_view name);

struct ModuleInfo {
    std::string name, path;
    size_t size = 0;   // of the mapped object
    int refcount = 0;  // module_refcount(): pins plus using modules
    std::vector<std::string> used_by;
    std::string state;   // "Live", "Loading" or "Unloading", as /proc/modules shows it
    std::string taints;  // "P" for a proprietary module, as /proc/modules shows it
    std::string license, description;
    std::vector<std::string> softdeps, devtables;
};
// Loaded modules, most recently loaded first (as lsmod lists them).
std::vector<ModuleInfo> module_list();
// The descriptor of a loaded module, or null.
struct module *module_find(std::string_view name);
// __symbol_get(): the address of a loaded module's export, pinning its module, or null;
// symbol_put() drops the pin.
void *module_symbol_get(std::string_view sym);
void module_symbol_put(std::string_view sym);

// modinfo: the .modinfo "key=value" pairs of a module file (path or bare name), in file order;
// 0 or a negative errno (-ENOENT, -ENOEXEC).
int module_read_info(const std::string &path,
                     std::vector<std::pair<std::string, std::string>> *info);

// Whether a proprietary module was ever loaded (the kernel's TAINT_PROPRIETARY_MODULE, 'P').
bool kernel_tainted_proprietary();

void modules_boot();
// Tears down every module, users before what they use: modules that can be unloaded run their
// exit routine, permanent ones are released without one; leftovers are reported.
void modules_shutdown();

}  // namespace sim
