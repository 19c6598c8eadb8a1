// What chgsentry uses of the charging stack: the charger, charge-pump, adapter and fuel-gauge
// classes, their notifier chains, the board-information record, the battery's driver data and
// the event channel. All of it lives in modules loaded before chgsentry.
#pragma once

#include <platform/adapter_class.h>
#include <platform/charger_class.h>
#include <platform/chargerpump_class.h>
#include <platform/dv_notify.h>
#include <platform/fuel_gauge_class.h>
#include <platform/pcba.h>
#include <platform/power_supply.h>
#include <platform/zoev.h>

// Devices of the stack, by the names their drivers register.
#define CHG_DFS_PRIMARY_CHG_NAME "primary_chg"
#define CHG_DFS_MASTER_CP_NAME "master_cp_chg"
#define CHG_DFS_PD_ADAPTER_NAME "pd_adapter"
#define CHG_DFS_FUEL_GAUGE_NAME "fuel_gauge"

// Power supplies whose changes carry values.
#define CHG_DFS_PSY_USB "usb"
#define CHG_DFS_PSY_BATTERY "battery"
#define CHG_DFS_PSY_CP_MASTER "sc-cp-master"

// SVID the maker's own PD adapters report. A placeholder: the product fills in its USB vendor
// id here; only its own adapters are expected to pass PD authentication.
#define OWN_PD_SVID 0xF5A1
