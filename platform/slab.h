// Kernel memory allocation (include/linux/slab.h, mm/slab_common.c, mm/slub.c).
// As in 5.10, kmalloc() of a size known at compile time goes straight to the matching general
// cache through kmem_cache_alloc_trace(); other sizes go to __kmalloc(). Allocations are charged
// to the module whose code asked for them.
#pragma once

#include <platform/compiler.h>
#include <platform/gfp.h>

// What kmalloc(0) returns: not null, but any access through it faults.
#define ZERO_SIZE_PTR ((void *)16)
#define ZERO_OR_NULL_PTR(x) ((unsigned long)(x) <= (unsigned long)ZERO_SIZE_PTR)

// arm64: kmalloc memory is aligned for DMA, so the smallest general cache holds 128 bytes.
#define ARCH_KMALLOC_MINALIGN 128
#define KMALLOC_MIN_SIZE 128
#define KMALLOC_SHIFT_LOW 7
#define KMALLOC_SHIFT_HIGH (PAGE_SHIFT + 1)
#define KMALLOC_MAX_CACHE_SIZE (1UL << KMALLOC_SHIFT_HIGH)

#define SLAB_HWCACHE_ALIGN 0x00002000U
#define SLAB_PANIC 0x00040000U
#define SLAB_RECLAIM_ACCOUNT 0x00020000U
#define SLAB_ACCOUNT 0x04000000U

enum kmalloc_cache_type { KMALLOC_NORMAL = 0, KMALLOC_RECLAIM, KMALLOC_DMA, NR_KMALLOC_TYPES };

struct kmem_cache;

extern "C" {
extern struct kmem_cache *kmalloc_caches[NR_KMALLOC_TYPES][KMALLOC_SHIFT_HIGH + 1];

void *__kmalloc(size_t size, gfp_t flags);
// An object of the general cache s holding size bytes (the traced, requested size).
void *kmem_cache_alloc_trace(struct kmem_cache *s, gfp_t flags, size_t size);
// Resizes p (kmalloc'ed or null); the contents up to the smaller size are kept. On failure
// p is left as it was and null is returned.
void *krealloc(const void *p, size_t new_size, gfp_t flags);
// kfree(NULL) and kfree(ZERO_SIZE_PTR) do nothing.
void kfree(const void *p);

struct kmem_cache *kmem_cache_create(const char *name, unsigned int size, unsigned int align,
                                     unsigned int flags, void (*ctor)(void *));
void kmem_cache_destroy(struct kmem_cache *s);
void *kmem_cache_alloc(struct kmem_cache *s, gfp_t flags);
void kmem_cache_free(struct kmem_cache *s, void *p);
}

static __always_inline enum kmalloc_cache_type kmalloc_type(gfp_t flags) {
    if (likely((flags & (__GFP_DMA | __GFP_RECLAIMABLE)) == 0))
        return KMALLOC_NORMAL;
    return flags & __GFP_DMA ? KMALLOC_DMA : KMALLOC_RECLAIM;
}

// Index of the general cache for size: its size is 1 << index.
static __always_inline unsigned int kmalloc_index(size_t size) {
    if (!size)
        return 0;
    if (size <= KMALLOC_MIN_SIZE)
        return KMALLOC_SHIFT_LOW;
    unsigned int i = KMALLOC_SHIFT_LOW;
    while ((1UL << i) < size)
        i++;
    return i;
}

static __always_inline void *kmalloc(size_t size, gfp_t flags) {
    if (__builtin_constant_p(size) && size <= KMALLOC_MAX_CACHE_SIZE) {
        unsigned int index = kmalloc_index(size);
        if (!index)
            return ZERO_SIZE_PTR;
        return kmem_cache_alloc_trace(kmalloc_caches[kmalloc_type(flags)][index], flags, size);
    }
    return __kmalloc(size, flags);
}

static __always_inline void *kzalloc(size_t size, gfp_t flags) {
    return kmalloc(size, flags | __GFP_ZERO);
}

static __always_inline void *kmalloc_array(size_t n, size_t size, gfp_t flags) {
    size_t bytes;
    if (unlikely(__builtin_mul_overflow(n, size, &bytes)))
        return nullptr;
    if (__builtin_constant_p(n) && __builtin_constant_p(size))
        return kmalloc(bytes, flags);
    return __kmalloc(bytes, flags);
}

static __always_inline void *kcalloc(size_t n, size_t size, gfp_t flags) {
    return kmalloc_array(n, size, flags | __GFP_ZERO);
}

static __always_inline void *kmem_cache_zalloc(struct kmem_cache *s, gfp_t flags) {
    return kmem_cache_alloc(s, flags | __GFP_ZERO);
}

#define KMEM_CACHE(__struct, __flags)                                                              \
    kmem_cache_create(#__struct, sizeof(struct __struct), __alignof__(struct __struct), (__flags), \
                      nullptr)
