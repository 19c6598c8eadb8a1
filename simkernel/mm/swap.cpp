// LRU list maintenance (mm/swap.c, include/linux/mm_inline.h): a real model of adding,
// removing, activating and releasing pages, with the Android LRU hooks on every list change.
#include "simkernel/mm/mm_internal.h"

#include <platform/trace/hooks/mm.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace sim::mm {

enum lru_list page_lru(struct page *page) {
    if (PageUnevictable(page))
        return LRU_UNEVICTABLE;
    int lru = PageSwapBacked(page) ? LRU_INACTIVE_ANON : LRU_INACTIVE_FILE;
    if (PageActive(page))
        lru += LRU_ACTIVE;
    return (enum lru_list)lru;
}

bool page_evictable(struct page *page) {
    return !PageMlocked(page);
}

void update_lru_size(struct lruvec *lruvec, enum lru_list lru, long nr) {
    lruvec->lru_size[lru] += nr;
    mod_memcg_state(lruvec_memcg(lruvec), (NodeStat)((int)NR_INACTIVE_ANON + (int)lru), nr);
}

// Caller holds the node's lru_lock.
void add_page_to_lru_list(struct page *page, struct lruvec *lruvec, enum lru_list lru) {
    trace_android_vh_add_page_to_lrulist(page, false, lru);
    update_lru_size(lruvec, lru, thp_nr_pages(page));
    list_add(&page->lru, &lruvec->lists[lru]);
}

// Caller holds the node's lru_lock.
void del_page_from_lru_list(struct page *page, struct lruvec *lruvec, enum lru_list lru) {
    trace_android_vh_del_page_from_lrulist(page, false, lru);
    list_del(&page->lru);
    update_lru_size(lruvec, lru, -(long)thp_nr_pages(page));
}

// The page's group is looked up under the node's lock, which reparenting holds while it moves
// pages, so the page is put on and counted in the group it belongs to.
void lru_cache_add(struct page *page) {
    struct pglist_data *pgdat = page_pgdat(page);
    spin_lock_irq(&pgdat->lru_lock);
    struct lruvec *lruvec = page_lruvec(page);
    SetPageLRU(page);
    enum lru_list lru;
    if (page_evictable(page)) {
        ClearPageUnevictable(page);
        lru = page_lru(page);
    } else {
        ClearPageActive(page);
        SetPageUnevictable(page);
        lru = LRU_UNEVICTABLE;
    }
    add_page_to_lru_list(page, lruvec, lru);
    spin_unlock_irq(&pgdat->lru_lock);
}

void putback_lru_page(struct page *page) {
    lru_cache_add(page);
    put_page(page);
}

void activate_page(struct page *page) {
    struct pglist_data *pgdat = page_pgdat(page);
    spin_lock_irq(&pgdat->lru_lock);
    struct lruvec *lruvec = page_lruvec(page);
    if (PageLRU(page) && !PageActive(page) && !PageUnevictable(page)) {
        enum lru_list lru = page_lru(page);
        del_page_from_lru_list(page, lruvec, lru);
        SetPageActive(page);
        add_page_to_lru_list(page, lruvec, (enum lru_list)(lru + LRU_ACTIVE));
        count_vm_events(PGACTIVATE, thp_nr_pages(page));
        count_memcg_events(lruvec_memcg(lruvec), PGACTIVATE, thp_nr_pages(page));
    }
    spin_unlock_irq(&pgdat->lru_lock);
}

void mark_page_accessed(struct page *page) {
    page = compound_head(page);
    if (!PageReferenced(page)) {
        SetPageReferenced(page);
    } else if (PageUnevictable(page)) {
        // Unevictable pages are not aged.
    } else if (!PageActive(page)) {
        if (PageLRU(page))
            activate_page(page);
        ClearPageReferenced(page);
        workingset_activation(page);
    }
}

void lru_note_cost(struct lruvec *lruvec, bool file, unsigned long nr_pages) {
    do {
        if (file)
            lruvec->file_cost += nr_pages;
        else
            lruvec->anon_cost += nr_pages;
        // Decay the costs so that they follow the recent past, over a quarter of the lists.
        struct mem_cgroup *memcg = lruvec_memcg(lruvec);
        unsigned long lrusize = 0;
        for (int lru = LRU_INACTIVE_ANON; lru <= LRU_ACTIVE_FILE; lru++)
            lrusize += (unsigned long)std::max(0L, memcg_state(memcg, (NodeStat)lru));
        if (lruvec->file_cost + lruvec->anon_cost > lrusize / 4) {
            lruvec->file_cost /= 2;
            lruvec->anon_cost /= 2;
        }
        struct mem_cgroup *parent = parent_mem_cgroup(memcg);
        lruvec = parent ? mem_cgroup_lruvec(parent, nullptr) : nullptr;
    } while (lruvec);
}

void get_page(struct page *page) {
    atomic_inc(&compound_head(page)->_refcount);
}

// __page_cache_release() and the free: the last reference takes the page off its list.
void put_page(struct page *page) {
    page = compound_head(page);
    int v = atomic_dec_return(&page->_refcount);
    if (v > 0)
        return;
    if (v < 0) {
        fprintf(stderr, "BUG: put_page of pfn %lu below zero\n", page_to_pfn(page));
        abort();
    }
    if (PageLRU(page)) {
        struct pglist_data *pgdat = page_pgdat(page);
        unsigned long flags;
        spin_lock_irqsave(&pgdat->lru_lock, flags);
        del_page_from_lru_list(page, page_lruvec(page), page_lru(page));
        ClearPageLRU(page);
        spin_unlock_irqrestore(&pgdat->lru_lock, flags);
    }
    ClearPageActive(page);
    ClearPageUnevictable(page);
    mem_cgroup_uncharge(page);
    free_pages_ref0(page);
}

}  // namespace sim::mm
