// The device tree as the kernel holds it (include/linux/of.h, drivers/of/base.c): the boot
// blob unflattened into device_nodes, each with its properties in blob order. Nodes live as
// long as the kernel; of_node_get()/of_node_put() count the references the kernel's API hands
// out and take.
#pragma once

#include <platform/bitops.h>
#include <platform/kobject.h>
#include <platform/types.h>

typedef u32 phandle;

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
    void *data;   // the platform device made from the node, once populated
    u32 phandle;  // from the node's "phandle" property; 0 without one
};

// Bits of _flags.
#define OF_DETACHED 2       // the node left the tree; its last reference may go
#define OF_POPULATED 3      // a device was made from the node
#define OF_POPULATED_BUS 4  // the node's children were populated as a bus

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
// of_property_read_string_index() and friends: the strings of a string-list property.
int of_property_read_string_helper(const struct device_node *np, const char *propname,
                                   const char **out_strs, size_t sz, int index);
// The index of string in the list, or -EINVAL (no property), -ENODATA (not there), -EILSEQ.
int of_property_match_string(const struct device_node *np, const char *propname,
                             const char *string);
// The string after cur in prop's list (null: the first), or null at the end.
const char *of_prop_next_string(struct property *prop, const char *cur);

// The node after prev in depth-first order from the root (null: the root); no references.
struct device_node *of_find_all_nodes(struct device_node *prev);
struct device_node *of_find_node_by_name(struct device_node *from, const char *name);
struct device_node *of_find_node_by_phandle(phandle handle);
// The node the index-th phandle of the property points to, with a reference taken, or null.
struct device_node *of_parse_phandle(const struct device_node *np, const char *phandle_name,
                                     int index);
// The first child compatible with compatible, with a reference taken, or null.
struct device_node *of_get_compatible_child(const struct device_node *parent,
                                            const char *compatible);
int of_get_child_count(const struct device_node *np);
int of_get_available_child_count(const struct device_node *np);
// "battery" matches "battery" and "battery@0".
bool of_node_name_eq(const struct device_node *np, const char *name);
// The id of the /aliases entry stem+id that points to np, or -ENODEV.
int of_alias_get_id(struct device_node *np, const char *stem);

// How well compat matches the node's "compatible" list: 0 for no match, more for earlier.
int of_device_is_compatible(const struct device_node *device, const char *compat);
// "status" absent, "okay" or "ok".
bool of_device_is_available(const struct device_node *device);
}

static inline int of_property_read_u32(const struct device_node *np, const char *propname,
                                       u32 *out_value) {
    return of_property_read_u32_index(np, propname, 0, out_value);
}
static inline int of_property_read_u32_array(const struct device_node *np, const char *propname,
                                             u32 *out_values, size_t sz) {
    int ret = of_property_read_variable_u32_array(np, propname, out_values, sz, 0);
    return ret >= 0 ? 0 : ret;
}
static inline int of_property_count_u32_elems(const struct device_node *np, const char *propname) {
    return of_property_count_elems_of_size(np, propname, sizeof(u32));
}
static inline int of_property_count_strings(const struct device_node *np, const char *propname) {
    return of_property_read_string_helper(np, propname, nullptr, 0, 0);
}
static inline bool of_property_read_bool(const struct device_node *np, const char *propname) {
    return of_find_property(np, propname, nullptr) != nullptr;
}
static inline const char *of_node_full_name(const struct device_node *np) {
    return np ? np->full_name : "<no-node>";
}

static inline bool of_node_check_flag(const struct device_node *n, unsigned long flag) {
    return test_bit(flag, &n->_flags);
}
static inline bool of_node_test_and_set_flag(struct device_node *n, unsigned long flag) {
    return test_and_set_bit(flag, &n->_flags);
}
static inline void of_node_set_flag(struct device_node *n, unsigned long flag) {
    set_bit(flag, &n->_flags);
}
static inline void of_node_clear_flag(struct device_node *n, unsigned long flag) {
    clear_bit(flag, &n->_flags);
}
static inline const char *of_node_get_device_type(const struct device_node *np) {
    return (const char *)of_get_property(np, "device_type", nullptr);
}

#define for_each_property_of_node(dn, pp) for (pp = dn->properties; pp != nullptr; pp = pp->next)
#define of_property_for_each_string(np, propname, prop, s)                                       \
    for (prop = of_find_property(np, propname, nullptr), s = of_prop_next_string(prop, nullptr); \
         s; s = of_prop_next_string(prop, s))
#define for_each_child_of_node(parent, child)                          \
    for (child = of_get_next_child(parent, nullptr); child != nullptr; \
         child = of_get_next_child(parent, child))
#define for_each_available_child_of_node(parent, child)                          \
    for (child = of_get_next_available_child(parent, nullptr); child != nullptr; \
         child = of_get_next_available_child(parent, child))
#define for_each_compatible_node(dn, type, compatible)                \
    for (dn = of_find_compatible_node(nullptr, type, compatible); dn; \
         dn = of_find_compatible_node(dn, type, compatible))
