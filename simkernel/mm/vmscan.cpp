// Page reclaim (mm/vmscan.c, 5.10): a real model of direct, memcg and kswapd reclaim:
// priorities 12 to 0, get_scan_count() with the vendor scan-type hook, inactive-list shrinking
// with reference checks, swap-out to zram and page-cache drop, active-list aging, and the
// protection hook on every page reclaim considers.
#include "simkernel/mm/mm_internal.h"

#include <platform/kthread.h>
#include <platform/sched.h>
#include <platform/trace/events/vmscan.h>
#include <platform/trace/hooks/mm.h>
#include <platform/trace/hooks/vmscan.h>

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdio>
#include <cstdlib>

// The trace events' tracepoints live where they fire, as CREATE_TRACE_POINTS puts them.
struct tracepoint __tracepoint_mm_vmscan_memcg_reclaim_begin = {"mm_vmscan_memcg_reclaim_begin",
                                                                nullptr};
struct tracepoint __tracepoint_mm_vmscan_memcg_reclaim_end = {"mm_vmscan_memcg_reclaim_end",
                                                              nullptr};

namespace sim::mm {
namespace {

enum scan_balance {
    SCAN_EQUAL,  // equal proportion of anon and file
    SCAN_FRACT,  // proportional to swappiness and list costs
    SCAN_ANON,   // anonymous pages only
    SCAN_FILE,   // file pages only
};

enum page_references {
    PAGEREF_RECLAIM,
    PAGEREF_RECLAIM_CLEAN,
    PAGEREF_KEEP,
    PAGEREF_ACTIVATE,
};

// The zones of an arm64 node; only which of the last two an allocation may use matters here.
enum zone_type { ZONE_DMA, ZONE_DMA32, ZONE_NORMAL, ZONE_MOVABLE };

constexpr unsigned int DEACTIVATE_ANON = 1, DEACTIVATE_FILE = 2;
constexpr int MAX_RECLAIM_RETRIES = 16;
constexpr gfp_t GFP_RECLAIM_MASK = __GFP_RECLAIM | __GFP_HIGH | __GFP_IO | __GFP_FS | __GFP_NOWARN |
                                   __GFP_RETRY_MAYFAIL | __GFP_NOFAIL | __GFP_NORETRY |
                                   __GFP_MEMALLOC | __GFP_NOMEMALLOC;

struct scan_control {
    unsigned long nr_to_reclaim = 0;
    struct mem_cgroup *target_mem_cgroup = nullptr;
    unsigned long anon_cost = 0, file_cost = 0;
    unsigned int may_deactivate = 0;
    bool force_deactivate = false, skipped_deactivate = false;
    bool may_writepage = true, may_unmap = true, may_swap = true;
    bool cache_trim_mode = false, file_is_tiny = false;
    int priority = DEF_PRIORITY;
    gfp_t gfp_mask = 0;
    enum zone_type reclaim_idx = ZONE_MOVABLE;  // the highest zone reclaim may take pages from
    unsigned long nr_scanned = 0, nr_reclaimed = 0;
};

struct task_struct *kswapd_task;
std::atomic<bool> kswapd_wake{false};
std::atomic<int> kswapd_failures{0};

bool cgroup_reclaim(const scan_control *sc) {
    return sc->target_mem_cgroup != nullptr;
}
bool current_is_kswapd() {
    return current->flags & PF_KSWAPD;
}

unsigned long lruvec_lru_size(struct lruvec *lruvec, enum lru_list lru) {
    return READ_ONCE(lruvec->lru_size[lru]);
}

unsigned long lruvec_page_state(struct lruvec *lruvec, NodeStat item) {
    return (unsigned long)std::max(0L, memcg_state(lruvec_memcg(lruvec), item));
}

bool page_mapped(struct page *page) {
    for (unsigned long i = 0; i < compound_nr(page); i++)
        if (atomic_read(&page[i]._mapcount) >= 0)
            return true;
    return false;
}

struct page *lru_to_page(struct list_head *head) {
    return list_entry(head->prev, struct page, lru);
}

bool pgdat_balanced() {
    return (long)nr_free_pages() > (long)watermarks().high;
}

// Isolates up to nr_to_scan base pages from the tail of one list. Caller holds lru_lock.
unsigned long isolate_lru_pages(unsigned long nr_to_scan, struct lruvec *lruvec,
                                struct list_head *dst, unsigned long *nr_scanned,
                                enum lru_list lru) {
    struct list_head *src = &lruvec->lists[lru];
    unsigned long nr_taken = 0, scan = 0;
    while (scan < nr_to_scan && !list_empty(src)) {
        struct page *page = lru_to_page(src);
        unsigned long nr_pages = compound_nr(page);
        scan += nr_pages;
        // __isolate_lru_page(): a page whose last reference is going is being freed elsewhere.
        if (!atomic_inc_not_zero(&page->_refcount)) {
            list_move_tail(&page->lru, src);
            continue;
        }
        ClearPageLRU(page);
        nr_taken += nr_pages;
        trace_android_vh_del_page_from_lrulist(page, false, lru);
        list_del(&page->lru);
        list_add(&page->lru, dst);
    }
    *nr_scanned = scan;
    update_lru_size(lruvec, lru, -(long)nr_taken);
    return nr_taken;
}

// Puts isolated pages back on their lists, dropping the isolation reference. Caller holds
// lru_lock; returns the pages moved.
unsigned long move_pages_to_lru(struct lruvec *lruvec, struct list_head *list) {
    struct pglist_data *pgdat = lruvec_pgdat(lruvec);
    unsigned long nr_moved = 0;
    LIST_HEAD(pages_to_free);
    while (!list_empty(list)) {
        struct page *page = lru_to_page(list);
        list_del(&page->lru);
        if (!page_evictable(page)) {
            spin_unlock_irq(&pgdat->lru_lock);
            putback_lru_page(page);
            spin_lock_irq(&pgdat->lru_lock);
            continue;
        }
        SetPageLRU(page);
        enum lru_list lru = page_lru(page);
        add_page_to_lru_list(page, lruvec, lru);
        if (PageActive(page))
            workingset_age_nonresident(lruvec, thp_nr_pages(page));
        if (atomic_dec_and_test(&page->_refcount)) {
            ClearPageLRU(page);
            del_page_from_lru_list(page, lruvec, lru);
            ClearPageActive(page);
            list_add(&page->lru, &pages_to_free);
        } else {
            nr_moved += thp_nr_pages(page);
        }
    }
    if (!list_empty(&pages_to_free)) {
        spin_unlock_irq(&pgdat->lru_lock);
        while (!list_empty(&pages_to_free)) {
            struct page *page = lru_to_page(&pages_to_free);
            list_del(&page->lru);
            mem_cgroup_uncharge(page);
            free_pages_ref0(page);
        }
        spin_lock_irq(&pgdat->lru_lock);
    }
    return nr_moved;
}

bool should_protect(struct page *page) {
    bool protect = false;
    trace_android_vh_page_should_be_protected(page, &protect);
    return protect;
}

enum page_references page_check_references(struct page *page) {
    unsigned long vm_flags = 0;
    int referenced_ptes = page_referenced(page, &vm_flags);
    int referenced_page = TestClearPageReferenced(page);
    if (vm_flags & VM_LOCKED)
        return PAGEREF_RECLAIM;
    if (referenced_ptes) {
        // A second reference, or a page shared by several mappings, stays in memory.
        SetPageReferenced(page);
        if (referenced_page || referenced_ptes > 1)
            return PAGEREF_ACTIVATE;
        // Executable file pages are activated after their first use: code is costly to lose.
        if ((vm_flags & VM_EXEC) && !PageSwapBacked(page))
            return PAGEREF_ACTIVATE;
        return PAGEREF_KEEP;
    }
    if (referenced_page && !PageSwapBacked(page))
        return PAGEREF_RECLAIM_CLEAN;
    return PAGEREF_RECLAIM;
}

unsigned long shrink_page_list(struct list_head *page_list, scan_control *sc,
                               struct mem_cgroup *memcg, unsigned long *nr_pageout) {
    LIST_HEAD(ret_pages);
    LIST_HEAD(free_pages);
    unsigned long nr_reclaimed = 0, pgactivate = 0;
    while (!list_empty(page_list)) {
        struct page *page = lru_to_page(page_list);
        list_del(&page->lru);
        unsigned long nr_pages = compound_nr(page);
        sc->nr_scanned += nr_pages;

        if (!page_evictable(page))
            goto activate_locked;
        if (!sc->may_unmap && page_mapped(page))
            goto keep;
        if (should_protect(page))
            goto activate_locked;

        switch (page_check_references(page)) {
            case PAGEREF_ACTIVATE:
                goto activate_locked;
            case PAGEREF_KEEP:
                goto keep;
            case PAGEREF_RECLAIM:
            case PAGEREF_RECLAIM_CLEAN:
                break;
        }

        if (PageAnon(page) && PageSwapBacked(page) && !PageSwapCache(page)) {
            if (!(sc->gfp_mask & __GFP_IO))
                goto keep;
            if (!add_to_swap(page))
                goto activate_locked;
        }
        if (page_mapped(page) && !try_to_unmap(page))
            goto activate_locked;
        if (PageDirty(page)) {
            if (!sc->may_writepage)
                goto keep;
            swap_writepage(page);
            *nr_pageout += nr_pages;
        }
        if (!remove_mapping(page, sc->target_mem_cgroup))
            goto keep;
        nr_reclaimed += nr_pages;
        list_add(&page->lru, &free_pages);
        continue;

    activate_locked:
        if (!PageMlocked(page)) {
            SetPageActive(page);
            pgactivate += nr_pages;
        }
    keep:
        list_add(&page->lru, &ret_pages);
    }
    while (!list_empty(&free_pages)) {
        struct page *page = lru_to_page(&free_pages);
        list_del(&page->lru);
        ClearPageActive(page);
        mem_cgroup_uncharge(page);
        free_pages_ref0(page);
    }
    // ret_pages is in reverse order of the scan: put it back as the kernel's list_splice does.
    while (!list_empty(&ret_pages)) {
        struct page *page = lru_to_page(&ret_pages);
        list_del(&page->lru);
        list_add(&page->lru, page_list);
    }
    count_vm_events(PGACTIVATE, pgactivate);
    count_memcg_events(memcg, PGACTIVATE, pgactivate);
    return nr_reclaimed;
}

unsigned long shrink_inactive_list(unsigned long nr_to_scan, struct lruvec *lruvec,
                                   scan_control *sc, enum lru_list lru) {
    LIST_HEAD(page_list);
    bool file = is_file_lru(lru);
    struct mem_cgroup *memcg = lruvec_memcg(lruvec);
    struct pglist_data *pgdat = lruvec_pgdat(lruvec);
    unsigned long nr_scanned, nr_pageout = 0;

    spin_lock_irq(&pgdat->lru_lock);
    unsigned long nr_taken = isolate_lru_pages(nr_to_scan, lruvec, &page_list, &nr_scanned, lru);
    mod_memcg_state(memcg, (NodeStat)(NR_ISOLATED_ANON + file), (long)nr_taken);
    VmEvent item = current_is_kswapd() ? PGSCAN_KSWAPD : PGSCAN_DIRECT;
    if (!cgroup_reclaim(sc))
        count_vm_events(item, nr_scanned);
    count_memcg_events(memcg, item, nr_scanned);
    count_vm_events((VmEvent)(PGSCAN_ANON + file), nr_scanned);
    spin_unlock_irq(&pgdat->lru_lock);
    if (nr_taken == 0)
        return 0;

    unsigned long nr_reclaimed = shrink_page_list(&page_list, sc, memcg, &nr_pageout);

    spin_lock_irq(&pgdat->lru_lock);
    move_pages_to_lru(lruvec, &page_list);
    mod_memcg_state(memcg, (NodeStat)(NR_ISOLATED_ANON + file), -(long)nr_taken);
    item = current_is_kswapd() ? PGSTEAL_KSWAPD : PGSTEAL_DIRECT;
    if (!cgroup_reclaim(sc))
        count_vm_events(item, nr_reclaimed);
    count_memcg_events(memcg, item, nr_reclaimed);
    count_vm_events((VmEvent)(PGSTEAL_ANON + file), nr_reclaimed);
    lru_note_cost(lruvec, file, nr_pageout);
    spin_unlock_irq(&pgdat->lru_lock);
    return nr_reclaimed;
}

void shrink_active_list(unsigned long nr_to_scan, struct lruvec *lruvec, scan_control *sc,
                        enum lru_list lru) {
    LIST_HEAD(l_hold);
    LIST_HEAD(l_active);
    LIST_HEAD(l_inactive);
    bool file = is_file_lru(lru);
    struct mem_cgroup *memcg = lruvec_memcg(lruvec);
    struct pglist_data *pgdat = lruvec_pgdat(lruvec);
    unsigned long nr_scanned;

