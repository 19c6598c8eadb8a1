// The uevent environments of chgnotify: which event types are supported and the strings they
// carry. Plain logic over one constant table; nothing here touches the device or the lock.
#include "chgnotify/chgnotify.h"

#include <platform/errno.h>
#include <platform/string.h>

const char *const chgnotify_prefix_str[11] = {
    "CHG_UEVENT_DEFAULT_TYPE",
    "POWER_SUPPLY_SOC_DECIMAL=",
    "POWER_SUPPLY_SOC_DECIMAL_RATE=",
    "POWER_SUPPLY_QUICK_CHARGE_TYPE=",
    "POWER_SUPPLY_SHUTDOWN_DELAY=",
    "POWER_SUPPLY_CONNECTOR_TEMP=",
    "POWER_SUPPLY_NTC_ALARM=",
    "POWER_SUPPLY_MOISTURE_DET_STS=",
    "POWER_SUPPLY_REVERSE_QUICK_CHARGE=",
    nullptr,
    "POWER_SUPPLY_CC_SHORT_VBUS",
};

int chg_uevent_build(int event_type, int event_value, char *buf) {
    memset(buf, 0, CHG_UEVENT_STR_LEN);
    // Types 1 to 8 in one unsigned comparison; negative types wrap far above 8.
    if ((unsigned int)event_type - 1u < 8u) {
        snprintf(buf, CHG_UEVENT_STR_LEN, "%s%d", chgnotify_prefix_str[event_type], event_value);
        return 0;
    }
    if (event_type == 10 || event_type == 0) {
        strscpy(buf, chgnotify_prefix_str[event_type], CHG_UEVENT_STR_LEN);
        return 0;
    }
    return -EINVAL;
}

int chg_uevent_bundle_nr_values(int bundle_type) {
    return bundle_type == 0 ? 3 : -EINVAL;
}

int chg_uevent_bundle_build(int bundle_type, const int *values, struct chg_uevent_bundle *b) {
    // Slot i of bundle 0 takes values[i] behind the table entry of the type it names.
    static const int qc_soc_types[] = {3, 1, 2};

    memset(b, 0, sizeof(*b));
    if (bundle_type != 0)
        return -EINVAL;
    for (int i = 0; i < 3; i++) {
        snprintf(b->str[i], CHG_UEVENT_STR_LEN, "%s%d", chgnotify_prefix_str[qc_soc_types[i]],
                 values[i]);
        b->envp[i] = b->str[i];
    }
    return 3;
}
