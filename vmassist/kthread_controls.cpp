// Kernel-thread controls: the pids of kswapd0 and kcompactd0, and binding a task to CPUs.
#include "vmassist/vmassist.h"

#include <platform/cpumask.h>
#include <platform/errno.h>
#include <platform/kstrtox.h>
#include <platform/printk.h>
#include <platform/rcupdate.h>
#include <platform/sched.h>
#include <platform/slab.h>
#include <platform/spinlock.h>
#include <platform/string.h>
#include <platform/uaccess.h>

#define KDAMOND_WRITE_MAX 64
#define KDAMOND_PARSE_MAX 32
#define KDAMOND_CPU_LIST_LEN 64

// The last request, read back by the node. The lock keeps a read-back from seeing a text
// half copied by a concurrent write; each field still comes from the last write to reach it.
static int kdamond_pid = -1;
static char cpu_set[64];
static DEFINE_SPINLOCK(kdamond_lock);

// The first kernel thread (no user memory: a user task may take any name) whose comm begins
// with key, or 0.
static pid_t kthread_pid_by_name(const char *key, size_t len) {
    struct task_struct *p;
    pid_t pid = 0;

    read_lock(&tasklist_lock);
    for_each_process(p) {
        if (!p->mm && !strncmp(p->comm, key, len)) {
            pid = p->pid;
            break;
        }
    }
    read_unlock(&tasklist_lock);
    return pid;
}

int kswapd_pid_show(struct seq_file *m, void *) {
    seq_printf(m, "%d", kthread_pid_by_name("kswapd0", 7));
    return 0;
}

int kcompactd_pid_show(struct seq_file *m, void *) {
    seq_printf(m, "%d", kthread_pid_by_name("kcompactd0", 10));
    return 0;
}

int kdamond_cpuset_show(struct seq_file *m, void *) {
    spin_lock(&kdamond_lock);
    seq_printf(m, "kdamond pid:%d cpu_set:%s\n", kdamond_pid, cpu_set);
    spin_unlock(&kdamond_lock);
    return 0;
}

// "4,5,6,7;812": the CPU numbers into cpus (-1 for none), the pid into *pid.
static int kdamond_cpuset_input_parse(char *text, int *cpus, int *pid) {
    char *rest = text;
    char *list = strsep(&rest, ";");
    char *piece;
    int n = 0;

    while ((piece = strsep(&list, ",")) != nullptr) {
        int cpu;

        if (kstrtoint(piece, 10, &cpu))
            return -EINVAL;
        if (cpu < 0) {
            printk("Failed to convert string to integer\n");
            return -EINVAL;
        }
        // A CPU the mask cannot hold is refused, never set.
        if ((unsigned int)cpu >= nr_cpu_ids || n == KDAMOND_CPU_LIST_LEN)
            return -EINVAL;
        cpus[n++] = cpu;
    }
    if (!rest)
        return -EINVAL;
    return kstrtoint(strsep(&rest, ";"), 10, pid) ? -EINVAL : 0;
}

ssize_t kdamond_cpuset_write(struct file *, const char __user *buf, size_t len, loff_t *) {
    // One byte more than a write may carry, so the text is always terminated.
    char kbuf[KDAMOND_WRITE_MAX + 1] = {};
    int cpus[KDAMOND_CPU_LIST_LEN];
    struct task_struct *task;
    struct cpumask mask;
    char *text;
    int pid = 0;
    int ret;

    if (len > KDAMOND_WRITE_MAX)
        return -EINVAL;
    if (copy_from_user(kbuf, buf, len))
        return -EFAULT;
    spin_lock(&kdamond_lock);
    strncpy(cpu_set, kbuf, sizeof(cpu_set) - 1);
    spin_unlock(&kdamond_lock);

    for (int i = 0; i < KDAMOND_CPU_LIST_LEN; i++)
        cpus[i] = -1;
    text = kstrndup(kbuf, KDAMOND_PARSE_MAX, GFP_KERNEL);
    ret = text ? kdamond_cpuset_input_parse(text, cpus, &pid) : -ENOMEM;
    kfree(text);
    if (ret) {
        pr_err("kdamond_cpuset_input_parse: param err(%s)\n", kbuf);
        return -EINVAL;
    }
    spin_lock(&kdamond_lock);
    kdamond_pid = pid;
    spin_unlock(&kdamond_lock);
    if (pid < 1)
        return -EINVAL;

    cpumask_clear(&mask);
    for (int i = 0; i < KDAMOND_CPU_LIST_LEN && cpus[i] >= 0; i++)
        cpumask_set_cpu(cpus[i], &mask);

    rcu_read_lock();
    task = find_task_by_vpid(pid);
    if (task)
        get_task_struct(task);
    rcu_read_unlock();
    if (!task)
        return -EINVAL;
    set_cpus_allowed_ptr(task, &mask);
    put_task_struct(task);
    return len;
}
