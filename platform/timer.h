// Timers (include/linux/timer.h). Expiry is in jiffies; a timer fires when the virtual clock
// reaches its tick, in expiry order, on the thread that advances time (the timer softirq).
#pragma once

#include <platform/jiffies.h>
#include <platform/lockdep_types.h>

struct timer_list {
    // pprev is non-null while the timer is pending.
    struct hlist_node entry;
    unsigned long expires;
    void (*function)(struct timer_list *);
    u32 flags;
};

#define TIMER_CPUMASK 0x0003FFFF
#define TIMER_MIGRATING 0x00040000
#define TIMER_DEFERRABLE 0x00080000
#define TIMER_PINNED 0x00100000
#define TIMER_IRQSAFE 0x00200000

#define __TIMER_INITIALIZER(_function, _flags) \
    { {nullptr, nullptr}, 0, (_function), (_flags) }
#define DEFINE_TIMER(_name, _function) struct timer_list _name = __TIMER_INITIALIZER(_function, 0)

extern "C" {
void init_timer_key(struct timer_list *timer, void (*func)(struct timer_list *), unsigned int flags,
                    const char *name, struct lock_class_key *key);
int mod_timer(struct timer_list *timer, unsigned long expires);
int timer_reduce(struct timer_list *timer, unsigned long expires);
void add_timer(struct timer_list *timer);
int del_timer(struct timer_list *timer);
int del_timer_sync(struct timer_list *timer);
}

#define timer_setup(timer, callback, flags)                           \
    do {                                                              \
        static struct lock_class_key __key;                           \
        init_timer_key((timer), (callback), (flags), #timer, &__key); \
    } while (0)
#define timer_setup_on_stack(timer, callback, flags) timer_setup(timer, callback, flags)
#define destroy_timer_on_stack(timer) ((void)(timer))

#define from_timer(var, callback_timer, timer_fieldname) \
    container_of(callback_timer, __typeof__(*var), timer_fieldname)

static inline int timer_pending(const struct timer_list *timer) {
    return __atomic_load_n(&timer->entry.pprev, __ATOMIC_RELAXED) != nullptr;
}

#define try_to_del_timer_sync(timer) del_timer(timer)
#define del_singleshot_timer_sync(timer) del_timer_sync(timer)
