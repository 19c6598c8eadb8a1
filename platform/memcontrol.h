// The memory controller (include/linux/memcontrol.h).
#pragma once

#include <platform/cgroup.h>
#include <platform/mmzone.h>

struct mem_cgroup_reclaim_cookie;

struct mem_cgroup;

struct mem_cgroup_per_node {
    struct lruvec lruvec;
    struct mem_cgroup *memcg;  // back pointer
};

struct mem_cgroup {
    struct cgroup_subsys_state css;
    // vm.swappiness of the group (memory.swappiness); the root's is the system's.
    int swappiness;
    struct mem_cgroup_per_node *nodeinfo[MAX_NUMNODES];
    // Host side of the group (counters, children); opaque to module code.
    struct sim_memcg_host *sim_host;
};

static inline struct mem_cgroup *mem_cgroup_from_css(struct cgroup_subsys_state *css) {
    return css ? container_of(css, struct mem_cgroup, css) : (struct mem_cgroup *)0;
}

extern "C" {
extern struct mem_cgroup *root_mem_cgroup;

// Pre-order walk over root's subtree (the whole hierarchy for a null root): start with a null
// prev; returns null after the last group.
struct mem_cgroup *mem_cgroup_iter(struct mem_cgroup *root, struct mem_cgroup *prev,
                                   struct mem_cgroup_reclaim_cookie *reclaim);
}

static inline struct lruvec *mem_cgroup_lruvec(struct mem_cgroup *memcg, struct pglist_data *) {
    if (!memcg)
        memcg = root_mem_cgroup;
    return &memcg->nodeinfo[0]->lruvec;
}

static inline struct pglist_data *lruvec_pgdat(struct lruvec *lruvec) {
    return lruvec->pgdat;
}

static inline bool mem_cgroup_is_root(struct mem_cgroup *memcg) {
    return memcg == root_mem_cgroup;
}
