// The master charge pump's driver ("phonesim,charge-pump"): the "sc-cp-master" power supply
// (its die temperature) and the "master_cp_chg" device of dv_cp_class. The chip latches its
// protection events (bus and battery over-voltage, bus over-current, input over-voltage, die
// temperature) in a FIFO; the interrupt work passes each to the charge-pump chain.
#include <platform/chargerpump_class.h>
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

using cp_chip_desc = struct charging_chip_desc<struct chargerpump_dev, struct chargerpump_ops>;

struct cp_chip {
    struct charging_chip<struct chargerpump_dev, struct chargerpump_ops> base;
};

static const enum power_supply_property cp_props[] = {
    POWER_SUPPLY_PROP_TEMP,
};

static int cp_get_property(struct power_supply *, enum power_supply_property psp,
                           union power_supply_propval *val) {
    if (psp != POWER_SUPPLY_PROP_TEMP)
        return -EINVAL;
    return hw_cp_read(HW_CP_TDIE, &val->intval);
}

static const struct power_supply_desc cp_psy_desc = {
    .name = "sc-cp-master",
    .type = POWER_SUPPLY_TYPE_UNKNOWN,
    .properties = cp_props,
    .num_properties = sizeof(cp_props) / sizeof(cp_props[0]),
    .get_property = cp_get_property,
};

// A chip that does not answer its bus is not ok.
static int cp_get_chip_ok(struct chargerpump_dev *, int *ok) {
    int v, ret = hw_cp_read(HW_CP_CHIP_OK, &v);

    *ok = !ret && v;
    return ret;
}

static const struct chargerpump_ops cp_ops = {
    .get_chip_ok = cp_get_chip_ok,
};

static void cp_irq_work(struct work_struct *work) {
    struct cp_chip *chip = container_of(work, struct cp_chip, base.irq_work);
    int causes = 0, code;

    while (!hw_cp_pop_event(&code))
        dv_chargerpump_notifier_call_chain((unsigned long)code, nullptr);
    if (!hw_cp_read(HW_CP_INT, &causes) && (causes & HW_CP_INT_TEMP))
        power_supply_changed(chip->base.psy);
}

static const cp_chip_desc cp_desc = {
    .what = "charge pump",
    .name_prop = "chargerpump-name",
    .default_name = "master_cp_chg",
    .psy_desc = &cp_psy_desc,
    .irq = HW_IRQ_CP,
    .irq_work = cp_irq_work,
    .class_register = chargerpump_device_register,
    .class_unregister = chargerpump_device_unregister,
    .ops = &cp_ops,
};

static int cp_probe(struct platform_device *pdev) {
    struct cp_chip *chip;

    chip = (struct cp_chip *)devm_kzalloc(&pdev->dev, sizeof(*chip), GFP_KERNEL);
    if (!chip)
        return -ENOMEM;
    return charging_chip_probe(pdev, chip, &chip->base, &cp_desc, chip);
}

static int cp_remove(struct platform_device *pdev) {
    struct cp_chip *chip = (struct cp_chip *)platform_get_drvdata(pdev);

    charging_chip_remove(&chip->base);
    return 0;
}

static const struct of_device_id cp_of_match[] = {
    {.compatible = "phonesim,charge-pump"},
    {},
};
MODULE_DEVICE_TABLE(of, cp_of_match);

static struct platform_driver cp_driver = {
    .probe = cp_probe,
    .remove = cp_remove,
    .driver =
        {
            .name = "charge_pump",
            .of_match_table = cp_of_match,
        },
};
module_platform_driver(cp_driver);

MODULE_DESCRIPTION("Charge pump driver");
MODULE_LICENSE("GPL v2");
