// Internal to drivers/of: the live tree's anchors, the lock that guards its shape, and the
// unlocked helpers the of_* calls share (drivers/of/of_private.h).
#pragma once

#include <platform/of.h>

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace sim::of {

extern struct device_node *of_root;
extern struct device_node *of_chosen;   // /chosen
extern struct device_node *of_aliases;  // /aliases

// devtree_lock: the tree's shape and the properties of its nodes.
std::mutex &devtree_lock();

struct property *__of_find_property(const struct device_node *np, const char *name, int *lenp);
const void *__of_get_property(const struct device_node *np, const char *name, int *lenp);
int __of_device_is_compatible(const struct device_node *device, const char *compat,
                              const char *type, const char *name);
bool __of_device_is_available(const struct device_node *device);
struct device_node *__of_find_all_nodes(struct device_node *prev);
// The node's name without its unit address ("battery" for "battery@0"; "" for the root).
std::string_view of_node_short_name(const struct device_node *np);

// of_node_init(): the node's kobject, before it is in sysfs.
void of_node_init(struct device_node *np);
// Its directory and property files, under its parent's (the root's as "base"). 0 or errno.
int __of_attach_node_sysfs(struct device_node *np);
// Is sysfs up (of_core_init() has run)?
bool of_kset_ready();

// of_alias_scan(): records the /aliases entries that end in an id, for of_alias_get_id() and
// the OF_ALIAS_n uevent variables.
void of_alias_scan();
void of_alias_clear();
struct AliasProp {
    const struct device_node *np;
    std::string alias;  // "serial0"
    std::string stem;   // "serial"
    int id;
};
std::mutex &of_mutex();
const std::vector<AliasProp> &aliases_lookup();  // under of_mutex()

// Releases the nodes of every unflattened blob (of_shutdown()).
void of_release_trees();
// Drops the devices populated at boot (platform.cpp).
void of_depopulate_all();

}  // namespace sim::of
