// Charging uevents for the phone's charging drivers: one change uevent on the chgnotify device
// per call, carrying environment strings built from an event type and its values. Both calls
// take a mutex, so they may sleep: process context only. GPL-only exports.
#pragma once

// The event types of vq_charge_uevent_report(). Types 1 to 8 carry their value as
// "NAME=value"; types 0 and 10 are sent as the bare name and ignore the value. 9 is no type.
enum chg_uevent_type {
    CHG_UEVENT_DEFAULT = 0,
    CHG_UEVENT_SOC_DECIMAL = 1,
    CHG_UEVENT_SOC_DECIMAL_RATE = 2,
    CHG_UEVENT_QUICK_CHARGE_TYPE = 3,
    CHG_UEVENT_SHUTDOWN_DELAY = 4,
    CHG_UEVENT_CONNECTOR_TEMP = 5,
    CHG_UEVENT_NTC_ALARM = 6,
    CHG_UEVENT_MOISTURE_DET_STS = 7,
    CHG_UEVENT_REVERSE_QUICK_CHARGE = 8,
    CHG_UEVENT_CC_SHORT_VBUS = 10,
    CHG_UEVENT_TYPE_MAX = 11,
};

// The bundle types of vq_charge_uevents_bundle_report().
enum chg_uevent_bundle_type {
    // Three int arguments: quick-charge type, state-of-charge decimal, its rate.
    CHG_UEVENT_BUNDLE_QC_SOC = 0,
};

extern "C" {
// 0 once the uevent is handed to the kernel; -EFAULT while no chgnotify device is bound;
// -EINVAL for an unsupported event type (nothing is sent).
int vq_charge_uevent_report(int event_type, int event_value);
// The same for a bundle: one uevent carrying every string of the bundle. The variable
// arguments are read only for a supported bundle type.
int vq_charge_uevents_bundle_report(int bundle_type, ...);
}
