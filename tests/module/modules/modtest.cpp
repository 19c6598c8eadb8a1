// Test-only module for the loader and the kernel's shared services. Its parameters choose what
// its init routine returns (init_errno) and what its exit routine deliberately leaves registered
// (leak, a mask of MODTEST_LEAK_*), so tests can watch the loader clean up after it.
#include <platform/errno.h>
#include <platform/kobject.h>
#include <platform/kthread.h>
#include <platform/module.h>
#include <platform/printk.h>
#include <platform/slab.h>

#define MODTEST_LEAK_KOBJECT 0x1
#define MODTEST_LEAK_ALLOC 0x2
#define MODTEST_LEAK_KTHREAD 0x4

static int init_errno;
module_param(init_errno, int, 0444);
MODULE_PARM_DESC(init_errno, "value the init routine returns");
static int leak;
module_param(leak, int, 0444);
MODULE_PARM_DESC(leak, "what exit (or a failing init) leaves registered");

// Module-wide state: must read 0 after every load.
static int modtest_count;
static struct kobject *g_modtest_kobj;
static void *g_modtest_buf;
static struct task_struct *g_modtest_thread;

static int modtest_thread_fn(void *) {
    while (!kthread_should_stop()) {
        set_current_state(TASK_INTERRUPTIBLE);
        if (!kthread_should_stop())
            schedule();
        __set_current_state(TASK_RUNNING);
    }
    return 0;
}

extern "C" int modtest_counter_inc(void) {
    return ++modtest_count;
}
EXPORT_SYMBOL(modtest_counter_inc);

extern "C" int modtest_gpl_value(void) {
    return 42;
}
EXPORT_SYMBOL_GPL(modtest_gpl_value);

static void modtest_release(int keep) {
    if (!(keep & MODTEST_LEAK_KOBJECT))
        kobject_put(g_modtest_kobj);
    if (!(keep & MODTEST_LEAK_ALLOC))
        kfree(g_modtest_buf);
    if (!(keep & MODTEST_LEAK_KTHREAD))
        kthread_stop(g_modtest_thread);
    g_modtest_kobj = nullptr;
    g_modtest_thread = nullptr;
    g_modtest_buf = nullptr;
}

static int __init modtest_init(void) {
    g_modtest_buf = kmalloc(64, GFP_KERNEL);
    if (!g_modtest_buf)
        return -ENOMEM;
    g_modtest_kobj = kobject_create_and_add("modtest_state", &THIS_MODULE->mkobj.kobj);
    if (!g_modtest_kobj) {
        kfree(g_modtest_buf);
        return -ENOMEM;
    }
    g_modtest_thread = kthread_run(modtest_thread_fn, nullptr, "modtest_thread");
    if (IS_ERR(g_modtest_thread)) {
        kobject_put(g_modtest_kobj);
        kfree(g_modtest_buf);
        return PTR_ERR(g_modtest_thread);
    }
    if (init_errno < 0) {
        modtest_release(leak);
        return init_errno;
    }
    pr_info("modtest: loaded\n");
    return init_errno;
}

static void __exit modtest_exit(void) {
    modtest_release(leak);
    pr_info("modtest: unloaded\n");
}

module_init(modtest_init);
module_exit(modtest_exit);
MODULE_LICENSE("GPL");
MODULE_DESCRIPTION("Loader test module");
MODULE_SOFTDEP("pre: modtest_noexit");
