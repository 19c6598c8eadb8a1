// Test-only GPL importer of both of modtest's exports.
#include <platform/module.h>
#include <platform/printk.h>

extern "C" int modtest_counter_inc(void);
extern "C" int modtest_gpl_value(void);

static int __init modtest_user_init(void) {
    pr_info("modtest_user: counter %d value %d\n", modtest_counter_inc(), modtest_gpl_value());
    return 0;
}

static void __exit modtest_user_exit(void) {}

module_init(modtest_user_init);
module_exit(modtest_user_exit);
MODULE_LICENSE("GPL v2");
