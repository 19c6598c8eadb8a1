// Uevents (lib/kobject_uevent.c): the environment of a kobject's event, built from the
// standard variables, what its subsystem adds and the caller's strings, within the kernel's
// limits of 64 variables and 2048 bytes, and kept as a netlink listener would receive it.
#include "simkernel/drivers/base/uevent_host.h"

#include "simkernel/fs/fs_internal.h"
#include "simkernel/kernel/sim_time.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <deque>
#include <mutex>

#include <platform/errno.h>
#include <platform/kobject.h>
#include <platform/printk.h>
#include <platform/slab.h>

namespace sim {
namespace {

const char *const kobject_actions[] = {"add",    "remove",  "change", "move",
                                       "online", "offline", "bind",   "unbind"};

std::mutex uevent_lock;
uint64_t uevent_seqnum;
std::deque<Uevent> sent;
std::vector<UeventRecorder *> recorders;

}  // namespace

// Called with uevent_lock held.
void uevent_deliver(Uevent ev) {
    for (UeventRecorder *r : recorders)
        r->received_.push_back(ev);
    if (sent.size() == kUeventBacklog)
        sent.pop_front();
    sent.push_back(std::move(ev));
}

UeventRecorder::UeventRecorder() {
    std::lock_guard g(uevent_lock);
    recorders.push_back(this);
}

UeventRecorder::~UeventRecorder() {
    std::lock_guard g(uevent_lock);
    std::erase(recorders, this);
}

std::vector<Uevent> UeventRecorder::events() const {
    std::lock_guard g(uevent_lock);
    return received_;
}

std::vector<Uevent> uevents() {
    std::lock_guard g(uevent_lock);
    return {sent.begin(), sent.end()};
}

std::vector<Uevent> uevents_since(uint64_t seq) {
    std::vector<Uevent> out;
    std::lock_guard g(uevent_lock);
    for (const Uevent &ev : sent)
        if (ev.seqnum >= seq)
            out.push_back(ev);
    return out;
}

uint64_t uevent_next_seq() {
    std::lock_guard g(uevent_lock);
    return uevent_seqnum + 1;
}

void uevents_clear() {
    std::lock_guard g(uevent_lock);
    sent.clear();
}

std::string uevent_format(const Uevent &ev) {
    char head[512];
    snprintf(head, sizeof(head), "KERNEL[%" PRId64 ".%06" PRId64 "] %-8s %s (%s)\n",
             ev.time_ns / 1000000000, ev.time_ns % 1000000000 / 1000, ev.action.c_str(),
             ev.devpath.c_str(), ev.subsystem.c_str());
    std::string text = head;
    for (const std::string &var : ev.env)
        text += var + "\n";
    return text + "\n";
}

}  // namespace sim

extern "C" {

int add_uevent_var(struct kobj_uevent_env *env, const char *format, ...) {
    if (env->envp_idx >= UEVENT_NUM_ENVP) {
        sim::fs::warn("lib/kobject_uevent.c", "add_uevent_var",
                      KERN_ERR "add_uevent_var: too many keys\n");
        return -ENOMEM;
    }
    va_list args;
    va_start(args, format);
    int len = vsnprintf(&env->buf[env->buflen], sizeof(env->buf) - env->buflen, format, args);
    va_end(args);
    if (len >= (int)sizeof(env->buf) - env->buflen) {
        sim::fs::warn("lib/kobject_uevent.c", "add_uevent_var",
                      KERN_ERR "add_uevent_var: buffer size too small\n");
        return -ENOMEM;
    }
    env->envp[env->envp_idx++] = &env->buf[env->buflen];
    env->buflen += len + 1;
    return 0;
}

int kobject_uevent_env(struct kobject *kobj, enum kobject_action action, char *envp_ext[]) {
    struct kobject *top_kobj = kobj;
    while (!top_kobj->kset && top_kobj->parent)
        top_kobj = top_kobj->parent;
    if (!top_kobj->kset)
        return -EINVAL;
    struct kset *kset = top_kobj->kset;
    const struct kset_uevent_ops *uevent_ops = kset->uevent_ops;

    // A device that asked for quiet, or one its subsystem filters out, sends nothing.
    if (kobj->uevent_suppress)
        return 0;
    if (uevent_ops && uevent_ops->filter && !uevent_ops->filter(kset, kobj))
        return 0;
    const char *subsystem =
        uevent_ops && uevent_ops->name ? uevent_ops->name(kset, kobj) : kobject_name(&kset->kobj);
    if (!subsystem)
        return 0;

    auto *env =
        static_cast<struct kobj_uevent_env *>(kzalloc(sizeof(struct kobj_uevent_env), GFP_KERNEL));
    if (!env)
        return -ENOMEM;
    int retval = 0;
    char *devpath = kobject_get_path(kobj, GFP_KERNEL);
    if (!devpath) {
        retval = -ENOENT;
        goto exit;
    }
    if ((retval = add_uevent_var(env, "ACTION=%s", sim::kobject_actions[action])) ||
        (retval = add_uevent_var(env, "DEVPATH=%s", devpath)) ||
        (retval = add_uevent_var(env, "SUBSYSTEM=%s", subsystem)))
        goto exit;
    if (uevent_ops && uevent_ops->uevent) {
        retval = uevent_ops->uevent(kset, kobj, env);
        if (retval)
            goto exit;
    }
    for (int i = 0; envp_ext && envp_ext[i]; i++)
        if ((retval = add_uevent_var(env, "%s", envp_ext[i])))
            goto exit;
    if (action == KOBJ_ADD)
        kobj->state_add_uevent_sent = 1;
    else if (action == KOBJ_REMOVE)
        kobj->state_remove_uevent_sent = 1;
    {
        std::lock_guard g(sim::uevent_lock);
        if ((retval =
                 add_uevent_var(env, "SEQNUM=%llu", (unsigned long long)sim::uevent_seqnum + 1)))
            goto exit;
        sim::Uevent ev;
        ev.seqnum = ++sim::uevent_seqnum;
        ev.time_ns = (int64_t)sim::clock_monotonic_ns();
        ev.action = sim::kobject_actions[action];
        ev.devpath = devpath;
        ev.subsystem = subsystem;
        for (int i = 0; i < env->envp_idx; i++)
            ev.env.emplace_back(env->envp[i]);
        sim::uevent_deliver(std::move(ev));
    }
exit:
    kfree(devpath);
    kfree(env);
    return retval;
}

int kobject_uevent(struct kobject *kobj, enum kobject_action action) {
    return kobject_uevent_env(kobj, action, nullptr);
}

}  // extern "C"
