// Host-side view of the device tree, for boot, phonesim and the tests (module code uses
// platform/of.h).
#pragma once

#include <string>
#include <string_view>

struct device_node;

namespace sim {

struct BootParams;

// What the early arch code reads from the flattened tree before anything else runs: the
// machine model, the CPUs under /cpus, the RAM of the memory nodes and the zram disksize.
// Fills params; "" on success, or what is wrong with the blob ("no /cpus node", ...).
std::string of_scan_boot_params(std::string_view blob, BootParams *params);

// unflatten_device_tree(): the blob becomes the kernel's live tree (of_root), and params (if
// not null) get what of_scan_boot_params() finds. "" or the error; no tree then.
std::string of_unflatten(std::string_view blob, BootParams *params);
// of_core_init(): /sys/firmware/devicetree/base and /proc/device-tree.
void of_core_init();
// of_platform_default_populate_init(): platform devices for the tree's nodes.
int of_populate_init();
// Destroys the populated devices and lets go of the tree; the kernel's tree is gone after.
void of_shutdown();

// Grafts the root's children of another blob under the live root, with their sysfs
// directories, as the kernel's OF self-test adds its test data. "" or the error.
std::string of_attach_fdt(std::string_view blob);

// "/soc/charger@6b", as %pOF prints a node.
std::string of_node_path(const struct device_node *np);

}  // namespace sim