    spin_lock_irq(&pgdat->lru_lock);
    unsigned long nr_taken = isolate_lru_pages(nr_to_scan, lruvec, &l_hold, &nr_scanned, lru);
    mod_memcg_state(memcg, (NodeStat)(NR_ISOLATED_ANON + file), (long)nr_taken);
    if (!cgroup_reclaim(sc))
        count_vm_events(PGREFILL, nr_scanned);
    count_memcg_events(memcg, PGREFILL, nr_scanned);
    spin_unlock_irq(&pgdat->lru_lock);

    while (!list_empty(&l_hold)) {
        struct page *page = lru_to_page(&l_hold);
        list_del(&page->lru);
        if (!page_evictable(page)) {
            putback_lru_page(page);
            continue;
        }
        // Referenced code stays active: executable file pages get another trip round the
        // active list, all others are deactivated even if referenced.
        unsigned long vm_flags = 0;
        if (page_referenced(page, &vm_flags) && (vm_flags & VM_EXEC) && !PageSwapBacked(page)) {
            list_add(&page->lru, &l_active);
            continue;
        }
        if (should_protect(page)) {
            list_add(&page->lru, &l_active);
            continue;
        }
        ClearPageActive(page);
        SetPageWorkingset(page);
        list_add(&page->lru, &l_inactive);
    }

