// /sys/module/<name>/: the directory of a loaded module, backed by its module_kobject, under
// which the module hangs its own kobjects (THIS_MODULE->mkobj.kobj). Called by the loader.
#pragma once

struct module;

namespace sim {
// Initialises mod->mkobj and adds /sys/module/<mod->name>; 0 or a negative errno.
int module_sysfs_add(struct module *mod);
// Removes the directory (after the module's own kobjects under it are gone).
void module_sysfs_remove(struct module *mod);
}  // namespace sim
