// Test-only platform driver for the driver core's tests. Its probe takes two managed resources
// (an allocation, then an action) and returns probe_result, which a test may change at run
// time through /sys/module/drvtest/parameters/probe_result; every step is logged, so a test
// sees the order of probe, remove and the releases.
#include <platform/device.h>
#include <platform/errno.h>
#include <platform/mod_devicetable.h>
#include <platform/module.h>
#include <platform/platform_device.h>
#include <platform/printk.h>

static int probe_result;
module_param(probe_result, int, 0644);
MODULE_PARM_DESC(probe_result, "what probe returns");

struct drvtest_data {
    struct platform_device *pdev;
    int id;
};

static void drvtest_release_first(void *data) {
    pr_info("drvtest: release first of %s\n", dev_name(&((struct drvtest_data *)data)->pdev->dev));
}

static void drvtest_release_second(void *data) {
    pr_info("drvtest: release second of %s\n", dev_name(&((struct drvtest_data *)data)->pdev->dev));
}

static int drvtest_probe(struct platform_device *pdev) {
    struct drvtest_data *data;
    int ret;

    data = (struct drvtest_data *)devm_kzalloc(&pdev->dev, sizeof(*data), GFP_KERNEL);
    if (!data)
        return -ENOMEM;
    data->pdev = pdev;
    ret = devm_add_action(&pdev->dev, drvtest_release_first, data);
    if (ret)
        return ret;
    ret = devm_add_action(&pdev->dev, drvtest_release_second, data);
    if (ret)
        return ret;
    platform_set_drvdata(pdev, data);
    pr_info("drvtest: probe %s returns %d\n", dev_name(&pdev->dev), probe_result);
    return probe_result;
}

static int drvtest_remove(struct platform_device *pdev) {
    pr_info("drvtest: remove %s\n", dev_name(&pdev->dev));
    return 0;
}

static const struct of_device_id drvtest_of_match[] = {
    {.compatible = "phonesim,drvtest"},
    {},
};
MODULE_DEVICE_TABLE(of, drvtest_of_match);

static struct platform_driver drvtest_driver = {
    .probe = drvtest_probe,
    .remove = drvtest_remove,
    .driver =
        {
            .name = "drvtest",
            .of_match_table = drvtest_of_match,
        },
};

module_platform_driver(drvtest_driver);
MODULE_LICENSE("GPL");
