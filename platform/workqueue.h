// Workqueues (include/linux/workqueue.h). Work items run on worker kernel threads; a pending
// item is queued at most once, and an item never runs on two workers at the same time.
#pragma once

#include <platform/atomic.h>
#include <platform/bitops.h>
#include <platform/cpumask.h>
#include <platform/list.h>
#include <platform/timer.h>

struct work_struct;
struct workqueue_struct;
typedef void (*work_func_t)(struct work_struct *work);

enum {
    WORK_STRUCT_PENDING_BIT = 0,
    WORK_OFFQ_CANCELING_BIT = 1,
    WORK_CPU_UNBOUND = NR_CPUS,
};
#define WORK_STRUCT_PENDING (1UL << WORK_STRUCT_PENDING_BIT)

struct work_struct {
    atomic_long_t data;  // WORK_STRUCT_PENDING and, while a cancel waits, WORK_OFFQ_CANCELING
    struct list_head entry;
    work_func_t func;
};

struct delayed_work {
    struct work_struct work;
    struct timer_list timer;
    struct workqueue_struct *wq;  // target of the timer's queueing
    int cpu;
};

enum {
    WQ_UNBOUND = 1 << 1,
    WQ_FREEZABLE = 1 << 2,
    WQ_MEM_RECLAIM = 1 << 3,
    WQ_HIGHPRI = 1 << 4,
    WQ_CPU_INTENSIVE = 1 << 5,
    WQ_SYSFS = 1 << 6,
    WQ_POWER_EFFICIENT = 1 << 7,
    __WQ_ORDERED = 1 << 17,
    WQ_MAX_ACTIVE = 512,
    WQ_DFL_ACTIVE = WQ_MAX_ACTIVE / 2,
};

extern "C" {
extern struct workqueue_struct *system_wq;
extern struct workqueue_struct *system_highpri_wq;
extern struct workqueue_struct *system_long_wq;
extern struct workqueue_struct *system_unbound_wq;
extern struct workqueue_struct *system_freezable_wq;
extern struct workqueue_struct *system_power_efficient_wq;

__printf(1, 4) struct workqueue_struct *alloc_workqueue(const char *fmt, unsigned int flags,
                                                        int max_active, ...);
void destroy_workqueue(struct workqueue_struct *wq);

bool queue_work_on(int cpu, struct workqueue_struct *wq, struct work_struct *work);
bool queue_delayed_work_on(int cpu, struct workqueue_struct *wq, struct delayed_work *dwork,
                           unsigned long delay);
bool mod_delayed_work_on(int cpu, struct workqueue_struct *wq, struct delayed_work *dwork,
                         unsigned long delay);
void flush_workqueue(struct workqueue_struct *wq);
void drain_workqueue(struct workqueue_struct *wq);
bool flush_work(struct work_struct *work);
bool flush_delayed_work(struct delayed_work *dwork);
bool cancel_work_sync(struct work_struct *work);
bool cancel_delayed_work(struct delayed_work *dwork);
bool cancel_delayed_work_sync(struct delayed_work *dwork);
void delayed_work_timer_fn(struct timer_list *t);
}

#define work_data_bits(work) ((unsigned long *)(&(work)->data))
#define work_pending(work) test_bit(WORK_STRUCT_PENDING_BIT, work_data_bits(work))
#define delayed_work_pending(w) work_pending(&(w)->work)

#define __WORK_INITIALIZER(n, f) \
    { ATOMIC_LONG_INIT(0), {&(n).entry, &(n).entry}, (f) }
#define __DELAYED_WORK_INITIALIZER(n, f, tflags)                                             \
    {                                                                                        \
        __WORK_INITIALIZER((n).work, (f)),                                                   \
            __TIMER_INITIALIZER(delayed_work_timer_fn, (tflags) | TIMER_IRQSAFE), nullptr, 0 \
    }
#define DECLARE_WORK(n, f) struct work_struct n = __WORK_INITIALIZER(n, f)
#define DECLARE_DELAYED_WORK(n, f) struct delayed_work n = __DELAYED_WORK_INITIALIZER(n, f, 0)

#define INIT_WORK(_work, _func)             \
    do {                                    \
        atomic_long_set(&(_work)->data, 0); \
        INIT_LIST_HEAD(&(_work)->entry);    \
        (_work)->func = (_func);            \
    } while (0)
#define INIT_DELAYED_WORK(_work, _func)                                     \
    do {                                                                    \
        INIT_WORK(&(_work)->work, (_func));                                 \
        timer_setup(&(_work)->timer, delayed_work_timer_fn, TIMER_IRQSAFE); \
    } while (0)

static inline struct delayed_work *to_delayed_work(struct work_struct *work) {
    return container_of(work, struct delayed_work, work);
}

static inline bool queue_work(struct workqueue_struct *wq, struct work_struct *work) {
    return queue_work_on(WORK_CPU_UNBOUND, wq, work);
}
static inline bool queue_delayed_work(struct workqueue_struct *wq, struct delayed_work *dwork,
                                      unsigned long delay) {
    return queue_delayed_work_on(WORK_CPU_UNBOUND, wq, dwork, delay);
}
static inline bool mod_delayed_work(struct workqueue_struct *wq, struct delayed_work *dwork,
                                    unsigned long delay) {
    return mod_delayed_work_on(WORK_CPU_UNBOUND, wq, dwork, delay);
}
static inline bool schedule_work(struct work_struct *work) {
    return queue_work(system_wq, work);
}
static inline bool schedule_delayed_work(struct delayed_work *dwork, unsigned long delay) {
    return queue_delayed_work(system_wq, dwork, delay);
}
static inline void flush_scheduled_work(void) {
    flush_workqueue(system_wq);
}

#define alloc_ordered_workqueue(fmt, flags, args...) \
    alloc_workqueue(fmt, WQ_UNBOUND | __WQ_ORDERED | (flags), 1, ##args)
#define create_workqueue(name) alloc_workqueue("%s", WQ_MEM_RECLAIM, 1, (name))
#define create_singlethread_workqueue(name) alloc_ordered_workqueue("%s", WQ_MEM_RECLAIM, name)
