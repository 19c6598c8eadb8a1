// Real model of drivers/power/supply/power_supply_sysfs.c (5.10): one attribute file per
// property the supply has (plus "type"), named as the property in lower case, read through the
// driver's get_property (enumerated properties as their text: "Charging", "Li-ion", ...,
// others as a decimal number) and written through set_property when the driver says the
// property is writeable; and the POWER_SUPPLY_* variables of the supply's uevents.
#include "simkernel/drivers/power/supply/power_supply_internal.h"

#include <platform/errno.h>
#include <platform/kstrtox.h>
#include <platform/stat.h>
#include <platform/string.h>
#include <platform/sysfs.h>

#include <array>
#include <cctype>
#include <cstdlib>
#include <string>

namespace sim::power_supply {
namespace {

constexpr int kNumProps = POWER_SUPPLY_PROP_SERIAL_NUMBER + 1;

// In the order of enum power_supply_property.
const char *const prop_names[kNumProps] = {
    "STATUS",
    "CHARGE_TYPE",
    "HEALTH",
    "PRESENT",
    "ONLINE",
    "AUTHENTIC",
    "TECHNOLOGY",
    "CYCLE_COUNT",
    "VOLTAGE_MAX",
    "VOLTAGE_MIN",
    "VOLTAGE_MAX_DESIGN",
    "VOLTAGE_MIN_DESIGN",
    "VOLTAGE_NOW",
    "VOLTAGE_AVG",
    "VOLTAGE_OCV",
    "VOLTAGE_BOOT",
    "CURRENT_MAX",
    "CURRENT_NOW",
    "CURRENT_AVG",
    "CURRENT_BOOT",
    "POWER_NOW",
    "POWER_AVG",
    "CHARGE_FULL_DESIGN",
    "CHARGE_EMPTY_DESIGN",
    "CHARGE_FULL",
    "CHARGE_EMPTY",
    "CHARGE_NOW",
    "CHARGE_AVG",
    "CHARGE_COUNTER",
    "CONSTANT_CHARGE_CURRENT",
    "CONSTANT_CHARGE_CURRENT_MAX",
    "CONSTANT_CHARGE_VOLTAGE",
    "CONSTANT_CHARGE_VOLTAGE_MAX",
    "CHARGE_CONTROL_LIMIT",
    "CHARGE_CONTROL_LIMIT_MAX",
    "CHARGE_CONTROL_START_THRESHOLD",
    "CHARGE_CONTROL_END_THRESHOLD",
    "INPUT_CURRENT_LIMIT",
    "INPUT_VOLTAGE_LIMIT",
    "INPUT_POWER_LIMIT",
    "ENERGY_FULL_DESIGN",
    "ENERGY_EMPTY_DESIGN",
    "ENERGY_FULL",
    "ENERGY_EMPTY",
    "ENERGY_NOW",
    "ENERGY_AVG",
    "CAPACITY",
    "CAPACITY_ALERT_MIN",
    "CAPACITY_ALERT_MAX",
    "CAPACITY_ERROR_MARGIN",
    "CAPACITY_LEVEL",
    "TEMP",
    "TEMP_MAX",
    "TEMP_MIN",
    "TEMP_ALERT_MIN",
    "TEMP_ALERT_MAX",
    "TEMP_AMBIENT",
    "TEMP_AMBIENT_ALERT_MIN",
    "TEMP_AMBIENT_ALERT_MAX",
    "TIME_TO_EMPTY_NOW",
    "TIME_TO_EMPTY_AVG",
    "TIME_TO_FULL_NOW",
    "TIME_TO_FULL_AVG",
    "TYPE",
    "USB_TYPE",
    "SCOPE",
    "PRECHARGE_CURRENT",
    "CHARGE_TERM_CURRENT",
    "CALIBRATE",
    "MANUFACTURE_YEAR",
    "MANUFACTURE_MONTH",
    "MANUFACTURE_DAY",
    "MODEL_NAME",
    "MANUFACTURER",
    "SERIAL_NUMBER",
};

struct TextValues {
    const char *const *text;
    int count;
};

const char *const type_text[] = {"Unknown",    "Battery", "UPS",     "Mains", "USB",
                                 "USB_DCP",    "USB_CDP", "USB_ACA", "USB_C", "USB_PD",
                                 "USB_PD_DRP", "BrickID", "Wireless"};
const char *const status_text[] = {"Unknown", "Charging", "Discharging", "Not charging", "Full"};
const char *const charge_type_text[] = {"Unknown",  "N/A",      "Trickle", "Fast",
                                        "Standard", "Adaptive", "Custom"};
const char *const health_text[] = {"Unknown",
                                   "Good",
                                   "Overheat",
                                   "Dead",
                                   "Over voltage",
                                   "Unspecified failure",
                                   "Cold",
                                   "Watchdog timer expire",
                                   "Safety timer expire",
                                   "Over current",
                                   "Calibration required",
                                   "Warm",
                                   "Cool",
                                   "Hot"};
const char *const technology_text[] = {"Unknown", "NiMH", "Li-ion", "Li-poly",
                                       "LiFe",    "NiCd", "LiMn"};
const char *const capacity_level_text[] = {"Unknown", "Critical", "Low", "Normal", "High", "Full"};
const char *const scope_text[] = {"Unknown", "System", "Device"};

#define TEXT(a)                          \
    TextValues {                         \
        a, int(sizeof(a) / sizeof(a[0])) \
    }

TextValues text_values(int prop) {
    switch (prop) {
        case POWER_SUPPLY_PROP_TYPE:
            return TEXT(type_text);
        case POWER_SUPPLY_PROP_STATUS:
            return TEXT(status_text);
        case POWER_SUPPLY_PROP_CHARGE_TYPE:
            return TEXT(charge_type_text);
        case POWER_SUPPLY_PROP_HEALTH:
            return TEXT(health_text);
        case POWER_SUPPLY_PROP_TECHNOLOGY:
            return TEXT(technology_text);
        case POWER_SUPPLY_PROP_CAPACITY_LEVEL:
            return TEXT(capacity_level_text);
        case POWER_SUPPLY_PROP_SCOPE:
            return TEXT(scope_text);
        default:
            return {nullptr, 0};
    }
}

bool is_string_prop(int prop) {
    return prop == POWER_SUPPLY_PROP_MODEL_NAME || prop == POWER_SUPPLY_PROP_MANUFACTURER ||
           prop == POWER_SUPPLY_PROP_SERIAL_NUMBER;
}

struct PsyAttrs {
    std::array<std::string, kNumProps> names;
    std::array<struct device_attribute, kNumProps> dev_attrs{};
    std::array<struct attribute *, kNumProps + 1> attrs{};
    struct attribute_group group {};
    const struct attribute_group *groups[2] = {&group, nullptr};
};

int attr_index(const struct device_attribute *attr);

ssize_t show_property(struct device *dev, struct device_attribute *attr, char *buf) {
    auto *psy = static_cast<struct power_supply *>(dev_get_drvdata(dev));
    int prop = attr_index(attr);
    union power_supply_propval value = {};

    if (prop == POWER_SUPPLY_PROP_TYPE) {
        value.intval = psy->desc->type;
    } else {
        int ret = power_supply_get_property(psy, (enum power_supply_property)prop, &value);
        if (ret < 0) {
            if (ret != -ENODATA && ret != -ENODEV && ret != -EAGAIN)
                dev_err(dev, "driver failed to report `%s' property: %d\n", attr->attr.name, ret);
            return ret;
        }
    }
    TextValues tv = text_values(prop);
    if (tv.count > 0 && value.intval >= 0 && value.intval < tv.count)
        return sysfs_emit(buf, "%s\n", tv.text[value.intval]);
    if (is_string_prop(prop))
        return sysfs_emit(buf, "%s\n", value.strval ? value.strval : "");
    return sysfs_emit(buf, "%d\n", value.intval);
}

ssize_t store_property(struct device *dev, struct device_attribute *attr, const char *buf,
                       size_t count) {
    auto *psy = static_cast<struct power_supply *>(dev_get_drvdata(dev));
    int prop = attr_index(attr);
    union power_supply_propval value = {};
    TextValues tv = text_values(prop);
    int ret = -EINVAL;

    for (int i = 0; i < tv.count; i++)
        if (sysfs_streq(buf, tv.text[i])) {
            value.intval = i;
            ret = 0;
        }
    if (ret) {
        long l;
        ret = kstrtol(buf, 10, &l);
        if (ret < 0)
            return ret;
        value.intval = (int)l;
    }
    ret = power_supply_set_property(psy, (enum power_supply_property)prop, &value);
    if (ret < 0)
        return ret;
    return count;
}

umode_t attr_is_visible(struct kobject *kobj, struct attribute *attr, int attrno) {
    struct device *dev = kobj_to_dev(kobj);
    auto *psy = static_cast<struct power_supply *>(dev_get_drvdata(dev));
    umode_t mode = S_IRUSR | S_IRGRP | S_IROTH;
    (void)attr;

    if (attrno == POWER_SUPPLY_PROP_TYPE)
        return mode;
    for (size_t i = 0; i < psy->desc->num_properties; i++) {
        if ((int)psy->desc->properties[i] != attrno)
            continue;
        if (psy->desc->property_is_writeable &&
            psy->desc->property_is_writeable(psy, (enum power_supply_property)attrno) > 0)
            mode |= S_IWUSR;
        return mode;
    }
    return 0;
}

PsyAttrs &psy_attrs() {
    static PsyAttrs *a = [] {
        auto *p = new PsyAttrs;
        for (int i = 0; i < kNumProps; i++) {
            std::string n = prop_names[i];
            for (char &c : n)
                c = (char)std::tolower((unsigned char)c);
            p->names[i] = n;
            p->dev_attrs[i].attr.name = p->names[i].c_str();
            p->dev_attrs[i].attr.mode = 0644;
            p->dev_attrs[i].show = show_property;
            p->dev_attrs[i].store = store_property;
            p->attrs[i] = &p->dev_attrs[i].attr;
        }
        p->attrs[kNumProps] = nullptr;
        p->group.is_visible = attr_is_visible;
        p->group.attrs = p->attrs.data();
        return p;
    }();
    return *a;
}

int attr_index(const struct device_attribute *attr) {
    return (int)(attr - psy_attrs().dev_attrs.data());
}

int add_prop_uevent(struct device *dev, struct kobj_uevent_env *env, int prop, char *buf) {
    ssize_t ret = show_property(dev, &psy_attrs().dev_attrs[prop], buf);
    // An absent battery reports -ENODEV: the uevent still goes out with what there is.
    if (ret == -ENODEV || ret == -ENODATA)
        return 0;
    if (ret < 0)
        return (int)ret;
    char *nl = strchr(buf, '\n');
    if (nl)
        *nl = 0;
    return add_uevent_var(env, "POWER_SUPPLY_%s=%s", prop_names[prop], buf);
}

}  // namespace

struct device_type power_supply_dev_type = {nullptr, psy_attrs().groups, nullptr, nullptr};

int power_supply_uevent(struct device *dev, struct kobj_uevent_env *env) {
    auto *psy = static_cast<struct power_supply *>(dev_get_drvdata(dev));
    if (!psy || !psy->desc)
        return 0;
    int ret = add_uevent_var(env, "POWER_SUPPLY_NAME=%s", psy->desc->name);
    if (ret)
        return ret;
    // get_zeroed_page(): show routines format into a whole page.
    auto *page = static_cast<char *>(std::aligned_alloc(PAGE_SIZE, PAGE_SIZE));
    if (!page)
        return -ENOMEM;
    for (size_t i = 0; i < psy->desc->num_properties && !ret; i++) {
        memset(page, 0, PAGE_SIZE);
        ret = add_prop_uevent(dev, env, psy->desc->properties[i], page);
    }
    std::free(page);
    return ret;
}

}  // namespace sim::power_supply
