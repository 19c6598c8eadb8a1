// VM statistics (mm/vmstat.c, fs/proc/meminfo.c, memcg's memory.stat): a real model over the
// counters the allocator, the LRU code and reclaim keep. Node statistics are the root
// group's hierarchical counts, as every LRU and page-cache page is charged to a group.
#include "simkernel/mm/mm_internal.h"

#include <cinttypes>
#include <cstdio>

namespace sim::mm {

Counters &node_counters() {
    static Counters c;
    return c;
}

long global_stat(NodeStat item) {
    long v = memcg_state(root_mem_cgroup, item);
    return v < 0 ? 0 : v;
}

void count_vm_events(VmEvent item, unsigned long n) {
    node_counters().events[item].fetch_add(n, std::memory_order_relaxed);
}

namespace {

void kb_line(std::string &out, const char *label, unsigned long pages) {
    char line[64];
    snprintf(line, sizeof(line), "%-16s%8lu kB\n", label, pages << (PAGE_SHIFT - 10));
    out += line;
}

void value_line(std::string &out, const char *name, unsigned long v) {
    char line[96];
    snprintf(line, sizeof(line), "%s %lu\n", name, v);
    out += line;
}

const char *const lru_names[NR_LRU_LISTS] = {"inactive_anon", "active_anon", "inactive_file",
                                             "active_file", "unevictable"};

}  // namespace

std::string meminfo_text() {
    std::string out;
    unsigned long lru[NR_LRU_LISTS];
    for (int i = 0; i < NR_LRU_LISTS; i++)
        lru[i] = global_stat((NodeStat)i);
    unsigned long cached = global_stat(NR_FILE_PAGES);
    kb_line(out, "MemTotal:", totalram_pages());
    kb_line(out, "MemFree:", nr_free_pages());
    kb_line(out, "MemAvailable:", si_mem_available());
    kb_line(out, "Buffers:", 0);
    kb_line(out, "Cached:", cached);
    kb_line(out, "SwapCached:", 0);
    kb_line(out, "Active:", lru[LRU_ACTIVE_ANON] + lru[LRU_ACTIVE_FILE]);
    kb_line(out, "Inactive:", lru[LRU_INACTIVE_ANON] + lru[LRU_INACTIVE_FILE]);
    kb_line(out, "Active(anon):", lru[LRU_ACTIVE_ANON]);
    kb_line(out, "Inactive(anon):", lru[LRU_INACTIVE_ANON]);
    kb_line(out, "Active(file):", lru[LRU_ACTIVE_FILE]);
    kb_line(out, "Inactive(file):", lru[LRU_INACTIVE_FILE]);
    kb_line(out, "Unevictable:", lru[LRU_UNEVICTABLE]);
    kb_line(out, "Mlocked:", global_stat(NR_MLOCK));
    kb_line(out, "SwapTotal:", total_swap_pages);
    kb_line(out, "SwapFree:", get_nr_swap_pages());
    kb_line(out, "AnonPages:", global_stat(NR_ANON_MAPPED));
    kb_line(out, "Mapped:", global_stat(NR_FILE_MAPPED));
    return out;
}

std::string vmstat_text() {
    std::string out;
    const Counters &c = node_counters();
    auto ev = [&c](VmEvent e) { return c.events[e].load(std::memory_order_relaxed); };
    value_line(out, "nr_free_pages", nr_free_pages());
    for (int i = 0; i < NR_LRU_LISTS; i++)
        value_line(out, (std::string("nr_zone_") + lru_names[i]).c_str(), global_stat((NodeStat)i));
    value_line(out, "nr_mlock", global_stat(NR_MLOCK));
    for (int i = 0; i < NR_LRU_LISTS; i++)
        value_line(out, (std::string("nr_") + lru_names[i]).c_str(), global_stat((NodeStat)i));
    value_line(out, "nr_isolated_anon", global_stat(NR_ISOLATED_ANON));
    value_line(out, "nr_isolated_file", global_stat(NR_ISOLATED_FILE));
    value_line(out, "workingset_refault_anon", ev(WORKINGSET_REFAULT_ANON));
    value_line(out, "workingset_refault_file", ev(WORKINGSET_REFAULT_FILE));
    value_line(out, "workingset_activate_anon", ev(WORKINGSET_ACTIVATE_ANON));
    value_line(out, "workingset_activate_file", ev(WORKINGSET_ACTIVATE_FILE));
    value_line(out, "nr_anon_pages", global_stat(NR_ANON_MAPPED));
    value_line(out, "nr_mapped", global_stat(NR_FILE_MAPPED));
    value_line(out, "nr_file_pages", global_stat(NR_FILE_PAGES));
    value_line(out, "pswpin", ev(PSWPIN));
    value_line(out, "pswpout", ev(PSWPOUT));
    value_line(out, "allocstall_normal", ev(ALLOCSTALL_NORMAL));
    value_line(out, "allocstall_movable", ev(ALLOCSTALL_MOVABLE));
    value_line(out, "pgactivate", ev(PGACTIVATE));
    value_line(out, "pgdeactivate", ev(PGDEACTIVATE));
    value_line(out, "pgfault", ev(PGFAULT));
    value_line(out, "pgmajfault", ev(PGMAJFAULT));
    value_line(out, "pgrefill", ev(PGREFILL));
    value_line(out, "pgsteal_kswapd", ev(PGSTEAL_KSWAPD));
    value_line(out, "pgsteal_direct", ev(PGSTEAL_DIRECT));
    value_line(out, "pgscan_kswapd", ev(PGSCAN_KSWAPD));
    value_line(out, "pgscan_direct", ev(PGSCAN_DIRECT));
    value_line(out, "pgscan_anon", ev(PGSCAN_ANON));
    value_line(out, "pgscan_file", ev(PGSCAN_FILE));
    value_line(out, "pgsteal_anon", ev(PGSTEAL_ANON));
    value_line(out, "pgsteal_file", ev(PGSTEAL_FILE));
    return out;
}

// memcg_stat_show() of the legacy hierarchy.
std::string memcg_stat_text(struct mem_cgroup *memcg) {
    static const struct {
        const char *name;
        NodeStat item;
    } stats[] = {{"cache", NR_FILE_PAGES},        {"rss", NR_ANON_MAPPED},
                 {"rss_huge", NR_NODE_STATS},     {"shmem", NR_NODE_STATS},
                 {"mapped_file", NR_FILE_MAPPED}, {"dirty", NR_NODE_STATS},
                 {"writeback", NR_NODE_STATS},    {"swap", NR_SWAP}};
    static const struct {
        const char *name;
        VmEvent item;
    } events[] = {
        {"pgpgin", PGPGIN}, {"pgpgout", PGPGOUT}, {"pgfault", PGFAULT}, {"pgmajfault", PGMAJFAULT}};
    std::string out;
    for (int hier = 0; hier < 2; hier++) {
        std::string prefix = hier ? "total_" : "";
        auto state = [&](NodeStat i) -> unsigned long {
            if (i == NR_NODE_STATS)
                return 0;  // no THP, shmem, dirty or writeback pages here
            long v = hier ? memcg_state(memcg, i) : memcg_state_local(memcg, i);
            return v < 0 ? 0 : (unsigned long)v;
        };
        auto event = [&](VmEvent e) {
            return hier ? memcg_events(memcg, e) : memcg_events_local(memcg, e);
        };
        for (const auto &s : stats)
            value_line(out, (prefix + s.name).c_str(), state(s.item) * PAGE_SIZE);
        for (const auto &e : events)
            value_line(out, (prefix + e.name).c_str(), event(e.item));
        for (int i = 0; i < NR_LRU_LISTS; i++)
            value_line(out, (prefix + lru_names[i]).c_str(), state((NodeStat)i) * PAGE_SIZE);
        if (!hier) {
            // No limits are set: PAGE_COUNTER_MAX pages.
            unsigned long max = (LONG_MAX / PAGE_SIZE) * PAGE_SIZE;
            value_line(out, "hierarchical_memory_limit", max);
            value_line(out, "hierarchical_memsw_limit", max);
        }
    }
    return out;
}

}  // namespace sim::mm
