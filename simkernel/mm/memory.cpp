// Address spaces, the page cache and reverse mapping (mm/memory.c, mm/filemap.c, mm/rmap.c).
// A real model of what the memory manager sees of user space: mappings with one PTE per page
// (present with its young bit, or a swap entry), page-cache pages shared by every mapping of
// a file with the shadows of evicted ones, swap-in of touched swap entries, and rmap walks
// that find every PTE mapping a page. Processes run no code: they touch pages only when a
// command makes them.
#include "simkernel/mm/memcontrol_host.h"
#include "simkernel/mm/mm_host.h"
#include "simkernel/mm/mm_internal.h"

#include <platform/errno.h>
#include <platform/sched.h>
#include <platform/trace/hooks/mm.h>

#include <algorithm>
#include <list>
#include <map>
#include <memory>
#include <unordered_map>

struct sim_vma;

struct anon_vma {
    struct sim_vma *vma;
};

struct sim_file {
    std::string name;
    struct address_space mapping;
    std::vector<struct page *> cache;  // by index; a compound page's frames each have an entry
    std::vector<struct sim_vma *> i_mmap;
    std::unordered_map<unsigned long, sim::mm::Shadow> shadows;  // of evicted pages, by index
    unsigned int order = 0;
};

struct sim_mm;

struct sim_vma {
    struct sim_mm *owner;
    struct sim_file *file;  // null for anonymous memory
    struct anon_vma av;
    bool locked;
    bool exec;
    // One entry per page: 0 (none), a page pointer with PTE_YOUNG, or a swap entry.
    std::vector<uintptr_t> ptes;
};

struct sim_mm {
    struct task_struct *task;
    std::list<sim_vma> vmas;
};

