// Host-side view of kmalloc accounting: what each module (null: the kernel itself) has live.
#pragma once

#include <platform/types.h>

#include <cstddef>
#include <cstdint>

struct module;

namespace sim {

uint64_t slab_module_bytes(const struct module *mod);
uint64_t slab_module_count(const struct module *mod);

// kmalloc on behalf of owner, for kernel services that allocate for a module (devres, ...):
// charged to owner, subject to the kmalloc fault injection for owner, freed with kfree().
void *slab_alloc(size_t size, gfp_t flags, struct module *owner);

}  // namespace sim
