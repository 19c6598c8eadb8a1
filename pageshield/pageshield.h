// Module-wide state of pageshield, shared by its start-up, its accounting probes and its
// protection probes, and the view of a page that the probes take.
#pragma once

#include <platform/atomic.h>
#include <platform/barrier.h>
#include <platform/mm.h>
#include <platform/mmzone.h>
#include <platform/page-flags.h>
#include <platform/spinlock.h>
#include <platform/types.h>

// Page kinds, the index of every two-element array below.
#define ZO_ANON 0
#define ZO_FILE 1

// Tunables and thresholds (startup.cpp). They are read and written as whole words, without a
// lock: a change reaches each probe at its next invocation.
extern u32 zo_thres_control;
extern u32 zo_mapcount_protect_thres;
extern bool zo_mapped_protect_setup;
extern u64 zo_memavail_noprotect_thres;
extern u64 zo_mapped_protect_thres[2];

// Widely mapped pages on the evictable LRU lists, per kind: kept by the accounting probes.
extern atomic64_t nr_mapped_multiple[2];
// Highest running count since load; a statistic, raised without a compare-and-swap.
extern u64 max_nr_mapped_multiple[2];
// The latest fresh count, filled by the LRU walk.
extern atomic64_t nr_mapped_multiple_debug[2];
extern spinlock_t traversal_lock;

// Probes of the vendor hooks (accounting.cpp, protection.cpp).
void update_page_mapcount(void *data, struct page *page, bool inc_size, bool compound,
                          bool *first_mapping, bool *success);
void add_page_to_lrulist(void *data, struct page *page, bool compound, enum lru_list lru);
void del_page_from_lrulist(void *data, struct page *page, bool compound, enum lru_list lru);
void page_should_be_protect(void *data, struct page *page, bool *should_protect);
void do_traversal_lruvec(void *data, struct lruvec *lruvec);

static inline bool zo_protect_enabled(void) {
    return READ_ONCE(zo_mapped_protect_setup) == 1;
}

// The page view. The compound head link is re-read at every use: a page may become or stop
// being a tail while a probe looks at it.
static inline struct page *zo_page_head(struct page *page) {
    unsigned long head = smp_load_acquire(&page->compound_head);
    if (head & 1)
        return (struct page *)(head - 1);
    return page;
}

static inline bool zo_page_compound(struct page *page) {
    return test_bit(PG_head, &page->flags) || (smp_load_acquire(&page->compound_head) & 1);
}

static inline int zo_page_mapcount(struct page *page) {
    if (zo_page_compound(page))
        return __page_mapcount(page);
    return atomic_read(&page->_mapcount) + 1;
}

static inline int zo_page_kind(struct page *page) {
    return test_bit(PG_swapbacked, &zo_page_head(page)->flags) ? ZO_ANON : ZO_FILE;
}

static inline bool zo_widely_mapped(struct page *page) {
    return (u32)zo_page_mapcount(page) >= READ_ONCE(zo_mapcount_protect_thres);
}
