// The zomd sysfs nodes: zomdtrigger, a queue of named events that a read takes out oldest
// first, and zomdnotifier, one number shared between the memory services.
#include "vmassist/vmassist.h"

#include <platform/kstrtox.h>
#include <platform/mutex.h>
#include <platform/printk.h>
#include <platform/slab.h>
#include <platform/string.h>

#define TRIGGER_NAME_LEN 64
#define TRIGGER_EVENTS_MAX 11

struct trigger_event {
    struct list_head list;
    char name[TRIGGER_NAME_LEN];  // terminated only when shorter than the field
};

struct list_head trigger_head;
int trigger_event_count;
static DEFINE_MUTEX(trigger_event_lock);
static long long notifier_data;

ssize_t zomdtrigger_store(struct kobject *, struct kobj_attribute *, const char *buf,
                          size_t count) {
    char name[TRIGGER_NAME_LEN] = {};
    struct trigger_event *e;

    strncpy(name, buf, sizeof(name));
    mutex_lock(&trigger_event_lock);
    if (trigger_event_count >= TRIGGER_EVENTS_MAX) {
        mutex_unlock(&trigger_event_lock);
        pr_err("%s: trigger_event so manay that discard\n", "zomdtrigger");
        return count;
    }
    e = static_cast<struct trigger_event *>(kmalloc(sizeof(*e), GFP_KERNEL));
    if (!e) {
        mutex_unlock(&trigger_event_lock);
        pr_err("%s: kmalloc struct trigger_event failed\n", "zomdtrigger");
        return count;
    }
    memcpy(e->name, name, sizeof(e->name));
    list_add_tail(&e->list, &trigger_head);
    trigger_event_count++;
    mutex_unlock(&trigger_event_lock);
    return count;
}

ssize_t zomdtrigger_show(struct kobject *, struct kobj_attribute *, char *buf) {
    struct trigger_event *e;
    ssize_t ret = 0;

    mutex_lock(&trigger_event_lock);
    if (!list_empty(&trigger_head)) {
        e = list_first_entry(&trigger_head, struct trigger_event, list);
        // The precision keeps a name that fills its field from being read past its end.
        ret = snprintf(buf, TRIGGER_NAME_LEN, "%.64s\n", e->name);
        list_del(&e->list);
        kfree(e);
        trigger_event_count--;
    }
    mutex_unlock(&trigger_event_lock);
    return ret;
}

ssize_t zomdnotifier_store(struct kobject *, struct kobj_attribute *, const char *buf,
                           size_t count) {
    long long value;
    int ret = kstrtoll(buf, 10, &value);

    if (ret)
        return ret;
    WRITE_ONCE(notifier_data, value);
    return count;
}

ssize_t zomdnotifier_show(struct kobject *, struct kobj_attribute *, char *buf) {
    return snprintf(buf, PAGE_SIZE, "%lld\n", READ_ONCE(notifier_data));
}

void trigger_events_free(void) {
    struct trigger_event *e, *tmp;

    mutex_lock(&trigger_event_lock);
    list_for_each_entry_safe(e, tmp, &trigger_head, list) {
        list_del(&e->list);
        kfree(e);
        trigger_event_count--;
    }
    mutex_unlock(&trigger_event_lock);
}
