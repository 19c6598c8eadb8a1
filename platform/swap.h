// Swap and page reclaim (include/linux/swap.h).
#pragma once

#include <platform/gfp.h>
#include <platform/memcontrol.h>

#define SWAP_CLUSTER_MAX 32UL
#define DEF_PRIORITY 12

extern "C" {
// Swap slots in all and still free (the zram device).
extern long total_swap_pages;
long get_nr_swap_pages(void);

extern int vm_swappiness;

// Reclaims at least SWAP_CLUSTER_MAX pages' worth from memcg and its descendants, or from the
// whole system for a null memcg, in the calling task; returns the pages freed.
unsigned long try_to_free_mem_cgroup_pages(struct mem_cgroup *memcg, unsigned long nr_pages,
                                           gfp_t gfp_mask, bool may_swap);
// Calls the android_vh_do_traversal_lruvec hook once for every LRU vector.
void do_traversal_all_lruvec(void);
}
