// Internal interface of the simulated memory manager (mm/internal.h in spirit): counters, the
// page allocator, memcg accounting, LRU and rmap operations shared by the sources of mm/.
#pragma once

#include <platform/memcontrol.h>
#include <platform/mm.h>
#include <platform/swap.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

struct task_struct;
struct mm_struct;

namespace sim::mm {

// enum node_stat_item / zone_stat_item, the part the simulation keeps. The LRU items come
// first, in enum lru_list order.
enum NodeStat {
    NR_INACTIVE_ANON,
    NR_ACTIVE_ANON,
    NR_INACTIVE_FILE,
    NR_ACTIVE_FILE,
    NR_UNEVICTABLE,
    NR_ISOLATED_ANON,
    NR_ISOLATED_FILE,
    NR_ANON_MAPPED,
    NR_FILE_MAPPED,
    NR_FILE_PAGES,
    NR_MLOCK,
    NR_SWAP,     // swap slots in use by the group's pages (MEMCG_SWAP)
    NR_CHARGED,  // pages charged (the memory page counter)
    NR_NODE_STATS
};

// enum vm_event_item, the part the simulation keeps.
enum VmEvent {
    PGPGIN,
    PGPGOUT,
    PGFAULT,
    PGMAJFAULT,
    PSWPIN,
    PSWPOUT,
    ALLOCSTALL_NORMAL,
    ALLOCSTALL_MOVABLE,
    PGACTIVATE,
    PGDEACTIVATE,
    PGREFILL,
    PGSTEAL_KSWAPD,
    PGSTEAL_DIRECT,
    PGSCAN_KSWAPD,
    PGSCAN_DIRECT,
    PGSCAN_ANON,
    PGSCAN_FILE,
    PGSTEAL_ANON,
    PGSTEAL_FILE,
    // Node statistics in the kernel; only ever counted up, so kept with the events.
    WORKINGSET_REFAULT_ANON,
    WORKINGSET_REFAULT_FILE,
    WORKINGSET_ACTIVATE_ANON,
    WORKINGSET_ACTIVATE_FILE,
    NR_VM_EVENTS
};

struct Counters {
    std::atomic<long> stat[NR_NODE_STATS] = {};
    std::atomic<unsigned long> events[NR_VM_EVENTS] = {};
};

// Serialises changes to address spaces, the page cache, rmap, memcg membership and the group
// hierarchy (the kernel's mmap_lock, i_mmap lock, page table locks and cgroup_mutex). Page
// reclaim holds it while it works on isolated pages. LRU lists are under the node's lru_lock, taken
// after it.
std::recursive_mutex &big_lock();

// --- page allocator (page_alloc.cpp) ---
struct Watermarks {
    unsigned long min, low, high;
};
Watermarks watermarks();
unsigned long nr_free_pages();
// Allocates 2^order contiguous frames with refcount 1 (a compound page for order > 0), waking
// kswapd below the low watermark and reclaiming directly below the min watermark when gfp
// allows it. Null when memory cannot be found.
struct page *alloc_pages(gfp_t gfp, unsigned int order);
// Returns a page whose refcount reached zero (and its tails) to the free lists.
void free_pages_ref0(struct page *page);
// Sets vm.min_free_kbytes and recomputes the watermarks.
void set_min_free_kbytes(unsigned long kbytes);
unsigned long min_free_kbytes();

// --- global counters (vmstat.cpp) ---
Counters &node_counters();  // /proc/vmstat events; node stats are root_mem_cgroup's totals
long global_stat(NodeStat item);
void count_vm_events(VmEvent item, unsigned long n);

// --- memcg (memcontrol.cpp) ---
struct mem_cgroup *task_memcg(struct task_struct *t);
// Adds delta to item of memcg, locally and in every ancestor's hierarchical count.
void mod_memcg_state(struct mem_cgroup *memcg, NodeStat item, long delta);
void count_memcg_events(struct mem_cgroup *memcg, VmEvent item, unsigned long n);
long memcg_state_local(struct mem_cgroup *memcg, NodeStat item);
long memcg_state(struct mem_cgroup *memcg, NodeStat item);  // hierarchical
unsigned long memcg_events_local(struct mem_cgroup *memcg, VmEvent item);
unsigned long memcg_events(struct mem_cgroup *memcg, VmEvent item);
struct mem_cgroup *parent_mem_cgroup(struct mem_cgroup *memcg);
bool mem_cgroup_online(struct mem_cgroup *memcg);
int mem_cgroup_swappiness(struct mem_cgroup *memcg);
// Charges a new page (compound: all its frames) to memcg; uncharge undoes it.
void mem_cgroup_charge(struct page *page, struct mem_cgroup *memcg);
void mem_cgroup_uncharge(struct page *page);
struct lruvec *page_lruvec(struct page *page);
struct mem_cgroup *lruvec_memcg(struct lruvec *lruvec);
// Moves what is charged to memcg (its LRU pages included) to its parent, as an offlined
// group's pages are reparented. The caller holds big_lock().
void memcg_reparent(struct mem_cgroup *memcg);

// --- LRU (swap.cpp) ---
enum lru_list page_lru(struct page *page);
bool page_evictable(struct page *page);
// Caller holds the node's lru_lock.
void update_lru_size(struct lruvec *lruvec, enum lru_list lru, long nr);
void add_page_to_lru_list(struct page *page, struct lruvec *lruvec, enum lru_list lru);
void del_page_from_lru_list(struct page *page, struct lruvec *lruvec, enum lru_list lru);
// Puts a new page on its LRU list (inactive, or unevictable if mlocked), taking lru_lock.
void lru_cache_add(struct page *page);
// An isolated page goes back on the list its flags say (takes lru_lock, drops the isolation
// reference).
void putback_lru_page(struct page *page);
void mark_page_accessed(struct page *page);
// An inactive page on its LRU list moves to the active one (pgactivate).
void activate_page(struct page *page);
void get_page(struct page *page);
void put_page(struct page *page);

// --- rmap and address spaces (memory.cpp) ---
// vm_flags that reclaim looks at.
constexpr unsigned long VM_EXEC = 0x00000004, VM_LOCKED = 0x00002000;
void page_add_new_anon_rmap(struct page *page);
void page_add_file_rmap(struct page *page);
void page_remove_rmap(struct page *page);
// Young PTEs mapping page, cleared as it counts them. *vm_flags gains VM_LOCKED if a locked
// VMA maps the page, and the flags of every VMA whose PTE was young.
int page_referenced(struct page *page, unsigned long *vm_flags);
// Unmaps page from every address space; anonymous PTEs become the swap entry in
// page->private. Returns true when no mapping is left.
bool try_to_unmap(struct page *page);
// Drops a clean page-cache or swap-cache page that nothing maps or holds, leaving the shadow
// of its eviction by reclaim of target; false if it is still in use.
bool remove_mapping(struct page *page, struct mem_cgroup *target);
// The nearest online group at or above memcg: where an offlined group's charges went.
struct mem_cgroup *online_memcg(struct mem_cgroup *memcg);

// --- workingset (workingset.cpp) ---
// What an evicted page leaves behind: when, on its group's clock of evictions and
// activations, it went, and whether it had been active.
struct Shadow {
    struct mem_cgroup *memcg = nullptr;  // null: no shadow
    unsigned long eviction = 0;
    bool workingset = false;
};
Shadow workingset_eviction(struct page *page, struct mem_cgroup *target);
// A page read back in after its eviction: counts the refault and activates the page if it
// was evicted within the size of the workingset. The page is not yet on an LRU list.
void workingset_refault(struct page *page, const Shadow &shadow);
// A page was activated by a reference.
void workingset_activation(struct page *page);
void workingset_age_nonresident(struct lruvec *lruvec, unsigned long nr_pages);
// The cost of reclaiming a kind of pages: rotations and refaults (mm/swap.c).
void lru_note_cost(struct lruvec *lruvec, bool file, unsigned long nr_pages);

// --- swap device (zram.cpp) ---
// A free slot and its compressed copy for page (page->private, PG_swapcache), or false if
// the device or its pool is full.
bool add_to_swap(struct page *page);
// The page is written out: its swap-cache reference and slot ownership go to the PTEs.
void swap_writepage(struct page *page);
void swap_readpage(struct page *page);
void swap_duplicate(unsigned long slot);
unsigned short swap_count(unsigned long slot);
void swap_set_shadow(unsigned long slot, const Shadow &shadow);
Shadow swap_get_shadow(unsigned long slot);
void swap_free(unsigned long slot);
void swap_set_total(unsigned long pages);
void zram_sysfs_boot();
void swap_shutdown();

// --- reclaim (vmscan.cpp) ---
unsigned long try_to_free_pages(gfp_t gfp, unsigned int order);
void wakeup_kswapd();
int kswapd(void *data);

// --- text of the observers (vmstat.cpp, memcontrol.cpp) ---
std::string meminfo_text();
std::string vmstat_text();
std::string memcg_stat_text(struct mem_cgroup *memcg);

}  // namespace sim::mm

// struct address_space of a simulated file; host side of a group.
struct address_space {
    struct sim_file *host;
};

struct sim_memcg_host {
    std::string name;  // directory name; empty for the root
    struct mem_cgroup *parent = nullptr;
    std::vector<struct mem_cgroup *> children;  // in creation order
    uint64_t serial = 0;
    bool online = true;
    sim::mm::Counters local, total;
    struct mem_cgroup_per_node node;
};
