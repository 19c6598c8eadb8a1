// The switching charger's driver ("phonesim,primary-charger"): the "usb" power supply (the
// charger's input), the "primary_chg" device of dv_charger_class, and the charger manager's
// side of the charging stack: the charger's interrupt work passes every event of the charger's
// event FIFO (adapter plug-in and plug-out, charger enable, under-voltage, ...) to the
// charger-manager chain with its data byte, and announces input changes on the "usb" supply.
#include <platform/charger_class.h>
#include <platform/device.h>
#include <platform/dv_notify.h>
#include <platform/err.h>
#include <platform/errno.h>
#include <platform/module.h>
#include <platform/of.h>
#include <platform/platform_device.h>
#include <platform/power_supply.h>
#include <platform/workqueue.h>

#include "board/common/charging_chip.h"
#include "hw/charging.h"

using charger_chip_desc = struct charging_chip_desc<struct charger_device, struct charger_ops>;

struct charger_chip {
    struct charging_chip<struct charger_device, struct charger_ops> base;
};

static const enum power_supply_property charger_props[] = {
    POWER_SUPPLY_PROP_ONLINE,
    POWER_SUPPLY_PROP_VOLTAGE_NOW,
};

static int charger_get_property(struct power_supply *, enum power_supply_property psp,
                                union power_supply_propval *val) {
    switch (psp) {
        case POWER_SUPPLY_PROP_ONLINE:
            return hw_charger_read(HW_CHG_ONLINE, &val->intval);
        case POWER_SUPPLY_PROP_VOLTAGE_NOW:
            return hw_charger_read(HW_CHG_VBUS, &val->intval);
        default:
            return -EINVAL;
    }
}

static const struct power_supply_desc charger_psy_desc = {
    .name = "usb",
    .type = POWER_SUPPLY_TYPE_USB,
    .properties = charger_props,
    .num_properties = sizeof(charger_props) / sizeof(charger_props[0]),
    .get_property = charger_get_property,
};

static int charger_enable(struct charger_device *, bool en) {
    return hw_charger_write(HW_CHG_ENABLE, en);
}

static int charger_is_enabled(struct charger_device *, bool *en) {
    int v, ret = hw_charger_read(HW_CHG_ENABLE, &v);

    if (!ret)
        *en = v != 0;
    return ret;
}

static const struct charger_ops charger_ops = {
    .enable = charger_enable,
    .is_enabled = charger_is_enabled,
};

static void charger_irq_work(struct work_struct *work) {
    struct charger_chip *chip = container_of(work, struct charger_chip, base.irq_work);
    int causes = 0, code, data;

    while (!hw_charger_pop_event(&code, &data)) {
        u8 byte = (u8)data;

        dv_chargermanager_notifier_call_chain((unsigned long)code, &byte);
    }
    if (!hw_charger_read(HW_CHG_INT, &causes) && (causes & HW_CHG_INT_INPUT))
        power_supply_changed(chip->base.psy);
}

static const charger_chip_desc charger_desc = {
    .what = "charger",
    .name_prop = "charger-name",
    .default_name = "primary_chg",
    .psy_desc = &charger_psy_desc,
    .irq = HW_IRQ_CHARGER,
    .irq_work = charger_irq_work,
    .class_register = charger_device_register,
    .class_unregister = charger_device_unregister,
    .ops = &charger_ops,
};

static int charger_probe(struct platform_device *pdev) {
    struct charger_chip *chip;

    chip = (struct charger_chip *)devm_kzalloc(&pdev->dev, sizeof(*chip), GFP_KERNEL);
    if (!chip)
        return -ENOMEM;
    return charging_chip_probe(pdev, chip, &chip->base, &charger_desc, chip);
}

static int charger_remove(struct platform_device *pdev) {
    struct charger_chip *chip = (struct charger_chip *)platform_get_drvdata(pdev);

    charging_chip_remove(&chip->base);
    return 0;
}

static const struct of_device_id charger_of_match[] = {
    {.compatible = "phonesim,primary-charger"},
    {},
};
MODULE_DEVICE_TABLE(of, charger_of_match);

static struct platform_driver charger_driver = {
    .probe = charger_probe,
    .remove = charger_remove,
    .driver =
        {
            .name = "primary_charger",
            .of_match_table = charger_of_match,
        },
};
module_platform_driver(charger_driver);

MODULE_DESCRIPTION("Switching charger driver");
MODULE_LICENSE("GPL v2");
