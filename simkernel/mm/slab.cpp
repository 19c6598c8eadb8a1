// kmalloc and slab caches (a real model of the allocator's contract and accounting on top of
// the host's malloc: every allocation is charged to the module that asked for it, registered
// as that module's resource, and can be failed by fault injection).
#include "simkernel/mm/slab_stats.h"

#include "simkernel/kernel/fault.h"
#include "simkernel/kernel/module_owner.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>

#include <platform/module.h>
#include <platform/printk.h>
#include <platform/slab.h>

struct kmem_cache {
    std::string name;
    unsigned int size;
    unsigned int align;
    void (*ctor)(void *);
    struct module *owner;  // creator of a cache of its own; null for the general caches
    uint64_t live = 0;     // objects not yet freed, under SlabState::lock
};

namespace sim {
namespace {

constexpr uint64_t kLiveMagic = 0x6b6d616c6c6f6321ULL;  // "kmalloc!"
constexpr uint64_t kFreedMagic = 0x6b667265656421ULL;
// MAX_ORDER 11 with 4 KiB pages: the largest block the page allocator hands out.
constexpr size_t kKmallocMaxSize = size_t(1) << (11 + PAGE_SHIFT - 1);
// SLUB's POISON_FREE: memory not asked to be zeroed does not start out as zeroes.
constexpr unsigned char kPoisonFree = 0x6b;

// In front of every object. 32 bytes keep the object aligned as malloc aligns.
struct alignas(16) AllocHeader {
    uint64_t magic;
    size_t size;
    struct module *owner;
    struct kmem_cache *cache;
};

struct Usage {
    uint64_t bytes = 0, count = 0;
};

struct SlabState {
    std::mutex lock;
    std::unordered_map<const struct module *, Usage> usage;
};

SlabState &state() {
    static SlabState s;
    return s;
}

AllocHeader *header_of(const void *p) {
    auto *h = reinterpret_cast<AllocHeader *>(const_cast<char *>(static_cast<const char *>(p)) -
                                              sizeof(AllocHeader));
    if (h->magic != kLiveMagic) {
        fprintf(stderr, "slab: %p is not a live kmalloc object (%s)\n", p,
                h->magic == kFreedMagic ? "already freed" : "never allocated");
        abort();
    }
    return h;
}

void *alloc_object(size_t size, gfp_t flags, struct module *owner, struct kmem_cache *cache) {
    if (!size)
        return ZERO_SIZE_PTR;
    if (size > kKmallocMaxSize) {
        if (!(flags & __GFP_NOWARN))
            printk(KERN_WARNING "kmalloc: %zu bytes is more than the largest block\n", size);
        return nullptr;
    }
    if (!(flags & __GFP_NOFAIL) && fault_should_fail(fault_op::kmalloc, owner))
        return nullptr;

    auto *h = static_cast<AllocHeader *>(malloc(sizeof(AllocHeader) + size));
    if (!h) {
        fprintf(stderr, "slab: host out of memory for %zu bytes\n", size);
        abort();
    }
    *h = AllocHeader{kLiveMagic, size, owner, cache};
    void *obj = h + 1;
    memset(obj, kPoisonFree, size);
    if (cache && cache->ctor)
        cache->ctor(obj);
    if (flags & __GFP_ZERO)
        memset(obj, 0, size);
    {
        SlabState &s = state();
        std::lock_guard g(s.lock);
        Usage &u = s.usage[owner];
        u.bytes += size;
        u.count++;
        if (cache)
            cache->live++;
    }
    if (owner)
        resource_add(owner, obj, "allocation", std::to_string(size) + " bytes",
                     [obj] { kfree(obj); });
    return obj;
}

}  // namespace

void *slab_alloc(size_t size, gfp_t flags, struct module *owner) {
    return alloc_object(size, flags, owner, nullptr);
}

uint64_t slab_module_bytes(const struct module *mod) {
    SlabState &s = state();
    std::lock_guard g(s.lock);
    auto it = s.usage.find(mod);
    return it == s.usage.end() ? 0 : it->second.bytes;
}

uint64_t slab_module_count(const struct module *mod) {
    SlabState &s = state();
    std::lock_guard g(s.lock);
    auto it = s.usage.find(mod);
    return it == s.usage.end() ? 0 : it->second.count;
}

}  // namespace sim

