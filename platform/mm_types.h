// The page frame descriptor (include/linux/mm_types.h), laid out as Linux 5.10 lays it out on
// arm64: 64 bytes, one per 4 KiB frame, in the array mem_map.
#pragma once

#include <platform/atomic.h>
#include <platform/compiler.h>

struct address_space;
struct mem_cgroup;

typedef unsigned long pgoff_t;

struct page {
    unsigned long flags;  // enum pageflags bits (platform/page-flags.h)
    union {
        struct {  // page cache and anonymous pages
            // On an LRU list: the link in it (lru.next overlays compound_head, so bit 0 of
            // lru.next is always clear on a head or ordinary page).
            struct list_head lru;
            // The file's address_space, or the anon_vma with PAGE_MAPPING_ANON set.
            struct address_space *mapping;
            pgoff_t index;               // offset in the file, or in the anonymous mapping
            unsigned long private_data;  // the kernel's page->private
        };
        struct {                          // tail pages of a compound page
            unsigned long compound_head;  // the head page's address, with bit 0 set
            // First tail page only.
            unsigned char compound_dtor;
            unsigned char compound_order;
            atomic_t compound_mapcount;
            unsigned int compound_nr;  // 1 << compound_order
        };
        struct {  // second tail page of a compound page
            unsigned long _compound_pad_1;
            atomic_t hpage_pinned_refcount;
            struct list_head deferred_list;
        };
    };
    union {
        // Mappings by page tables, minus one: -1 means not mapped.
        atomic_t _mapcount;
        unsigned int page_type;
    };
    atomic_t _refcount;
    struct mem_cgroup *mem_cgroup;  // the group the page is charged to
};

static_assert(sizeof(struct page) == 64, "struct page is 64 bytes on arm64");
static_assert(__builtin_offsetof(struct page, compound_head) == 8);
static_assert(__builtin_offsetof(struct page, compound_nr) == 24);
static_assert(__builtin_offsetof(struct page, _mapcount) == 48);
