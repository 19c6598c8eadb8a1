// The swap device, zram0 (mm/swapfile.c, mm/swap_state.c, drivers/block/zram): a real model of
// swap slots with their use counts, and of zram's compressed store. Each stored page keeps a
// compressed copy in a zsmalloc-like pool of pages taken from the page allocator, so swapping
// a page out frees less than a page. How well a page compresses is a fixed function of it;
// some pages are same-filled and take no pool space. /sys/block/zram0 shows the device's
// disksize, mm_stat and io_stat as 5.10 does.
#include "simkernel/mm/mm_internal.h"

#include <platform/kobject.h>
#include <platform/sysfs.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <unordered_map>

namespace sim::mm {
namespace {

// zsmalloc's size classes are 16 bytes apart.
constexpr unsigned int ZS_SIZE_CLASS_DELTA = 16;

struct Slot {
    unsigned short count = 0;  // swap cache plus swap PTEs
    unsigned short size = 0;   // compressed bytes; 0: a same-filled page
    struct mem_cgroup *owner = nullptr;
};

struct Zram {
    std::vector<Slot> slots;
    std::vector<unsigned long> free_slots;
    // Left by evicted pages, for their refaults; few slots are in use, so kept apart.
    std::unordered_map<unsigned long, Shadow> shadows;
    std::vector<struct page *> pool;  // the pages holding compressed data
    unsigned long pages_stored = 0, same_pages = 0, compr_bytes = 0, class_bytes = 0;
    unsigned long mem_used_max = 0, notify_free = 0;
    struct kobject *block = nullptr, *disk = nullptr;
} zram;

std::atomic<long> nr_swap_pages{0};

// How well the page at pfn compresses: one page in twenty is same-filled, the others take
// 256 to 2559 bytes, about 3:1 on average.
unsigned int compressed_size(unsigned long pfn) {
    uint32_t h = (uint32_t)pfn * 2654435761u;
    h ^= h >> 15;
    h *= 2246822519u;
    h ^= h >> 13;
    if (h % 20 == 0)
        return 0;
    return 256 + (h >> 8) % 2304;
}

unsigned int class_size(unsigned int size) {
    return (size + ZS_SIZE_CLASS_DELTA - 1) / ZS_SIZE_CLASS_DELTA * ZS_SIZE_CLASS_DELTA;
}

// Grows the pool to hold bytes more; false if no page could be had.
bool pool_reserve(unsigned long bytes) {
    unsigned long need = (zram.class_bytes + bytes + PAGE_SIZE - 1) / PAGE_SIZE;
    while (zram.pool.size() < need) {
        struct page *page =
            alloc_pages(__GFP_KSWAPD_RECLAIM | __GFP_NOWARN | __GFP_HIGHMEM | __GFP_MOVABLE, 0);
        if (!page)
            return false;
        zram.pool.push_back(page);
    }
    zram.mem_used_max = std::max(zram.mem_used_max, (unsigned long)zram.pool.size());
    return true;
}

// zsmalloc frees a zspage once nothing in it is used; the model keeps the pool compact.
void pool_trim() {
    unsigned long need = (zram.class_bytes + PAGE_SIZE - 1) / PAGE_SIZE;
    while (zram.pool.size() > need) {
        put_page(zram.pool.back());
        zram.pool.pop_back();
    }
}

ssize_t disksize_show(struct kobject *, struct kobj_attribute *, char *buf) {
    return snprintf(buf, PAGE_SIZE, "%llu\n", (unsigned long long)zram.slots.size() << PAGE_SHIFT);
}

ssize_t mm_stat_show(struct kobject *, struct kobj_attribute *, char *buf) {
    std::lock_guard g(big_lock());
    return snprintf(
        buf, PAGE_SIZE, "%8llu %8llu %8llu %8lu %8ld %8llu %8lu %8llu\n",
        (unsigned long long)zram.pages_stored << PAGE_SHIFT, (unsigned long long)zram.compr_bytes,
        (unsigned long long)zram.pool.size() << PAGE_SHIFT, 0UL,
        (long)(zram.mem_used_max << PAGE_SHIFT), (unsigned long long)zram.same_pages, 0UL, 0ULL);
}

ssize_t io_stat_show(struct kobject *, struct kobj_attribute *, char *buf) {
    std::lock_guard g(big_lock());
    return snprintf(buf, PAGE_SIZE, "%8llu %8llu %8llu %8llu\n", 0ULL, 0ULL, 0ULL,
                    (unsigned long long)zram.notify_free);
}

struct kobj_attribute disksize_attr = __ATTR(disksize, 0444, disksize_show, nullptr);
struct kobj_attribute mm_stat_attr = __ATTR(mm_stat, 0444, mm_stat_show, nullptr);
struct kobj_attribute io_stat_attr = __ATTR(io_stat, 0444, io_stat_show, nullptr);

}  // namespace

bool add_to_swap(struct page *page) {
    if (zram.free_slots.empty())
        return false;
    // zram_write_page() compresses into the pool: without room there the write fails, and
    // the page stays.
    unsigned int size = compressed_size(page_to_pfn(page));
    if (size && !pool_reserve(class_size(size)))
        return false;
    unsigned long nr = zram.free_slots.back();
    zram.free_slots.pop_back();
    nr_swap_pages.fetch_sub(1, std::memory_order_relaxed);
    zram.slots[nr] = Slot{1, (unsigned short)size, page->mem_cgroup};
    zram.pages_stored++;
    if (size) {
        zram.compr_bytes += size;
        zram.class_bytes += class_size(size);
    } else {
        zram.same_pages++;
    }
    mod_memcg_state(page->mem_cgroup, NR_SWAP, 1);
    page->private_data = nr;
    SetPageSwapCache(page);
    SetPageDirty(page);
    get_page(page);
    return true;
}

void swap_writepage(struct page *page) {
    // zram completes the write before returning: the page is clean and not under writeback.
    ClearPageDirty(page);
    count_vm_events(PSWPOUT, 1);
}

void swap_readpage(struct page *) {
    count_vm_events(PSWPIN, 1);
}

void swap_duplicate(unsigned long nr) {
    zram.slots[nr].count++;
}

unsigned short swap_count(unsigned long nr) {
    return zram.slots[nr].count;
}

void swap_set_shadow(unsigned long nr, const Shadow &shadow) {
    zram.shadows[nr] = shadow;
}

Shadow swap_get_shadow(unsigned long nr) {
    auto it = zram.shadows.find(nr);
    return it == zram.shadows.end() ? Shadow{} : it->second;
}

void swap_free(unsigned long nr) {
    Slot &slot = zram.slots[nr];
    if (--slot.count)
        return;
    mod_memcg_state(online_memcg(slot.owner), NR_SWAP, -1);
    // zram_slot_free_notify(): the compressed copy goes with the slot.
    zram.notify_free++;
    zram.pages_stored--;
    if (slot.size) {
        zram.compr_bytes -= slot.size;
        zram.class_bytes -= class_size(slot.size);
        pool_trim();
    } else {
        zram.same_pages--;
    }
    slot = Slot{};
    zram.shadows.erase(nr);
    zram.free_slots.push_back(nr);
    nr_swap_pages.fetch_add(1, std::memory_order_relaxed);
}

void swap_set_total(unsigned long pages) {
    std::lock_guard g(big_lock());
    unsigned long old = zram.slots.size();
    if (pages < old) {
        for (unsigned long s = pages; s < old; s++)
            if (zram.slots[s].count) {
                fprintf(stderr, "mm: cannot shrink zram below slot %lu in use\n", s);
                abort();
            }
        std::erase_if(zram.free_slots, [pages](unsigned long s) { return s >= pages; });
    } else {
        for (unsigned long s = pages; s-- > old;)
            zram.free_slots.push_back(s);
    }
    zram.slots.resize(pages);
    total_swap_pages = (long)pages;
    nr_swap_pages.store((long)zram.free_slots.size(), std::memory_order_relaxed);
}

void zram_sysfs_boot() {
    zram.block = kobject_create_and_add("block", nullptr);
    zram.disk = zram.block ? kobject_create_and_add("zram0", zram.block) : nullptr;
    if (!zram.disk)
        return;
    sysfs_create_file(zram.disk, &disksize_attr.attr);
    sysfs_create_file(zram.disk, &mm_stat_attr.attr);
    sysfs_create_file(zram.disk, &io_stat_attr.attr);
}

void swap_shutdown() {
    if (zram.disk)
        kobject_put(zram.disk);
    if (zram.block)
        kobject_put(zram.block);
    // The pool's pages go with the page allocator.
    zram = Zram{};
    total_swap_pages = 0;
    nr_swap_pages = 0;
}

}  // namespace sim::mm

using namespace sim::mm;

extern "C" {
__attribute__((visibility("default"))) long total_swap_pages;
__attribute__((visibility("default"))) long get_nr_swap_pages(void) {
    return nr_swap_pages.load(std::memory_order_relaxed);
}
}
