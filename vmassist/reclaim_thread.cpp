// System-wide reclaim on request: the node global_reclaim, the reclaim thread that carries
// requests out, and the vendor-hook probe that forces the scan type of this module's reclaim.
#include "vmassist/vmassist.h"

#include <platform/atomic.h>
#include <platform/err.h>
#include <platform/errno.h>
#include <platform/kstrtox.h>
#include <platform/kthread.h>
#include <platform/pm_wakeup.h>
#include <platform/printk.h>
#include <platform/sched.h>
#include <platform/spinlock.h>
#include <platform/string.h>
#include <platform/swap.h>
#include <platform/uaccess.h>

#define RECLAIM_WRITE_MAX 64
#define RECLAIM_WAKEUP_MS 30000
#define RECLAIM_MAX_RETRIES 10

struct task_struct *reclaim_task;
struct cpumask reclaim_cpumask;
struct wakeup_source *ws;
int scan_type;

static int reclaim_target;
// Starts at 1: the thread's first pass lowers it to 0 and sleeps until the first request.
static atomic_t reclaim_count = ATOMIC_INIT(1);
static char reclaim_buff[64];
static DEFINE_SPINLOCK(mr_lock);

// Tasks whose reclaim takes the forced scan type; a comm is matched as a leading part, as
// the kernel cuts names to 15 characters.
static const char *const scan_type_tasks[] = {"g_reclaim_thread", "zomd@2.0-servic", "sh"};

int scan_type_of(u64 request) {
    u32 type = (u32)(request / RECLAIM_REQUEST_UNIT);

    return type == SCAN_TYPE_ANON || type == SCAN_TYPE_FILE ? (int)type : 0;
}

void android_vh_tune_scan_type(void *, char *scan_balance) {
    int type = READ_ONCE(scan_type);
    size_t len;

    if (!type)
        return;
    if (current->flags & PF_KSWAPD)
        return;
    len = strlen(current->comm);
    for (const char *name : scan_type_tasks) {
        if (!strncmp(name, current->comm, len)) {
            *scan_balance = (char)type;
            return;
        }
    }
}

int global_reclaim_show(struct seq_file *m, void *) {
    spin_lock(&mr_lock);
    seq_printf(m, "%s", reclaim_buff);
    spin_unlock(&mr_lock);
    return 0;
}

ssize_t global_reclaim_write(struct file *, const char __user *buf, size_t len, loff_t *) {
    // One byte more than a write may carry, so the text is always terminated.
    char kbuf[RECLAIM_WRITE_MAX + 1] = {};
    unsigned long long value;
    int ret;

    if (len > RECLAIM_WRITE_MAX)
        return -EINVAL;
    if (copy_from_user(kbuf, buf, len))
        return -EFAULT;
    ret = kstrtoull(kbuf, 10, &value);
    if (ret)
        return ret;
    if (!value)
        return 0;
    WRITE_ONCE(reclaim_target, (int)value);
    atomic_inc(&reclaim_count);
    if (!IS_ERR_OR_NULL(reclaim_task))
        wake_up_process(reclaim_task);
    return len;
}

static void g_reclaim_pass(void) {
    u64 request = (u64)(s64)READ_ONCE(reclaim_target);
    unsigned long nr_pages = (unsigned long)(request % RECLAIM_REQUEST_UNIT);
    unsigned long total = 0;

    pm_wakeup_ws_event(ws, RECLAIM_WAKEUP_MS, false);
    WRITE_ONCE(scan_type, scan_type_of(request));
    if (nr_pages) {
        unsigned long r = try_to_free_mem_cgroup_pages(nullptr, nr_pages, GFP_KERNEL, true);

        for (int i = 0; i < RECLAIM_MAX_RETRIES; i++) {
            total += r;
            if (total >= nr_pages)
                break;
            r = try_to_free_mem_cgroup_pages(nullptr, nr_pages - total, GFP_KERNEL, true);
        }
    }
    WRITE_ONCE(scan_type, 0);
    // A reader listing the status holds the lock; the thread never waits for it.
    if (spin_trylock(&mr_lock)) {
        snprintf(reclaim_buff, sizeof(reclaim_buff), "reclaim %lu pages", total);
        spin_unlock(&mr_lock);
    }
    pr_err("vmassist %s reclaimed: %lu kbytes\n", "g_recliam_func", total * 4);
    __pm_relax(ws);
}

int g_recliam_func(void *) {
    // The thread holds one unit of reclaim_count for the pass it ran last (the load-time 1
    // stands for the pass before the first request) and gives it back at the top of the loop.
    // A wake-up with nothing pending (the stop request, or a late wake-up the kernel allows)
    // holds none: it runs no pass and takes nothing, so the count never goes below zero.
    bool holds_unit = true;

    while (!kthread_should_stop()) {
        int left;

        // Marked as sleeping before the count is tested, so a request that lands between
        // the test and schedule() finds the thread asleep-to-be and makes it run.
        set_current_state(TASK_INTERRUPTIBLE);
        left = holds_unit ? atomic_dec_return(&reclaim_count) : atomic_read(&reclaim_count);
        if (left == 0) {
            // A stop that came after the loop's test found the thread running, and its wake-up
            // was spent; sleeping now would never end.
            if (!kthread_should_stop())
                schedule();
            set_current_state(TASK_RUNNING);
            holds_unit = atomic_read(&reclaim_count) > 0;
            if (!holds_unit)
                continue;
        } else {
            set_current_state(TASK_RUNNING);
            pr_err("%s\t%d\n", __func__, atomic_read(&reclaim_count));
            holds_unit = true;
        }
        g_reclaim_pass();
    }
    return 0;
}
