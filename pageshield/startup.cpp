// Start-up and stop of pageshield, its tunables in sysfs and its statistics report in procfs.
#include "pageshield/pageshield.h"

#include <platform/errno.h>
#include <platform/kobject.h>
#include <platform/kstrtox.h>
#include <platform/module.h>
#include <platform/printk.h>
#include <platform/proc_fs.h>
#include <platform/seq_file.h>
#include <platform/string.h>
#include <platform/swap.h>
#include <platform/sysfs.h>
#include <platform/trace/hooks/mm.h>
#include <platform/trace/hooks/vmscan.h>

u32 zo_thres_control = 10;
u32 zo_mapcount_protect_thres = 20;
bool zo_mapped_protect_setup;
u64 zo_memavail_noprotect_thres;
u64 zo_mapped_protect_thres[2];
atomic64_t nr_mapped_multiple[2];
u64 max_nr_mapped_multiple[2];
atomic64_t nr_mapped_multiple_debug[2];
spinlock_t traversal_lock;

static struct kobject *kobj;

// The thresholds follow total RAM as it is now; the three stores are separate, so a probe may
// see the new no-protect threshold with the old budgets for a moment.
static void zo_update_thresholds(void) {
    u32 divisor = READ_ONCE(zo_thres_control);
    u64 noprotect = divisor ? totalram_pages() / divisor : 0;
    WRITE_ONCE(zo_memavail_noprotect_thres, noprotect);
    WRITE_ONCE(zo_mapped_protect_thres[ZO_ANON], noprotect >> 1);
    WRITE_ONCE(zo_mapped_protect_thres[ZO_FILE], noprotect >> 1);
}

// A fresh count of widely mapped pages on the evictable lists, into nr_mapped_multiple_debug.
static void zo_fresh_count(void) {
    atomic64_set(&nr_mapped_multiple_debug[ZO_ANON], 0);
    atomic64_set(&nr_mapped_multiple_debug[ZO_FILE], 0);
    do_traversal_all_lruvec();
}

static ssize_t show_zo_mapped_protect_enable(struct kobject *, struct kobj_attribute *, char *buf) {
    return sysfs_emit(buf, "%s\n", READ_ONCE(zo_mapped_protect_setup) ? "yes" : "no");
}

static ssize_t store_zo_mapped_protect_enable(struct kobject *, struct kobj_attribute *,
                                              const char *buf, size_t count) {
    bool enable;
    int ret = kstrtobool(buf, &enable);
    if (ret)
        return ret;
    WRITE_ONCE(zo_mapped_protect_setup, enable);
    return count;
}

static ssize_t show_zo_mapcount_protect_thres(struct kobject *, struct kobj_attribute *,
                                              char *buf) {
    return sprintf(buf, "%u\n", READ_ONCE(zo_mapcount_protect_thres));
}

static ssize_t store_zo_mapcount_protect_thres(struct kobject *, struct kobj_attribute *,
                                               const char *buf, size_t count) {
    unsigned int thres;
    if (kstrtouint(buf, 0, &thres))
        return -EINVAL;
    WRITE_ONCE(zo_mapcount_protect_thres, thres);
    return count;
}

static ssize_t show_zo_thres_control(struct kobject *, struct kobj_attribute *, char *buf) {
    return sprintf(buf, "%u\n", READ_ONCE(zo_thres_control));
}

static ssize_t store_zo_thres_control(struct kobject *, struct kobj_attribute *, const char *buf,
                                      size_t count) {
    unsigned int divisor;
    if (kstrtouint(buf, 0, &divisor))
        return -EINVAL;
    WRITE_ONCE(zo_thres_control, divisor);
    zo_update_thresholds();
    return count;
}

static struct kobj_attribute zo_mapped_protect_check_enable_attr =
    __ATTR(enabled, 0644, show_zo_mapped_protect_enable, store_zo_mapped_protect_enable);
static struct kobj_attribute zo_mapcount_protect_thres_attr = __ATTR(
    mapcount_protect_thres, 0644, show_zo_mapcount_protect_thres, store_zo_mapcount_protect_thres);
static struct kobj_attribute zo_thres_control_attr =
    __ATTR(noprotect_thres_control, 0644, show_zo_thres_control, store_zo_thres_control);

static struct attribute *zo_mapped_protect_check_attr[] = {
    &zo_mapped_protect_check_enable_attr.attr,
    &zo_mapcount_protect_thres_attr.attr,
    &zo_thres_control_attr.attr,
    nullptr,
};

static const struct attribute_group zo_mapped_protect_check_attr_group = {
    .name = "zo_mapped_protect",
    .attrs = zo_mapped_protect_check_attr,
};