    spin_lock_irq(&pgdat->lru_lock);
    move_pages_to_lru(lruvec, &l_active);
    unsigned long nr_deactivate = move_pages_to_lru(lruvec, &l_inactive);
    count_vm_events(PGDEACTIVATE, nr_deactivate);
    count_memcg_events(memcg, PGDEACTIVATE, nr_deactivate);
    mod_memcg_state(memcg, (NodeStat)(NR_ISOLATED_ANON + file), -(long)nr_taken);
    spin_unlock_irq(&pgdat->lru_lock);
}

bool inactive_is_low(struct lruvec *lruvec, enum lru_list inactive_lru) {
    unsigned long inactive = lruvec_page_state(lruvec, (NodeStat)inactive_lru);
    unsigned long active = lruvec_page_state(lruvec, (NodeStat)(inactive_lru + LRU_ACTIVE));
    unsigned long gb = (inactive + active) >> (30 - PAGE_SHIFT);
    unsigned long inactive_ratio = gb ? (unsigned long)std::sqrt((double)(10 * gb)) : 1;
    return inactive * inactive_ratio < active;
}

// Fills nr[] for the evictable lists and returns the final scan balance.
enum scan_balance get_scan_count(struct lruvec *lruvec, scan_control *sc, unsigned long *nr) {
    struct mem_cgroup *memcg = lruvec_memcg(lruvec);
    int swappiness = mem_cgroup_swappiness(memcg);
    uint64_t fraction[ANON_AND_FILE] = {0, 0};
    uint64_t denominator = 0;
    enum scan_balance scan_balance;

