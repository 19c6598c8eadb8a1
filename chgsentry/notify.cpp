// Notifier callbacks: the charging stack's values and fault flags, kept in the record for the
// condition check. They report nothing themselves and run in the notifying drivers' contexts,
// concurrently with the check and the report pass, so every store is a single-word store.
#include "chg_dfs.h"

#include <platform/compiler.h>
#include <platform/string.h>

static inline struct chg_dfs *nb_to_chg_dfs_psy(struct notifier_block *nb) {
    return container_of(nb, struct chg_dfs, psy_nb);
}

// The adapter's identity and PD authentication, refreshed on any supply change.
static void chg_dfs_update_adapter(struct chg_dfs *chg) {
    struct adapter_device *adapter = chg->pd_adapter;
    bool verified = false;
    int ret;

    WRITE_ONCE(chg->adapter_svid, (int)READ_ONCE(adapter->adapter_svid));
    ret = adapter_get_usbpd_verifed(adapter, &verified);
    if (ret < 0)
        chg_dfs_err_in("chg_dfs_psy_notifier_call", "Couldn't get usbpd verifed ret=%d\n", ret);
    WRITE_ONCE(chg->pd_verify_done, (int)READ_ONCE(adapter->verify_done));
    WRITE_ONCE(chg->pd_auth_fail, (int)verified ^ 1);
}

// Reads one integer property into *field; false when the read failed (the field is kept).
static bool chg_dfs_read_prop(struct power_supply *psy, enum power_supply_property psp,
                              int *field) {
    union power_supply_propval val = {};

    if (power_supply_get_property(psy, psp, &val))
        return false;
    WRITE_ONCE(*field, val.intval);
    return true;
}

int chg_dfs_psy_notifier_call(struct notifier_block *nb, unsigned long event, void *data) {
    struct chg_dfs *chg = nb_to_chg_dfs_psy(nb);
    struct power_supply *psy = (struct power_supply *)data;
    struct dv_battery_drvdata *drvdata;
    const char *name;
    int tbat, vbat;

    drvdata = (struct dv_battery_drvdata *)power_supply_get_drvdata(psy);
    if (event != PSY_EVENT_PROP_CHANGED)
        return NOTIFY_OK;

    chg_dfs_update_adapter(chg);

    name = psy->desc->name;
    if (!strcmp(name, CHG_DFS_PSY_USB)) {
        if (!chg_dfs_read_prop(psy, POWER_SUPPLY_PROP_VOLTAGE_NOW, &chg->vbus))
            return NOTIFY_DONE;
    } else if (!strcmp(name, CHG_DFS_PSY_BATTERY)) {
        // Each value is kept as soon as it is read; the first failed read ends the update.
        if (!chg_dfs_read_prop(psy, POWER_SUPPLY_PROP_CYCLE_COUNT, &chg->cycle_cnt) ||
            !chg_dfs_read_prop(psy, POWER_SUPPLY_PROP_TEMP, &chg->tbat) ||
            !chg_dfs_read_prop(psy, POWER_SUPPLY_PROP_AUTHENTIC, &chg->batt_auth) ||
            !chg_dfs_read_prop(psy, POWER_SUPPLY_PROP_CAPACITY, &chg->soc) ||
            !chg_dfs_read_prop(psy, POWER_SUPPLY_PROP_STATUS, &chg->chip_chg_status) ||
            !chg_dfs_read_prop(psy, POWER_SUPPLY_PROP_VOLTAGE_NOW, &chg->vbat))
            return NOTIFY_OK;

        if (drvdata) {
            WRITE_ONCE(chg->vbus_type, READ_ONCE(drvdata->vbus_type));
            WRITE_ONCE(chg->rsoc, READ_ONCE(drvdata->rsoc));
            WRITE_ONCE(chg->tboard, READ_ONCE(drvdata->tboard));
        }
        // The battery supply's change work is the only writer of the extremes.
        tbat = READ_ONCE(chg->tbat);
        vbat = READ_ONCE(chg->vbat);
        if (tbat > READ_ONCE(chg->tbat_max))
            WRITE_ONCE(chg->tbat_max, tbat);
        if (tbat < READ_ONCE(chg->tbat_min))
            WRITE_ONCE(chg->tbat_min, tbat);
        if (vbat > READ_ONCE(chg->vbat_max))
            WRITE_ONCE(chg->vbat_max, vbat);
    } else if (!strcmp(name, CHG_DFS_PSY_CP_MASTER)) {
        chg_dfs_read_prop(psy, POWER_SUPPLY_PROP_TEMP, &chg->tdie_temp);
    }
    return NOTIFY_DONE;
}

