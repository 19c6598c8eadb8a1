// Shared pieces of the scheduler-area tests: a stand-in module whose code starts kernel
// threads, queues work and registers notifiers, and a log search.
#pragma once

#include <string>
#include <string_view>

#include "simkernel/kernel/printk_log.h"
#include "tests/kernel/fake_module.h"

#include <platform/kthread.h>
#include <platform/notifier.h>
#include <platform/workqueue.h>

namespace simtest {

extern "C" char __start_simtest_sched[], __stop_simtest_sched[];

// Code of the stand-in module "schedmod": a thread body, a work function and a notifier
// callback, and calls made from inside the module. Each counts its runs in the given counter.
#define SCHEDMOD __attribute__((section("simtest_sched"), noinline))

SCHEDMOD inline int schedmod_thread(void *data) {
    __atomic_fetch_add(static_cast<int *>(data), 1, __ATOMIC_SEQ_CST);
    while (!kthread_should_stop()) {
        set_current_state(TASK_INTERRUPTIBLE);
        if (kthread_should_stop())
            break;
        schedule();
    }
    __set_current_state(TASK_RUNNING);
    return 0;
}

inline int schedmod_work_runs;
SCHEDMOD inline void schedmod_work(struct work_struct *) {
    __atomic_fetch_add(&schedmod_work_runs, 1, __ATOMIC_SEQ_CST);
}

SCHEDMOD inline int schedmod_notifier(struct notifier_block *, unsigned long, void *) {
    return NOTIFY_OK;
}

SCHEDMOD inline struct task_struct *schedmod_kthread_create(int *runs) {
    struct task_struct *t = kthread_create(schedmod_thread, runs, "schedmod/%d", 0);
    __asm__ __volatile__("" ::: "memory");
    return t;
}

SCHEDMOD inline int schedmod_register(struct atomic_notifier_head *nh, struct notifier_block *nb) {
    int ret = atomic_notifier_chain_register(nh, nb);
    __asm__ __volatile__("" ::: "memory");
    return ret;
}

inline uintptr_t schedmod_unused_call(const ModCall &) {
    return 0;
}

#define SIMTEST_SCHEDMOD()                                              \
    ::simtest::FakeModule("schedmod", ::simtest::__start_simtest_sched, \
                          ::simtest::__stop_simtest_sched, ::simtest::schedmod_unused_call)

// True if a log record since mark contains text.
inline bool log_has(uint64_t mark, std::string_view text) {
    for (const std::string &s : sim::log_texts_since(mark))
        if (s.find(text) != std::string::npos)
            return true;
    return false;
}

}  // namespace simtest
