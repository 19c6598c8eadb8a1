// The memory controller (mm/memcontrol.c), legacy hierarchy: a real model of the group tree,
// per-group LRU vectors, page charging, local and hierarchical counters and memory.stat.
#include "simkernel/mm/memcontrol_host.h"
#include "simkernel/mm/mm_internal.h"

#include <platform/sched.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <unordered_map>

extern "C" {
__attribute__((visibility("default"))) struct mem_cgroup *root_mem_cgroup;
__attribute__((visibility("default"))) int vm_swappiness = 60;
}

namespace sim::mm {
namespace {

struct MemcgBox {
    struct mem_cgroup memcg {};
    sim_memcg_host host;
};

uint64_t next_serial = 1;
// Every group ever made: removed groups stay allocated (offline), so that a reclaimer or
// walker standing on one can still step past it.
std::vector<std::unique_ptr<MemcgBox>> all_groups;
// Task membership; tasks not listed are in the root group. A leaf lock, so that membership can
// be read under tasklist_lock.
std::mutex membership_lock;
std::unordered_map<const struct task_struct *, struct mem_cgroup *> membership;

struct mem_cgroup *memcg_alloc(struct mem_cgroup *parent, std::string name) {
    auto box = std::make_unique<MemcgBox>();
    struct mem_cgroup *memcg = &box->memcg;
    sim_memcg_host *h = &box->host;
    memcg->sim_host = h;
    memcg->css.ss = &memory_cgrp_subsys;
    memcg->css.parent = parent ? &parent->css : nullptr;
    memcg->css.flags = CSS_ONLINE;
    memcg->swappiness = parent ? mem_cgroup_swappiness(parent) : vm_swappiness;
    memcg->nodeinfo[0] = &h->node;
    h->node.memcg = memcg;
    struct lruvec *lruvec = &h->node.lruvec;
    enum lru_list lru;
    for_each_lru(lru) INIT_LIST_HEAD(&lruvec->lists[lru]);
    lruvec->pgdat = NODE_DATA(0);
    h->name = std::move(name);
    h->parent = parent;
    h->serial = next_serial++;
    if (parent)
        parent->sim_host->children.push_back(memcg);
    all_groups.push_back(std::move(box));
    return memcg;
}

// Next group after pos in a pre-order walk of root's subtree; pos may be offline.
struct mem_cgroup *next_pre(struct mem_cgroup *pos, struct mem_cgroup *root) {
    for (struct mem_cgroup *c : pos->sim_host->children)
        if (c->sim_host->online)
            return c;
    while (pos != root) {
        struct mem_cgroup *parent = pos->sim_host->parent;
        uint64_t serial = pos->sim_host->serial;
        for (struct mem_cgroup *c : parent->sim_host->children)
            if (c->sim_host->serial > serial && c->sim_host->online)
                return c;
        pos = parent;
    }
    return nullptr;
}

}  // namespace

void memcg_boot() {
    root_mem_cgroup = memcg_alloc(nullptr, "");
    vm_swappiness = 60;
}

void memcg_shutdown() {
    {
        std::lock_guard g(membership_lock);
        membership.clear();
    }
    all_groups.clear();
    root_mem_cgroup = nullptr;
    next_serial = 1;
}

struct mem_cgroup *memcg_create(struct mem_cgroup *parent, const std::string &name) {
    return memcg_alloc(parent, name);
}

void memcg_offline(struct mem_cgroup *memcg) {
    sim_memcg_host *h = memcg->sim_host;
    memcg_reparent(memcg);
    h->online = false;
    memcg->css.flags &= ~CSS_ONLINE;
    auto &siblings = h->parent->sim_host->children;
    siblings.erase(std::find(siblings.begin(), siblings.end(), memcg));
}

std::vector<pid_t> memcg_tasks(struct mem_cgroup *memcg) {
    std::vector<pid_t> out;
    read_lock(&tasklist_lock);
    struct task_struct *p;
    for_each_process(p) {
        if (task_memcg(p) == memcg)
            out.push_back(p->pid);
    }
    read_unlock(&tasklist_lock);
    return out;
}

void memcg_attach_task(struct task_struct *t, struct mem_cgroup *memcg) {
    std::lock_guard g(membership_lock);
    if (memcg == root_mem_cgroup)
        membership.erase(t);
    else
        membership[t] = memcg;
}

void memcg_forget_task(const struct task_struct *t) {
    std::lock_guard g(membership_lock);
    membership.erase(t);
}

struct mem_cgroup *task_memcg(struct task_struct *t) {
    std::lock_guard g(membership_lock);
    auto it = membership.find(t);
    return it == membership.end() ? root_mem_cgroup : it->second;
}

struct mem_cgroup *memcg_child(struct mem_cgroup *parent, std::string_view name) {
    for (struct mem_cgroup *c : parent->sim_host->children)
        if (c->sim_host->name == name)
            return c;
    return nullptr;
}

std::string memcg_path(struct mem_cgroup *memcg) {
    std::string path;
    for (; memcg && memcg != root_mem_cgroup; memcg = memcg->sim_host->parent)
        path = "/" + memcg->sim_host->name + path;
    return path.empty() ? "/" : path;
}

void mod_memcg_state(struct mem_cgroup *memcg, NodeStat item, long delta) {
    memcg->sim_host->local.stat[item].fetch_add(delta, std::memory_order_relaxed);
    for (struct mem_cgroup *m = memcg; m; m = m->sim_host->parent)
        m->sim_host->total.stat[item].fetch_add(delta, std::memory_order_relaxed);
}

void count_memcg_events(struct mem_cgroup *memcg, VmEvent item, unsigned long n) {
    memcg->sim_host->local.events[item].fetch_add(n, std::memory_order_relaxed);
    for (struct mem_cgroup *m = memcg; m; m = m->sim_host->parent)
        m->sim_host->total.events[item].fetch_add(n, std::memory_order_relaxed);
}

long memcg_state_local(struct mem_cgroup *memcg, NodeStat item) {
    return memcg->sim_host->local.stat[item].load(std::memory_order_relaxed);
}
long memcg_state(struct mem_cgroup *memcg, NodeStat item) {
    return memcg->sim_host->total.stat[item].load(std::memory_order_relaxed);
}
unsigned long memcg_events_local(struct mem_cgroup *memcg, VmEvent item) {
    return memcg->sim_host->local.events[item].load(std::memory_order_relaxed);
}
unsigned long memcg_events(struct mem_cgroup *memcg, VmEvent item) {
    return memcg->sim_host->total.events[item].load(std::memory_order_relaxed);
}

struct mem_cgroup *parent_mem_cgroup(struct mem_cgroup *memcg) {
    return memcg->sim_host->parent;
}
bool mem_cgroup_online(struct mem_cgroup *memcg) {
    return memcg->sim_host->online;
}

int mem_cgroup_swappiness(struct mem_cgroup *memcg) {
    if (mem_cgroup_is_root(memcg))
        return READ_ONCE(vm_swappiness);
    return READ_ONCE(memcg->swappiness);
}

void mem_cgroup_charge(struct page *page, struct mem_cgroup *memcg) {
    long nr = thp_nr_pages(page);
    page->mem_cgroup = memcg;
    mod_memcg_state(memcg, NR_CHARGED, nr);
    count_memcg_events(memcg, PGPGIN, 1);
}

void mem_cgroup_uncharge(struct page *page) {
    struct mem_cgroup *memcg = page->mem_cgroup;
    if (!memcg)
        return;
    mod_memcg_state(memcg, NR_CHARGED, -(long)thp_nr_pages(page));
    count_memcg_events(memcg, PGPGOUT, 1);
    page->mem_cgroup = nullptr;
}

struct lruvec *page_lruvec(struct page *page) {
    return mem_cgroup_lruvec(compound_head(page)->mem_cgroup, nullptr);
}

struct mem_cgroup *lruvec_memcg(struct lruvec *lruvec) {
    return container_of(lruvec, struct mem_cgroup_per_node, lruvec)->memcg;
}

// The parent takes over the LRU pages and the counts; the caller holds big_lock(), so no page
// of the group is isolated by reclaim at this point.
void memcg_reparent(struct mem_cgroup *memcg) {
    struct mem_cgroup *parent = memcg->sim_host->parent;
    struct lruvec *from = mem_cgroup_lruvec(memcg, nullptr),
                  *to = mem_cgroup_lruvec(parent, nullptr);
    struct pglist_data *pgdat = lruvec_pgdat(from);
    spin_lock_irq(&pgdat->lru_lock);
    enum lru_list lru;
    for_each_lru(lru) {
        struct page *page, *next;
        list_for_each_entry_safe(page, next, &from->lists[lru], lru) {
            del_page_from_lru_list(page, from, lru);
            page->mem_cgroup = parent;
            add_page_to_lru_list(page, to, lru);
        }
    }
    spin_unlock_irq(&pgdat->lru_lock);
    // Pages off the LRU (mapped pages being freed cannot be: big_lock is held) follow too.
    for (int i = 0; i < NR_NODE_STATS; i++) {
        long v = memcg->sim_host->local.stat[i].exchange(0);
        memcg->sim_host->total.stat[i].fetch_sub(v);
        parent->sim_host->local.stat[i].fetch_add(v);
    }
}

}  // namespace sim::mm

extern "C" __attribute__((visibility("default"))) struct mem_cgroup *mem_cgroup_iter(
    struct mem_cgroup *root, struct mem_cgroup *prev, struct mem_cgroup_reclaim_cookie *) {
    std::lock_guard g(sim::mm::big_lock());
    if (!root)
        root = root_mem_cgroup;
    if (!prev)
        return root;
    return sim::mm::next_pre(prev, root);
}
