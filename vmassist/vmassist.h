// Module-wide state of vmassist shared between its start-up and its node handlers.
#pragma once

#include <platform/cgroup.h>
#include <platform/cpumask.h>
#include <platform/fs.h>
#include <platform/kobject.h>
#include <platform/list.h>
#include <platform/seq_file.h>
#include <platform/types.h>

// Record logs (record_logs.cpp).
int perflock_records_show(struct seq_file *m, void *v);
ssize_t perflock_records_write(struct file *file, const char __user *buf, size_t len, loff_t *ppos);
int zomd_show(struct seq_file *m, void *v);
ssize_t zomdlog_write(struct file *file, const char __user *buf, size_t len, loff_t *ppos);
int perflock_exception_show(struct seq_file *m, void *v);
ssize_t perflock_exception_write(struct file *file, const char __user *buf, size_t len,
                                 loff_t *ppos);

// The zomd sysfs nodes (zomd_nodes.cpp).
extern struct list_head trigger_head;
extern int trigger_event_count;
ssize_t zomdtrigger_show(struct kobject *kobj, struct kobj_attribute *attr, char *buf);
ssize_t zomdtrigger_store(struct kobject *kobj, struct kobj_attribute *attr, const char *buf,
                          size_t count);
ssize_t zomdnotifier_show(struct kobject *kobj, struct kobj_attribute *attr, char *buf);
ssize_t zomdnotifier_store(struct kobject *kobj, struct kobj_attribute *attr, const char *buf,
                           size_t count);
void trigger_events_free(void);

// Nodes of the kernel-thread controls (kthread_controls.cpp).
int kswapd_pid_show(struct seq_file *m, void *v);
int kcompactd_pid_show(struct seq_file *m, void *v);
int kdamond_cpuset_show(struct seq_file *m, void *v);
ssize_t kdamond_cpuset_write(struct file *file, const char __user *buf, size_t len, loff_t *ppos);

// A request number is T * RECLAIM_REQUEST_UNIT + N: N pages, and a scan type T that counts
// only as one of the kernel's scan balances below.
#define RECLAIM_REQUEST_UNIT 10000000ULL
#define SCAN_TYPE_ANON 2  // SCAN_ANON
#define SCAN_TYPE_FILE 3  // SCAN_FILE

// Reclaim thread and global_reclaim (reclaim_thread.cpp).
extern struct task_struct *reclaim_task;
extern struct cpumask reclaim_cpumask;
extern struct wakeup_source *ws;
// The scan type in force during this module's own reclaim; 0 otherwise.
extern int scan_type;
int scan_type_of(u64 request);
int g_recliam_func(void *data);
void android_vh_tune_scan_type(void *data, char *scan_balance);
int global_reclaim_show(struct seq_file *m, void *v);
ssize_t global_reclaim_write(struct file *file, const char __user *buf, size_t len, loff_t *ppos);

// Memory-group reclaim controls (memcg_reclaim.cpp).
extern struct cftype memcg_ctrl_files[];
extern struct list_head memcg_list_head;
void memcg_list_free(void);
