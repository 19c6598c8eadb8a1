// Per-group reclaim controls in every memory cgroup: reclaim_once reclaims in the writing task
// from that group, process_fg marks the group as foreground, which stops such a reclaim.
#include "vmassist/vmassist.h"

#include <platform/errno.h>
#include <platform/kstrtox.h>
#include <platform/memcontrol.h>
#include <platform/mutex.h>
#include <platform/printk.h>
#include <platform/slab.h>
#include <platform/string.h>
#include <platform/swap.h>

#define MEMCG_RECLAIM_MAX_CALLS 10

struct memcg_list_entry {
    struct mem_cgroup *memcg;  // compared for identity only, never followed
    struct list_head list;
    int fg;
};

struct list_head memcg_list_head;
static DEFINE_MUTEX(memcg_list_lock);

// The first entry of memcg; the caller holds memcg_list_lock.
static struct memcg_list_entry *memcg_list_lookup(struct mem_cgroup *memcg) {
    struct memcg_list_entry *e;

    list_for_each_entry(e, &memcg_list_head, list) {
        if (e->memcg == memcg)
            return e;
    }
    return nullptr;
}

static ssize_t memcg_process_fg(struct kernfs_open_file *of, char *buf, size_t nbytes, loff_t) {
    struct mem_cgroup *memcg = mem_cgroup_from_css(of_css(of));
    struct memcg_list_entry *e;
    int value;
    int ret;

    ret = kstrtoint(strim(buf), 10, &value);
    if (ret)
        return ret;

    mutex_lock(&memcg_list_lock);
    e = memcg_list_lookup(memcg);
    if (e) {
        e->fg = value > 0;
        mutex_unlock(&memcg_list_lock);
        return nbytes;
    }
    mutex_unlock(&memcg_list_lock);

    // The allocation may sleep, so it runs without the lock; a racing first write for the
    // same group may append a second entry, which lookups never reach.
    e = static_cast<struct memcg_list_entry *>(kmalloc(sizeof(*e), GFP_KERNEL));
    if (!e)
        return -ENOMEM;
    e->memcg = memcg;
    e->fg = value > 0;
    mutex_lock(&memcg_list_lock);
    list_add_tail(&e->list, &memcg_list_head);
    mutex_unlock(&memcg_list_lock);
    return nbytes;
}

static bool memcg_is_fg(struct mem_cgroup *memcg) {
    struct memcg_list_entry *e;
    bool fg;

    mutex_lock(&memcg_list_lock);
    e = memcg_list_lookup(memcg);
    fg = e && e->fg == 1;
    mutex_unlock(&memcg_list_lock);
    return fg;
}

static ssize_t memcg_reclaim_once(struct kernfs_open_file *of, char *buf, size_t nbytes, loff_t) {
    struct mem_cgroup *memcg = mem_cgroup_from_css(of_css(of));
    struct memcg_list_entry *e;
    unsigned long long request;
    unsigned long nr_pages;
    unsigned long total = 0;
    int type;
    int ret;

    ret = kstrtoull(strim(buf), 10, &request);
    if (ret)
        return ret;
    nr_pages = (unsigned long)(request % RECLAIM_REQUEST_UNIT);
    type = scan_type_of(request);

    // A reclaim starts by taking the group out of the foreground.
    mutex_lock(&memcg_list_lock);
    e = memcg_list_lookup(memcg);
    if (e)
        e->fg = 0;
    mutex_unlock(&memcg_list_lock);

    for (int i = 0; nr_pages && i < MEMCG_RECLAIM_MAX_CALLS; i++) {
        unsigned long r;

        WRITE_ONCE(scan_type, type);
        r = try_to_free_mem_cgroup_pages(memcg, nr_pages, GFP_KERNEL, true);
        WRITE_ONCE(scan_type, 0);
        total += r;
        if (!r)
            break;
        if (memcg_is_fg(memcg)) {
            pr_err("vmassist, memcg reclaim once stop!\n");
            break;
        }
        nr_pages = r >= nr_pages ? 0 : nr_pages - r;
    }
    pr_err("vmassist %s reclaimed: %lu kbytes\n", __func__, total * 4);
    return nbytes;
}

struct cftype memcg_ctrl_files[] = {
    {
        .name = "reclaim_once",
        .write = memcg_reclaim_once,
    },
    {
        .name = "process_fg",
        .write = memcg_process_fg,
    },
    {},
};

void memcg_list_free(void) {
    struct memcg_list_entry *e, *tmp;

    mutex_lock(&memcg_list_lock);
    list_for_each_entry_safe(e, tmp, &memcg_list_head, list) {
        list_del(&e->list);
        kfree(e);
    }
    mutex_unlock(&memcg_list_lock);
}
