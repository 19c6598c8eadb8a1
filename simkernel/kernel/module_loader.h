// Host-side API of the module loader (insmod, rmmod, lsmod). A real model: each module is a
// shared object with its own symbol namespace, its .modinfo metadata and __ksymtab exports.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace sim {

// Directory searched for NAME.ko-style objects (NAME.so) when insmod is given a bare name.
void module_set_dir(const std::string &dir);
const std::string &module_dir();

// insmod: loads, links and initialises the module; 0 or a negative errno, with the kernel's
// log lines on failure. `path` is a file path or a bare module name.
int module_load(const std::string &path);
// rmmod: -ENOENT if not loaded, -EBUSY ("Module %s is in use") if another module uses it.
int module_unload(std::string_view name);

struct ModuleInfo {
    std::string name;
    size_t size = 0;
    int refcount = 0;
    std::vector<std::string> used_by;
    std::string license, description;
};
// Loaded modules, most recently loaded first (as lsmod lists them).
std::vector<ModuleInfo> module_list();

void modules_boot();
// Unloads every module, users before what they use.
void modules_shutdown();

}  // namespace sim