static int mapped_protect_show(struct seq_file *m, void *) {
    zo_fresh_count();
    seq_printf(m,
               "zo_mapped_protect_setup:     %s\n"
               "zo_cur_anon_mapped_pages:     %ld\n"
               "zo_cur_file_mapped_pages:     %ld\n"
               "zo_sum_anon_mapped_pages:     %ld\n"
               "zo_sum_file_mapped_pages:     %ld\n"
               "zo_max_sum_anon_mapped_pages:     %ld\n"
               "zo_max_sum_file_mapped_pages:     %ld\n"
               "zo_anon_mapped_pages_thres:     %lu\n"
               "zo_file_mapped_pages_thres:     %lu\n"
               "zo_memavail_noprotect_thres:     %lu\n"
               "zo_mapcount_protect_thres:     %u\n",
               READ_ONCE(zo_mapped_protect_setup) ? "enable" : "disable",
               (long)atomic64_read(&nr_mapped_multiple_debug[ZO_ANON]),
               (long)atomic64_read(&nr_mapped_multiple_debug[ZO_FILE]),
               (long)atomic64_read(&nr_mapped_multiple[ZO_ANON]),
               (long)atomic64_read(&nr_mapped_multiple[ZO_FILE]),
               (long)READ_ONCE(max_nr_mapped_multiple[ZO_ANON]),
               (long)READ_ONCE(max_nr_mapped_multiple[ZO_FILE]),
               (unsigned long)READ_ONCE(zo_mapped_protect_thres[ZO_ANON]),
               (unsigned long)READ_ONCE(zo_mapped_protect_thres[ZO_FILE]),
               (unsigned long)READ_ONCE(zo_memavail_noprotect_thres),
               READ_ONCE(zo_mapcount_protect_thres));
    seq_putc(m, '\n');
    return 0;
}

// The lists change while the walks run, so a walk's result is taken only once a later walk
// agrees with it, or after four walks.
static void zo_seed_counts(void) {
    do_traversal_all_lruvec();
    for (int kind = 0; kind < 2; kind++)
        atomic64_set(&nr_mapped_multiple[kind], atomic64_read(&nr_mapped_multiple_debug[kind]));
    for (int retry = 0; retry < 3; retry++) {
        zo_fresh_count();
        if (atomic64_read(&nr_mapped_multiple[ZO_ANON]) ==
                atomic64_read(&nr_mapped_multiple_debug[ZO_ANON]) &&
            atomic64_read(&nr_mapped_multiple[ZO_FILE]) ==
                atomic64_read(&nr_mapped_multiple_debug[ZO_FILE]))
            break;
        for (int kind = 0; kind < 2; kind++)
            atomic64_set(&nr_mapped_multiple[kind], atomic64_read(&nr_mapped_multiple_debug[kind]));
    }
}

// Stop removes only what start-up made: removing a missing group or entry, or a probe from a
// hook that has none, is a kernel warning.
static bool group_created;
static bool report_created;
static bool mapcount_probe, add_probe, del_probe, protect_probe, traversal_probe;

static int __init mapped_protect_init(void) {
    spin_lock_init(&traversal_lock);
    kobj = kobject_create_and_add("mapped_protect", &THIS_MODULE->mkobj.kobj);
    if (kobj) {
        group_created = !sysfs_create_group(kobj, &zo_mapped_protect_check_attr_group);
        if (!group_created)
            pr_err("mapped_protect: failed to create related sysfs\n");
    }

    // Attached with the switch still off: until the counts are seeded the accounting probes
    // only update mapping counters and no page is protected.
    // A probe that cannot be attached is done without.
    mapcount_probe = !register_trace_android_vh_update_page_mapcount(update_page_mapcount, nullptr);
    add_probe = !register_trace_android_vh_add_page_to_lrulist(add_page_to_lrulist, nullptr);
    del_probe = !register_trace_android_vh_del_page_from_lrulist(del_page_from_lrulist, nullptr);
    protect_probe =
        !register_trace_android_vh_page_should_be_protected(page_should_be_protect, nullptr);
    traversal_probe = !register_trace_android_vh_do_traversal_lruvec(do_traversal_lruvec, nullptr);

    zo_update_thresholds();
    zo_seed_counts();
    WRITE_ONCE(zo_mapped_protect_setup, true);

    report_created = proc_create_single_data("zo_mapped_protect_show", 0, nullptr,
                                             mapped_protect_show, nullptr) != nullptr;
    pr_emerg("initialize mapped_protect voom voom!!!!\n");
    return 0;
}

// Unregistering returns once no call of the probe is running, so no hook reaches the module's
// code after the last unregister.
static void __exit mapped_protect_exit(void) {
    if (kobj) {
        if (group_created)
            sysfs_remove_group(kobj, &zo_mapped_protect_check_attr_group);
        kobject_put(kobj);
    }
    if (mapcount_probe)
        unregister_trace_android_vh_update_page_mapcount(update_page_mapcount, nullptr);
    if (add_probe)
        unregister_trace_android_vh_add_page_to_lrulist(add_page_to_lrulist, nullptr);
    if (del_probe)
        unregister_trace_android_vh_del_page_from_lrulist(del_page_from_lrulist, nullptr);
    if (protect_probe)
        unregister_trace_android_vh_page_should_be_protected(page_should_be_protect, nullptr);
    if (traversal_probe)
        unregister_trace_android_vh_do_traversal_lruvec(do_traversal_lruvec, nullptr);
    if (report_created)
        remove_proc_entry("zo_mapped_protect_show", nullptr);
    pr_emerg("mapped_protect exit successful!!!!\n");
}

module_init(mapped_protect_init);
module_exit(mapped_protect_exit);
MODULE_LICENSE("GPL");
