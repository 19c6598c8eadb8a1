// Workload and memory commands of the shell: proc (user processes that fault memory), file
// (page-cache reads) and vm (a page's state).
#include "phonesim/shell.h"

#include "simkernel/kernel/task.h"
#include "simkernel/mm/mm_host.h"

#include <platform/errno.h>
#include <platform/mm.h>

#include <cstdlib>
#include <cstring>

namespace phonesim {
namespace {

bool parse_count(const std::string &s, unsigned long *out) {
    char *end = nullptr;
    errno = 0;
    unsigned long v = std::strtoul(s.c_str(), &end, 0);
    if (s.empty() || *end || errno || s[0] == '-')
        return false;
    *out = v;
    return true;
}

// "apps/uid_10010" or "/dev/memcg/apps/uid_10010".
std::string memcg_name(std::string name) {
    if (name.starts_with("/dev/memcg"))
        name.erase(0, 10);
    return name;
}

struct task_struct *find_process(Invocation &inv, const std::string &comm) {
    struct task_struct *t = sim::task_find_by_comm(comm);
    if (!t || !t->mm) {
        inv.error(comm + ": no such process");
        return nullptr;
    }
    return t;
}

int memory_result(Invocation &inv, int err) {
    if (err == 0)
        return 0;
    inv.error(std::strerror(-err));
    return 1;
}

int cmd_proc(Invocation &inv) {
    const auto &a = inv.args;
    unsigned long pages = 0;
    if (a.size() >= 3 && a.size() <= 4 && a[1] == "start") {
        if (sim::task_find_by_comm(a[2])) {
            inv.error(a[2] + ": already running");
            return 1;
        }
        struct mem_cgroup *memcg = root_mem_cgroup;
        if (a.size() == 4 && !(memcg = sim::memcg_lookup(memcg_name(a[3])))) {
            inv.error(a[3] + ": no such memory cgroup");
            return 1;
        }
        sim::memcg_move_task(sim::task_create_user(a[2]), memcg);
        return 0;
    }
    if (a.size() == 4 && a[1] == "anon" && parse_count(a[3], &pages)) {
        struct task_struct *t = find_process(inv, a[2]);
        return t ? memory_result(inv, sim::mm_fault_anon(t, pages)) : 1;
    }
    if (a.size() >= 2 && a[1] == "map") {
        bool exec = a.size() == 6 && a[2] == "-x";
        size_t c = exec ? 3 : 2;
        if (a.size() == c + 3 && parse_count(a[c + 2], &pages)) {
            struct task_struct *t = find_process(inv, a[c]);
            return t ? memory_result(inv, sim::mm_map_file(t, a[c + 1], pages, exec)) : 1;
        }
    }
    if (a.size() == 4 && a[1] == "touch" && parse_count(a[3], &pages)) {
        struct task_struct *t = find_process(inv, a[2]);
        return t ? memory_result(inv, sim::mm_touch(t, pages)) : 1;
    }
    if (a.size() == 5 && a[1] == "touch" && parse_count(a[4], &pages)) {
        struct task_struct *t = find_process(inv, a[2]);
        return t ? memory_result(inv, sim::mm_touch_file(t, a[3], pages)) : 1;
    }
    if (a.size() == 3 && a[1] == "stop") {
        struct task_struct *t = find_process(inv, a[2]);
        if (!t)
            return 1;
        sim::task_exit(t);
        return 0;
    }
    inv.error(
        "usage: proc start COMM [MEMCG] | anon COMM PAGES | map [-x] COMM FILE PAGES | "
        "touch COMM [FILE] PAGES | stop COMM");
    return 1;
}

int cmd_file(Invocation &inv) {
    const auto &a = inv.args;
    unsigned long pages = 0;
    if (a.size() == 4 && a[1] == "read" && parse_count(a[3], &pages))
        return memory_result(inv, sim::mm_file_read(a[2], pages));
    inv.error("usage: file read FILE PAGES");
    return 1;
}

int cmd_vm(Invocation &inv) {
    const auto &a = inv.args;
    unsigned long pfn = 0;
    if (a.size() == 3 && a[1] == "page" && parse_count(a[2], &pfn)) {
        std::string text = sim::mm_page_describe(pfn);
        if (text.empty()) {
            inv.error("pfn " + a[2] + " is not RAM");
            return 1;
        }
        inv.out.write(text);
        return 0;
    }
    unsigned long index = 0;
    if (a.size() == 4 && a[1] == "file" && parse_count(a[3], &index)) {
        struct page *page = sim::mm_file_page(a[2], index);
        if (!page) {
            inv.error(a[2] + ": page " + a[3] + " is not in the page cache");
            return 1;
        }
        inv.out.write(sim::mm_page_describe(page_to_pfn(page)));
        return 0;
    }
    inv.error("usage: vm page PFN | vm file FILE INDEX");
    return 1;
}

}  // namespace

std::vector<Builtin> vm_builtins() {
    return {
        {"proc", cmd_proc,
         "proc start COMM [MEMCG]\n"
         "                         start a user process with its own address space, in a\n"
         "                         memory cgroup such as apps/uid_10010 (default: the root)\n"
         "  proc anon COMM PAGES   the process allocates and touches PAGES anonymous pages\n"
         "  proc map [-x] COMM FILE PAGES\n"
         "                         the process maps and touches the first PAGES pages of\n"
         "                         FILE, a simulated file made on first use (-x: as code)\n"
         "  proc touch COMM [FILE] PAGES\n"
         "                         the process touches its first PAGES anonymous pages (or\n"
         "                         pages of FILE) again; swapped or reclaimed ones come back\n"
         "  proc stop COMM         the process exits; its mappings go"},
        {"file", cmd_file,
         "file read FILE PAGES   read the first PAGES pages of FILE through the page cache"},
        {"vm", cmd_vm,
         "vm page PFN            one page frame: kind, flags, mapcount, refcount, LRU list\n"
         "                         and memory cgroup\n"
         "  vm file FILE INDEX     the same for the page-cache page at INDEX of FILE"},
    };
}

}  // namespace phonesim
