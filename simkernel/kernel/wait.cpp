// Real model of wait queues (kernel/sched/wait.c): entries on a spin-locked list, wake-up
// callbacks, exclusive waiters counted against nr, autoremove on a successful wake-up.
#include <platform/sched.h>
#include <platform/wait.h>

extern "C" {

void __init_waitqueue_head(struct wait_queue_head *wq_head, const char *name,
                           struct lock_class_key *key) {
    __raw_spin_lock_init(&wq_head->lock.rlock, name, key);
    INIT_LIST_HEAD(&wq_head->head);
}

void init_wait_entry(struct wait_queue_entry *wq_entry, int flags) {
    wq_entry->flags = flags;
    wq_entry->private_ = current;
    wq_entry->func = autoremove_wake_function;
    INIT_LIST_HEAD(&wq_entry->entry);
}

long prepare_to_wait_event(struct wait_queue_head *wq_head, struct wait_queue_entry *wq_entry,
                           int state) {
    unsigned long flags;
    spin_lock_irqsave(&wq_head->lock, flags);
    if (list_empty(&wq_entry->entry)) {
        if (wq_entry->flags & WQ_FLAG_EXCLUSIVE)
            list_add_tail(&wq_entry->entry, &wq_head->head);
        else
            list_add(&wq_entry->entry, &wq_head->head);
    }
    set_current_state(state);
    spin_unlock_irqrestore(&wq_head->lock, flags);
    return 0;  // simulated tasks take no signals, so never -ERESTARTSYS
}

void prepare_to_wait(struct wait_queue_head *wq_head, struct wait_queue_entry *wq_entry,
                     int state) {
    unsigned long flags;
    wq_entry->flags &= ~WQ_FLAG_EXCLUSIVE;
    spin_lock_irqsave(&wq_head->lock, flags);
    if (list_empty(&wq_entry->entry))
        list_add(&wq_entry->entry, &wq_head->head);
    set_current_state(state);
    spin_unlock_irqrestore(&wq_head->lock, flags);
}

void prepare_to_wait_exclusive(struct wait_queue_head *wq_head, struct wait_queue_entry *wq_entry,
                               int state) {
    unsigned long flags;
    wq_entry->flags |= WQ_FLAG_EXCLUSIVE;
    spin_lock_irqsave(&wq_head->lock, flags);
    if (list_empty(&wq_entry->entry))
        list_add_tail(&wq_entry->entry, &wq_head->head);
    set_current_state(state);
    spin_unlock_irqrestore(&wq_head->lock, flags);
}

// The kernel peeks with list_empty_careful() first; taking the lock always keeps the check
// ordered with a concurrent autoremove, for ThreadSanitizer as for the code.
void finish_wait(struct wait_queue_head *wq_head, struct wait_queue_entry *wq_entry) {
    unsigned long flags;
    __set_current_state(TASK_RUNNING);
    spin_lock_irqsave(&wq_head->lock, flags);
    if (!list_empty(&wq_entry->entry))
        list_del_init(&wq_entry->entry);
    spin_unlock_irqrestore(&wq_head->lock, flags);
}

void add_wait_queue(struct wait_queue_head *wq_head, struct wait_queue_entry *wq_entry) {
    unsigned long flags;
    wq_entry->flags &= ~WQ_FLAG_EXCLUSIVE;
    spin_lock_irqsave(&wq_head->lock, flags);
    list_add(&wq_entry->entry, &wq_head->head);
    spin_unlock_irqrestore(&wq_head->lock, flags);
}

void remove_wait_queue(struct wait_queue_head *wq_head, struct wait_queue_entry *wq_entry) {
    unsigned long flags;
    spin_lock_irqsave(&wq_head->lock, flags);
    list_del(&wq_entry->entry);
    spin_unlock_irqrestore(&wq_head->lock, flags);
}

void __wake_up(struct wait_queue_head *wq_head, unsigned int mode, int nr, void *key) {
    unsigned long flags;
    struct wait_queue_entry *curr, *next;
    spin_lock_irqsave(&wq_head->lock, flags);
    list_for_each_entry_safe(curr, next, &wq_head->head, entry) {
        unsigned int wflags = curr->flags;
        int ret = curr->func(curr, mode, 0, key);
        if (ret < 0)
            break;
        if (ret && (wflags & WQ_FLAG_EXCLUSIVE) && !--nr)
            break;
    }
    spin_unlock_irqrestore(&wq_head->lock, flags);
}

int default_wake_function(struct wait_queue_entry *wq_entry, unsigned mode, int, void *) {
    return wake_up_state(static_cast<struct task_struct *>(wq_entry->private_), mode);
}

int autoremove_wake_function(struct wait_queue_entry *wq_entry, unsigned mode, int sync,
                             void *key) {
    int ret = default_wake_function(wq_entry, mode, sync, key);
    if (ret)
        list_del_init(&wq_entry->entry);
    return ret;
}

}  // extern "C"
