// Platform devices from the device tree (include/linux/of_platform.h, drivers/of/platform.c).
#pragma once

#include <platform/mod_devicetable.h>
#include <platform/of.h>

struct device;
struct platform_device;

extern "C" {
// simple-bus, simple-mfd and isa: the buses whose children are populated too.
extern const struct of_device_id of_default_bus_match_table[];

// A platform device for every available child of root (null: the tree's root) that has a
// "compatible" property, and recursively below children that match the bus table.
int of_platform_populate(struct device_node *root, const struct of_device_id *matches,
                         const void *lookup, struct device *parent);
int of_platform_default_populate(struct device_node *root, const void *lookup,
                                 struct device *parent);
// A platform device for one node (the node's device if it already has one is not made again);
// null on failure or when the node is not available.
struct platform_device *of_platform_device_create(struct device_node *np, const char *bus_id,
                                                  struct device *parent);
// Unregisters a platform device made from a node (for device_for_each_child); always 0.
int of_platform_device_destroy(struct device *dev, void *data);
// Destroys the devices populated below parent, a device made from a bus node.
void of_platform_depopulate(struct device *parent);
// The platform device made from np, with a reference taken, or null.
struct platform_device *of_find_device_by_node(struct device_node *np);
}
