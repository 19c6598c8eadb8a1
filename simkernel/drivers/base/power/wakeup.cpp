// Real model of wakeup sources (drivers/base/power/wakeup.c, wakeup_stats.c): activation,
// relax and timeout on the virtual clock, and the statistics in /sys/class/wakeup/wakeupN/
// (plain kobjects there, not devices with a link from /sys/devices/virtual/wakeup).
#include "simkernel/drivers/base/power/wakeup_host.h"

#include "simkernel/fs/sysfs_dirs.h"
#include "simkernel/kernel/fault.h"
#include "simkernel/kernel/module_owner.h"

#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <platform/jiffies.h>
#include <platform/kobject.h>
#include <platform/pm_wakeup.h>
#include <platform/printk.h>

struct sim_wakeup_host {
    struct wakeup_source ws {};
    struct kobject kobj {};
    std::string name;
};

namespace {

std::mutex sources_lock;  // guards sources, ids and class_kobj
std::vector<struct wakeup_source *> sources;
std::set<int> ids;
struct kobject *class_kobj;

struct wakeup_source *kobj_to_ws(struct kobject *kobj) {
    return &container_of(kobj, struct sim_wakeup_host, kobj)->ws;
}

s64 ktime_to_ms(ktime_t t) {
    return t / NSEC_PER_MSEC;
}

// The part of the current event so far, or 0 when the source is not active.
ktime_t active_part(struct wakeup_source *ws) {
    return ws->active ? ktime_get() - ws->last_time : 0;
}

void wakeup_source_activate(struct wakeup_source *ws) {
    ws->active = true;
    ws->active_count++;
    ws->last_time = ktime_get();
}

void wakeup_source_report_event(struct wakeup_source *ws) {
    ws->event_count++;
    if (!ws->active)
        wakeup_source_activate(ws);
}

void wakeup_source_deactivate(struct wakeup_source *ws) {
    ws->relax_count++;
    // A relax without a matching activation is a caller's bug; the kernel ignores it too.
    if (ws->relax_count != ws->active_count) {
        ws->relax_count--;
        return;
    }
    ws->active = false;
    ktime_t now = ktime_get();
    ktime_t duration = now - ws->last_time;
    ws->total_time += duration;
    if (duration > ws->max_time)
        ws->max_time = duration;
    ws->last_time = now;
    del_timer(&ws->timer);
    ws->timer_expires = 0;
}

void pm_wakeup_timer_fn(struct timer_list *t) {
    struct wakeup_source *ws = from_timer(ws, t, timer);
    unsigned long flags;

    spin_lock_irqsave(&ws->lock, flags);
    if (ws->active && ws->timer_expires && time_after_eq(jiffies, ws->timer_expires)) {
        wakeup_source_deactivate(ws);
        ws->expire_count++;
    }
    spin_unlock_irqrestore(&ws->lock, flags);
}

// One statistic, read under the source's lock.
template <typename F>
ssize_t show_stat(struct kobject *kobj, char *buf, const char *fmt, F value) {
    struct wakeup_source *ws = kobj_to_ws(kobj);
    unsigned long flags;

    spin_lock_irqsave(&ws->lock, flags);
    auto v = value(ws);
    spin_unlock_irqrestore(&ws->lock, flags);
    return snprintf(buf, PAGE_SIZE, fmt, v);
}

ssize_t name_show(struct kobject *kobj, struct kobj_attribute *, char *buf) {
    return snprintf(buf, PAGE_SIZE, "%s\n", kobj_to_ws(kobj)->name);
}
ssize_t active_count_show(struct kobject *kobj, struct kobj_attribute *, char *buf) {
    return show_stat(kobj, buf, "%lu\n", [](auto *ws) { return ws->active_count; });
}
ssize_t event_count_show(struct kobject *kobj, struct kobj_attribute *, char *buf) {
    return show_stat(kobj, buf, "%lu\n", [](auto *ws) { return ws->event_count; });
}
ssize_t wakeup_count_show(struct kobject *kobj, struct kobj_attribute *, char *buf) {
    return show_stat(kobj, buf, "%lu\n", [](auto *ws) { return ws->wakeup_count; });
}
ssize_t expire_count_show(struct kobject *kobj, struct kobj_attribute *, char *buf) {
    return show_stat(kobj, buf, "%lu\n", [](auto *ws) { return ws->expire_count; });
}
ssize_t active_time_ms_show(struct kobject *kobj, struct kobj_attribute *, char *buf) {
    return show_stat(kobj, buf, "%lld\n",
                     [](auto *ws) { return (long long)ktime_to_ms(active_part(ws)); });
}
ssize_t total_time_ms_show(struct kobject *kobj, struct kobj_attribute *, char *buf) {
    return show_stat(kobj, buf, "%lld\n", [](auto *ws) {
        return (long long)ktime_to_ms(ws->total_time + active_part(ws));
    });
}
ssize_t max_time_ms_show(struct kobject *kobj, struct kobj_attribute *, char *buf) {
    return show_stat(kobj, buf, "%lld\n", [](auto *ws) {
        ktime_t a = active_part(ws);
        return (long long)ktime_to_ms(a > ws->max_time ? a : ws->max_time);
    });
}
ssize_t last_change_ms_show(struct kobject *kobj, struct kobj_attribute *, char *buf) {
    return show_stat(kobj, buf, "%lld\n",
                     [](auto *ws) { return (long long)ktime_to_ms(ws->last_time); });
}
ssize_t prevent_suspend_time_ms_show(struct kobject *kobj, struct kobj_attribute *, char *buf) {
    return show_stat(kobj, buf, "%lld\n",
                     [](auto *ws) { return (long long)ktime_to_ms(ws->prevent_sleep_time); });
}

#define WAKEUP_ATTR_RO(_name) \
    struct kobj_attribute _name##_attr = {{.name = #_name, .mode = 0444}, _name##_show, nullptr}

WAKEUP_ATTR_RO(name);
WAKEUP_ATTR_RO(active_count);
WAKEUP_ATTR_RO(event_count);
WAKEUP_ATTR_RO(wakeup_count);
WAKEUP_ATTR_RO(expire_count);
WAKEUP_ATTR_RO(active_time_ms);
WAKEUP_ATTR_RO(total_time_ms);
WAKEUP_ATTR_RO(max_time_ms);
WAKEUP_ATTR_RO(last_change_ms);
WAKEUP_ATTR_RO(prevent_suspend_time_ms);

struct attribute *wakeup_source_attrs[] = {
    &name_attr.attr,
    &active_count_attr.attr,
    &event_count_attr.attr,
    &wakeup_count_attr.attr,
    &expire_count_attr.attr,
    &active_time_ms_attr.attr,
    &total_time_ms_attr.attr,
    &max_time_ms_attr.attr,
    &last_change_ms_attr.attr,
    &prevent_suspend_time_ms_attr.attr,
    nullptr,
};
const struct attribute_group wakeup_source_group = {nullptr, nullptr, nullptr, wakeup_source_attrs,
                                                    nullptr};
const struct attribute_group *wakeup_source_groups[] = {&wakeup_source_group, nullptr};

void wakeup_source_kobj_release(struct kobject *kobj) {
    delete container_of(kobj, struct sim_wakeup_host, kobj);
}

const struct kobj_type wakeup_source_ktype = {
    .release = wakeup_source_kobj_release,
    .sysfs_ops = &kobj_sysfs_ops,
    .default_attrs = nullptr,
    .default_groups = wakeup_source_groups,
};

}  // namespace

