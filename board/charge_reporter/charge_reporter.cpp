// The charger driver's reporter of charging conditions: bound to the "phonesim,charge-reporter"
// node, it takes the charger's reporting line at probe and turns each request of the hardware
// into a charging uevent through chgnotify, answering with chgnotify's result.
#include "hw/charge_reporter.h"
#include "chgnotify/chg_uevent.h"

#include <platform/device.h>
#include <platform/errno.h>
#include <platform/mod_devicetable.h>
#include <platform/module.h>
#include <platform/platform_device.h>

struct charge_reporter {
    struct platform_device *pdev;
};

static int charge_reporter_request(void *, const struct charge_reporter_request *req) {
    const int *v = req->values;

    if (!req->bundle)
        return vq_charge_uevent_report(req->type, v[0]);
    // The line carries five value registers; chgnotify reads as many as the bundle type takes.
    return vq_charge_uevents_bundle_report(req->type, v[0], v[1], v[2], v[3], v[4]);
}

static int charge_reporter_probe(struct platform_device *pdev) {
    struct charge_reporter *reporter;
    int ret;

    reporter = (struct charge_reporter *)devm_kzalloc(&pdev->dev, sizeof(*reporter), GFP_KERNEL);
    if (!reporter)
        return -ENOMEM;
    reporter->pdev = pdev;
    platform_set_drvdata(pdev, reporter);
    ret = charge_reporter_attach(charge_reporter_request, reporter);
    if (ret) {
        dev_err(&pdev->dev, "reporting line busy: %d\n", ret);
        return ret;
    }
    return 0;
}

static int charge_reporter_remove(struct platform_device *pdev) {
    // Returns once no request is in charge_reporter_request(), before the record goes.
    charge_reporter_detach(platform_get_drvdata(pdev));
    return 0;
}

static const struct of_device_id charge_reporter_of_match[] = {
    {.compatible = "phonesim,charge-reporter"},
    {},
};
MODULE_DEVICE_TABLE(of, charge_reporter_of_match);

static struct platform_driver charge_reporter_driver = {
    .probe = charge_reporter_probe,
    .remove = charge_reporter_remove,
    .driver =
        {
            .name = "charge-reporter",
            .of_match_table = charge_reporter_of_match,
        },
};
module_platform_driver(charge_reporter_driver);

MODULE_DESCRIPTION("phonesim charger's charging-condition reporter");
MODULE_LICENSE("GPL v2");
