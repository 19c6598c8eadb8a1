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

#include "board/common/charging_chip.h"
#include "hw/charging.h"

using usbpd_chip_desc = struct charging_chip_desc<struct adapter_device, struct adapter_ops>;

struct usbpd_chip {
    struct charging_chip<struct adapter_device, struct adapter_ops> base;
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
    WRITE_ONCE(chip->base.cdev->adapter_svid, (u32)svid);
    WRITE_ONCE(chip->base.cdev->verify_done, (u8)done);
}

static void usbpd_irq_work(struct work_struct *work) {
    struct usbpd_chip *chip = container_of(work, struct usbpd_chip, base.irq_work);
    int changed = 0;

    if (!hw_usbpd_read(HW_PD_INT, &changed) && changed)
        usbpd_read_adapter(chip);
}

// An adapter may be attached already: read it before interrupts report changes.
static void usbpd_registered(void *drvdata) {
    usbpd_read_adapter((struct usbpd_chip *)drvdata);
}

static const usbpd_chip_desc usbpd_desc = {
    .what = "adapter",
    .name_prop = "adapter-name",
    .default_name = "pd_adapter",
    .psy_desc = nullptr,
    .irq = HW_IRQ_USBPD,
    .irq_work = usbpd_irq_work,
    .class_register = adapter_device_register,
    .class_unregister = adapter_device_unregister,
    .ops = &usbpd_adapter_ops,
    .registered = usbpd_registered,
};

static int usbpd_probe(struct platform_device *pdev) {
    struct usbpd_chip *chip;

    chip = (struct usbpd_chip *)devm_kzalloc(&pdev->dev, sizeof(*chip), GFP_KERNEL);
    if (!chip)
        return -ENOMEM;
    return charging_chip_probe(pdev, chip, &chip->base, &usbpd_desc, nullptr);
}

static int usbpd_remove(struct platform_device *pdev) {
    struct usbpd_chip *chip = (struct usbpd_chip *)platform_get_drvdata(pdev);

    charging_chip_remove(&chip->base);
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
