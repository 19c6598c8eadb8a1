// Start-up and stop of vmassist, and the operation tables of its nodes.
#include "vmassist/vmassist.h"

#include <platform/module.h>
#include <platform/printk.h>
#include <platform/proc_fs.h>

static int kswapd_pid_open(struct inode *, struct file *file) {
    return single_open(file, kswapd_pid_show, nullptr);
}

static int kdamond_cpuset_open(struct inode *, struct file *file) {
    return single_open(file, kdamond_cpuset_show, nullptr);
}

static int kcompactd_pid_open(struct inode *, struct file *file) {
    return single_open(file, kcompactd_pid_show, nullptr);
}

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

static int __init vmassist_init(void) {
    if (!proc_create("kswapd_pid", 0440, nullptr, &kswapd_pid_ops))
        pr_err("%s: create kswapd_pid node failed\n", __func__);
    if (!proc_create("kdamond_cpuset", 0664, nullptr, &kdamond_cpuset_ops))
        pr_err("%s: create kdamond_cpuset node failed\n", __func__);
    // 0664 without a write routine: the node refuses writes itself.
    if (!proc_create("kcompactd_pid", 0664, nullptr, &kcompactd_pid_ops))
        pr_err("%s: create kcompactd_pid node failed\n", __func__);
    return 0;
}

// Nodes go first, so that no request arrives while the rest is taken down.
extern "C" void cleanup_module(void) {
    remove_proc_entry("kswapd_pid", nullptr);
    remove_proc_entry("kdamond_cpuset", nullptr);
    remove_proc_entry("kcompactd_pid", nullptr);
}

module_init(vmassist_init);
MODULE_LICENSE("GPL");
