// Memory-management interface (include/linux/mm.h): page reference and map counts, compound
// page sizes, total and available RAM.
#pragma once

#include <platform/page-flags.h>

extern "C" {
// Frames managed by the page allocator (MemTotal), read atomically.
extern atomic_long_t _totalram_pages;
// The page array: mem_map[pfn] for every frame of RAM.
extern struct page *mem_map;
extern unsigned long max_mapnr;

// The mapcount of a compound page or one of its sub-pages, as 5.10 computes it (mm/util.c).
int __page_mapcount(struct page *page);
// Pages a user-space allocation could get without swapping (MemAvailable).
long si_mem_available(void);
}

static inline unsigned long totalram_pages(void) {
    return (unsigned long)atomic_long_read(&_totalram_pages);
}

static inline int page_mapcount(struct page *page) {
    if (unlikely(PageCompound(page)))
        return __page_mapcount(page);
    return atomic_read(&page->_mapcount) + 1;
}

static inline unsigned int compound_order(struct page *page) {
    if (!PageHead(page))
        return 0;
    return page[1].compound_order;
}

static inline unsigned long compound_nr(struct page *page) {
    if (!PageHead(page))
        return 1;
    return page[1].compound_nr;
}

static inline int thp_nr_pages(struct page *page) {
    return (int)compound_nr(page);
}

static inline int page_count(struct page *page) {
    return atomic_read(&compound_head(page)->_refcount);
}

static inline unsigned long page_to_pfn(const struct page *page) {
    return (unsigned long)(page - mem_map);
}

static inline struct page *pfn_to_page(unsigned long pfn) {
    return mem_map + pfn;
}

static inline bool pfn_valid(unsigned long pfn) {
    return pfn < max_mapnr;
}
