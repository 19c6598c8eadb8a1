// Kernel threads (include/linux/kthread.h). A new kernel thread sleeps until its first wake-up;
// kthread_stop() makes kthread_should_stop() true, wakes the thread and waits for its result.
#pragma once

#include <platform/err.h>
#include <platform/sched.h>

#define NUMA_NO_NODE (-1)

extern "C" {
__printf(4, 5) struct task_struct *kthread_create_on_node(int (*threadfn)(void *data), void *data,
                                                          int node, const char namefmt[], ...);
bool kthread_should_stop(void);
int kthread_stop(struct task_struct *k);
void kthread_bind(struct task_struct *k, unsigned int cpu);
void *kthread_data(struct task_struct *k);
}

#define kthread_create(threadfn, data, namefmt, arg...) \
    kthread_create_on_node(threadfn, data, NUMA_NO_NODE, namefmt, ##arg)

#define kthread_run(threadfn, data, namefmt, ...)                                         \
    ({                                                                                    \
        struct task_struct *__k = kthread_create(threadfn, data, namefmt, ##__VA_ARGS__); \
        if (!IS_ERR(__k))                                                                 \
            wake_up_process(__k);                                                         \
        __k;                                                                              \
    })