namespace sim::mm {
namespace {

constexpr uintptr_t PTE_YOUNG = 1, PTE_SWAP = 2;

std::recursive_mutex mm_lock;
std::unordered_map<const struct mm_struct *, std::unique_ptr<sim_mm>> spaces;
std::map<std::string, std::unique_ptr<sim_file>, std::less<>> files;

bool pte_present(uintptr_t pte) {
    return pte && !(pte & PTE_SWAP);
}
struct page *pte_page(uintptr_t pte) {
    return (struct page *)(pte & ~(uintptr_t)3);
}
uintptr_t swp_pte(unsigned long slot) {
    return (slot << 2) | PTE_SWAP;
}
unsigned long pte_slot(uintptr_t pte) {
    return pte >> 2;
}

// The kernel's mapcount update: the vendor hook first; the kernel's own atomic only if no
// probe handled it. Returns whether the page became mapped (inc) or unmapped (dec).
bool update_mapcount(struct page *page, bool inc) {
    bool first = false, success = false;
    trace_android_vh_update_page_mapcount(page, inc, false, &first, &success);
    if (success)
        return first;
    return inc ? atomic_inc_and_test(&page->_mapcount) : atomic_add_negative(-1, &page->_mapcount);
}

sim_mm *mm_of(struct task_struct *t) {
    auto &slot = spaces[t->mm];
    if (!slot)
        slot = std::make_unique<sim_mm>(sim_mm{t, {}});
    return slot.get();
}

sim_file *file_get(std::string_view name) {
    auto it = files.find(name);
    if (it != files.end())
        return it->second.get();
    auto f = std::make_unique<sim_file>();
    f->name = std::string(name);
    f->mapping.host = f.get();
    sim_file *raw = f.get();
    files.emplace(f->name, std::move(f));
    return raw;
}

// find_get_page() or a read into the page cache, charged to memcg. The caller gets a
// reference. Null when memory ran out.
struct page *filemap_get_page(sim_file *f, unsigned long index, struct mem_cgroup *memcg,
                              bool *major) {
    if (index >= f->cache.size())
        f->cache.resize(index + 1, nullptr);
    if (struct page *p = f->cache[index]) {
        get_page(p);
        return p;
    }
    unsigned int order = f->order;
    unsigned long base = index & ~((1UL << order) - 1);
    if (f->cache.size() < base + (1UL << order))
        f->cache.resize(base + (1UL << order), nullptr);
    for (unsigned long i = base; i < base + (1UL << order); i++)
        if (f->cache[i])
            order = 0, base = index;
    struct page *head = alloc_pages(GFP_HIGHUSER_MOVABLE, order);
    if (!head)
        return nullptr;
    *major = true;
    mem_cgroup_charge(head, memcg);
    SetPageUptodate(head);
    head->mapping = &f->mapping;
    head->index = base;
    for (unsigned long i = 0; i < (1UL << order); i++)
        f->cache[base + i] = head + i;
    mod_memcg_state(memcg, NR_FILE_PAGES, 1L << order);
    // add_to_page_cache_lru(): a page read again after its eviction may be a refault.
    auto shadow = f->shadows.find(base);
    if (shadow != f->shadows.end()) {
        workingset_refault(head, shadow->second);
        f->shadows.erase(shadow);
    }
    lru_cache_add(head);
    struct page *p = f->cache[index];
    get_page(p);
    return p;
}

// A page fault on page i of a file mapping: the page from the page cache, read in if it is
// not there.
int filemap_fault(sim_vma &vma, unsigned long i) {
    struct mem_cgroup *memcg = task_memcg(vma.owner->task);
    bool major = false;
    struct page *page = filemap_get_page(vma.file, i, memcg, &major);
    if (!page)
        return -ENOMEM;
    count_vm_events(PGFAULT, 1);
    count_memcg_events(memcg, PGFAULT, 1);
    if (major) {
        count_vm_events(PGMAJFAULT, 1);
        count_memcg_events(memcg, PGMAJFAULT, 1);
    }
    page_add_file_rmap(page);
    vma.ptes[i] = (uintptr_t)page | PTE_YOUNG;
    return 0;
}

// do_swap_page() for a device that does its I/O synchronously (zram): the page is read
// straight into a new page, skipping the swap cache, and the slot is freed.
int do_swap_page(sim_vma &vma, unsigned long i) {
    struct mem_cgroup *memcg = task_memcg(vma.owner->task);
    unsigned long slot = pte_slot(vma.ptes[i]);
    struct page *page = alloc_pages(GFP_HIGHUSER_MOVABLE, 0);
    if (!page)
        return -ENOMEM;
    mem_cgroup_charge(page, memcg);
    SetPageSwapBacked(page);
    page->mapping = (struct address_space *)((uintptr_t)&vma.av | PAGE_MAPPING_ANON);
    page->index = i;
    workingset_refault(page, swap_get_shadow(slot));
    lru_cache_add(page);
    swap_readpage(page);
    count_vm_events(PGFAULT, 1);
    count_memcg_events(memcg, PGFAULT, 1);
    count_vm_events(PGMAJFAULT, 1);
    count_memcg_events(memcg, PGMAJFAULT, 1);
    page_add_new_anon_rmap(page);
    vma.ptes[i] = (uintptr_t)page | PTE_YOUNG;
    swap_free(slot);
    return 0;
}

void zap_vma(sim_vma &vma) {
    for (uintptr_t &pte : vma.ptes) {
        if (pte_present(pte)) {
            struct page *page = pte_page(pte);
            page_remove_rmap(page);
            put_page(page);
        } else if (pte & PTE_SWAP) {
            swap_free(pte_slot(pte));
        }
        pte = 0;
    }
    if (vma.file)
        std::erase(vma.file->i_mmap, &vma);
}

// Every PTE that maps page, as the rmap walk finds them.
template <typename Fn>
void rmap_walk(struct page *page, Fn &&fn) {
    struct page *head = compound_head(page);
    if (PageAnon(head)) {
        auto *av = (struct anon_vma *)((uintptr_t)head->mapping & ~PAGE_MAPPING_FLAGS);
        sim_vma *vma = av->vma;
        if (head->index < vma->ptes.size() && pte_present(vma->ptes[head->index]) &&
            pte_page(vma->ptes[head->index]) == head)
            fn(*vma, vma->ptes[head->index], head);
        return;
    }
    if (!head->mapping)
        return;
    sim_file *f = head->mapping->host;
    std::vector<sim_vma *> maps = f->i_mmap;
    for (unsigned long i = 0; i < compound_nr(head); i++) {
        unsigned long index = head->index + i;
        for (sim_vma *vma : maps)
            if (index < vma->ptes.size() && pte_present(vma->ptes[index]) &&
                pte_page(vma->ptes[index]) == head + i)
                fn(*vma, vma->ptes[index], head + i);
    }
}

}  // namespace

std::recursive_mutex &big_lock() {
    return mm_lock;
}

struct mem_cgroup *online_memcg(struct mem_cgroup *memcg) {
    while (!mem_cgroup_online(memcg))
        memcg = parent_mem_cgroup(memcg);
    return memcg;
}

void page_add_new_anon_rmap(struct page *page) {
    SetPageSwapBacked(page);
    if (update_mapcount(page, true))
        mod_memcg_state(page->mem_cgroup, NR_ANON_MAPPED, 1);
}

void page_add_file_rmap(struct page *page) {
    if (update_mapcount(page, true))
        mod_memcg_state(compound_head(page)->mem_cgroup, NR_FILE_MAPPED, 1);
}

static void clear_page_mlock(struct page *page) {
    if (!TestClearPageMlocked(page))
        return;
    mod_memcg_state(page->mem_cgroup, NR_MLOCK, -(long)thp_nr_pages(page));
    // isolate_lru_page() from the unevictable list, then back onto an evictable one.
    if (!PageLRU(page))
        return;
    struct pglist_data *pgdat = page_pgdat(page);
    spin_lock_irq(&pgdat->lru_lock);
    get_page(page);
    ClearPageLRU(page);
    del_page_from_lru_list(page, page_lruvec(page), page_lru(page));
    ClearPageUnevictable(page);
    spin_unlock_irq(&pgdat->lru_lock);
    putback_lru_page(page);
}

void page_remove_rmap(struct page *page) {
    struct page *head = compound_head(page);
    if (!update_mapcount(page, false))
        return;
    mod_memcg_state(head->mem_cgroup, PageAnon(head) ? NR_ANON_MAPPED : NR_FILE_MAPPED, -1);
    if (PageMlocked(head) && !page_mapcount(head))
        clear_page_mlock(head);
}

int page_referenced(struct page *page, unsigned long *vm_flags) {
    int referenced = 0;
    rmap_walk(page, [&](sim_vma &vma, uintptr_t &pte, struct page *) {
        if (vma.locked)
            *vm_flags |= VM_LOCKED;
        if (pte & PTE_YOUNG) {
            pte &= ~PTE_YOUNG;
            referenced++;
            *vm_flags |= vma.exec ? VM_EXEC : 0;
        }
    });
    return referenced;
}

bool try_to_unmap(struct page *page) {
    rmap_walk(page, [&](sim_vma &, uintptr_t &pte, struct page *sub) {
        if (PageAnon(sub)) {
            unsigned long slot = compound_head(sub)->private_data;
            swap_duplicate(slot);
            pte = swp_pte(slot);
        } else {
            pte = 0;
        }
        page_remove_rmap(sub);
        put_page(sub);
    });
    for (unsigned long i = 0; i < compound_nr(page); i++)
        if (atomic_read(&page[i]._mapcount) >= 0)
            return false;
    return true;
}

bool remove_mapping(struct page *page, struct mem_cgroup *target) {
    // The isolation reference and the page (or swap) cache's; anything more is a user.
    if (atomic_cmpxchg(&page->_refcount, 2, 0) != 2)
        return false;
    Shadow shadow = workingset_eviction(page, target);
    if (PageSwapCache(page)) {
        ClearPageSwapCache(page);
        swap_set_shadow(page->private_data, shadow);
        swap_free(page->private_data);
        page->private_data = 0;
    } else {
        sim_file *f = page->mapping->host;
        for (unsigned long i = 0; i < compound_nr(page); i++)
            f->cache[page->index + i] = nullptr;
        f->shadows[page->index] = shadow;
        mod_memcg_state(page->mem_cgroup, NR_FILE_PAGES, -(long)thp_nr_pages(page));
    }
    page->mapping = nullptr;
    return true;
}

void memory_shutdown() {
    std::lock_guard g(mm_lock);
    spaces.clear();
    files.clear();
    swap_shutdown();
}

}  // namespace sim::mm

