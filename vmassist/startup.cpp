// Start-up and stop of vmassist, and the operation tables of its nodes.
#include "vmassist/vmassist.h"

#include <platform/err.h>
#include <platform/kthread.h>
#include <platform/memcontrol.h>
#include <platform/module.h>
#include <platform/pm_wakeup.h>
#include <platform/printk.h>
#include <platform/proc_fs.h>
#include <platform/trace/hooks/vmscan.h>

static const unsigned int reclaim_cpus[] = {0, 1, 5, 6};

static int perflock_records_open(struct inode *, struct file *file) {
    return single_open(file, perflock_records_show, nullptr);
}

static int zomdlog_open(struct inode *, struct file *file) {
    return single_open(file, zomd_show, nullptr);
}

static int perflock_exception_open(struct inode *, struct file *file) {
    return single_open(file, perflock_exception_show, nullptr);
}

static int global_reclaim_open(struct inode *, struct file *file) {
    return single_open(file, global_reclaim_show, nullptr);
}

static int kswapd_pid_open(struct inode *, struct file *file) {
    return single_open(file, kswapd_pid_show, nullptr);
}

static int kdamond_cpuset_open(struct inode *, struct file *file) {
    return single_open(file, kdamond_cpuset_show, nullptr);
}

static int kcompactd_pid_open(struct inode *, struct file *file) {
    return single_open(file, kcompactd_pid_show, nullptr);
}

static const struct proc_ops perflock_records_ops = {
    .proc_open = perflock_records_open,
    .proc_read = seq_read,
    .proc_write = perflock_records_write,
    .proc_lseek = seq_lseek,
    .proc_release = single_release,
};

static const struct proc_ops zomdlog_ops = {
    .proc_open = zomdlog_open,
    .proc_read = seq_read,
    .proc_write = zomdlog_write,
    .proc_lseek = seq_lseek,
    .proc_release = single_release,
};

static const struct proc_ops perflock_exception_ops = {
    .proc_open = perflock_exception_open,
    .proc_read = seq_read,
    .proc_write = perflock_exception_write,
    .proc_lseek = seq_lseek,
    .proc_release = single_release,
};

static const struct proc_ops global_reclaim_ops = {
    .proc_open = global_reclaim_open,
    .proc_read = seq_read,
    .proc_write = global_reclaim_write,
    .proc_lseek = seq_lseek,
    .proc_release = single_release,
};

static const struct proc_ops kswapd_pid_ops = {
    .proc_open = kswapd_pid_open,
    .proc_read = seq_read,
    .proc_lseek = seq_lseek,
    .proc_release = single_release,
};

static const struct proc_ops kdamond_cpuset_ops = {
    .proc_open = kdamond_cpuset_open,
    .proc_read = seq_read,
    .proc_write = kdamond_cpuset_write,
    .proc_lseek = seq_lseek,
    .proc_release = single_release,
};

static const struct proc_ops kcompactd_pid_ops = {
    .proc_open = kcompactd_pid_open,
    .proc_read = seq_read,
    .proc_lseek = seq_lseek,
    .proc_release = single_release,
};

static struct kobj_attribute zomdtrigger_attr =
    __ATTR(zomdtrigger, 0664, zomdtrigger_show, zomdtrigger_store);
static struct kobj_attribute zomdnotifier_attr =
    __ATTR(zomdnotifier, 0664, zomdnotifier_show, zomdnotifier_store);

static struct attribute *zomd_attrs[] = {
    &zomdtrigger_attr.attr,
    &zomdnotifier_attr.attr,
    nullptr,
};

// No name of its own: the files lie in /sys/module/vmassist/zomd itself.
static const struct attribute_group zomd_attr_group = {
    .attrs = zomd_attrs,
};

static struct kobject *zomd_kobj;

struct proc_node {
    const char *name;
    umode_t mode;
    const struct proc_ops *ops;
};

