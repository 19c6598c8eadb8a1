// Real model of RCU grace periods (kernel/rcu/tree.c in effect), with the read side of a
// membarrier-based user-space RCU: each thread has one word with its nesting depth and the
// number of sections it has left, updated with plain stores. synchronize_rcu() first makes every
// running thread execute a full barrier (membarrier(2)), so a reader whose entry it cannot see
// yet will see what was unpublished before the call; then it waits for the sections that were
// open when it started. Where membarrier is missing, readers use fully ordered updates.
#include <atomic>
#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <linux/membarrier.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "simkernel/kernel/sched_internal.h"

#include <platform/rcupdate.h>

extern "C" {
__thread struct rcu_reader *sim_rcu_self __attribute__((tls_model("initial-exec")));
int sim_rcu_gp_waiters;
}

namespace sim {
namespace {

struct Readers {
    std::mutex lock;
    // Every reader record ever made. Records outlive their threads: a grace period may still
    // test one whose thread has gone. A free record is reused by the next new thread, its
    // count of sections continuing from where it stopped.
    struct rcu_reader *all = nullptr;
    std::vector<struct rcu_reader *> free;
    int fence_mode = -1;  // 1: membarrier works; 0: readers fence themselves
};

Readers &readers() {
    static Readers r;
    return r;
}

// Waiters for readers to leave sleep on this channel.
const char gp_chan = 0;

long membarrier(int cmd) {
    return syscall(__NR_membarrier, cmd, 0, 0);
}

// Decided once, before the first reader registers.
bool fence_mode_locked(Readers &rs) {
    if (rs.fence_mode < 0)
        rs.fence_mode = membarrier(MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED) == 0 ? 1 : 0;
    return rs.fence_mode == 1;
}

// At thread exit the record goes back to the free list. A section taken later in the exit
// (by another thread-local destructor) gets a record of its own that stays registered.
struct ReaderRelease {
    struct rcu_reader *r = nullptr;
    ~ReaderRelease() {
        if (!r)
            return;
        assert(!(r->state & RCU_NEST_MASK) && "thread exits inside an RCU read-side section");
        Readers &rs = readers();
        std::lock_guard g(rs.lock);
        rs.free.push_back(r);
        sim_rcu_self = nullptr;
        exiting = true;
    }
    static thread_local bool exiting;
};
thread_local bool ReaderRelease::exiting = false;

}  // namespace
}  // namespace sim

extern "C" {

struct rcu_reader *__rcu_reader_register(void) {
    sim::Readers &rs = sim::readers();
    struct rcu_reader *r;
    {
        std::lock_guard g(rs.lock);
        bool membarrier_ok = sim::fence_mode_locked(rs);
        if (!rs.free.empty()) {
            r = rs.free.back();
            rs.free.pop_back();
        } else {
            r = new rcu_reader{0, 0, rs.all};
            __atomic_store_n(&rs.all, r, __ATOMIC_RELEASE);
        }
        r->self_fence = !membarrier_ok;
    }
    if (!sim::ReaderRelease::exiting) {
        thread_local sim::ReaderRelease release;
        release.r = r;
    }
    sim_rcu_self = r;
    return r;
}

void __rcu_read_unlock_unbalanced(void) {
    std::fprintf(stderr, "simkernel: rcu_read_unlock() without rcu_read_lock()\n");
    assert(!"rcu_read_unlock() without rcu_read_lock()");
}

// A grace period waits: it may be waiting for this section.
void __rcu_read_unlock_special(struct rcu_reader *) {
    std::lock_guard g(sim::sched_mutex());
    sim::sched_wake_locked(&sim::gp_chan);
}

void __rcu_read_lock(void) {
    rcu_read_lock();
}

void __rcu_read_unlock(void) {
    rcu_read_unlock();
}

int rcu_read_lock_held(void) {
    struct rcu_reader *r = sim_rcu_self;
    return r && (r->state & RCU_NEST_MASK) != 0;
}

void synchronize_rcu(void) {
    assert(!rcu_read_lock_held() && "synchronize_rcu() inside a read-side section");
    sim::might_sleep_check("kernel/rcu/tree.c");
    sim::Readers &rs = sim::readers();
    // Announced before the barrier: a reader that leaves after it sees the announcement and
    // wakes this waiter; one that left before it shows no open section below.
    __atomic_fetch_add(&sim_rcu_gp_waiters, 1, __ATOMIC_SEQ_CST);
    bool membarrier_ok;
    {
        std::lock_guard g(rs.lock);
        membarrier_ok = sim::fence_mode_locked(rs);
    }
    // Without membarrier, the fully ordered announcement above and the readers' fully ordered
    // updates of their words order the two sides.
    if (membarrier_ok)
        sim::membarrier(MEMBARRIER_CMD_PRIVATE_EXPEDITED);
    std::vector<std::pair<struct rcu_reader *, unsigned long>> open;
    for (struct rcu_reader *r = __atomic_load_n(&rs.all, __ATOMIC_ACQUIRE); r; r = r->next) {
        unsigned long s = __atomic_load_n(&r->state, __ATOMIC_SEQ_CST);
        if (s & RCU_NEST_MASK)
            open.emplace_back(r, s / RCU_SECTION_ONE);
    }
    std::unique_lock lk(sim::sched_mutex());
    auto all_left = [&open] {
        for (auto &[r, left] : open)
            if (__atomic_load_n(&r->state, __ATOMIC_ACQUIRE) / RCU_SECTION_ONE == left)
                return false;
        return true;
    };
    sim::sched_wait(lk, &sim::gp_chan, all_left);
    __atomic_fetch_sub(&sim_rcu_gp_waiters, 1, __ATOMIC_SEQ_CST);
}

}  // extern "C"