using namespace sim::mm;

extern "C" __attribute__((visibility("default"))) int __page_mapcount(struct page *page) {
    int ret = atomic_read(&page->_mapcount) + 1;
    // A file THP's sub-page _mapcount counts every mapping: no compound_mapcount to add.
    if (!PageAnon(page) && !PageHuge(page))
        return ret;
    page = compound_head(page);
    ret += atomic_read(compound_mapcount_ptr(page)) + 1;
    if (PageDoubleMap(page))
        ret--;
    return ret;
}

namespace sim {

int mm_fault_anon(struct task_struct *t, unsigned long pages, bool locked) {
    std::lock_guard g(mm_lock);
    if (!t->mm)
        return -EFAULT;
    sim_mm *mm = mm_of(t);
    struct mem_cgroup *memcg = task_memcg(t);
    sim_vma &vma = mm->vmas.emplace_back(sim_vma{mm, nullptr, {}, locked, false, {}});
    vma.av.vma = &vma;
    vma.ptes.assign(pages, 0);
    for (unsigned long i = 0; i < pages; i++) {
        struct page *page = alloc_pages(GFP_HIGHUSER_MOVABLE, 0);
        if (!page)
            return -ENOMEM;
        count_vm_events(PGFAULT, 1);
        count_memcg_events(memcg, PGFAULT, 1);
        mem_cgroup_charge(page, memcg);
        page->mapping = (struct address_space *)((uintptr_t)&vma.av | PAGE_MAPPING_ANON);
        page->index = i;
        page_add_new_anon_rmap(page);
        if (locked && !TestSetPageMlocked(page))
            mod_memcg_state(memcg, NR_MLOCK, 1);
        lru_cache_add(page);
        vma.ptes[i] = (uintptr_t)page | PTE_YOUNG;
    }
    return 0;
}

int mm_map_file(struct task_struct *t, std::string_view file, unsigned long pages, bool exec) {
    std::lock_guard g(mm_lock);
    if (!t->mm)
        return -EFAULT;
    sim_mm *mm = mm_of(t);
    sim_file *f = file_get(file);
    sim_vma &vma = mm->vmas.emplace_back(sim_vma{mm, f, {}, false, exec, {}});
    vma.av.vma = &vma;
    vma.ptes.assign(pages, 0);
    f->i_mmap.push_back(&vma);
    for (unsigned long i = 0; i < pages; i++)
        if (int err = filemap_fault(vma, i))
            return err;
    return 0;
}

int mm_touch(struct task_struct *t, unsigned long pages) {
    std::lock_guard g(mm_lock);
    auto it = spaces.find(t->mm);
    if (it == spaces.end())
        return 0;
    for (sim_vma &vma : it->second->vmas) {
        if (vma.file)
            continue;
        for (unsigned long i = 0; i < vma.ptes.size() && pages; i++, pages--) {
            if (pte_present(vma.ptes[i]))
                vma.ptes[i] |= PTE_YOUNG;
            else if (int err = do_swap_page(vma, i))
                return err;
        }
    }
    return 0;
}

int mm_touch_file(struct task_struct *t, std::string_view file, unsigned long pages) {
    std::lock_guard g(mm_lock);
    auto it = spaces.find(t->mm);
    if (it == spaces.end())
        return 0;
    for (sim_vma &vma : it->second->vmas) {
        if (!vma.file || vma.file->name != file)
            continue;
        for (unsigned long i = 0; i < std::min(pages, vma.ptes.size()); i++) {
            if (pte_present(vma.ptes[i]))
                vma.ptes[i] |= PTE_YOUNG;
            else if (int err = filemap_fault(vma, i))
                return err;
        }
    }
    return 0;
}

int mm_file_read(std::string_view file, unsigned long pages) {
    std::lock_guard g(mm_lock);
    struct mem_cgroup *memcg = task_memcg(current);
    sim_file *f = file_get(file);
    for (unsigned long i = 0; i < pages; i++) {
        bool major = false;
        struct page *page = filemap_get_page(f, i, memcg, &major);
        if (!page)
            return -ENOMEM;
        mark_page_accessed(page);
        put_page(page);
    }
    return 0;
}

void mm_file_set_order(std::string_view file, unsigned int order) {
    std::lock_guard g(mm_lock);
    file_get(file)->order = order;
}

struct page *mm_file_page(std::string_view file, unsigned long index) {
    std::lock_guard g(mm_lock);
    auto it = files.find(file);
    if (it == files.end() || index >= it->second->cache.size())
        return nullptr;
    return it->second->cache[index];
}

struct page *mm_anon_page(struct task_struct *t, unsigned long n) {
    std::lock_guard g(mm_lock);
    auto it = spaces.find(t->mm);
    if (it == spaces.end())
        return nullptr;
    for (sim_vma &vma : it->second->vmas) {
        if (vma.file)
            continue;
        if (n < vma.ptes.size())
            return pte_present(vma.ptes[n]) ? pte_page(vma.ptes[n]) : nullptr;
        n -= vma.ptes.size();
    }
    return nullptr;
}

void mm_task_exit(struct task_struct *t) {
    std::lock_guard g(mm_lock);
    if (t->mm) {
        auto it = spaces.find(t->mm);
        if (it != spaces.end()) {
            for (sim_vma &vma : it->second->vmas)
                zap_vma(vma);
            spaces.erase(it);
        }
    }
    memcg_forget_task(t);
}

void mm_age_anon(struct task_struct *t, unsigned int active_percent, unsigned int hot_percent) {
    std::lock_guard g(mm_lock);
    auto it = spaces.find(t->mm);
    if (it == spaces.end())
        return;
    for (sim_vma &vma : it->second->vmas) {
        if (vma.file || vma.locked)
            continue;
        // The older pages went inactive when shrink_lruvec() last found inactive_is_low();
        // nothing referenced them since. The newer ones are active, the hottest young.
        unsigned long n = vma.ptes.size();
        unsigned long first_active = n - n * active_percent / 100;
        unsigned long first_hot = n - n * hot_percent / 100;
        for (unsigned long i = 0; i < n; i++) {
            if (!pte_present(vma.ptes[i]))
                continue;
            struct page *page = pte_page(vma.ptes[i]);
            if (i < first_hot)
                vma.ptes[i] &= ~PTE_YOUNG;
            if (i >= first_active)
                activate_page(page);
        }
    }
}

void mm_age_file_mappings(unsigned int hot_percent) {
    std::lock_guard g(mm_lock);
    for (auto &[name, f] : files) {
        for (sim_vma *vma : f->i_mmap) {
            for (unsigned long i = 0; i < vma->ptes.size(); i++) {
                uintptr_t &pte = vma->ptes[i];
                if (!pte_present(pte))
                    continue;
                // A page is hot or cold for every process that maps it: a spread of the file's
                // pages, the same in each mapping.
                if ((uint32_t)(i * 2654435761u) % 100 >= hot_percent)
                    pte &= ~PTE_YOUNG;
                // page_check_references() activates code on its first reference, and a
                // referenced code page stays active: after a while all of it is active.
                if (vma->exec)
                    activate_page(compound_head(pte_page(pte)));
            }
        }
    }
}

void mm_set_swap_bytes(uint64_t bytes) {
    swap_set_total(bytes >> PAGE_SHIFT);
}

}  // namespace sim
