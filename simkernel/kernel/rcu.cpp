// Real model of RCU grace periods (kernel/rcu/tree.c in effect): each host thread has a
// read-side nesting count and a section counter; synchronize_rcu() waits for the sections that
// were open when it started.
#include <atomic>
#include <cassert>
#include <vector>

#include "simkernel/kernel/sched_internal.h"

#include <platform/rcupdate.h>

namespace sim {
namespace {

struct Reader {
    int nesting = 0;
    // Odd while inside a read-side section; each entry and exit adds one.
    std::atomic<uint64_t> section{0};
};

struct Readers {
    std::mutex lock;
    std::vector<Reader *> all;
    std::atomic<int> waiters{0};
};

Readers &readers() {
    static Readers r;
    return r;
}

struct ReaderSlot {
    Reader r;
    ReaderSlot() {
        std::lock_guard g(readers().lock);
        readers().all.push_back(&r);
    }
    ~ReaderSlot() {
        std::lock_guard g(readers().lock);
        std::erase(readers().all, &r);
    }
};

Reader &this_reader() {
    thread_local ReaderSlot slot;
    return slot.r;
}

}  // namespace
}  // namespace sim

extern "C" {

void __rcu_read_lock(void) {
    sim::Reader &r = sim::this_reader();
    if (r.nesting++ == 0)
        r.section.fetch_add(1, std::memory_order_seq_cst);
}

void __rcu_read_unlock(void) {
    sim::Reader &r = sim::this_reader();
    assert(r.nesting > 0 && "rcu_read_unlock() without rcu_read_lock()");
    if (--r.nesting != 0)
        return;
    r.section.fetch_add(1, std::memory_order_seq_cst);
    if (sim::readers().waiters.load(std::memory_order_seq_cst))
        sim::sched_notify();
}

int rcu_read_lock_held(void) {
    return sim::this_reader().nesting > 0;
}

void synchronize_rcu(void) {
    assert(!rcu_read_lock_held() && "synchronize_rcu() inside a read-side section");
    sim::might_sleep_check("kernel/rcu/tree.c");
    sim::Readers &rs = sim::readers();
    rs.waiters.fetch_add(1, std::memory_order_seq_cst);
    std::vector<std::pair<sim::Reader *, uint64_t>> open;
    {
        std::lock_guard g(rs.lock);
        for (sim::Reader *r : rs.all) {
            uint64_t s = r->section.load(std::memory_order_seq_cst);
            if (s & 1)
                open.emplace_back(r, s);
        }
    }
    // A reader thread cannot end while its section is open, so open entries stay valid.
    std::unique_lock lk(sim::sched_mutex());
    auto all_left = [&open] {
        for (auto &[r, s] : open)
            if (r->section.load(std::memory_order_seq_cst) == s)
                return false;
        return true;
    };
    sim::sched_wait(lk, all_left);
    rs.waiters.fetch_sub(1, std::memory_order_seq_cst);
}

}  // extern "C"
