// Test-only proprietary charging driver that calls chgnotify's GPL-only export, which the
// loader must refuse it.
#include <platform/module.h>
#include <platform/printk.h>

extern "C" int vq_charge_uevent_report(int event_type, int event_value);

static int __init chgnotify_prop_init(void) {
    pr_info("chgnotify_prop: report %d\n", vq_charge_uevent_report(5, 1));
    return 0;
}

static void __exit chgnotify_prop_exit(void) {}

module_init(chgnotify_prop_init);
module_exit(chgnotify_prop_exit);
MODULE_LICENSE("Proprietary");
