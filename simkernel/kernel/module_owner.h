// Which module owns what: code ranges of loaded modules, and the objects that each module has
// registered with the kernel, so that the loader can report and release what a stop routine
// left behind. A real model, kept by the module loader.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct module;

namespace sim {

// The loaded module whose code or data holds addr, or null for the kernel itself.
struct module *module_of_address(const void *addr);
// The module that called the current exported kernel function.
#define SIM_CALLER_MODULE() ::sim::module_of_address(__builtin_return_address(0))

void module_range_add(struct module *mod, const void *base, size_t size);
void module_range_remove(struct module *mod);

// Records that owner registered obj (kind such as "proc entry", name such as "global_reclaim");
// release undoes the registration if the module's stop routine did not. Null owner: ignored.
void resource_add(struct module *owner, const void *obj, std::string kind, std::string name,
                  std::function<void()> release);
// The registration of obj was undone normally.
void resource_remove(const void *obj);

struct Leftover {
    std::string kind, name;
};
// Reports (as kernel error lines) and releases everything owner still has registered,
// most recent first; returns what was left.
std::vector<Leftover> resource_release_all(struct module *owner);
std::vector<Leftover> resource_list(const struct module *owner);

}  // namespace sim
