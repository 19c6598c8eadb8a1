// The USB Type-C port's PD controller driver ("phonesim,usbpd-port"): the "pd_adapter" device
// of vq_adapter_class. When an adapter attaches or leaves, the interrupt work reads the
// adapter's vendor id (SVID) and the state of its authentication into the adapter record,
// where the charging stack's listeners read them.
#include <platform/adapter_class.h>
#include <platform/device.h>
#include <platform/err.h>
#include <platform/errno.h>
#include <platform/module.h>
#include <platform/of.h>
#include <platform/platform_device.h>
#include <platform/workqueue.h>

#include "hw/charging.h"

struct usbpd_chip {
    struct device *dev;
    struct adapter_device *adapter;
    struct work_struct irq_work;
};

static int usbpd_get_usbpd_verifed(struct adapter_device *, bool *verified) {
    int v, ret = hw_usbpd_read(HW_PD_VERIFIED, &v);

    if (!ret)
        *verified = v != 0;
    return ret;
}

static const struct adapter_ops usbpd_adapter_ops = {
    .get_usbpd_verifed = usbpd_get_usbpd_verifed,
};

static void usbpd_read_adapter(struct usbpd_chip *chip) {
    int svid = 0, done = 0;

    if (hw_usbpd_read(HW_PD_SVID, &svid) || hw_usbpd_read(HW_PD_VERIFY_DONE, &done))
        return;
    WRITE_ONCE(chip->adapter->adapter_svid, (u32)svid);
    WRITE_ONCE(chip->adapter->verify_done, (u8)done);
}

static void usbpd_irq_work(struct work_struct *work) {
    struct usbpd_chip *chip = container_of(work, struct usbpd_chip, irq_work);
    int changed = 0;

    if (!hw_usbpd_read(HW_PD_INT, &changed) && changed)
        usbpd_read_adapter(chip);
}

static void usbpd_irq_handler(void *data) {
    struct usbpd_chip *chip = (struct usbpd_chip *)data;

    schedule_work(&chip->irq_work);
}

static int usbpd_probe(struct platform_device *pdev) {
    struct usbpd_chip *chip;
    const char *name = "pd_adapter";
    int ret;

    chip = (struct usbpd_chip *)devm_kzalloc(&pdev->dev, sizeof(*chip), GFP_KERNEL);
    if (!chip)
        return -ENOMEM;
    chip->dev = &pdev->dev;
    INIT_WORK(&chip->irq_work, usbpd_irq_work);
    of_property_read_string(pdev->dev.of_node, "adapter-name", &name);
    platform_set_drvdata(pdev, chip);

    chip->adapter = adapter_device_register(name, &pdev->dev, chip, &usbpd_adapter_ops);
    if (IS_ERR(chip->adapter))
        return (int)PTR_ERR(chip->adapter);
    usbpd_read_adapter(chip);
    ret = hw_request_irq(HW_IRQ_USBPD, usbpd_irq_handler, chip);
    if (ret) {
        adapter_device_unregister(chip->adapter);
        return ret;
    }
    dev_info(&pdev->dev, "adapter %s registered\n", name);
    return 0;
}

static int usbpd_remove(struct platform_device *pdev) {
    struct usbpd_chip *chip = (struct usbpd_chip *)platform_get_drvdata(pdev);

    hw_free_irq(HW_IRQ_USBPD);
    cancel_work_sync(&chip->irq_work);
    adapter_device_unregister(chip->adapter);
    return 0;
}

static const struct of_device_id usbpd_of_match[] = {
    {.compatible = "phonesim,usbpd-port"},
    {},
};
MODULE_DEVICE_TABLE(of, usbpd_of_match);

static struct platform_driver usbpd_driver = {
    .probe = usbpd_probe,
    .remove = usbpd_remove,
    .driver =
        {
            .name = "usbpd_port",
            .of_match_table = usbpd_of_match,
        },
};
module_platform_driver(usbpd_driver);

MODULE_DESCRIPTION("USB-PD port driver");
MODULE_LICENSE("GPL v2");
