// The common part of the charging chips' drivers (hw/charging.h): a platform device with an
// optional power supply, a device in one of the by-name classes and an interrupt line whose
// handler defers to a work item. Each driver keeps its own chip structure around a
// struct charging_chip and describes itself with a struct charging_chip_desc; this header only
// spares the drivers writing the same probe and remove.
#pragma once

#include <platform/device.h>
#include <platform/err.h>
#include <platform/of.h>
#include <platform/platform_device.h>
#include <platform/power_supply.h>
#include <platform/workqueue.h>

#include "hw/charging.h"

// D is the class's device, Ops its operations.
template <typename D, typename Ops>
struct charging_chip_desc {
    const char *what;          // the kind of chip, in the log line of a bound driver
    const char *name_prop;     // the device-tree property that names the class device
    const char *default_name;  // its name without the property
    const struct power_supply_desc *psy_desc;  // null: the chip has no supply
    enum hw_irq_line irq;
    work_func_t irq_work;
    D *(*class_register)(const char *name, struct device *parent, void *driver_data,
                         const Ops *ops);
    void (*class_unregister)(D *d);
    const Ops *ops;
    // Optional: runs once the class device is registered, before the interrupt can fire.
    void (*registered)(void *drvdata);
};

template <typename D, typename Ops>
struct charging_chip {
    struct device *dev;
    struct power_supply *psy;
    D *cdev;
    struct work_struct irq_work;
    const struct charging_chip_desc<D, Ops> *desc;
};

// The handler runs in the context that raised the interrupt and must not sleep: the bus reads
// are the work's.
static inline void charging_chip_irq_handler(void *data) {
    schedule_work((struct work_struct *)data);
}

// Binds the chip whose driver data drvdata (zeroed, device-managed) holds *chip: registers
// its supply with psy_data as the supply's driver data, its class device and its interrupt,
// undoing what was done on failure.
template <typename D, typename Ops>
static inline int charging_chip_probe(struct platform_device *pdev, void *drvdata,
                                      struct charging_chip<D, Ops> *chip,
                                      const struct charging_chip_desc<D, Ops> *desc,
                                      void *psy_data) {
    struct power_supply_config cfg = {};
    const char *name = desc->default_name;
    int ret;

    chip->dev = &pdev->dev;
    chip->desc = desc;
    INIT_WORK(&chip->irq_work, desc->irq_work);
    of_property_read_string(pdev->dev.of_node, desc->name_prop, &name);
    platform_set_drvdata(pdev, drvdata);

    if (desc->psy_desc) {
        cfg.of_node = pdev->dev.of_node;
        cfg.drv_data = psy_data;
        chip->psy = power_supply_register(&pdev->dev, desc->psy_desc, &cfg);
        if (IS_ERR(chip->psy))
            return (int)PTR_ERR(chip->psy);
    }

    chip->cdev = desc->class_register(name, &pdev->dev, drvdata, desc->ops);
    if (IS_ERR(chip->cdev)) {
        ret = (int)PTR_ERR(chip->cdev);
        goto err_psy;
    }
    if (desc->registered)
        desc->registered(drvdata);
    ret = hw_request_irq(desc->irq, charging_chip_irq_handler, &chip->irq_work);
    if (ret)
        goto err_cdev;
    dev_info(&pdev->dev, "%s %s registered\n", desc->what, name);
    return 0;

err_cdev:
    desc->class_unregister(chip->cdev);
err_psy:
    if (desc->psy_desc)
        power_supply_unregister(chip->psy);
    return ret;
}

// Unbinds: no interrupt and no work can run once the devices go.
template <typename D, typename Ops>
static inline void charging_chip_remove(struct charging_chip<D, Ops> *chip) {
    hw_free_irq(chip->desc->irq);
    cancel_work_sync(&chip->irq_work);
    chip->desc->class_unregister(chip->cdev);
    if (chip->desc->psy_desc)
        power_supply_unregister(chip->psy);
}
