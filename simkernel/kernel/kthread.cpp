// Real model of kernel threads (kernel/kthread.c) on host threads: a new thread sleeps until
// its first wake-up, kthread_stop() sets should-stop, wakes it and waits for its result, and a
// thread that a module started is that module's resource until it ends.
#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <thread>
#include <vector>

#include "simkernel/kernel/fault.h"
#include "simkernel/kernel/module_owner.h"
#include "simkernel/kernel/sched_internal.h"
#include "simkernel/kernel/task.h"

#include <platform/errno.h>
#include <platform/kthread.h>
#include <platform/printk.h>

namespace sim {
namespace {

// Live kernel threads in creation order; guarded by sched_mutex().
std::vector<struct task_struct *> &live_kthreads() {
    static std::vector<struct task_struct *> v;
    return v;
}

// Host threads of kernel threads that have not finished yet, thread-local destructors included.
// Shutdown waits for zero, so no thread outlives the kernel's static objects. A plain atomic has
// no destructor, so a thread can still decrement it while the process exits.
std::atomic<int> running_hosts{0};

struct HostRunningGuard {
    ~HostRunningGuard() { running_hosts.fetch_sub(1, std::memory_order_release); }
};

KthreadInfo *kinfo(struct task_struct *t) {
    return t && t->sim_host ? t->sim_host->kthread.get() : nullptr;
}

void kthread_main(struct task_struct *t) {
    // Constructed first, so destroyed after every other thread-local object of this thread.
    thread_local HostRunningGuard running;
    KthreadInfo *ki = kinfo(t);
    host_thread_bind(&ki->host);
    set_thread_task(t);
    schedule();  // until the first wake-up: created as TASK_UNINTERRUPTIBLE
    int ret = -EINTR;
    if (!ki->should_stop.load())
        ret = ki->threadfn(ki->data);
    ki->result = ret;
    resource_remove(t);
    task_detach(t);
    {
        std::lock_guard g(sched_mutex());
        std::erase(live_kthreads(), t);
        __atomic_store_n(&t->state, (long)TASK_DEAD, __ATOMIC_SEQ_CST);
    }
    kthread_host_exit(&ki->host);
    put_task_struct(t);
}

struct task_struct *kthread_spawn(int (*threadfn)(void *), void *data, const char *name,
                                  unsigned int flags, struct module *owner) {
    struct task_struct *t = task_alloc(name, PF_KTHREAD | flags, 0, false);
    if (struct task_struct *kthreadd = task_find_by_comm("kthreadd"))
        t->real_parent = kthreadd;
    t->state = TASK_UNINTERRUPTIBLE;
    auto ki = std::make_unique<KthreadInfo>();
    ki->threadfn = threadfn;
    ki->data = data;
    ki->host.task = t;
    ki->host.kthread = true;
    t->sim_host->owner = owner;
    kthread_host_add(&ki->host);
    t->sim_host->kthread = std::move(ki);
    task_attach(t);
    {
        std::lock_guard g(sched_mutex());
        live_kthreads().push_back(t);
    }
    // Released at rmmod if the module left it running: stop it unless it ended meanwhile.
    resource_add(owner, t, "kthread", t->comm, [t] {
        {
            std::lock_guard g(sched_mutex());
            if (std::find(live_kthreads().begin(), live_kthreads().end(), t) ==
                live_kthreads().end())
                return;
            get_task_struct(t);
        }
        kthread_stop(t);
        put_task_struct(t);
    });
    running_hosts.fetch_add(1, std::memory_order_relaxed);
    std::thread(kthread_main, t).detach();
    return t;
}

}  // namespace

struct task_struct *kthread_create_kernel(int (*threadfn)(void *), void *data, const char *name,
                                          unsigned int extra_flags) {
    return kthread_spawn(threadfn, data, name, extra_flags, nullptr);
}

int kthread_idle_main(void *) {
    for (;;) {
        set_current_state(TASK_INTERRUPTIBLE);
        if (kthread_should_stop())
            break;
        schedule();
    }
    __set_current_state(TASK_RUNNING);
    return 0;
}

void kthreads_stop_all() {
    for (;;) {
        struct task_struct *t;
        {
            std::lock_guard g(sched_mutex());
            if (live_kthreads().empty())
                break;
            t = live_kthreads().back();
            get_task_struct(t);
        }
        kthread_stop(t);
        put_task_struct(t);
    }
    while (running_hosts.load(std::memory_order_acquire) != 0)
        std::this_thread::yield();
}

}  // namespace sim

extern "C" {

struct task_struct *kthread_create_on_node(int (*threadfn)(void *data), void *data, int node,
                                           const char namefmt[], ...) {
    (void)node;
    if (sim::fault_should_fail(sim::fault_op::kthread_create, SIM_CALLER_MODULE()))
        return (struct task_struct *)ERR_PTR(-ENOMEM);
    char name[TASK_COMM_LEN];
    va_list ap;
    va_start(ap, namefmt);
    vsnprintf(name, sizeof(name), namefmt, ap);
    va_end(ap);
    return sim::kthread_spawn(threadfn, data, name, 0,
                              sim::module_of_address(reinterpret_cast<const void *>(threadfn)));
}

bool kthread_should_stop(void) {
    sim::KthreadInfo *ki = sim::kinfo(sim::thread_task());
    return ki && ki->should_stop.load();
}

int kthread_stop(struct task_struct *k) {
    sim::KthreadInfo *ki = sim::kinfo(k);
    if (!ki) {
        printk(KERN_CRIT "kernel BUG: kthread_stop() on %s/%d, not a kernel thread\n", k->comm,
               k->pid);
        std::abort();
    }
    get_task_struct(k);
    std::unique_lock lk(sim::sched_mutex());
    ki->should_stop.store(true);
    sim::try_to_wake_up_locked(k, TASK_NORMAL);
    // A thread that sleeps on something other than its task (a worker on its pool) tests
    // should-stop in its own condition.
    sim::sched_kick_locked(&ki->host);
    auto exited = [ki] { return ki->host.exited; };
    sim::sched_wait(lk, &ki->host, exited);
    int ret = ki->result;
    lk.unlock();
    put_task_struct(k);
    return ret;
}

void kthread_bind(struct task_struct *k, unsigned int cpu) {
    std::lock_guard g(sim::sched_mutex());
    cpumask_clear(&k->cpus_mask);
    cpumask_set_cpu(cpu, &k->cpus_mask);
    k->nr_cpus_allowed = 1;
}

void *kthread_data(struct task_struct *k) {
    sim::KthreadInfo *ki = sim::kinfo(k);
    return ki ? ki->data : nullptr;
}

}  // extern "C"