// In creation order; perflock_exception is made after the zomd directory.
static const struct proc_node proc_nodes[] = {
    {"perflock_records", 0664, &perflock_records_ops},
    {"zomdlog", 0664, &zomdlog_ops},
    {"global_reclaim", 0664, &global_reclaim_ops},
    {"kswapd_pid", 0440, &kswapd_pid_ops},
    {"kdamond_cpuset", 0664, &kdamond_cpuset_ops},
    // 0664 without a write routine: the node refuses writes itself.
    {"kcompactd_pid", 0664, &kcompactd_pid_ops},
    {"perflock_exception", 0664, &perflock_exception_ops},
};
// Stop removes only the entries that exist: removing a missing one is a kernel warning.
static bool proc_node_created[ARRAY_SIZE(proc_nodes)];
// Unregistering from a hook that has no probe at all is a kernel warning too.
static bool scan_probe_attached;

static void create_proc_nodes(size_t from, size_t to) {
    for (size_t i = from; i < to; i++) {
        proc_node_created[i] = proc_create(proc_nodes[i].name, proc_nodes[i].mode, nullptr,
                                           proc_nodes[i].ops) != nullptr;
        if (!proc_node_created[i])
            pr_err("%s: create %s node failed\n", "vmassist_init", proc_nodes[i].name);
    }
}

static int __init vmassist_init(void) {
    scan_probe_attached = !tracepoint_probe_register(&__tracepoint_android_vh_tune_scan_type,
                                                     (void *)android_vh_tune_scan_type, nullptr);

    reclaim_task =
        kthread_create_on_node(g_recliam_func, nullptr, NUMA_NO_NODE, "g_reclaim_thread");
    if (IS_ERR(reclaim_task)) {
        pr_err("%s: create reclaim thread failed\n", __func__);
    } else {
        cpumask_clear(&reclaim_cpumask);
        for (unsigned int cpu : reclaim_cpus)
            cpumask_set_cpu(cpu, &reclaim_cpumask);
        set_cpus_allowed_ptr(reclaim_task, &reclaim_cpumask);
        wake_up_process(reclaim_task);
        ws = wakeup_source_register(nullptr, "reclaim_wakeup_source");
        if (!ws)
            pr_err("%s: register reclaim wakeup source failed\n", __func__);
    }

    INIT_LIST_HEAD(&trigger_head);
    INIT_LIST_HEAD(&memcg_list_head);

    create_proc_nodes(0, ARRAY_SIZE(proc_nodes) - 1);

    zomd_kobj = kobject_create_and_add("zomd", &THIS_MODULE->mkobj.kobj);
    if (zomd_kobj && sysfs_create_group(zomd_kobj, &zomd_attr_group))
        pr_err("%s create zomd sysfs nodes group failed\n", __func__);

    create_proc_nodes(ARRAY_SIZE(proc_nodes) - 1, ARRAY_SIZE(proc_nodes));

    cgroup_add_legacy_cftypes(&memory_cgrp_subsys, memcg_ctrl_files);
    return 0;
}

// Nodes go first, so that no request arrives while the rest is taken down.
extern "C" void cleanup_module(void) {
    for (size_t i = 0; i < ARRAY_SIZE(proc_nodes); i++)
        if (proc_node_created[i])
            remove_proc_entry(proc_nodes[i].name, nullptr);
    if (zomd_kobj) {
        sysfs_remove_group(zomd_kobj, &zomd_attr_group);
        kobject_put(zomd_kobj);
    }
    // Waits for running writes, so no group reclaim is left when the lists go.
    cgroup_rm_cftypes(memcg_ctrl_files);

    // The thread's last pass still signals and relaxes the wakeup source.
    if (!IS_ERR_OR_NULL(reclaim_task))
        kthread_stop(reclaim_task);
    wakeup_source_unregister(ws);
    if (scan_probe_attached)
        tracepoint_probe_unregister(&__tracepoint_android_vh_tune_scan_type,
                                    (void *)android_vh_tune_scan_type, nullptr);
    tracepoint_synchronize_unregister();

    trigger_events_free();
    memcg_list_free();
}

module_init(vmassist_init);
MODULE_LICENSE("GPL");