    if (!sc->may_swap || get_nr_swap_pages() <= 0) {
        scan_balance = SCAN_FILE;
    } else if (cgroup_reclaim(sc) && !swappiness) {
        // Groups may turn swapping off with swappiness 0; global reclaim swaps regardless.
        scan_balance = SCAN_FILE;
    } else if (!sc->priority && swappiness) {
        scan_balance = SCAN_EQUAL;
    } else if (sc->file_is_tiny) {
        scan_balance = SCAN_ANON;
    } else if (sc->cache_trim_mode) {
        scan_balance = SCAN_FILE;
    } else {
        scan_balance = SCAN_FRACT;
        unsigned long total_cost = sc->anon_cost + sc->file_cost;
        unsigned long anon_cost = total_cost + sc->anon_cost;
        unsigned long file_cost = total_cost + sc->file_cost;
        total_cost = anon_cost + file_cost;
        unsigned long ap = swappiness * (total_cost + 1) / (anon_cost + 1);
        unsigned long fp = (200 - swappiness) * (total_cost + 1) / (file_cost + 1);
        fraction[0] = ap;
        fraction[1] = fp;
        denominator = ap + fp;
    }
    trace_android_vh_tune_scan_type((char *)&scan_balance);

    enum lru_list lru;
    for_each_evictable_lru(lru) {
        bool file = is_file_lru(lru);
        unsigned long lruvec_size = lruvec_lru_size(lruvec, lru);
        unsigned long scan = lruvec_size >> sc->priority;
        if (!scan && !mem_cgroup_online(memcg))
            scan = std::min(lruvec_size, SWAP_CLUSTER_MAX);
        switch (scan_balance) {
            case SCAN_EQUAL:
                break;
            case SCAN_FRACT:
                if (!denominator) {
                    // The kernel divides by zero here: a probe chose SCAN_FRACT where the
                    // fractions were never computed.
                    fprintf(stderr, "BUG: get_scan_count: SCAN_FRACT without fractions\n");
                    abort();
                }
                scan = scan * fraction[file] / denominator;
                break;
            case SCAN_FILE:
            case SCAN_ANON:
                if ((scan_balance == SCAN_FILE) != file)
                    scan = 0;
                break;
            default:
                fprintf(stderr, "BUG: get_scan_count: scan balance %d\n", (int)scan_balance);
                abort();
        }
        nr[lru] = scan;
    }
    nr[LRU_UNEVICTABLE] = 0;
    return scan_balance;
}

unsigned long shrink_list(enum lru_list lru, unsigned long nr_to_scan, struct lruvec *lruvec,
                          scan_control *sc) {
    if (is_active_lru(lru)) {
        if (sc->may_deactivate & (1U << is_file_lru(lru)))
            shrink_active_list(nr_to_scan, lruvec, sc, lru);
        else
            sc->skipped_deactivate = true;
        return 0;
    }
    return shrink_inactive_list(nr_to_scan, lruvec, sc, lru);
}

void shrink_lruvec(struct lruvec *lruvec, scan_control *sc) {
    unsigned long nr[NR_LRU_LISTS], targets[NR_LRU_LISTS];
    unsigned long nr_reclaimed = 0, nr_to_reclaim = sc->nr_to_reclaim;
    enum lru_list lru;

    // The anon lists are aged after the scan only if the final choice scans anon pages.
    bool age_anon = get_scan_count(lruvec, sc, nr) != SCAN_FILE;
    std::copy(nr, nr + NR_LRU_LISTS, targets);
    bool scan_adjusted =
        !cgroup_reclaim(sc) && !current_is_kswapd() && sc->priority == DEF_PRIORITY;

    while (nr[LRU_INACTIVE_ANON] || nr[LRU_ACTIVE_FILE] || nr[LRU_INACTIVE_FILE]) {
        for_each_evictable_lru(lru) {
            if (nr[lru]) {
                unsigned long nr_to_scan = std::min(nr[lru], SWAP_CLUSTER_MAX);
                nr[lru] -= nr_to_scan;
                nr_reclaimed += shrink_list(lru, nr_to_scan, lruvec, sc);
            }
        }
        if (nr_reclaimed < nr_to_reclaim || scan_adjusted)
            continue;

        // Reclaimed enough: scan the two kinds in the proportion get_scan_count() asked.
        unsigned long nr_file = nr[LRU_INACTIVE_FILE] + nr[LRU_ACTIVE_FILE];
        unsigned long nr_anon = nr[LRU_INACTIVE_ANON] + nr[LRU_ACTIVE_ANON];
        if (!nr_file || !nr_anon)
            break;
        unsigned long percentage;
        int base;
        if (nr_file > nr_anon) {
            unsigned long scan_target = targets[LRU_INACTIVE_ANON] + targets[LRU_ACTIVE_ANON] + 1;
            base = LRU_BASE;
            percentage = nr_anon * 100 / scan_target;
        } else {
            unsigned long scan_target = targets[LRU_INACTIVE_FILE] + targets[LRU_ACTIVE_FILE] + 1;
            base = LRU_FILE;
            percentage = nr_file * 100 / scan_target;
        }
        nr[base] = 0;
        nr[base + LRU_ACTIVE] = 0;
        base = base == LRU_FILE ? LRU_BASE : LRU_FILE;
        for (int l = base; l <= base + LRU_ACTIVE; l++) {
            unsigned long nr_scanned = targets[l] - nr[l];
            nr[l] = targets[l] * (100 - percentage) / 100;
            nr[l] -= std::min(nr[l], nr_scanned);
        }
        scan_adjusted = true;
    }
    sc->nr_reclaimed += nr_reclaimed;

    // Even without evicting anon pages, keep the anon active/inactive ratio in balance.
    if (age_anon && total_swap_pages && inactive_is_low(lruvec, LRU_INACTIVE_ANON))
        shrink_active_list(SWAP_CLUSTER_MAX, lruvec, sc, LRU_ACTIVE_ANON);
}

void shrink_node(scan_control *sc) {
    struct lruvec *target_lruvec = mem_cgroup_lruvec(sc->target_mem_cgroup, nullptr);
    sc->anon_cost = target_lruvec->anon_cost;
    sc->file_cost = target_lruvec->file_cost;

    // Age the active lists when the inactive ones are too small, or when pages came back
    // as refaults that activated them since the last reclaim: the workingset is changing.
    if (!sc->force_deactivate) {
        struct mem_cgroup *target = lruvec_memcg(target_lruvec);
        unsigned long refaults = memcg_events(target, WORKINGSET_ACTIVATE_ANON);
        if (refaults != target_lruvec->refaults[0] ||
            inactive_is_low(target_lruvec, LRU_INACTIVE_ANON))
            sc->may_deactivate |= DEACTIVATE_ANON;
        else
            sc->may_deactivate &= ~DEACTIVATE_ANON;
        refaults = memcg_events(target, WORKINGSET_ACTIVATE_FILE);
        if (refaults != target_lruvec->refaults[1] ||
            inactive_is_low(target_lruvec, LRU_INACTIVE_FILE))
            sc->may_deactivate |= DEACTIVATE_FILE;
        else
            sc->may_deactivate &= ~DEACTIVATE_FILE;
    } else {
        sc->may_deactivate = DEACTIVATE_ANON | DEACTIVATE_FILE;
    }

    // Plenty of inactive page cache that is not thrashing: reclaim it before anon pages.
    unsigned long file = lruvec_page_state(target_lruvec, NR_INACTIVE_FILE);
    sc->cache_trim_mode = (file >> sc->priority) && !(sc->may_deactivate & DEACTIVATE_FILE);

    // Almost out of file pages: do not fall into reclaiming a tiny, thrashing cache.
    if (!cgroup_reclaim(sc)) {
        unsigned long free = nr_free_pages();
        unsigned long all_file = global_stat(NR_ACTIVE_FILE) + global_stat(NR_INACTIVE_FILE);
        unsigned long anon = global_stat(NR_INACTIVE_ANON);
        sc->file_is_tiny = all_file + free <= watermarks().high &&
                           !(sc->may_deactivate & DEACTIVATE_ANON) && (anon >> sc->priority);
    }

    struct mem_cgroup *memcg = mem_cgroup_iter(sc->target_mem_cgroup, nullptr, nullptr);
    do {
        shrink_lruvec(mem_cgroup_lruvec(memcg, nullptr), sc);
    } while ((memcg = mem_cgroup_iter(sc->target_mem_cgroup, memcg, nullptr)));
}

// The next reclaim of target ages its active lists if refaults activate pages meanwhile.
void snapshot_refaults(struct mem_cgroup *target) {
    struct lruvec *target_lruvec = mem_cgroup_lruvec(target, nullptr);
    target = lruvec_memcg(target_lruvec);
    target_lruvec->refaults[0] = memcg_events(target, WORKINGSET_ACTIVATE_ANON);
    target_lruvec->refaults[1] = memcg_events(target, WORKINGSET_ACTIVATE_FILE);
}

unsigned long do_try_to_free_pages(scan_control *sc) {
    std::lock_guard g(big_lock());
    int initial_priority = sc->priority;
retry:
    if (!cgroup_reclaim(sc))
        count_vm_events(sc->reclaim_idx == ZONE_MOVABLE ? ALLOCSTALL_MOVABLE : ALLOCSTALL_NORMAL,
                        1);
    do {
        sc->nr_scanned = 0;
        shrink_node(sc);
        if (sc->nr_reclaimed >= sc->nr_to_reclaim)
            break;
        if (sc->priority < DEF_PRIORITY - 2)
            sc->may_writepage = true;
    } while (--sc->priority >= 0);

    snapshot_refaults(sc->target_mem_cgroup);
    if (sc->nr_reclaimed)
        return sc->nr_reclaimed;
    // The ratio targets kept active lists from being aged: retry with aging forced.
    if (sc->skipped_deactivate) {
        sc->priority = initial_priority;
        sc->force_deactivate = true;
        sc->skipped_deactivate = false;
        goto retry;
    }
    return 0;
}

void age_active_anon(scan_control *sc) {
    if (!total_swap_pages)
        return;
    if (!inactive_is_low(mem_cgroup_lruvec(root_mem_cgroup, nullptr), LRU_INACTIVE_ANON))
        return;
    struct mem_cgroup *memcg = mem_cgroup_iter(nullptr, nullptr, nullptr);
    do {
        shrink_active_list(SWAP_CLUSTER_MAX, mem_cgroup_lruvec(memcg, nullptr), sc,
                           LRU_ACTIVE_ANON);
    } while ((memcg = mem_cgroup_iter(nullptr, memcg, nullptr)));
}

// Reclaims until free memory is above the high watermark, raising the priority while a pass
// at the current one does not scan its target.
void balance_pgdat() {
    std::lock_guard g(big_lock());
    scan_control sc;
    sc.gfp_mask = GFP_KERNEL;
    sc.priority = DEF_PRIORITY;
    do {
        unsigned long nr_reclaimed = sc.nr_reclaimed;
        bool raise_priority = true;
        if (pgdat_balanced())
            goto out;
        age_active_anon(&sc);
        sc.may_writepage = true;
        sc.may_swap = true;
        sc.nr_scanned = 0;
        // kswapd_shrink_node(): a high watermark's worth per pass.
        sc.nr_to_reclaim = std::max((unsigned long)watermarks().high, SWAP_CLUSTER_MAX);
        shrink_node(&sc);
        if (sc.nr_scanned >= sc.nr_to_reclaim)
            raise_priority = false;
        if (raise_priority || sc.nr_reclaimed == nr_reclaimed)
            sc.priority--;
    } while (sc.priority >= 1);
    if (!sc.nr_reclaimed)
        kswapd_failures.fetch_add(1);
out:
    snapshot_refaults(nullptr);
}

}  // namespace

unsigned long try_to_free_pages(gfp_t gfp, unsigned int) {
    scan_control sc;
    sc.nr_to_reclaim = SWAP_CLUSTER_MAX;
    sc.gfp_mask = gfp & GFP_RECLAIM_MASK;
    sc.reclaim_idx = (gfp & __GFP_MOVABLE) ? ZONE_MOVABLE : ZONE_NORMAL;  // gfp_zone()
    unsigned int noreclaim = current->flags & PF_MEMALLOC;
    current->flags |= PF_MEMALLOC;
    unsigned long nr = do_try_to_free_pages(&sc);
    current->flags = (current->flags & ~PF_MEMALLOC) | noreclaim;
    return nr;
}

void wakeup_kswapd() {
    if (!kswapd_task || kswapd_failures.load() >= MAX_RECLAIM_RETRIES || pgdat_balanced())
        return;
    kswapd_wake.store(true);
    wake_up_process(kswapd_task);
}

int kswapd(void *) {
    current->flags |= PF_MEMALLOC | PF_KSWAPD;
    for (;;) {
        set_current_state(TASK_INTERRUPTIBLE);
        if (kthread_should_stop())
            break;
        if (!kswapd_wake.exchange(false)) {
            schedule();
            continue;
        }
        __set_current_state(TASK_RUNNING);
        balance_pgdat();
        if (pgdat_balanced())
            kswapd_failures.store(0);
    }
    __set_current_state(TASK_RUNNING);
    return 0;
}

void kswapd_set_task(struct task_struct *t) {
    kswapd_task = t;
}
struct task_struct *kswapd_get_task() {
    return kswapd_task;
}

}  // namespace sim::mm

