// The device tree as the kernel holds it (include/linux/of.h, drivers/of/base.c): the boot
// blob unflattened into device_nodes, each with its properties in blob order. Nodes live as
// long as the kernel; of_node_get()/of_node_put() count the references the kernel's API hands
// out and take.
#pragma once

#include <platform/kobject.h>
#include <platform/types.h>

struct property {
    char *name;
    int length;
    void *value;  // big-endian cells, or NUL-terminated strings one after another
    struct property *next;
};

struct device_node {
    const char *name;       // "battery" for "battery@0"
    const char *full_name;  // "battery@0"; "/" for the root
    struct property *properties;
    struct device_node *parent;
    struct device_node *child;
    struct device_node *sibling;
    struct kobject kobj;  // the node's directory under /sys/firmware/devicetree/base
    unsigned long _flags;
    void *data;  // the platform device made from the node, once populated
};

#define OF_POPULATED 3  // bit of _flags: a device was made from the node

extern "C" {
struct device_node *of_node_get(struct device_node *node);
void of_node_put(struct device_node *node);

// "/", "/charger", "/soc/charger@6b": the node with a reference taken, or null.
struct device_node *of_find_node_by_path(const char *path);
// The first node after from (null: from the root, in depth-first order) that is compatible;
// drops the reference of from and takes one on the result.
struct device_node *of_find_compatible_node(struct device_node *from, const char *type,
                                            const char *compatible);
// The next child after prev (null: the first), with a reference taken; drops prev's.
struct device_node *of_get_next_child(const struct device_node *node, struct device_node *prev);
struct device_node *of_get_next_available_child(const struct device_node *node,
                                                struct device_node *prev);
struct device_node *of_get_parent(const struct device_node *node);
struct device_node *of_get_child_by_name(const struct device_node *node, const char *name);

struct property *of_find_property(const struct device_node *np, const char *name, int *lenp);
const void *of_get_property(const struct device_node *node, const char *name, int *lenp);
// 0, -EINVAL (no such property), -ENODATA (no value), -EOVERFLOW (too short).
int of_property_read_u32_index(const struct device_node *np, const char *propname, u32 index,
                               u32 *out_value);
int of_property_read_variable_u32_array(const struct device_node *np, const char *propname,
                                        u32 *out_values, size_t sz_min, size_t sz_max);
int of_property_read_u64(const struct device_node *np, const char *propname, u64 *out_value);
// 0, -EINVAL (no such property), -ENODATA (no value), -EILSEQ (not NUL-terminated).
int of_property_read_string(const struct device_node *np, const char *propname,
                            const char **out_string);
int of_property_read_string_index(const struct device_node *np, const char *propname, int index,
                                  const char **output);
int of_property_count_elems_of_size(const struct device_node *np, const char *propname,
                                    int elem_size);
// How well compat matches the node's "compatible" list: 0 for no match, more for earlier.
int of_device_is_compatible(const struct device_node *device, const char *compat);
// "status" absent, "okay" or "ok".
bool of_device_is_available(const struct device_node *device);
}

static inline int of_property_read_u32(const struct device_node *np, const char *propname,
                                       u32 *out_value) {
    return of_property_read_u32_index(np, propname, 0, out_value);
}
static inline bool of_property_read_bool(const struct device_node *np, const char *propname) {
    return of_find_property(np, propname, nullptr) != nullptr;
}
static inline const char *of_node_full_name(const struct device_node *np) {
    return np ? np->full_name : "<no-node>";
}

#define for_each_child_of_node(parent, child) \
    for (child = of_get_next_child(parent, nullptr); child != nullptr; \
         child = of_get_next_child(parent, child))
#define for_each_available_child_of_node(parent, child) \
    for (child = of_get_next_available_child(parent, nullptr); child != nullptr; \
         child = of_get_next_available_child(parent, child))
#define for_each_compatible_node(dn, type, compatible) \
    for (dn = of_find_compatible_node(nullptr, type, compatible); dn; \
         dn = of_find_compatible_node(dn, type, compatible))
