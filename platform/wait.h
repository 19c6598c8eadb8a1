// Wait queues (include/linux/wait.h, kernel/sched/wait.c). The wait_event family is the
// kernel's ___wait_event loop: queue the entry and set the task state, test the condition,
// sleep, and leave the queue once the condition holds.
#pragma once

#include <platform/list.h>
#include <platform/sched.h>
#include <platform/spinlock.h>

struct wait_queue_entry;
typedef int (*wait_queue_func_t)(struct wait_queue_entry *wq_entry, unsigned mode, int flags,
                                 void *key);

#define WQ_FLAG_EXCLUSIVE 0x01
#define WQ_FLAG_WOKEN 0x02

struct wait_queue_entry {
    unsigned int flags;
    void *private_;  // the waiting task (`private` in C)
    wait_queue_func_t func;
    struct list_head entry;
};
typedef struct wait_queue_entry wait_queue_entry_t;

struct wait_queue_head {
    spinlock_t lock;
    struct list_head head;
};
typedef struct wait_queue_head wait_queue_head_t;

#define __WAIT_QUEUE_HEAD_INITIALIZER(name) \
    {                                       \
        __SPIN_LOCK_UNLOCKED(name.lock), {  \
            &(name).head, &(name).head      \
        }                                   \
    }
#define DECLARE_WAIT_QUEUE_HEAD(name) \
    struct wait_queue_head name = __WAIT_QUEUE_HEAD_INITIALIZER(name)

extern "C" {
void __init_waitqueue_head(struct wait_queue_head *wq_head, const char *name,
                           struct lock_class_key *key);
void init_wait_entry(struct wait_queue_entry *wq_entry, int flags);
long prepare_to_wait_event(struct wait_queue_head *wq_head, struct wait_queue_entry *wq_entry,
                           int state);
void prepare_to_wait(struct wait_queue_head *wq_head, struct wait_queue_entry *wq_entry, int state);
void prepare_to_wait_exclusive(struct wait_queue_head *wq_head, struct wait_queue_entry *wq_entry,
                               int state);
void finish_wait(struct wait_queue_head *wq_head, struct wait_queue_entry *wq_entry);
void add_wait_queue(struct wait_queue_head *wq_head, struct wait_queue_entry *wq_entry);
void remove_wait_queue(struct wait_queue_head *wq_head, struct wait_queue_entry *wq_entry);
void __wake_up(struct wait_queue_head *wq_head, unsigned int mode, int nr, void *key);
int autoremove_wake_function(struct wait_queue_entry *wq_entry, unsigned mode, int sync, void *key);
int default_wake_function(struct wait_queue_entry *wq_entry, unsigned mode, int wake_flags,
                          void *key);
}

