// /sys/module/<name>/: the directory of a loaded module, backed by its module_kobject, under
// which the module hangs its own kobjects (THIS_MODULE->mkobj.kobj). Called by the loader.
#pragma once

#include <cstddef>

struct module;
struct kernel_param;

namespace sim {
// Initialises mod->mkobj and adds /sys/module/<mod->name> with its attributes and the
// parameters of kp that have permissions; 0 or a negative errno.
int module_sysfs_add(struct module *mod, const struct kernel_param *kp, size_t num_params,
                     size_t core_size, bool proprietary);
// holders/ of the used module: a link to each module that uses it.
void module_sysfs_link_holder(struct module *used, struct module *user);
void module_sysfs_unlink_holder(struct module *used, struct module *user);
// Removes the directory (after the module's own kobjects under it are gone).
void module_sysfs_remove(struct module *mod);
}  // namespace sim
