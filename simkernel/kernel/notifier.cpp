// Real model of notifier chains (kernel/notifier.c, as in 5.10): priority-ordered insertion
// (a double registration warns and changes nothing), calls that stop on NOTIFY_STOP_MASK, and
// RCU-protected atomic chains whose unregistration waits for running calls.
#include <string>

#include "simkernel/kernel/fault.h"
#include "simkernel/kernel/module_owner.h"
#include "simkernel/kernel/symbol_name.h"

#include <platform/notifier.h>
#include <platform/printk.h>
#include <platform/rcupdate.h>

namespace {

// The module whose callback the block carries; wrappers (power_supply_reg_notifier and the
// like) register blocks on behalf of their callers, so the callback is what tells the owner.
struct module *owner_of(const struct notifier_block *n) {
    return sim::module_of_address(reinterpret_cast<const void *>(n->notifier_call));
}

// 5.10's own chain code cannot fail; a failure injected here stands for the registering
// service running out of memory, which is how the modules' error paths get exercised.
bool inject_failure(const struct notifier_block *n) {
    return sim::fault_should_fail(sim::fault_op::notifier_register, owner_of(n));
}

// False (and a warning, returning success as 5.10 does) if n is on the chain already.
bool chain_register(struct notifier_block **nl, struct notifier_block *n) {
    while (*nl) {
        if (*nl == n) {
            printk(KERN_WARNING "WARNING: double register detected\n");
            return false;
        }
        if (n->priority > (*nl)->priority)
            break;
        nl = &(*nl)->next;
    }
    n->next = *nl;
    rcu_assign_pointer(*nl, n);
    return true;
}

int chain_unregister(struct notifier_block **nl, struct notifier_block *n) {
    while (*nl) {
        if (*nl == n) {
            rcu_assign_pointer(*nl, n->next);
            return 0;
        }
        nl = &(*nl)->next;
    }
    return -ENOENT;
}

int call_chain(struct notifier_block **nl, unsigned long val, void *v) {
    int ret = NOTIFY_DONE;
    struct notifier_block *nb = rcu_dereference(*nl);
    while (nb) {
        struct notifier_block *next_nb = rcu_dereference(nb->next);
        ret = nb->notifier_call(nb, val, v);
        if (ret & NOTIFY_STOP_MASK)
            break;
        nb = next_nb;
    }
    return ret;
}

template <class Unregister>
void note_registered(struct notifier_block *n, Unregister unreg) {
    sim::resource_add(owner_of(n), n, "notifier",
                      sim::symbol_name(reinterpret_cast<const void *>(n->notifier_call)), unreg);
}

}  // namespace

extern "C" {

int atomic_notifier_chain_register(struct atomic_notifier_head *nh, struct notifier_block *n) {
    if (inject_failure(n))
        return -ENOMEM;
    unsigned long flags;
    spin_lock_irqsave(&nh->lock, flags);
    bool added = chain_register(&nh->head, n);
    spin_unlock_irqrestore(&nh->lock, flags);
    if (added)
        note_registered(n, [nh, n] { atomic_notifier_chain_unregister(nh, n); });
    return 0;
}

int atomic_notifier_chain_unregister(struct atomic_notifier_head *nh, struct notifier_block *n) {
    unsigned long flags;
    spin_lock_irqsave(&nh->lock, flags);
    int ret = chain_unregister(&nh->head, n);
    spin_unlock_irqrestore(&nh->lock, flags);
    sim::resource_remove(n);
    synchronize_rcu();
    return ret;
}

int atomic_notifier_call_chain(struct atomic_notifier_head *nh, unsigned long val, void *v) {
    rcu_read_lock();
    int ret = call_chain(&nh->head, val, v);
    rcu_read_unlock();
    return ret;
}

int blocking_notifier_chain_register(struct blocking_notifier_head *nh, struct notifier_block *n) {
    if (inject_failure(n))
        return -ENOMEM;
    down_write(&nh->rwsem);
    bool added = chain_register(&nh->head, n);
    up_write(&nh->rwsem);
    if (added)
        note_registered(n, [nh, n] { blocking_notifier_chain_unregister(nh, n); });
    return 0;
}

int blocking_notifier_chain_unregister(struct blocking_notifier_head *nh,
                                       struct notifier_block *n) {
    down_write(&nh->rwsem);
    int ret = chain_unregister(&nh->head, n);
    up_write(&nh->rwsem);
    sim::resource_remove(n);
    return ret;
}

int blocking_notifier_call_chain(struct blocking_notifier_head *nh, unsigned long val, void *v) {
    int ret = NOTIFY_DONE;
    // As the kernel does: skip the semaphore when the chain is empty.
    if (rcu_access_pointer(nh->head)) {
        down_read(&nh->rwsem);
        ret = call_chain(&nh->head, val, v);
        up_read(&nh->rwsem);
    }
    return ret;
}

int raw_notifier_chain_register(struct raw_notifier_head *nh, struct notifier_block *n) {
    if (inject_failure(n))
        return -ENOMEM;
    if (chain_register(&nh->head, n))
        note_registered(n, [nh, n] { raw_notifier_chain_unregister(nh, n); });
    return 0;
}

int raw_notifier_chain_unregister(struct raw_notifier_head *nh, struct notifier_block *n) {
    int ret = chain_unregister(&nh->head, n);
    sim::resource_remove(n);
    return ret;
}

int raw_notifier_call_chain(struct raw_notifier_head *nh, unsigned long val, void *v) {
    return call_chain(&nh->head, val, v);
}

}  // extern "C"
