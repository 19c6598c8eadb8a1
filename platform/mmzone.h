// Nodes, LRU lists and LRU vectors (include/linux/mmzone.h, mm_inline.h).
#pragma once

#include <platform/atomic.h>
#include <platform/list.h>
#include <platform/spinlock.h>

#define LRU_BASE 0
#define LRU_ACTIVE 1
#define LRU_FILE 2

enum lru_list {
    LRU_INACTIVE_ANON = LRU_BASE,
    LRU_ACTIVE_ANON = LRU_BASE + LRU_ACTIVE,
    LRU_INACTIVE_FILE = LRU_BASE + LRU_FILE,
    LRU_ACTIVE_FILE = LRU_BASE + LRU_FILE + LRU_ACTIVE,
    LRU_UNEVICTABLE,
    NR_LRU_LISTS
};

#define for_each_lru(lru) \
    for (lru = (enum lru_list)0; lru < NR_LRU_LISTS; lru = (enum lru_list)(lru + 1))
#define for_each_evictable_lru(lru) \
    for (lru = (enum lru_list)0; lru <= LRU_ACTIVE_FILE; lru = (enum lru_list)(lru + 1))

static inline bool is_file_lru(enum lru_list lru) {
    return (lru == LRU_INACTIVE_FILE || lru == LRU_ACTIVE_FILE);
}

static inline bool is_active_lru(enum lru_list lru) {
    return (lru == LRU_ACTIVE_ANON || lru == LRU_ACTIVE_FILE);
}

#define ANON_AND_FILE 2

struct page;

// A memory node (pg_data_t); the phone has one. Its lru_lock guards the LRU lists of every
// memory cgroup on the node and their sizes, and is taken with interrupts disabled.
typedef struct pglist_data {
    spinlock_t lru_lock;
} pg_data_t;

extern "C" struct pglist_data contig_page_data;
#define NODE_DATA(nid) (&contig_page_data)

static inline struct pglist_data *page_pgdat(const struct page *) {
    return NODE_DATA(0);
}

// One memory cgroup's pages on one node. The lists hold head and ordinary pages, linked
// through page->lru, most recently added first, under the node's lru_lock.
struct lruvec {
    struct list_head lists[NR_LRU_LISTS];
    // Pages (not entries: a compound page counts its base pages) on each list.
    unsigned long lru_size[NR_LRU_LISTS];
    // Cost of reclaiming each kind: pages rotated or refaulted, balancing get_scan_count().
    unsigned long anon_cost;
    unsigned long file_cost;
    unsigned long refaults[ANON_AND_FILE];
    // Evictions and activations so far, the clock of the workingset's refault distances.
    unsigned long nonresident_age;
    struct pglist_data *pgdat;
};

#define MAX_NUMNODES 1
