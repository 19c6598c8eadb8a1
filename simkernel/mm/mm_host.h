// Host-side API of the memory manager, for phonesim and tests: user-space workloads (what a
// process's page faults, reads and exit do in the kernel), the group tree, swap and a view of
// single pages. Module code uses platform/mm.h, memcontrol.h and swap.h instead.
#pragma once

#include <platform/memcontrol.h>
#include <platform/mm_types.h>

#include <cstdint>
#include <string>
#include <string_view>

struct task_struct;

namespace sim {

struct BootParams;
// Sizes RAM and the zram device from params, starts the page allocator, the root group, the
// /proc files and kswapd0, then starts the default phone's services and apps.
void mm_boot(const BootParams &params);
void mm_shutdown();

// Task t touches `pages` new anonymous pages (in a new mapping; locked: mlock()ed). Pages are
// charged to t's group. -ENOMEM if memory ran out part way (the pages got so far stay).
int mm_fault_anon(struct task_struct *t, unsigned long pages, bool locked = false);
// Task t maps the first `pages` pages of file (made on first use, growing as needed; exec:
// as code, PROT_EXEC) and touches them, reading into the page cache what is not there.
int mm_map_file(struct task_struct *t, std::string_view file, unsigned long pages,
                bool exec = false);
// Task t touches again the first `pages` of its anonymous pages (counted over its anonymous
// mappings in order): resident ones are referenced, swapped ones swapped in.
int mm_touch(struct task_struct *t, unsigned long pages);
// Task t touches again the first `pages` pages of its mappings of file, reading back in
// those that were reclaimed.
int mm_touch_file(struct task_struct *t, std::string_view file, unsigned long pages);
// The current task reads the first `pages` pages of file through the page cache.
int mm_file_read(std::string_view file, unsigned long pages);
// Pages of file not yet cached are read in as compound pages of 2^order frames from now on.
void mm_file_set_order(std::string_view file, unsigned int order);
// The page-cache page at index of file, or null.
struct page *mm_file_page(std::string_view file, unsigned long index);
// The page mapped at the n-th anonymous page t faulted (counting from 0 over all of its
// anonymous mappings), or null if it is not resident.
struct page *mm_anon_page(struct task_struct *t, unsigned long n);
// Leaves t's anonymous mappings as reclaim's aging leaves a process that has run a while: the
// newest active_percent of each mapping's pages active, the older ones inactive and
// unreferenced, and the newest hot_percent referenced again since.
void mm_age_anon(struct task_struct *t, unsigned int active_percent, unsigned int hot_percent);
// Leaves mapped file pages as reclaim's aging leaves them: code on the active list, and of
// every file only hot_percent of the pages referenced since the last scan.
void mm_age_file_mappings(unsigned int hot_percent);
// The address space of t goes away (exit_mmap()), and t leaves its group.
void mm_task_exit(struct task_struct *t);

// Groups: "/" is the root, "apps/uid_10010" (or with a leading slash) a group below it.
struct mem_cgroup *memcg_lookup(std::string_view path);
int memcg_mkdir(std::string_view path);
int memcg_rmdir(std::string_view path);
int memcg_move_task(struct task_struct *t, struct mem_cgroup *memcg);
struct mem_cgroup *memcg_of_task(struct task_struct *t);

// vm.min_free_kbytes (the watermarks follow) and the zram device's size.
void mm_set_min_free_kbytes(unsigned long kbytes);
void mm_set_swap_bytes(uint64_t bytes);

// "pfn 1234 flags 0x...(lru|active|...) mapcount 3 refcount 4 list active_file memcg /apps/x"
std::string mm_page_describe(unsigned long pfn);

}  // namespace sim
