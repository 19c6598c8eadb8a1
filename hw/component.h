// The phone's hardware outside the kernel: models of the battery cell, charger, charge pump,
// USB-PD adapter, fuel gauge, LED outputs and the like, each a small state machine in virtual
// time with registers its driver reads. Models register as components so that phonesim's `hw`
// can show them and make them vanish or appear (`hw detach NAME`, `hw attach NAME`).
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace hw {

struct Component {
    std::string name;
    // The component's state, one or more lines, for `hw` without arguments.
    std::function<std::string()> state;
    // Makes the component appear (true) or vanish (false) as a device would; 0 or a negative
    // errno. Null for parts that are soldered on.
    std::function<int(bool attach)> set_attached;
};

void component_add(Component c);
void component_remove(const std::string &name);
// In the order they were added.
std::vector<Component> components();

// A model's start and stop: boot() runs once the kernel is up and its device tree unflattened,
// before drivers load; shutdown() after the modules are gone, before the kernel stops.
struct ModelHooks {
    const char *name;
    void (*boot)();
    void (*shutdown)();
};
// Registers a model's hooks at program start (static initialisation).
bool model_register(const ModelHooks &hooks);
#define HW_MODEL(name, boot, shutdown) \
    static const bool hw_model_registered_##name = hw::model_register({#name, boot, shutdown})

// Runs every model's boot (in registration order) or shutdown (in reverse). Whoever boots the
// kernel hands these to sim::kernel_set_hardware_hooks().
void hw_boot();
void hw_shutdown();

}  // namespace hw
