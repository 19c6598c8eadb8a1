// Module-wide state of vmassist shared between its start-up and its node handlers.
#pragma once

#include <platform/fs.h>
#include <platform/seq_file.h>
#include <platform/types.h>

// Nodes of the kernel-thread controls (kthread_controls.cpp).
int kswapd_pid_show(struct seq_file *m, void *v);
int kcompactd_pid_show(struct seq_file *m, void *v);
int kdamond_cpuset_show(struct seq_file *m, void *v);
ssize_t kdamond_cpuset_write(struct file *file, const char __user *buf, size_t len, loff_t *ppos);
