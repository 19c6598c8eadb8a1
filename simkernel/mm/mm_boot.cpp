// Memory-manager boot and shutdown, /proc/meminfo and /proc/vmstat, the group tree's host API
// and the page view. A real model of the boot order: page allocator, root group, swap, the
// /proc files, then user space (the default phone's services and apps, started as init would).
#include "simkernel/kernel/boot.h"
#include "simkernel/kernel/sched_boot.h"
#include "simkernel/kernel/task.h"
#include "simkernel/mm/cgroup_fs.h"
#include "simkernel/mm/memcontrol_host.h"
#include "simkernel/mm/mm_host.h"
#include "simkernel/mm/mm_internal.h"

#include <platform/errno.h>
#include <platform/proc_fs.h>
#include <platform/seq_file.h>

#include <cstdio>

namespace sim::mm {
void page_alloc_init(uint64_t ram_bytes);
void page_alloc_shutdown();
void memory_shutdown();
void kswapd_set_task(struct task_struct *t);
void populate_default_phone(uint64_t ram_bytes, unsigned int boot_apps);
}  // namespace sim::mm

namespace sim {

// kswapd0 is created by the scheduler's boot; this is its body.
int kswapd_main(void *pgdat) {
    mm::kswapd_set_task(current);
    return mm::kswapd(pgdat);
}

namespace {

int meminfo_show(struct seq_file *m, void *) {
    seq_puts(m, mm::meminfo_text().c_str());
    return 0;
}

int vmstat_show(struct seq_file *m, void *) {
    seq_puts(m, mm::vmstat_text().c_str());
    return 0;
}

bool mm_up;

}  // namespace

void mm_boot(const BootParams &params) {
    mm::page_alloc_init(params.ram_bytes);
    mm::memcg_boot();
    mm::swap_set_total(params.swap_bytes >> PAGE_SHIFT);
    proc_create_single("meminfo", 0, nullptr, meminfo_show);
    proc_create_single("vmstat", 0, nullptr, vmstat_show);
    mm::zram_sysfs_boot();
    mm::cgroup_fs_boot();
    mm_up = true;
    mm::populate_default_phone(params.ram_bytes, params.boot_apps);
}

void mm_shutdown() {
    if (!mm_up)
        return;
    mm_up = false;
    remove_proc_entry("meminfo", nullptr);
    remove_proc_entry("vmstat", nullptr);
    mm::cgroup_fs_shutdown();
    std::lock_guard g(mm::big_lock());
    mm::memory_shutdown();
    mm::memcg_shutdown();
    mm::page_alloc_shutdown();
}

namespace {

// Splits "apps/uid_10010" into components, ignoring empty ones.
std::vector<std::string> split_path(std::string_view path) {
    std::vector<std::string> parts;
    while (!path.empty()) {
        size_t slash = path.find('/');
        std::string_view part = path.substr(0, slash);
        if (!part.empty())
            parts.emplace_back(part);
        if (slash == std::string_view::npos)
            break;
        path.remove_prefix(slash + 1);
    }
    return parts;
}

}  // namespace

struct mem_cgroup *memcg_lookup(std::string_view path) {
    std::lock_guard g(mm::big_lock());
    struct mem_cgroup *memcg = root_mem_cgroup;
    for (const std::string &part : split_path(path)) {
        memcg = mm::memcg_child(memcg, part);
        if (!memcg)
            return nullptr;
    }
    return memcg;
}

int memcg_mkdir(std::string_view path) {
    std::vector<std::string> parts = split_path(path);
    if (parts.empty())
        return -EEXIST;
    std::string dir = "/dev/memcg";
    for (const std::string &p : parts)
        dir += "/" + p;
    return mm::cgroup_fs_mkdir(dir);
}

int memcg_rmdir(std::string_view path) {
    std::vector<std::string> parts = split_path(path);
    if (parts.empty())
        return -EBUSY;
    std::string dir = "/dev/memcg";
    for (const std::string &p : parts)
        dir += "/" + p;
    return mm::cgroup_fs_rmdir(dir);
}

int memcg_move_task(struct task_struct *t, struct mem_cgroup *memcg) {
    std::lock_guard g(mm::big_lock());
    if (!memcg || !mm::mem_cgroup_online(memcg))
        return -ENODEV;
    mm::memcg_attach_task(t, memcg);
    return 0;
}

struct mem_cgroup *memcg_of_task(struct task_struct *t) {
    return mm::task_memcg(t);
}

void mm_set_min_free_kbytes(unsigned long kbytes) {
    mm::set_min_free_kbytes(kbytes);
}

std::string mm_page_describe(unsigned long pfn) {
    if (!pfn_valid(pfn))
        return "";
    std::lock_guard g(mm::big_lock());
    struct page *page = pfn_to_page(pfn);
    static const char *const names[] = {
        "locked",     "referenced", "uptodate",    "dirty",     "lru",          "active",
        "workingset", "waiters",    "error",       "slab",      "owner_priv_1", "arch_1",
        "reserved",   "private",    "private_2",   "writeback", "head",         "mappedtodisk",
        "reclaim",    "swapbacked", "unevictable", "mlocked"};
    std::string flags;
    for (unsigned int bit = 0; bit < __NR_PAGEFLAGS; bit++)
        if (test_bit(bit, &page->flags))
            flags += (flags.empty() ? "" : "|") + std::string(names[bit]);
    struct page *head = compound_head(page);
    std::string kind = PageReserved(page)  ? "reserved"
                       : !page_count(page) ? "free"
                       : PageAnon(head)    ? "anon"
                       : head->mapping     ? "file"
                                           : "kernel";
    std::string list = "none";
    if (PageLRU(head)) {
        static const char *const lists[] = {"inactive_anon", "active_anon", "inactive_file",
                                            "active_file", "unevictable"};
        list = lists[mm::page_lru(head)];
    }
    char line[512];
    snprintf(line, sizeof(line),
             "pfn %lu %s flags %#lx(%s) mapcount %d refcount %d%s list %s memcg %s\n", pfn,
             kind.c_str(), page->flags, flags.c_str(), page_count(page) ? page_mapcount(page) : 0,
             page_count(page), PageTail(page) ? " tail" : "", list.c_str(),
             head->mem_cgroup ? mm::memcg_path(head->mem_cgroup).c_str() : "-");
    return line;
}

}  // namespace sim
