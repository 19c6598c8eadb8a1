// Workingset detection (mm/workingset.c, 5.10): a real model of shadow entries and refault
// distances. Every lruvec keeps a clock, nonresident_age, that advances with each eviction
// and activation below it. An evicted page leaves the clock's reading in a shadow; when the
// page is faulted back, the clock's advance since then is how much memory it would have
// needed to stay, and a page that would have fitted in the workingset is activated at once.
#include "simkernel/mm/mm_internal.h"

namespace sim::mm {
namespace {

unsigned long lruvec_state(struct lruvec *lruvec, NodeStat item) {
    long v = memcg_state(lruvec_memcg(lruvec), item);
    return v < 0 ? 0 : (unsigned long)v;
}

}  // namespace

void workingset_age_nonresident(struct lruvec *lruvec, unsigned long nr_pages) {
    // Reclaim of an ancestor sees evictions and activations in every group below it.
    struct mem_cgroup *memcg = lruvec_memcg(lruvec);
    do {
        mem_cgroup_lruvec(memcg, nullptr)->nonresident_age += nr_pages;
    } while ((memcg = parent_mem_cgroup(memcg)));
}

Shadow workingset_eviction(struct page *page, struct mem_cgroup *target) {
    struct mem_cgroup *memcg = target ? target : root_mem_cgroup;
    struct lruvec *lruvec = mem_cgroup_lruvec(memcg, nullptr);
    workingset_age_nonresident(lruvec, thp_nr_pages(page));
    return Shadow{memcg, lruvec->nonresident_age, (bool)PageWorkingset(page)};
}

void workingset_refault(struct page *page, const Shadow &shadow) {
    bool file = !PageSwapBacked(page);
    // The evicting group is gone: the distance cannot be told.
    if (!shadow.memcg || !mem_cgroup_online(shadow.memcg))
        return;
    struct lruvec *eviction_lruvec = mem_cgroup_lruvec(shadow.memcg, nullptr);
    unsigned long refault_distance = eviction_lruvec->nonresident_age - shadow.eviction;
    struct lruvec *lruvec = page_lruvec(page);
    VmEvent refault = file ? WORKINGSET_REFAULT_FILE : WORKINGSET_REFAULT_ANON;
    count_vm_events(refault, 1);
    count_memcg_events(lruvec_memcg(lruvec), refault, 1);

    // Compare the distance with the lists the page competes with: the active file pages,
    // the inactive file pages for an anonymous page, and the anonymous lists while there
    // is swap to move them to.
    unsigned long workingset_size = lruvec_state(eviction_lruvec, NR_ACTIVE_FILE);
    if (!file)
        workingset_size += lruvec_state(eviction_lruvec, NR_INACTIVE_FILE);
    if (get_nr_swap_pages() > 0) {
        workingset_size += lruvec_state(eviction_lruvec, NR_ACTIVE_ANON);
        if (file)
            workingset_size += lruvec_state(eviction_lruvec, NR_INACTIVE_ANON);
    }
    if (refault_distance > workingset_size)
        return;
    SetPageActive(page);
    workingset_age_nonresident(lruvec, thp_nr_pages(page));
    VmEvent activate = file ? WORKINGSET_ACTIVATE_FILE : WORKINGSET_ACTIVATE_ANON;
    count_vm_events(activate, 1);
    count_memcg_events(lruvec_memcg(lruvec), activate, 1);
    // A page that was in the workingset before its eviction: reclaiming it was a cost.
    if (shadow.workingset) {
        SetPageWorkingset(page);
        lru_note_cost(lruvec, file, thp_nr_pages(page));
    }
}

void workingset_activation(struct page *page) {
    if (page->mem_cgroup)
        workingset_age_nonresident(page_lruvec(page), thp_nr_pages(page));
}

}  // namespace sim::mm
