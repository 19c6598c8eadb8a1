// Tracepoint probe registration (kernel/tracepoint.c). A real model: the probe array of a
// tracepoint is copied on every change and published with release ordering; callers walk it
// inside an RCU read-side section, and an old array is freed only after a grace period.
#include "simkernel/kernel/fault.h"
#include "simkernel/kernel/module_owner.h"

#include <platform/errno.h>
#include <platform/printk.h>
#include <platform/tracepoint.h>

#include <mutex>
#include <vector>

namespace {

std::mutex tracepoints_mutex;
// Arrays replaced while the unregistering thread was itself inside a probe call, to be freed
// after a later grace period.
std::vector<struct tracepoint_func *> deferred;

struct tracepoint_func *copy_funcs(const std::vector<struct tracepoint_func> &v) {
    if (v.empty())
        return nullptr;
    auto *a = new struct tracepoint_func[v.size() + 1];
    for (size_t i = 0; i < v.size(); i++)
        a[i] = v[i];
    a[v.size()] = {nullptr, nullptr, 0};
    return a;
}

std::vector<struct tracepoint_func> funcs_of(const struct tracepoint *tp) {
    std::vector<struct tracepoint_func> v;
    for (struct tracepoint_func *f = tp->funcs; f && f->func; f++)
        v.push_back(*f);
    return v;
}

// Identifies one registration for the loader's leftover report.
struct Registration {
    struct tracepoint *tp;
    void *probe, *data;
};
std::vector<Registration *> registrations;

void publish(struct tracepoint *tp, struct tracepoint_func *n) {
    struct tracepoint_func *old = tp->funcs;
    __atomic_store_n(&tp->funcs, n, __ATOMIC_RELEASE);
    if (!old)
        return;
    if (rcu_read_lock_held()) {
        deferred.push_back(old);
        return;
    }
    synchronize_rcu();
    delete[] old;
    for (struct tracepoint_func *d : deferred)
        delete[] d;
    deferred.clear();
}

}  // namespace

extern "C" {

int tracepoint_probe_register(struct tracepoint *tp, void *probe, void *data) {
    struct module *owner = SIM_CALLER_MODULE();
    std::lock_guard g(tracepoints_mutex);
    if (!probe) {
        printk(KERN_WARNING "WARNING: tracepoint %s: null probe\n", tp->name);
        return -EINVAL;
    }
    std::vector<struct tracepoint_func> v = funcs_of(tp);
    for (const struct tracepoint_func &f : v)
        if (f.func == probe && f.data == data)
            return -EEXIST;
    // func_add() allocates the new probe array.
    if (sim::fault_should_fail(sim::fault_op::tracepoint_probe_register, owner))
        return -ENOMEM;
    v.push_back({probe, data, 10});
    publish(tp, copy_funcs(v));
    auto *reg = new Registration{tp, probe, data};
    registrations.push_back(reg);
    sim::resource_add(owner, reg, "tracepoint probe", tp->name,
                      [tp, probe, data] { tracepoint_probe_unregister(tp, probe, data); });
    return 0;
}

int tracepoint_probe_unregister(struct tracepoint *tp, void *probe, void *data) {
    std::lock_guard g(tracepoints_mutex);
    if (!tp->funcs) {
        printk(KERN_WARNING "WARNING: tracepoint %s: no probe to unregister\n", tp->name);
        return -ENOENT;
    }
    // As func_remove() does: a null probe takes every probe off; a probe that is not
    // registered leaves the others in place.
    std::vector<struct tracepoint_func> v = funcs_of(tp), keep;
    if (probe)
        for (const struct tracepoint_func &f : v)
            if (!(f.func == probe && f.data == data))
                keep.push_back(f);
    for (auto it = registrations.begin(); it != registrations.end();) {
        Registration *r = *it;
        if (r->tp == tp && (!probe || (r->probe == probe && r->data == data))) {
            sim::resource_remove(r);
            delete r;
            it = registrations.erase(it);
        } else {
            ++it;
        }
    }
    publish(tp, copy_funcs(keep));
    return 0;
}

void __tracepoint_irq_warn(struct tracepoint *tp, void *probe) {
    printk(KERN_WARNING "WARNING: probe %p of %s returned with interrupts enabled\n", probe,
           tp->name);
}

void __tracepoint_rcu_warn(struct tracepoint *tp, void *probe) {
    printk(KERN_WARNING "WARNING: probe %p of %s returned inside an RCU read-side section\n", probe,
           tp->name);
}

}  // extern "C"
