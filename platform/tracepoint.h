// Tracepoints (include/linux/tracepoint.h) and Android's vendor hooks on them
// (include/trace/hooks/vendor_hooks.h). A hook with no probe costs one load and a branch,
// taken before anything else; probes run in the task that reached the hook, on its thread, in
// registration order, inside an RCU read-side section taken inline.
#pragma once

#include <platform/compiler.h>
#include <platform/irqflags.h>
#include <platform/rcupdate.h>

struct tracepoint_func {
    void *func;
    void *data;
    int prio;
};

struct tracepoint {
    const char *name;
    // Null-terminated array of the registered probes, or null when there is none. Replaced
    // as a whole on every change; readers that loaded the old array may still walk it until
    // tracepoint_synchronize_unregister() returns.
    struct tracepoint_func *funcs;
};

extern "C" {
// -EINVAL for a null probe, -EEXIST if this probe and data are registered already.
int tracepoint_probe_register(struct tracepoint *tp, void *probe, void *data);
// -ENOENT if the tracepoint has no probe at all; a null probe removes every probe.
int tracepoint_probe_unregister(struct tracepoint *tp, void *probe, void *data);
// Kernel-side check: a probe returned with interrupts enabled that were disabled when it was
// called.
void __tracepoint_irq_warn(struct tracepoint *tp, void *probe);
// Kernel-side check: a probe returned inside an RCU read-side section it entered.
void __tracepoint_rcu_warn(struct tracepoint *tp, void *probe);
}

// Returns once every probe call that was running when it was called has returned.
static inline void tracepoint_synchronize_unregister(void) {
    synchronize_rcu();
}

#define PARAMS(...) __VA_ARGS__
#define TP_PROTO(...) __VA_ARGS__
#define TP_ARGS(...) __VA_ARGS__

#define __DECLARE_HOOK(name, proto, args)                                                       \
    extern "C" struct tracepoint __tracepoint_##name;                                           \
    static __always_inline void trace_##name(proto) {                                           \
        if (unlikely(__atomic_load_n(&__tracepoint_##name.funcs, __ATOMIC_RELAXED))) {          \
            __rcu_sched_token __rcu_tok = __rcu_sched_enter();                                  \
            struct tracepoint_func *__f =                                                       \
                __atomic_load_n(&__tracepoint_##name.funcs, __ATOMIC_ACQUIRE);                  \
            for (; __f && __f->func; __f++) {                                                   \
                bool __irqs_off = irqs_disabled();                                              \
                ((void (*)(void *, proto))__f->func)(__f->data, args);                          \
                if (__irqs_off && !irqs_disabled())                                             \
                    __tracepoint_irq_warn(&__tracepoint_##name, __f->func);                     \
                if (unlikely(__rcu_sched_leaked(__rcu_tok))) {                                  \
                    __tracepoint_rcu_warn(&__tracepoint_##name, __f->func);                     \
                    __rcu_sched_unleak(__rcu_tok);                                              \
                }                                                                               \
            }                                                                                   \
            __rcu_sched_exit(__rcu_tok);                                                        \
        }                                                                                       \
    }                                                                                           \
    static inline int register_trace_##name(void (*probe)(void *__data, proto), void *data) {   \
        return tracepoint_probe_register(&__tracepoint_##name, (void *)probe, data);            \
    }                                                                                           \
    static inline int unregister_trace_##name(void (*probe)(void *__data, proto), void *data) { \
        return tracepoint_probe_unregister(&__tracepoint_##name, (void *)probe, data);          \
    }

#define DECLARE_HOOK(name, proto, args) __DECLARE_HOOK(name, PARAMS(proto), PARAMS(args))
#define DECLARE_TRACE(name, proto, args) __DECLARE_HOOK(name, PARAMS(proto), PARAMS(args))
