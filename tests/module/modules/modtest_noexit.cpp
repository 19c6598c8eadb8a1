// Test-only module with an init routine and no exit routine: it cannot be unloaded.
#include <platform/mod_devicetable.h>
#include <platform/module.h>
#include <platform/printk.h>

static int __init modtest_noexit_init(void) {
    pr_info("modtest_noexit: loaded\n");
    return 0;
}

static const struct of_device_id modtest_noexit_of_match[] = {
    {.compatible = "phonesim,modtest-noexit"},
    {},
};

module_init(modtest_noexit_init);
MODULE_LICENSE("Dual BSD/GPL");
MODULE_DEVICE_TABLE(of, modtest_noexit_of_match);
