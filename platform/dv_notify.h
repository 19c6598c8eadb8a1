// The charging stack's notifier chains (module dv_notify): the charge pump's fault events,
// the fuel gauge's events and the charger manager's adapter and charging events. Drivers of
// the stack notify; listeners such as chgsentry join with a notifier block.
#pragma once

#include <platform/notifier.h>

// Charge-pump chain codes.
enum dv_chargerpump_event {
    CP_EVENT_VBUS_OVP = 0,
    CP_EVENT_VBAT_OVP = 1,
    CP_EVENT_IBUS_OCP = 8,
    CP_EVENT_VAC_OVP = 13,
    CP_EVENT_TDIE_FAULT = 14,
};

// Fuel-gauge chain codes; data points at the gauge's new status word (u32).
enum dv_fg_event {
    FG_EVENT_STATUS_CHANGED = 0,
};

// Charger-manager chain codes; 3 to 5 carry one data byte (a u8 pointed at by data).
enum dv_chargermanager_event {
    CM_EVENT_ADAPTER_PLUGOUT = 0,
    CM_EVENT_ADAPTER_PLUGIN = 1,
    CM_EVENT_SMART_ENDURA_TRIG = 3,
    CM_EVENT_LPD = 4,
    CM_EVENT_CHARGER_ENABLE = 5,
    CM_EVENT_VBUS_UVLO = 6,
    CM_EVENT_CP_IBAT_OCP = 7,
};

extern "C" {
// 0 or a negative errno; the callback then runs for every event of the chain.
int dv_chargerpump_notifier_register(struct notifier_block *nb);
int dv_chargerpump_notifier_unregister(struct notifier_block *nb);
int dv_fg_notifier_register(struct notifier_block *nb);
int dv_fg_notifier_unregister(struct notifier_block *nb);
int dv_chargermanager_notifier_register(struct notifier_block *nb);
int dv_chargermanager_notifier_unregister(struct notifier_block *nb);

// For the stack's drivers: run a chain (process context).
int dv_chargerpump_notifier_call_chain(unsigned long event, void *data);
int dv_fg_notifier_call_chain(unsigned long event, void *data);
int dv_chargermanager_notifier_call_chain(unsigned long event, void *data);
}