extern "C" {

struct kmem_cache *kmalloc_caches[NR_KMALLOC_TYPES][KMALLOC_SHIFT_HIGH + 1];

}  // extern "C"

namespace {

// The general caches exist before anything can allocate, as create_kmalloc_caches() makes
// them early in boot.
[[maybe_unused]] const bool kmalloc_caches_made = [] {
    static const char *const prefix[NR_KMALLOC_TYPES] = {"kmalloc-", "kmalloc-rcl-",
                                                         "dma-kmalloc-"};
    for (int type = 0; type < NR_KMALLOC_TYPES; type++)
        for (unsigned int i = KMALLOC_SHIFT_LOW; i <= KMALLOC_SHIFT_HIGH; i++) {
            unsigned int size = 1U << i;
            std::string name = prefix[type] + (size >= 1024 ? std::to_string(size / 1024) + "k"
                                                            : std::to_string(size));
            kmalloc_caches[type][i] =
                new kmem_cache{std::move(name), size, ARCH_KMALLOC_MINALIGN, nullptr, nullptr};
        }
    return true;
}();

}  // namespace

extern "C" {

void *__kmalloc(size_t size, gfp_t flags) {
    return sim::alloc_object(size, flags, SIM_CALLER_MODULE(), nullptr);
}

void *kmem_cache_alloc_trace(struct kmem_cache *s, gfp_t flags, size_t size) {
    if (!s || size > s->size) {
        fprintf(stderr, "kmem_cache_alloc_trace: %zu bytes do not fit cache %s\n", size,
                s ? s->name.c_str() : "(null)");
        abort();
    }
    // The object is the requested size, so that an overrun of what was asked for is caught.
    return sim::alloc_object(size, flags, SIM_CALLER_MODULE(), nullptr);
}

void kfree(const void *p) {
    if (ZERO_OR_NULL_PTR(p))
        return;
    sim::AllocHeader *h = sim::header_of(p);
    {
        sim::SlabState &s = sim::state();
        std::lock_guard g(s.lock);
        auto it = s.usage.find(h->owner);
        it->second.bytes -= h->size;
        if (--it->second.count == 0)
            s.usage.erase(it);
        if (h->cache)
            h->cache->live--;
    }
    if (h->owner)
        sim::resource_remove(p);
    h->magic = sim::kFreedMagic;
    free(h);
}

void *krealloc(const void *p, size_t new_size, gfp_t flags) {
    if (!new_size) {
        kfree(p);
        return ZERO_SIZE_PTR;
    }
    size_t old_size = ZERO_OR_NULL_PTR(p) ? 0 : sim::header_of(p)->size;
    // Shrinking stays in place, as the object is at least as big as before.
    if (new_size <= old_size)
        return const_cast<void *>(p);
    void *q = sim::alloc_object(new_size, flags, SIM_CALLER_MODULE(), nullptr);
    if (!q)
        return nullptr;
    if (old_size)
        memcpy(q, p, old_size);
    kfree(p);
    return q;
}

struct kmem_cache *kmem_cache_create(const char *name, unsigned int size, unsigned int align,
                                     unsigned int /*flags*/, void (*ctor)(void *)) {
    struct module *owner = SIM_CALLER_MODULE();
    auto *s = new kmem_cache{name, size, align, ctor, owner};
    sim::resource_add(owner, s, "kmem_cache", s->name, [s] { kmem_cache_destroy(s); });
    return s;
}

void kmem_cache_destroy(struct kmem_cache *s) {
    if (!s)
        return;
    {
        sim::SlabState &st = sim::state();
        std::lock_guard g(st.lock);
        if (s->live) {
            // The kernel keeps a cache that still has objects, and complains.
            printk(KERN_ERR "kmem_cache_destroy %s: Slab cache still has objects\n",
                   s->name.c_str());
            return;
        }
    }
    if (s->owner)
        sim::resource_remove(s);
    delete s;
}

void *kmem_cache_alloc(struct kmem_cache *s, gfp_t flags) {
    return sim::alloc_object(s->size, flags, SIM_CALLER_MODULE(), s);
}

void kmem_cache_free(struct kmem_cache *s, void *p) {
    if (!p)
        return;
    if (sim::header_of(p)->cache != s) {
        fprintf(stderr, "kmem_cache_free: %p does not belong to cache %s\n", p, s->name.c_str());
        abort();
    }
    kfree(p);
}

}  // extern "C"
