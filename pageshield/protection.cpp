// The protection decision for reclaim, and the walk of one LRU vector that gives the fresh
// counts.
#include "pageshield/pageshield.h"

#include <platform/list.h>
#include <platform/trace/hooks/vmscan.h>

// The cheap tests first: si_mem_available() runs only for a widely mapped evictable page
// whose kind is within its budget.
static bool zo_should_protect(struct page *page) {
    if (!zo_protect_enabled())
        return false;
    if (!zo_widely_mapped(page))
        return false;
    if (test_bit(PG_unevictable, &zo_page_head(page)->flags))
        return false;
    int kind = zo_page_kind(page);
    if ((u64)atomic64_read_acquire(&nr_mapped_multiple[kind]) >
        READ_ONCE(zo_mapped_protect_thres[kind]))
        return false;
    return (u64)si_mem_available() >= READ_ONCE(zo_memavail_noprotect_thres);
}

void page_should_be_protect(void *, struct page *page, bool *should_protect) {
    *should_protect = zo_should_protect(page);
}

// The kernel holds the node's LRU lock around this call, so the lists stand still; the
// module's lock only keeps two walks from adding at once. The LRU lock is held with interrupts
// off, so the walk restores the interrupt state it found instead of turning them on under it.
// The kind is the list's, and a compound page counts once per widely mapped sub-page.
void do_traversal_lruvec(void *, struct lruvec *lruvec) {
    unsigned long flags;

    spin_lock_irqsave(&traversal_lock, flags);
    for (int lru = LRU_INACTIVE_ANON; lru <= LRU_ACTIVE_FILE; lru++) {
        atomic64_t *target = &nr_mapped_multiple_debug[is_file_lru((enum lru_list)lru)];
        struct list_head *head = &lruvec->lists[lru];
        for (struct list_head *pos = head->next; pos != head; pos = pos->next) {
            struct page *page = list_entry(pos, struct page, lru);
            if (test_bit(PG_head, &page->flags)) {
                unsigned int nr = page[1].compound_nr;
                for (unsigned int j = 0; j < nr; j++)
                    if (zo_widely_mapped(&page[j]))
                        atomic64_add(1, target);
            } else if (zo_widely_mapped(page)) {
                atomic64_add(1, target);
            }
        }
    }
    spin_unlock_irqrestore(&traversal_lock, flags);
}
