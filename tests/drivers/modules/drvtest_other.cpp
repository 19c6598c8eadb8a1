// Test-only platform driver that binds by name to a device "drvtest_other": another driver
// binding, which retries the devices whose probe was deferred.
#include <platform/module.h>
#include <platform/platform_device.h>
#include <platform/printk.h>

static int drvtest_other_probe(struct platform_device *pdev) {
    pr_info("drvtest_other: probe %s\n", dev_name(&pdev->dev));
    return 0;
}

static struct platform_driver drvtest_other_driver = {
    .probe = drvtest_other_probe,
    .driver = {.name = "drvtest_other"},
};

module_platform_driver(drvtest_other_driver);
MODULE_LICENSE("GPL");
