// Page flags (include/linux/page-flags.h) with 5.10's bit numbers, and the compound-page helpers.
#pragma once

#include <platform/bitops.h>
#include <platform/mm_types.h>

enum pageflags {
    PG_locked,      // 0
    PG_referenced,  // 1
    PG_uptodate,    // 2
    PG_dirty,       // 3
    PG_lru,         // 4
    PG_active,      // 5
    PG_workingset,  // 6
    PG_waiters,     // 7
    PG_error,       // 8
    PG_slab,        // 9
    PG_owner_priv_1,
    PG_arch_1,
    PG_reserved,  // 12
    PG_private,
    PG_private_2,
    PG_writeback,  // 15
    PG_head,       // 16
    PG_mappedtodisk,
    PG_reclaim,      // 18
    PG_swapbacked,   // 19
    PG_unevictable,  // 20
    PG_mlocked,      // 21
    __NR_PAGEFLAGS,

    PG_swapcache = PG_owner_priv_1,
    PG_double_map = PG_workingset,  // on the first tail page
};

#define PAGE_MAPPING_ANON 0x1UL
#define PAGE_MAPPING_MOVABLE 0x2UL
#define PAGE_MAPPING_FLAGS (PAGE_MAPPING_ANON | PAGE_MAPPING_MOVABLE)

enum compound_dtor_id {
    NULL_COMPOUND_DTOR,
    COMPOUND_PAGE_DTOR,
    HUGETLB_PAGE_DTOR,
    TRANSHUGE_PAGE_DTOR,
};

static inline struct page *compound_head(struct page *page) {
    unsigned long head = READ_ONCE(page->compound_head);
    if (unlikely(head & 1))
        return (struct page *)(head - 1);
    return page;
}

static inline int PageTail(struct page *page) {
    return READ_ONCE(page->compound_head) & 1;
}

static inline int PageCompound(struct page *page) {
    return test_bit(PG_head, &page->flags) || PageTail(page);
}

// Flags that live on the head page of a compound page.
#define __SIM_PAGEFLAG_HEAD(uname, lname)                                   \
    static inline int Page##uname(struct page *page) {                      \
        return test_bit(PG_##lname, &compound_head(page)->flags);           \
    }                                                                       \
    static inline void SetPage##uname(struct page *page) {                  \
        set_bit(PG_##lname, &compound_head(page)->flags);                   \
    }                                                                       \
    static inline void ClearPage##uname(struct page *page) {                \
        clear_bit(PG_##lname, &compound_head(page)->flags);                 \
    }                                                                       \
    static inline int TestClearPage##uname(struct page *page) {             \
        return test_and_clear_bit(PG_##lname, &compound_head(page)->flags); \
    }                                                                       \
    static inline int TestSetPage##uname(struct page *page) {               \
        return test_and_set_bit(PG_##lname, &compound_head(page)->flags);   \
    }

__SIM_PAGEFLAG_HEAD(Locked, locked)
__SIM_PAGEFLAG_HEAD(Referenced, referenced)
__SIM_PAGEFLAG_HEAD(Uptodate, uptodate)
__SIM_PAGEFLAG_HEAD(Dirty, dirty)
__SIM_PAGEFLAG_HEAD(LRU, lru)
__SIM_PAGEFLAG_HEAD(Active, active)
__SIM_PAGEFLAG_HEAD(Workingset, workingset)
__SIM_PAGEFLAG_HEAD(Reserved, reserved)
__SIM_PAGEFLAG_HEAD(SwapBacked, swapbacked)
__SIM_PAGEFLAG_HEAD(Unevictable, unevictable)
__SIM_PAGEFLAG_HEAD(Mlocked, mlocked)
__SIM_PAGEFLAG_HEAD(Reclaim, reclaim)
#undef __SIM_PAGEFLAG_HEAD

// PG_swapcache shares its bit with PG_owner_priv_1; it means swap cache only on a swap-backed
// page.
static inline int PageSwapCache(struct page *page) {
    page = compound_head(page);
    return PageSwapBacked(page) && test_bit(PG_swapcache, &page->flags);
}
static inline void SetPageSwapCache(struct page *page) {
    set_bit(PG_swapcache, &compound_head(page)->flags);
}
static inline void ClearPageSwapCache(struct page *page) {
    clear_bit(PG_swapcache, &compound_head(page)->flags);
}

static inline int PageHead(struct page *page) {
    return test_bit(PG_head, &page->flags);
}

static inline int PageAnon(struct page *page) {
    page = compound_head(page);
    return ((unsigned long)READ_ONCE(page->mapping) & PAGE_MAPPING_ANON) != 0;
}

static inline int PageHuge(struct page *page) {
    if (!PageCompound(page))
        return 0;
    page = compound_head(page);
    return page[1].compound_dtor == HUGETLB_PAGE_DTOR;
}

// PG_double_map is kept on the first tail page of a transparent huge page.
static inline int PageDoubleMap(struct page *page) {
    return PageHead(page) && test_bit(PG_double_map, &page[1].flags);
}

static inline atomic_t *compound_mapcount_ptr(struct page *page) {
    return &page[1].compound_mapcount;
}
