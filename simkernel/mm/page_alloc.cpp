// The page allocator (mm/page_alloc.c): a real model of one node with one zone, a buddy
// allocator over mem_map, the min/low/high watermarks, kswapd wake-ups and direct reclaim.
#include "simkernel/mm/mm_internal.h"

#include <platform/sched.h>

#include <sys/mman.h>

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdio>
#include <cstdlib>

extern "C" {
__attribute__((visibility("default"))) atomic_long_t _totalram_pages;
__attribute__((visibility("default"))) struct page *mem_map;
__attribute__((visibility("default"))) unsigned long max_mapnr;
struct pglist_data contig_page_data = {__SPIN_LOCK_UNLOCKED(lru_lock)};
}

namespace sim::mm {
namespace {

constexpr unsigned int MAX_ORDER = 11;
constexpr int MAX_RECLAIM_RETRIES = 16;
// page_type of a free block's first frame (PageBuddy), as include/linux/page-flags.h has it.
constexpr unsigned int PAGE_TYPE_BASE = 0xf0000000, PG_buddy = 0x00000080;

struct Zone {
    std::mutex lock;
    struct list_head free_area[MAX_ORDER];
    std::atomic<unsigned long> nr_free{0};
    std::atomic<unsigned long> wmark_min{0}, wmark_low{0}, wmark_high{0};
    unsigned long min_free_kbytes = 0;
    unsigned long managed = 0;
    size_t map_bytes = 0;
} zone;

bool page_buddy(struct page *p) {
    return (p->page_type & (PAGE_TYPE_BASE | PG_buddy)) == PAGE_TYPE_BASE;
}
void set_buddy(struct page *p, unsigned int order) {
    p->page_type &= ~PG_buddy;
    p->private_data = order;
}
void clear_buddy(struct page *p) {
    p->page_type |= PG_buddy;
    p->private_data = 0;
}

// Caller holds zone.lock.
void free_one(unsigned long pfn, unsigned int order) {
    zone.nr_free.fetch_add(1UL << order, std::memory_order_relaxed);
    while (order < MAX_ORDER - 1) {
        unsigned long buddy_pfn = pfn ^ (1UL << order);
        if (buddy_pfn >= max_mapnr)
            break;
        struct page *buddy = mem_map + buddy_pfn;
        if (!page_buddy(buddy) || buddy->private_data != order)
            break;
        list_del(&buddy->lru);
        clear_buddy(buddy);
        pfn &= buddy_pfn;
        order++;
    }
    struct page *p = mem_map + pfn;
    set_buddy(p, order);
    list_add(&p->lru, &zone.free_area[order]);
}

// Caller holds zone.lock.
struct page *rmqueue(unsigned int order) {
    for (unsigned int o = order; o < MAX_ORDER; o++) {
        if (list_empty(&zone.free_area[o]))
            continue;
        struct page *p = list_first_entry(&zone.free_area[o], struct page, lru);
        list_del(&p->lru);
        clear_buddy(p);
        while (o > order) {
            o--;
            set_buddy(p + (1UL << o), o);
            list_add(&p[1UL << o].lru, &zone.free_area[o]);
        }
        zone.nr_free.fetch_sub(1UL << order, std::memory_order_relaxed);
        return p;
    }
    return nullptr;
}

void prep_new_page(struct page *p, unsigned int order) {
    p->flags = 0;
    p->lru.next = p->lru.prev = nullptr;
    p->mapping = nullptr;
    p->index = 0;
    p->private_data = 0;
    atomic_set(&p->_mapcount, -1);
    atomic_set(&p->_refcount, 1);
    p->mem_cgroup = nullptr;
    if (order == 0)
        return;
    __set_bit(PG_head, &p->flags);
    for (unsigned long i = 1; i < (1UL << order); i++) {
        struct page *t = p + i;
        t->flags = 0;
        t->compound_head = (unsigned long)p | 1;
        t->mapping = nullptr;
        atomic_set(&t->_mapcount, -1);
        atomic_set(&t->_refcount, 0);
        t->mem_cgroup = nullptr;
    }
    p[1].compound_dtor = COMPOUND_PAGE_DTOR;
    p[1].compound_order = (unsigned char)order;
    atomic_set(&p[1].compound_mapcount, -1);
    p[1].compound_nr = 1U << order;
    if (order > 1)
        atomic_set(&p[2].hpage_pinned_refcount, 0);
}

// zone_watermark_ok() for order-0 and higher requests on the single zone.
bool watermark_ok(unsigned int order, unsigned long mark) {
    long free = (long)zone.nr_free.load(std::memory_order_relaxed) - ((1L << order) - 1);
    return free > (long)mark;
}

struct page *get_page_from_freelist(unsigned int order, unsigned long mark, bool no_watermarks) {
    std::lock_guard g(zone.lock);
    if (!no_watermarks && !watermark_ok(order, mark))
        return nullptr;
    return rmqueue(order);
}

void setup_watermarks() {
    unsigned long min = zone.min_free_kbytes >> (PAGE_SHIFT - 10);
    // watermark_scale_factor 10: a thousandth of the zone between the marks.
    unsigned long tmp = std::max(min >> 2, zone.managed * 10 / 10000);
    zone.wmark_min = min;
    zone.wmark_low = min + tmp;
    zone.wmark_high = min + 2 * tmp;
}

}  // namespace

Watermarks watermarks() {
    return {zone.wmark_min, zone.wmark_low, zone.wmark_high};
}
unsigned long nr_free_pages() {
    return zone.nr_free.load(std::memory_order_relaxed);
}
unsigned long min_free_kbytes() {
    return zone.min_free_kbytes;
}

void set_min_free_kbytes(unsigned long kbytes) {
    zone.min_free_kbytes = kbytes;
    setup_watermarks();
}

// Memory from the device tree's RAM: mem_map itself and a carve-out for the kernel image,
// firmware and CMA are reserved; everything else goes to the buddy allocator.
void page_alloc_init(uint64_t ram_bytes) {
    max_mapnr = ram_bytes >> PAGE_SHIFT;
    zone.map_bytes = max_mapnr * sizeof(struct page);
    void *map =
        mmap(nullptr, zone.map_bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED) {
        fprintf(stderr, "mm: cannot map %zu bytes for mem_map\n", zone.map_bytes);
        abort();
    }
    mem_map = static_cast<struct page *>(map);
    for (auto &area : zone.free_area)
        INIT_LIST_HEAD(&area);

    unsigned long reserved = (zone.map_bytes >> PAGE_SHIFT) + (192UL << (20 - PAGE_SHIFT));
    if (reserved > max_mapnr / 4)
        reserved = max_mapnr / 4;
    for (unsigned long pfn = 0; pfn < max_mapnr; pfn++) {
        struct page *p = mem_map + pfn;
        atomic_set(&p->_mapcount, -1);
        if (pfn < reserved) {
            __set_bit(PG_reserved, &p->flags);
            atomic_set(&p->_refcount, 1);
        }
    }
    {
        std::lock_guard g(zone.lock);
        unsigned long pfn = reserved;
        while (pfn < max_mapnr) {
            unsigned int order = 0;
            while (order < MAX_ORDER - 1 && !(pfn & ((2UL << order) - 1)) &&
                   pfn + (2UL << order) <= max_mapnr)
                order++;
            free_one(pfn, order);
            pfn += 1UL << order;
        }
    }
    zone.managed = max_mapnr - reserved;
    atomic_long_set(&_totalram_pages, (long)zone.managed);
    // init_per_zone_wmark_min(): sqrt(lowmem_kbytes * 16), within [128, 262144].
    unsigned long kb = zone.managed << (PAGE_SHIFT - 10);
    auto min_kb = (unsigned long)std::sqrt((double)kb * 16);
    zone.min_free_kbytes = std::clamp(min_kb, 128UL, 262144UL);
    setup_watermarks();
}

void page_alloc_shutdown() {
    if (mem_map)
        munmap(mem_map, zone.map_bytes);
    mem_map = nullptr;
    max_mapnr = 0;
    zone.nr_free = 0;
    atomic_long_set(&_totalram_pages, 0);
}

struct page *alloc_pages(gfp_t gfp, unsigned int order) {
    assert(order < MAX_ORDER);
    if (struct page *p = get_page_from_freelist(order, zone.wmark_low, false)) {
        prep_new_page(p, order);
        return p;
    }
    if (gfp & __GFP_KSWAPD_RECLAIM)
        wakeup_kswapd();
    // Reclaimers themselves (PF_MEMALLOC) may dip below the watermarks.
    bool memalloc = current->flags & PF_MEMALLOC;
    struct page *p = get_page_from_freelist(order, zone.wmark_min, memalloc);
    for (int retries = 0;
         !p && !memalloc && (gfp & __GFP_DIRECT_RECLAIM) && retries < MAX_RECLAIM_RETRIES;
         retries++) {
        unsigned long progress = try_to_free_pages(gfp, order);
        p = get_page_from_freelist(order, zone.wmark_min, false);
        if (!p && !progress)
            break;
    }
    if (p)
        prep_new_page(p, order);
    return p;
}

void free_pages_ref0(struct page *page) {
    if (PageLRU(page) || atomic_read(&page->_mapcount) != -1 || PageTail(page)) {
        fprintf(stderr, "BUG: Bad page state: pfn %lu flags %#lx mapcount %d\n", page_to_pfn(page),
                page->flags, atomic_read(&page->_mapcount));
        abort();
    }
    unsigned int order = compound_order(page);
    for (unsigned long i = 1; i < (1UL << order); i++) {
        struct page *t = page + i;
        t->compound_head = 0;
        t->lru.prev = nullptr;
        t->mapping = nullptr;
        t->flags = 0;
        atomic_set(&t->_mapcount, -1);
    }
    page->flags = 0;
    page->mapping = nullptr;
    page->mem_cgroup = nullptr;
    std::lock_guard g(zone.lock);
    free_one(page_to_pfn(page), order);
}

}  // namespace sim::mm

extern "C" __attribute__((visibility("default"))) long si_mem_available(void) {
    using namespace sim::mm;
    unsigned long wmark_low = zone.wmark_low;
    // totalreserve_pages: the high watermark plus the lowmem reserve (none with one zone).
    long available = (long)nr_free_pages() - (long)zone.wmark_high.load();
    unsigned long pagecache = global_stat(NR_ACTIVE_FILE) + global_stat(NR_INACTIVE_FILE);
    pagecache -= std::min(pagecache / 2, wmark_low);
    available += (long)pagecache;
    // Reclaimable slab and other kernel memory do not come from page frames here.
    return available < 0 ? 0 : available;
}