using namespace sim::mm;

extern "C" {

__attribute__((visibility("default"))) unsigned long try_to_free_mem_cgroup_pages(
    struct mem_cgroup *memcg, unsigned long nr_pages, gfp_t gfp_mask, bool may_swap) {
    scan_control sc;
    sc.nr_to_reclaim = std::max(nr_pages, SWAP_CLUSTER_MAX);
    sc.gfp_mask = (gfp_mask & GFP_RECLAIM_MASK) | (GFP_HIGHUSER_MOVABLE & ~GFP_RECLAIM_MASK);
    sc.target_mem_cgroup = memcg;
    sc.may_swap = may_swap;
    trace_mm_vmscan_memcg_reclaim_begin(0, sc.gfp_mask);
    // memalloc_noreclaim_save(): allocations made while reclaiming do not recurse into it.
    unsigned int noreclaim = current->flags & PF_MEMALLOC;
    current->flags |= PF_MEMALLOC;
    unsigned long nr = do_try_to_free_pages(&sc);
    current->flags = (current->flags & ~PF_MEMALLOC) | noreclaim;
    trace_mm_vmscan_memcg_reclaim_end(nr);
    return nr;
}

// The lists cannot change during the hook: every list change takes the node's lru_lock, held
// with interrupts disabled across the walk of every group. The hierarchy's lock is taken first,
// as reclaim takes them, so that the group walk inside cannot wait on reclaim.
__attribute__((visibility("default"))) void do_traversal_all_lruvec(void) {
    std::lock_guard hierarchy(sim::mm::big_lock());
    struct pglist_data *pgdat = NODE_DATA(0);
    spin_lock_irq(&pgdat->lru_lock);
    struct mem_cgroup *memcg = mem_cgroup_iter(nullptr, nullptr, nullptr);
    do {
        trace_android_vh_do_traversal_lruvec(mem_cgroup_lruvec(memcg, pgdat));
    } while ((memcg = mem_cgroup_iter(nullptr, memcg, nullptr)));
    spin_unlock_irq(&pgdat->lru_lock);
}

}  // extern "C"