int chg_cp_charger_notifier_call(struct notifier_block *nb, unsigned long event, void *data) {
    struct chg_dfs *chg = container_of(nb, struct chg_dfs, cp_nb);
    (void)data;

    switch (event) {
        case CP_EVENT_VBUS_OVP:
            chg_dfs_info("cp master vbus ovp triggered\n");
            WRITE_ONCE(chg->cp_vbus_ovp, 1);
            break;
        case CP_EVENT_VBAT_OVP:
            chg_dfs_info("cp master vbat ovp triggered\n");
            WRITE_ONCE(chg->cp_vbat_ovp, 1);
            break;
        case CP_EVENT_IBUS_OCP:
            chg_dfs_info("cp master ibus ocp triggered\n");
            WRITE_ONCE(chg->cp_ibus_ocp, 1);
            break;
        case CP_EVENT_VAC_OVP:
            chg_dfs_info("cp master vac ovp triggered\n");
            WRITE_ONCE(chg->cp_vac_ovp, 1);
            break;
        case CP_EVENT_TDIE_FAULT:
            chg_dfs_info("cp master tdie fault triggered\n");
            WRITE_ONCE(chg->cp_tdie_fault, 1);
            break;
        default:
            chg_dfs_info("receive event not support: %lu\n", event);
            break;
    }
    return NOTIFY_DONE;
}

// Nothing on the fuel-gauge chain matters here: its status is polled by the check.
int chg_dfs_fg_notifier_call(struct notifier_block *nb, unsigned long event, void *data) {
    (void)nb;
    (void)event;
    (void)data;
    return NOTIFY_DONE;
}

// A plug-in starts a new charging session: the count gates start over, except the cycle
// milestone's, which belongs to the battery rather than to a session.
static void chg_dfs_adapter_plugin(struct chg_dfs *chg) {
    for (int i = 0; i < DFX_EVT_MAX; i++) {
        if (dfx_evt_cond[i].dfx_type != DFX_CHG_BATT_CYCLE)
            WRITE_ONCE(dfx_evt_cond[i].report_cnt, 0);
    }
    WRITE_ONCE(chg->check_interval_ms, CHG_DFS_CHECK_INTERVAL_CHARGING_MS);
    WRITE_ONCE(chg->is_charging, 1);
}

// A plug-out ends the session: its faults go with it.
static void chg_dfs_adapter_plugout(struct chg_dfs *chg) {
    WRITE_ONCE(chg->is_charging, 0);
    WRITE_ONCE(chg->cp_ibat_ocp, 0);
    WRITE_ONCE(chg->cp_ibus_ocp, 0);
    WRITE_ONCE(chg->cp_vbus_ovp, 0);
    WRITE_ONCE(chg->cp_vbat_ovp, 0);
    WRITE_ONCE(chg->cp_vac_ovp, 0);
    WRITE_ONCE(chg->cp_tdie_fault, 0);
    WRITE_ONCE(chg->cp_en_fail, 0);
    WRITE_ONCE(chg->vbus_uvlo, 0);
    WRITE_ONCE(chg->check_interval_ms, CHG_DFS_CHECK_INTERVAL_MS);
}

// The byte that codes 3 to 5 carry; a driver that sends none is read as 0.
static inline int cm_data_byte(const void *data) {
    return data ? *(const u8 *)data : 0;
}

int chg_dfs_cm_notifier_call(struct notifier_block *nb, unsigned long event, void *data) {
    struct chg_dfs *chg = container_of(nb, struct chg_dfs, cm_nb);
    int byte;

    switch (event) {
        case CM_EVENT_ADAPTER_PLUGOUT:
            chg_dfs_info("receive adapter plugout event\n");
            chg_dfs_adapter_plugout(chg);
            break;
        case CM_EVENT_ADAPTER_PLUGIN:
            chg_dfs_info("receive adapter plugin event\n");
            chg_dfs_adapter_plugin(chg);
            break;
        case CM_EVENT_SMART_ENDURA_TRIG:
            byte = cm_data_byte(data);
            chg_dfs_info("receive smart endura trigger event, data = %d\n", byte);
            WRITE_ONCE(chg->smart_endura_trig, byte);
            break;
        case CM_EVENT_LPD:
            byte = cm_data_byte(data);
            chg_dfs_info("receive lpd event, data = %d\n", byte);
            WRITE_ONCE(chg->lpd_flag, byte);
            break;
        case CM_EVENT_CHARGER_ENABLE:
            byte = cm_data_byte(data);
            chg_dfs_info("receive charger_enable event, data = %d\n", byte);
            WRITE_ONCE(chg->cp_en_fail, byte ^ 1);
            break;
        case CM_EVENT_VBUS_UVLO:
            chg_dfs_info("receive VBUS_UVLO event");
            WRITE_ONCE(chg->vbus_uvlo, 1);
            break;
        case CM_EVENT_CP_IBAT_OCP:
            chg_dfs_info("receive cp ibat ocp event\n");
            WRITE_ONCE(chg->cp_ibat_ocp, 1);
            break;
        default:
            chg_dfs_info("receive event not support: %lu\n", event);
            break;
    }
    return NOTIFY_DONE;
}