#define init_waitqueue_head(wq_head)                        \
    do {                                                    \
        static struct lock_class_key __key;                 \
        __init_waitqueue_head((wq_head), #wq_head, &__key); \
    } while (0)

#define DEFINE_WAIT_FUNC(name, function) \
    struct wait_queue_entry name = {0, current, function, {&(name).entry, &(name).entry}}
#define DEFINE_WAIT(name) DEFINE_WAIT_FUNC(name, autoremove_wake_function)

static inline int waitqueue_active(struct wait_queue_head *wq_head) {
    return !list_empty(&wq_head->head);
}

#define wake_up(x) __wake_up(x, TASK_NORMAL, 1, nullptr)
#define wake_up_nr(x, nr) __wake_up(x, TASK_NORMAL, nr, nullptr)
#define wake_up_all(x) __wake_up(x, TASK_NORMAL, 0, nullptr)
#define wake_up_interruptible(x) __wake_up(x, TASK_INTERRUPTIBLE, 1, nullptr)
#define wake_up_interruptible_nr(x, nr) __wake_up(x, TASK_INTERRUPTIBLE, nr, nullptr)
#define wake_up_interruptible_all(x) __wake_up(x, TASK_INTERRUPTIBLE, 0, nullptr)

#define ___wait_is_interruptible(state) \
    (!__builtin_constant_p(state) || state == TASK_INTERRUPTIBLE || state == TASK_KILLABLE)

#define ___wait_event(wq_head, condition, state, exclusive, ret, cmd)         \
    ({                                                                        \
        __label__ __out;                                                      \
        struct wait_queue_entry __wq_entry;                                   \
        long __ret = ret;                                                     \
                                                                              \
        init_wait_entry(&__wq_entry, exclusive ? WQ_FLAG_EXCLUSIVE : 0);      \
        for (;;) {                                                            \
            long __int = prepare_to_wait_event(&wq_head, &__wq_entry, state); \
                                                                              \
            if (condition)                                                    \
                break;                                                        \
                                                                              \
            if (___wait_is_interruptible(state) && __int) {                   \
                __ret = __int;                                                \
                goto __out;                                                   \
            }                                                                 \
                                                                              \
            cmd;                                                              \
        }                                                                     \
        finish_wait(&wq_head, &__wq_entry);                                   \
    __out:                                                                    \
        __ret;                                                                \
    })

#define __wait_event(wq_head, condition) \
    (void)___wait_event(wq_head, condition, TASK_UNINTERRUPTIBLE, 0, 0, schedule())

#define wait_event(wq_head, condition)    \
    do {                                  \
        if (condition)                    \
            break;                        \
        __wait_event(wq_head, condition); \
    } while (0)

#define ___wait_cond_timeout(condition) \
    ({                                  \
        bool __cond = (condition);      \
        if (__cond && !__ret)           \
            __ret = 1;                  \
        __cond || !__ret;               \
    })

#define __wait_event_timeout(wq_head, condition, timeout)                                     \
    ___wait_event(wq_head, ___wait_cond_timeout(condition), TASK_UNINTERRUPTIBLE, 0, timeout, \
                  __ret = schedule_timeout(__ret))

#define wait_event_timeout(wq_head, condition, timeout)                \
    ({                                                                 \
        long __ret = timeout;                                          \
        if (!___wait_cond_timeout(condition))                          \
            __ret = __wait_event_timeout(wq_head, condition, timeout); \
        __ret;                                                         \
    })

#define __wait_event_interruptible(wq_head, condition) \
    ___wait_event(wq_head, condition, TASK_INTERRUPTIBLE, 0, 0, schedule())

#define wait_event_interruptible(wq_head, condition)                \
    ({                                                              \
        int __ret = 0;                                              \
        if (!(condition))                                           \
            __ret = __wait_event_interruptible(wq_head, condition); \
        __ret;                                                      \
    })

#define __wait_event_interruptible_timeout(wq_head, condition, timeout)                     \
    ___wait_event(wq_head, ___wait_cond_timeout(condition), TASK_INTERRUPTIBLE, 0, timeout, \
                  __ret = schedule_timeout(__ret))

#define wait_event_interruptible_timeout(wq_head, condition, timeout)                \
    ({                                                                               \
        long __ret = timeout;                                                        \
        if (!___wait_cond_timeout(condition))                                        \
            __ret = __wait_event_interruptible_timeout(wq_head, condition, timeout); \
        __ret;                                                                       \
    })

#define __wait_event_killable(wq_head, condition) \
    ___wait_event(wq_head, condition, TASK_KILLABLE, 0, 0, schedule())

#define wait_event_killable(wq_head, condition)                \
    ({                                                         \
        int __ret = 0;                                         \
        if (!(condition))                                      \
            __ret = __wait_event_killable(wq_head, condition); \
        __ret;                                                 \
    })

#define __wait_event_idle(wq_head, condition) \
    (void)___wait_event(wq_head, condition, TASK_IDLE, 0, 0, schedule())

#define wait_event_idle(wq_head, condition)    \
    do {                                       \
        if (condition)                         \
            break;                             \
        __wait_event_idle(wq_head, condition); \
    } while (0)
