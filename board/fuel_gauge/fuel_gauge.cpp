// The fuel gauge's driver ("phonesim,fuel-gauge"): the "battery" power supply, whose driver
// data carries the charger input type, raw state of charge and board temperature, and the
// "fuel_gauge" device of dv_fg_class. The gauge interrupts when what it measures moves; the
// interrupt work refreshes the driver data and announces the change with
// power_supply_changed(), and a changed status word on the fuel-gauge chain.
#include <platform/device.h>
#include <platform/dv_notify.h>
#include <platform/err.h>
#include <platform/errno.h>
#include <platform/fuel_gauge_class.h>
#include <platform/module.h>
#include <platform/of.h>
#include <platform/platform_device.h>
#include <platform/power_supply.h>
#include <platform/workqueue.h>

#include "board/common/charging_chip.h"
#include "hw/charging.h"

using fg_chip_desc = struct charging_chip_desc<struct fuel_gauge_dev, struct fuel_gauge_ops>;

struct fg_chip {
    struct charging_chip<struct fuel_gauge_dev, struct fuel_gauge_ops> base;
    struct dv_battery_drvdata drvdata;
    u32 status_word;
};

static const enum power_supply_property fg_props[] = {
    POWER_SUPPLY_PROP_STATUS,
    POWER_SUPPLY_PROP_PRESENT,
    POWER_SUPPLY_PROP_AUTHENTIC,
    POWER_SUPPLY_PROP_CYCLE_COUNT,
    POWER_SUPPLY_PROP_VOLTAGE_NOW,
    POWER_SUPPLY_PROP_CURRENT_NOW,
    POWER_SUPPLY_PROP_CHARGE_FULL_DESIGN,
    POWER_SUPPLY_PROP_CAPACITY,
    POWER_SUPPLY_PROP_TEMP,
};

static int fg_get_property(struct power_supply *, enum power_supply_property psp,
                           union power_supply_propval *val) {
    enum hw_fg_reg reg;

    switch (psp) {
        case POWER_SUPPLY_PROP_STATUS:
            reg = HW_FG_STATUS;
            break;
        case POWER_SUPPLY_PROP_PRESENT:
            val->intval = 1;
            return 0;
        case POWER_SUPPLY_PROP_AUTHENTIC:
            reg = HW_FG_AUTHENTIC;
            break;
        case POWER_SUPPLY_PROP_CYCLE_COUNT:
            reg = HW_FG_CYCLE_COUNT;
            break;
        case POWER_SUPPLY_PROP_VOLTAGE_NOW:
            reg = HW_FG_VOLTAGE_NOW;
            break;
        case POWER_SUPPLY_PROP_CURRENT_NOW:
            reg = HW_FG_CURRENT_NOW;
            break;
        case POWER_SUPPLY_PROP_CHARGE_FULL_DESIGN:
            reg = HW_FG_CHARGE_FULL_DESIGN;
            break;
        case POWER_SUPPLY_PROP_CAPACITY:
            reg = HW_FG_CAPACITY;
            break;
        case POWER_SUPPLY_PROP_TEMP:
            reg = HW_FG_TEMP;
            break;
        default:
            return -EINVAL;
    }
    return hw_fg_read(reg, &val->intval);
}

static const struct power_supply_desc fg_psy_desc = {
    .name = "battery",
    .type = POWER_SUPPLY_TYPE_BATTERY,
    .properties = fg_props,
    .num_properties = sizeof(fg_props) / sizeof(fg_props[0]),
    .get_property = fg_get_property,
};

// A gauge that does not answer reports a bus error.
static int fg_check_fg_status(struct fuel_gauge_dev *) {
    int word;

    if (hw_fg_read(HW_FG_STATUS_WORD, &word))
        return FG_STATUS_I2C_ERROR;
    return word;
}

static const struct fuel_gauge_ops fg_ops = {
    .check_fg_status = fg_check_fg_status,
};

static void fg_update_drvdata(struct fg_chip *chip) {
    int v;

    if (!hw_fg_read(HW_FG_VBUS_TYPE, &v))
        WRITE_ONCE(chip->drvdata.vbus_type, v);
    if (!hw_fg_read(HW_FG_RSOC, &v))
        WRITE_ONCE(chip->drvdata.rsoc, v);
    if (!hw_fg_read(HW_FG_TBOARD, &v))
        WRITE_ONCE(chip->drvdata.tboard, v);
}

static void fg_irq_work(struct work_struct *work) {
    struct fg_chip *chip = container_of(work, struct fg_chip, base.irq_work);
    int causes, word;

    if (hw_fg_read(HW_FG_INT, &causes))
        return;
    if (causes & HW_FG_INT_BATTERY) {
        fg_update_drvdata(chip);
        power_supply_changed(chip->base.psy);
    }
    if ((causes & HW_FG_INT_STATUS) && !hw_fg_read(HW_FG_STATUS_WORD, &word) &&
        (u32)word != chip->status_word) {
        chip->status_word = (u32)word;
        dv_fg_notifier_call_chain(FG_EVENT_STATUS_CHANGED, &chip->status_word);
    }
}

static const fg_chip_desc fg_desc = {
    .what = "fuel gauge",
    .name_prop = "fuel-gauge-name",
    .default_name = "fuel_gauge",
    .psy_desc = &fg_psy_desc,
    .irq = HW_IRQ_FG,
    .irq_work = fg_irq_work,
    .class_register = fuel_gauge_device_register,
    .class_unregister = fuel_gauge_device_unregister,
    .ops = &fg_ops,
};

static int fg_probe(struct platform_device *pdev) {
    struct fg_chip *chip;
    int word;

    chip = (struct fg_chip *)devm_kzalloc(&pdev->dev, sizeof(*chip), GFP_KERNEL);
    if (!chip)
        return -ENOMEM;
    // Readers of the supply's driver data may come as soon as it registers.
    if (!hw_fg_read(HW_FG_STATUS_WORD, &word))
        chip->status_word = (u32)word;
    fg_update_drvdata(chip);
    return charging_chip_probe(pdev, chip, &chip->base, &fg_desc, &chip->drvdata);
}

static int fg_remove(struct platform_device *pdev) {
    struct fg_chip *chip = (struct fg_chip *)platform_get_drvdata(pdev);

    charging_chip_remove(&chip->base);
    return 0;
}

static const struct of_device_id fg_of_match[] = {
    {.compatible = "phonesim,fuel-gauge"},
    {},
};
MODULE_DEVICE_TABLE(of, fg_of_match);

static struct platform_driver fg_driver = {
    .probe = fg_probe,
    .remove = fg_remove,
    .driver =
        {
            .name = "fuel_gauge",
            .of_match_table = fg_of_match,
        },
};
module_platform_driver(fg_driver);

MODULE_DESCRIPTION("Fuel gauge driver");
MODULE_LICENSE("GPL v2");
