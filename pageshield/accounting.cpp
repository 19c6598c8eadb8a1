// The accounting probes: running counts of widely mapped pages on the evictable LRU lists,
// and the page's mapping counter, which the mapping probe updates in the kernel's place.
#include "pageshield/pageshield.h"

#include <platform/trace/hooks/mm.h>

// The maximum is a plain store: a racing increment may overwrite a larger value.
static void zo_count_inc(int kind) {
    atomic64_add(1, &nr_mapped_multiple[kind]);
    u64 now = (u64)atomic64_read_acquire(&nr_mapped_multiple[kind]);
    if (READ_ONCE(max_nr_mapped_multiple[kind]) < now)
        WRITE_ONCE(max_nr_mapped_multiple[kind], now);
}

static void zo_count_dec(int kind) {
    atomic64_sub(1, &nr_mapped_multiple[kind]);
}

// Handles the update whatever the switch says: the kernel applies none of its own once
// *success is true, so the counter moves exactly once per mapping change.
void update_page_mapcount(void *, struct page *page, bool inc_size, bool, bool *first_mapping,
                          bool *success) {
    *success = true;
    int v, m;
    if (inc_size) {
        v = atomic_inc_return(&page->_mapcount);
        if (first_mapping)
            *first_mapping = v == 0;
        m = v + 1;
    } else {
        v = atomic_add_return(-1, &page->_mapcount);
        if (first_mapping)
            *first_mapping = v < 0;
        m = v + 2;
    }
    // Only a rise to the threshold or a fall from it changes whether the page counts.
    if ((u32)m != READ_ONCE(zo_mapcount_protect_thres))
        return;
    if (!zo_protect_enabled())
        return;
    if (!test_bit(PG_lru, &zo_page_head(page)->flags))
        return;
    if (test_bit(PG_unevictable, &zo_page_head(page)->flags))
        return;
    int kind = zo_page_kind(page);
    if (inc_size)
        zo_count_inc(kind);
    else
        zo_count_dec(kind);
}

static bool zo_lru_counts(struct page *page, enum lru_list lru) {
    if (!zo_protect_enabled())
        return false;
    int mapcount = zo_page_mapcount(page);
    if (lru == LRU_UNEVICTABLE)
        return false;
    return (u32)mapcount >= READ_ONCE(zo_mapcount_protect_thres);
}

void add_page_to_lrulist(void *, struct page *page, bool, enum lru_list lru) {
    if (zo_lru_counts(page, lru))
        zo_count_inc(zo_page_kind(page));
}

void del_page_from_lrulist(void *, struct page *page, bool, enum lru_list lru) {
    if (zo_lru_counts(page, lru))
        zo_count_dec(zo_page_kind(page));
}
