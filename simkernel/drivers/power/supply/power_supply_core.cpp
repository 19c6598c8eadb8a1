// Real model of the power-supply class core (drivers/power/supply/power_supply_core.c, 5.10):
// registration as a device of the class "power_supply" with its attribute files, the deferred
// first change notification, power_supply_changed() coalescing into the class's change work on
// the system workqueue (supplicants' external_power_changed, the atomic power-supply notifier
// chain with PSY_EVENT_PROP_CHANGED, then a change uevent), lookups by name with a use count,
// and property reads that fail with -EAGAIN before registration completes and -ENODEV once
// the supply is going. No thermal zones, cooling devices or LED triggers.
#include "simkernel/drivers/power/supply/power_supply_internal.h"

#include <platform/err.h>
#include <platform/errno.h>
#include <platform/jiffies.h>
#include <platform/power_supply.h>
#include <platform/string.h>

#include <mutex>

// The deferred registration work runs this long after registration, as 5.10's
// POWER_SUPPLY_DEFERRED_REGISTER_TIME.
#define POWER_SUPPLY_DEFERRED_REGISTER_MS 10

namespace sim::power_supply {
namespace {

std::mutex class_lock;

int use_count(const struct power_supply *psy) {
    return __atomic_load_n(&psy->use_cnt, __ATOMIC_SEQ_CST);
}

bool is_supplied_by(struct power_supply *supplier, struct power_supply *supply) {
    for (size_t i = 0; i < supplier->num_supplicants; i++)
        if (!strcmp(supplier->supplied_to[i], supply->desc->name))
            return true;
    return false;
}

int changed_one(struct device *dev, void *data) {
    auto *supplier = static_cast<struct power_supply *>(data);
    auto *psy = static_cast<struct power_supply *>(dev_get_drvdata(dev));
    if (psy && psy != supplier && is_supplied_by(supplier, psy) &&
        psy->desc->external_power_changed)
        psy->desc->external_power_changed(psy);
    return 0;
}

void changed_work(struct work_struct *work) {
    PsyHost *host = container_of(work, PsyHost, changed_work);
    struct power_supply *psy = &host->psy;
    unsigned long flags;

    spin_lock_irqsave(&host->changed_lock, flags);
    // A change noted while the work was queued but before it ran is handled by this run; one
    // noted while the chain runs queues the work again.
    if (psy->changed) {
        psy->changed = false;
        spin_unlock_irqrestore(&host->changed_lock, flags);
        class_for_each_device(power_supply_class, nullptr, psy, changed_one);
        atomic_notifier_call_chain(&power_supply_notifier, PSY_EVENT_PROP_CHANGED, psy);
        kobject_uevent(&psy->dev.kobj, KOBJ_CHANGE);
        spin_lock_irqsave(&host->changed_lock, flags);
    }
    spin_unlock_irqrestore(&host->changed_lock, flags);
}

void deferred_register_work(struct work_struct *work) {
    PsyHost *host = container_of(to_delayed_work(work), PsyHost, deferred_register_work);
    power_supply_changed(&host->psy);
}

void psy_release(struct device *dev) {
    delete container_of(dev, PsyHost, psy.dev);
}

int match_name(struct device *dev, const void *data) {
    auto *psy = static_cast<struct power_supply *>(dev_get_drvdata(dev));
    return psy && !strcmp(psy->desc->name, static_cast<const char *>(data));
}

struct power_supply *do_register(struct device *parent, const struct power_supply_desc *desc,
                                 const struct power_supply_config *cfg) {
    if (!desc || !desc->name || !desc->get_property || (!desc->properties && desc->num_properties))
        return static_cast<struct power_supply *>(ERR_PTR(-EINVAL));
    if (!parent)
        pr_warn("%s: Expected proper parent device for '%s'\n", __func__, desc->name);
    struct class_ *cls = class_get();
    if (IS_ERR(cls))
        return static_cast<struct power_supply *>(ERR_PTR(PTR_ERR(cls)));

    auto *host = new PsyHost;
    struct power_supply *psy = &host->psy;
    struct device *dev = &psy->dev;
    device_initialize(dev);
    dev->class_ = cls;
    dev->type = &power_supply_dev_type;
    dev->parent = parent;
    dev->release = psy_release;
    dev_set_drvdata(dev, psy);
    psy->desc = desc;
    psy->sim_priv = host;
    if (cfg) {
        dev->groups = cfg->attr_grp;
        psy->drv_data = cfg->drv_data;
        psy->of_node = cfg->of_node;
        psy->supplied_to = cfg->supplied_to;
        psy->num_supplicants = cfg->num_supplicants;
    }
    int rc = dev_set_name(dev, "%s", desc->name);
    if (rc)
        goto err_put;
    spin_lock_init(&host->changed_lock);
    INIT_WORK(&host->changed_work, changed_work);
    INIT_DELAYED_WORK(&host->deferred_register_work, deferred_register_work);
    rc = device_add(dev);
    if (rc)
        goto err_put;
    __atomic_add_fetch(&psy->use_cnt, 1, __ATOMIC_SEQ_CST);
    psy->initialized = true;
    queue_delayed_work(system_power_efficient_wq ? system_power_efficient_wq : system_wq,
                       &host->deferred_register_work,
                       msecs_to_jiffies(POWER_SUPPLY_DEFERRED_REGISTER_MS));
    return psy;

err_put:
    put_device(dev);
    return static_cast<struct power_supply *>(ERR_PTR(rc));
}

void devm_psy_release(struct device *, void *res) {
    power_supply_unregister(*static_cast<struct power_supply **>(res));
}

}  // namespace

struct class_ *class_get() {
    std::lock_guard g(class_lock);
    if (!power_supply_class) {
        struct class_ *cls = class_create(nullptr, "power_supply");
        if (IS_ERR(cls))
            return cls;
        cls->dev_uevent = power_supply_uevent;
        power_supply_class = cls;
    }
    return power_supply_class;
}

}  // namespace sim::power_supply

