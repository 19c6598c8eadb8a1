// Wakeup sources (include/linux/pm_wakeup.h, drivers/base/power/wakeup.c): objects that keep
// the system out of suspend while they are active. Each registered source shows its
// statistics under /sys/class/wakeup/wakeupN/.
#pragma once

#include <platform/list.h>
#include <platform/spinlock.h>
#include <platform/timekeeping.h>
#include <platform/timer.h>

struct device;

struct wakeup_source {
    const char *name;
    int id;
    struct list_head entry;
    spinlock_t lock;
    struct timer_list timer;
    unsigned long timer_expires;  // jiffies at which an event with a timeout ends; 0: none
    ktime_t total_time;
    ktime_t max_time;
    ktime_t last_time;
    ktime_t start_prevent_time;
    ktime_t prevent_sleep_time;
    unsigned long event_count;
    unsigned long active_count;
    unsigned long relax_count;
    unsigned long expire_count;
    unsigned long wakeup_count;
    struct device *dev;
    bool active;
    // Host side of the source (its sysfs directory); opaque to module code.
    struct sim_wakeup_host *sim_host;
};

extern "C" {
// Registers a source named name (for dev, or none); null on failure.
struct wakeup_source *wakeup_source_register(struct device *dev, const char *name);
// Deactivates and frees ws; a null ws is ignored.
void wakeup_source_unregister(struct wakeup_source *ws);
// Activates ws (an event without a timeout); null is ignored.
void __pm_stay_awake(struct wakeup_source *ws);
// Ends the current event of ws; null is ignored.
void __pm_relax(struct wakeup_source *ws);
// An event on ws that ends by itself after msec milliseconds (at once for 0) unless relaxed
// earlier; hard also aborts a suspend in progress. Null is ignored.
void pm_wakeup_ws_event(struct wakeup_source *ws, unsigned int msec, bool hard);
}