extern "C" {

struct wakeup_source *wakeup_source_register(struct device *dev, const char *name) {
    if (sim::fault_should_fail(sim::fault_op::wakeup_source_register, SIM_CALLER_MODULE()))
        return nullptr;
    auto *host = new sim_wakeup_host;
    host->name = name ? name : "";
    struct wakeup_source *ws = &host->ws;
    ws->name = host->name.c_str();
    ws->dev = dev;
    ws->sim_host = host;
    spin_lock_init(&ws->lock);
    timer_setup(&ws->timer, pm_wakeup_timer_fn, 0);
    INIT_LIST_HEAD(&ws->entry);

    std::lock_guard<std::mutex> g(sources_lock);
    if (!class_kobj)
        class_kobj = kobject_create_and_add("wakeup", sim::sysfs_class_kobj());
    int id = 0;
    while (ids.count(id))
        id++;
    ws->id = id;
    if (!class_kobj ||
        kobject_init_and_add(&host->kobj, &wakeup_source_ktype, class_kobj, "wakeup%d", id)) {
        // An unadded kobject still owns its name; its release frees the host.
        if (host->kobj.state_initialized)
            kobject_put(&host->kobj);
        else
            delete host;
        return nullptr;
    }
    ids.insert(id);
    sources.push_back(ws);
    return ws;
}

void wakeup_source_unregister(struct wakeup_source *ws) {
    if (!ws)
        return;
    {
        std::lock_guard<std::mutex> g(sources_lock);
        std::erase(sources, ws);
        ids.erase(ws->id);
    }
    del_timer_sync(&ws->timer);
    __pm_relax(ws);
    // Waits for readers of the statistics; the last put frees the source.
    kobject_del(&ws->sim_host->kobj);
    kobject_put(&ws->sim_host->kobj);
}

void __pm_stay_awake(struct wakeup_source *ws) {
    unsigned long flags;

    if (!ws)
        return;
    spin_lock_irqsave(&ws->lock, flags);
    wakeup_source_report_event(ws);
    del_timer(&ws->timer);
    ws->timer_expires = 0;
    spin_unlock_irqrestore(&ws->lock, flags);
}

void __pm_relax(struct wakeup_source *ws) {
    unsigned long flags;

    if (!ws)
        return;
    spin_lock_irqsave(&ws->lock, flags);
    if (ws->active)
        wakeup_source_deactivate(ws);
    spin_unlock_irqrestore(&ws->lock, flags);
}

void pm_wakeup_ws_event(struct wakeup_source *ws, unsigned int msec, bool hard) {
    unsigned long flags;

    if (!ws)
        return;
    spin_lock_irqsave(&ws->lock, flags);
    wakeup_source_report_event(ws);
    // A hard wakeup would also abort a suspend in progress; the phone never suspends.
    (void)hard;
    if (!msec) {
        wakeup_source_deactivate(ws);
    } else {
        unsigned long expires = jiffies + msecs_to_jiffies(msec);
        if (!expires)
            expires = 1;
        if (!ws->timer_expires || time_after(expires, ws->timer_expires)) {
            mod_timer(&ws->timer, expires);
            ws->timer_expires = expires;
        }
    }
    spin_unlock_irqrestore(&ws->lock, flags);
}

}  // extern "C"

namespace sim {

struct wakeup_source *wakeup_source_find(std::string_view name) {
    std::lock_guard<std::mutex> g(sources_lock);
    for (auto it = sources.rbegin(); it != sources.rend(); ++it)
        if (name == (*it)->name)
            return *it;
    return nullptr;
}

}  // namespace sim