using namespace sim::power_supply;

extern "C" {

struct class_ *power_supply_class;
ATOMIC_NOTIFIER_HEAD(power_supply_notifier);

struct power_supply *power_supply_register(struct device *parent,
                                           const struct power_supply_desc *desc,
                                           const struct power_supply_config *cfg) {
    return do_register(parent, desc, cfg);
}

struct power_supply *devm_power_supply_register(struct device *parent,
                                                const struct power_supply_desc *desc,
                                                const struct power_supply_config *cfg) {
    auto **ptr = static_cast<struct power_supply **>(
        devres_alloc(devm_psy_release, sizeof(struct power_supply *), GFP_KERNEL));
    if (!ptr)
        return static_cast<struct power_supply *>(ERR_PTR(-ENOMEM));
    struct power_supply *psy = do_register(parent, desc, cfg);
    if (IS_ERR(psy)) {
        devres_free(ptr);
        return psy;
    }
    *ptr = psy;
    devres_add(parent, ptr);
    return psy;
}

void power_supply_unregister(struct power_supply *psy) {
    if (IS_ERR_OR_NULL(psy))
        return;
    auto *host = static_cast<PsyHost *>(psy->sim_priv);
    if (__atomic_sub_fetch(&psy->use_cnt, 1, __ATOMIC_SEQ_CST))
        sim::fs::warn("drivers/power/supply/power_supply_core.c", "power_supply_unregister",
                      "power supply %s unregistered while still in use\n", psy->desc->name);
    psy->removing = true;
    cancel_work_sync(&host->changed_work);
    cancel_delayed_work_sync(&host->deferred_register_work);
    device_unregister(&psy->dev);
}

struct power_supply *power_supply_get_by_name(const char *name) {
    if (!name || !power_supply_class)
        return nullptr;
    struct device *dev = class_find_device(power_supply_class, nullptr, name, match_name);
    if (!dev)
        return nullptr;
    auto *psy = static_cast<struct power_supply *>(dev_get_drvdata(dev));
    __atomic_add_fetch(&psy->use_cnt, 1, __ATOMIC_SEQ_CST);
    return psy;
}

void power_supply_put(struct power_supply *psy) {
    if (!psy)
        return;
    __atomic_sub_fetch(&psy->use_cnt, 1, __ATOMIC_SEQ_CST);
    put_device(&psy->dev);
}

int power_supply_get_property(struct power_supply *psy, enum power_supply_property psp,
                              union power_supply_propval *val) {
    if (!psy || !val)
        return -EINVAL;
    if (use_count(psy) <= 0) {
        if (!psy->initialized)
            return -EAGAIN;
        return -ENODEV;
    }
    return psy->desc->get_property(psy, psp, val);
}

int power_supply_set_property(struct power_supply *psy, enum power_supply_property psp,
                              const union power_supply_propval *val) {
    if (!psy || !val)
        return -EINVAL;
    if (use_count(psy) <= 0 || !psy->desc->set_property)
        return -ENODEV;
    return psy->desc->set_property(psy, psp, val);
}

void *power_supply_get_drvdata(struct power_supply *psy) {
    return psy ? psy->drv_data : nullptr;
}

void power_supply_changed(struct power_supply *psy) {
    if (!psy)
        return;
    auto *host = static_cast<PsyHost *>(psy->sim_priv);
    unsigned long flags;
    spin_lock_irqsave(&host->changed_lock, flags);
    psy->changed = true;
    spin_unlock_irqrestore(&host->changed_lock, flags);
    schedule_work(&host->changed_work);
}

int power_supply_reg_notifier(struct notifier_block *nb) {
    return atomic_notifier_chain_register(&power_supply_notifier, nb);
}

void power_supply_unreg_notifier(struct notifier_block *nb) {
    atomic_notifier_chain_unregister(&power_supply_notifier, nb);
}

}  // extern "C"
