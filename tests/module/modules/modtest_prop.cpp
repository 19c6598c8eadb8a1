// Test-only proprietary module importing modtest's GPL-only export, which it may not use.
#include <platform/module.h>
#include <platform/printk.h>

extern "C" int modtest_gpl_value(void);

static int __init modtest_prop_init(void) {
    pr_info("modtest_prop: value %d\n", modtest_gpl_value());
    return 0;
}

static void __exit modtest_prop_exit(void) {}

module_init(modtest_prop_init);
module_exit(modtest_prop_exit);
MODULE_LICENSE("Proprietary");
