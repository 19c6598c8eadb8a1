// chgnotify: the platform driver of the "vantor,chgnotify" node and its two exports, through
// which charging drivers send change uevents on that device.
#include "chgnotify/chg_uevent.h"
#include "chgnotify/chgnotify.h"

#include <platform/atomic.h>
#include <platform/barrier.h>
#include <platform/device.h>
#include <platform/errno.h>
#include <platform/kobject.h>
#include <platform/mod_devicetable.h>
#include <platform/module.h>
#include <platform/mutex.h>
#include <platform/platform_device.h>
#include <platform/printk.h>
#include <platform/wait.h>

#include <cstdarg>

#define chg_uevent_info(fmt, ...) pr_info("[DV_CHG_UEVENT][%s]:" fmt, __func__, ##__VA_ARGS__)
#define chg_uevent_err(fmt, ...) pr_err("[DV_CHG_UEVENT][%s]:" fmt, __func__, ##__VA_ARGS__)

// The record of the bound device; null while none is bound. Reports read it without the lock.
static struct chg_uevent_dev *g_chg_uevent;

// Reports between their read of g_chg_uevent and their end. The remove clears the reference and
// then waits here, so that no report still holds the record when the driver core frees it.
static atomic_t g_reports_active = ATOMIC_INIT(0);
static DECLARE_WAIT_QUEUE_HEAD(g_reports_idle_wq);

static void chg_uevent_report_exit(void);

// Enters a report: the bound record, or null (the report then has ended already). The count
// goes up before the reference is read again and the remove clears the reference before it
// reads the count, so either the report sees null or the remove sees the report.
static struct chg_uevent_dev *chg_uevent_report_enter(void) {
    struct chg_uevent_dev *chg_uevent;

    // Reports while nothing is bound stop here, without touching the count a remove waits
    // on: callers that keep reporting cannot hold an unbind off.
    if (!READ_ONCE(g_chg_uevent))
        return nullptr;
    atomic_inc(&g_reports_active);
    smp_mb__after_atomic();
    chg_uevent = smp_load_acquire(&g_chg_uevent);
    if (!chg_uevent)
        chg_uevent_report_exit();
    return chg_uevent;
}

static void chg_uevent_report_exit(void) {
    if (atomic_dec_and_test(&g_reports_active))
        wake_up_all(&g_reports_idle_wq);
}

static int do_charge_uevent_report(struct chg_uevent_dev *chg_uevent, int event_type,
                                   int event_value, char *uevent_str, char **envp) {
    if (chg_uevent_build(event_type, event_value, uevent_str)) {
        chg_uevent_info("event_type %d not support\n", event_type);
        return -EINVAL;
    }
    // The kernel's result is not looked at: a uevent lost on the way is not the caller's fault.
    kobject_uevent_env(&chg_uevent->pdev->dev.kobj, KOBJ_CHANGE, envp);
    chg_uevent_info("event_type:%d, event_value:%d, uevent_str:%s\n", event_type, event_value,
                    uevent_str);
    return 0;
}

int vq_charge_uevent_report(int event_type, int event_value) {
    struct chg_uevent_dev *chg_uevent;
    char uevent_str[CHG_UEVENT_STR_LEN];
    char *envp[2];
    int ret;

    chg_uevent = chg_uevent_report_enter();
    if (!chg_uevent)
        return -EFAULT;
    envp[0] = uevent_str;
    envp[1] = nullptr;

    mutex_lock(&chg_uevent->report_lock);
    ret = do_charge_uevent_report(chg_uevent, event_type, event_value, uevent_str, envp);
    mutex_unlock(&chg_uevent->report_lock);
    chg_uevent_report_exit();

    if (ret) {
        chg_uevent_err("fail to report charge uevent\n");
        return -EINVAL;
    }
    return 0;
}
EXPORT_SYMBOL_GPL(vq_charge_uevent_report);

int vq_charge_uevents_bundle_report(int bundle_type, ...) {
    struct chg_uevent_bundle bundle;
    struct chg_uevent_dev *chg_uevent;
    int values[CHG_UEVENT_BUNDLE_MAX];
    int nr_values, count, ret = 0;
    va_list args;

    chg_uevent = chg_uevent_report_enter();
    if (!chg_uevent)
        return -EFAULT;

    mutex_lock(&chg_uevent->report_lock);
    nr_values = chg_uevent_bundle_nr_values(bundle_type);
    if (nr_values < 0) {
        chg_uevent_info("bundle type %d not support\n", bundle_type);
        ret = -EINVAL;
        goto out;
    }
    // Only as many arguments as the type takes: a caller passes no more than that.
    va_start(args, bundle_type);
    for (int i = 0; i < nr_values; i++)
        values[i] = va_arg(args, int);
    va_end(args);

    count = chg_uevent_bundle_build(bundle_type, values, &bundle);
    chg_uevent_info("bundle type %d contains %d uevents\n", bundle_type, count);
    kobject_uevent_env(&chg_uevent->pdev->dev.kobj, KOBJ_CHANGE, bundle.envp);
    for (int i = 0; bundle.envp[i]; i++)
        chg_uevent_info("envp[%d] = %s\n", i, bundle.envp[i]);
out:
    mutex_unlock(&chg_uevent->report_lock);
    chg_uevent_report_exit();
    return ret;
}
EXPORT_SYMBOL_GPL(vq_charge_uevents_bundle_report);

static int chgnotify_probe(struct platform_device *pdev) {
    struct chg_uevent_dev *chg_uevent;

    chg_uevent = (struct chg_uevent_dev *)devm_kzalloc(&pdev->dev, sizeof(*chg_uevent), GFP_KERNEL);
    if (!chg_uevent)
        return -ENOMEM;
    chg_uevent->pdev = pdev;
    mutex_init(&chg_uevent->report_lock);
    // Published last: a report that sees the record sees it initialised.
    smp_store_release(&g_chg_uevent, chg_uevent);
    chg_uevent_info("success...\n");
    return 0;
}

static int chgnotify_remove(struct platform_device *) {
    smp_store_mb(g_chg_uevent, nullptr);
    // The record is freed once this returns; reports that already read it finish first. The
    // acquire pairs with the last report's count-out, so its unlock of the record's mutex comes
    // before the free.
    wait_event(g_reports_idle_wq, atomic_read_acquire(&g_reports_active) == 0);
    return 0;
}

static const struct of_device_id chgnotify_of_match[] = {
    {.compatible = "vantor,chgnotify"},
    {},
};
MODULE_DEVICE_TABLE(of, chgnotify_of_match);

static struct platform_driver chgnotify_driver = {
    .probe = chgnotify_probe,
    .remove = chgnotify_remove,
    .driver =
        {
            .name = "chgnotify",
            .of_match_table = chgnotify_of_match,
        },
};

static int __init chgnotify_init(void) {
    return __platform_driver_register(&chgnotify_driver, THIS_MODULE);
}

static void __exit chgnotify_exit(void) {
    platform_driver_unregister(&chgnotify_driver);
}

module_init(chgnotify_init);
module_exit(chgnotify_exit);
MODULE_DESCRIPTION("Vantor Charge Uevent Report Driver");
MODULE_LICENSE("GPL v2");
