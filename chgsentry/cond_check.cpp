// The condition check: a self-re-arming work item that polls the charge pump and the fuel
// gauge, tests the 21 conditions against the record, and marks each due event pending for the
// report thread. Count gates limit how often an event goes out between two adapter plug-ins,
// time gates how soon it may go out again.
#include "chg_dfs.h"

#include <platform/atomic.h>
#include <platform/bitops.h>
#include <platform/err.h>
#include <platform/jiffies.h>
#include <platform/timekeeping.h>

// Row n describes event type n. The report pass counts and time-stamps each row; a plug-in
// clears the counts.
struct dfx_evt_cond dfx_evt_cond[DFX_EVT_MAX] = {
    // dfx_type, dfx_id, para_cnt, report_cnt, max_report_cnt, report_time, report_interval
    {DFX_TYPE_NONE, 0, 0, 0, 0, 0, 0},
    {DFX_NONE_STANDARD_CHG, 909002001, 1, 0, 1, 0, 0},
    {DFX_FG_I2C_ERR, 909005001, 2, 0, 0, 0, 600},
    {DFX_CP_I2C_ERR, 909005002, 2, 0, 0, 0, 600},
    {DFX_CP_EN_FAIL, 909001005, 2, 0, 3, 0, 0},
    {DFX_TYPE_NONE, 0, 0, 0, 0, 0, 0},
    {DFX_NOT_CHG_IN_LOW_TEMP, 909005007, 2, 0, 3, 0, 0},
    {DFX_NOT_CHG_IN_HIGH_TEMP, 909005008, 2, 0, 3, 0, 0},
    {DFX_PD_AUTH_FAIL, 909001004, 2, 0, 1, 0, 0},
    {DFX_CP_VBUS_OVP, 909002004, 1, 0, 3, 0, 0},
    {DFX_CP_IBUS_OCP, 909002005, 1, 0, 3, 0, 0},
    {DFX_CP_VBAT_OVP, 909002006, 3, 0, 3, 0, 0},
    {DFX_CP_IBAT_OCP, 909002007, 1, 0, 3, 0, 0},
    {DFX_CP_VAC_OVP, 909002008, 1, 0, 3, 0, 0},
    {DFX_CP_TDIE_HOT, 909005004, 2, 0, 1, 0, 0},
    {DFX_CHG_BATT_CYCLE, 909003001, 2, 0, 0, 0, 0},
    {DFX_SMART_ENDURA_TRIG, 909003004, 2, 0, 1, 0, 0},
    {DFX_SOC_NOT_FULL, 909003002, 4, 0, 1, 0, 0},
    {DFX_BATT_AUTH_FAIL, 909007001, 1, 0, 1, 0, 0},
    {DFX_TBAT_HOT, 909009001, 5, 0, 0, 0, 300},
    {DFX_TBAT_COLD, 909009002, 5, 0, 0, 0, 300},
    {DFX_LPD_DETECTED, 909002003, 2, 0, 1, 0, 0},
    {DFX_VBUS_UVLO, 909005006, 4, 0, 1, 0, 0},
};

#define DFX_EVT_MASK ((1UL << DFX_EVT_MAX) - 1)

// Temperature bands, tenths of a degree Celsius.
#define TBAT_LOW_TEMP_MIN (-99)
#define TBAT_LOW_TEMP_MAX 49
#define TBAT_HIGH_TEMP_MIN 481
#define TBAT_HIGH_TEMP_MAX 549
#define TBAT_HOT 551
#define TBAT_COLD (-101)
#define BATT_CYCLE_STEP 100

// Fewer reports since the last plug-in than the row allows; a limit of 0 never passes.
static bool dfx_count_gate(const struct dfx_evt_cond *row) {
    return READ_ONCE(row->report_cnt) < row->max_report_cnt;
}

// Never reported, or the last report is more than the interval ago.
static bool dfx_time_gate(const struct dfx_evt_cond *row, time64_t now) {
    s64 last = READ_ONCE(row->report_time);

    return last == 0 || now - last > (s64)row->report_interval;
}

static bool not_charging(const struct chg_dfs *chg) {
    int status = READ_ONCE(chg->chip_chg_status);

    return READ_ONCE(chg->is_charging) && (status == POWER_SUPPLY_STATUS_DISCHARGING ||
                                           status == POWER_SUPPLY_STATUS_NOT_CHARGING);
}

// Whether the event of row's type is due now, with the side effects some rows have on the
// flags they consume.
static bool dfx_event_due(struct chg_dfs *chg, const struct dfx_evt_cond *row, time64_t now) {
    int tbat = READ_ONCE(chg->tbat);
    bool due;

    switch (row->dfx_type) {
        case DFX_NONE_STANDARD_CHG:
            return READ_ONCE(chg->vbus_type) == DV_VBUS_TYPE_NONSTANDARD && dfx_count_gate(row);
        case DFX_FG_I2C_ERR:
            return (READ_ONCE(chg->fg_status) & FG_STATUS_I2C_ERROR) && dfx_time_gate(row, now);
        case DFX_CP_I2C_ERR:
            return READ_ONCE(chg->cp_chip_ok) == 0 && dfx_time_gate(row, now);
        case DFX_CP_EN_FAIL:
            return READ_ONCE(chg->cp_en_fail) && dfx_count_gate(row);
        case DFX_NOT_CHG_IN_LOW_TEMP:
            return tbat >= TBAT_LOW_TEMP_MIN && tbat <= TBAT_LOW_TEMP_MAX && not_charging(chg) &&
                   dfx_count_gate(row);
        case DFX_NOT_CHG_IN_HIGH_TEMP:
            return tbat >= TBAT_HIGH_TEMP_MIN && tbat <= TBAT_HIGH_TEMP_MAX && not_charging(chg) &&
                   dfx_count_gate(row);
        case DFX_PD_AUTH_FAIL:
            return READ_ONCE(chg->adapter_svid) == OWN_PD_SVID && READ_ONCE(chg->pd_auth_fail) &&
                   READ_ONCE(chg->pd_verify_done) && dfx_count_gate(row);
        case DFX_CP_VBUS_OVP:
            return READ_ONCE(chg->cp_vbus_ovp) && dfx_count_gate(row);
        case DFX_CP_IBUS_OCP:
            return READ_ONCE(chg->cp_ibus_ocp) && dfx_count_gate(row);
        case DFX_CP_VBAT_OVP:
            return READ_ONCE(chg->cp_vbat_ovp) && dfx_count_gate(row);
        case DFX_CP_IBAT_OCP:
            // Each over-current event is reported once: the flag is consumed when it goes out,
            // and stays for later passes while the count gate holds it back.
            due = READ_ONCE(chg->cp_ibat_ocp) && dfx_count_gate(row);
            if (due)
                WRITE_ONCE(chg->cp_ibat_ocp, 0);
            return due;
        case DFX_CP_VAC_OVP:
            return READ_ONCE(chg->cp_vac_ovp) && dfx_count_gate(row);
        case DFX_CP_TDIE_HOT:
            return READ_ONCE(chg->cp_tdie_fault) && READ_ONCE(chg->is_charging) &&
                   dfx_count_gate(row);
        case DFX_CHG_BATT_CYCLE: {
            // Every hundredth cycle, once, when the count gets there.
            int cycle = READ_ONCE(chg->cycle_cnt);

            if (cycle == chg->last_cycle_cnt)
                return false;
            chg->last_cycle_cnt = cycle;
            return cycle != 0 && cycle % BATT_CYCLE_STEP == 0;
        }
        case DFX_SMART_ENDURA_TRIG:
            return READ_ONCE(chg->smart_endura_trig) && READ_ONCE(chg->is_charging) &&
                   dfx_count_gate(row);
        case DFX_SOC_NOT_FULL:
            return READ_ONCE(chg->chip_chg_status) == POWER_SUPPLY_STATUS_FULL &&
                   READ_ONCE(chg->soc) != 100 && dfx_count_gate(row);
        case DFX_BATT_AUTH_FAIL:
            return ((READ_ONCE(chg->fg_status) & FG_STATUS_BATT_AUTH_FAULT) ||
                    READ_ONCE(chg->batt_auth) == 0) &&
                   dfx_count_gate(row);
        case DFX_TBAT_HOT:
            return tbat >= TBAT_HOT && dfx_time_gate(row, now);
        case DFX_TBAT_COLD:
            return tbat <= TBAT_COLD && dfx_time_gate(row, now);
        case DFX_LPD_DETECTED:
            return READ_ONCE(chg->lpd_flag) && dfx_count_gate(row);
        case DFX_VBUS_UVLO:
            // An under-voltage event is consumed by the first pass that sees it.
            if (!xchg(&chg->vbus_uvlo, 0))
                return false;
            return dfx_count_gate(row);
        default:
            return false;
    }
}

void vq_chg_dfx_check_conditions(struct chg_dfs *chg, time64_t now) {
    for (int i = 0; i < DFX_EVT_MAX; i++) {
        const struct dfx_evt_cond *row = &dfx_evt_cond[i];
        unsigned int type = (unsigned int)row->dfx_type;

        if (type >= DFX_EVT_MAX) {
            chg_dfs_err_in("handle_evt_cond_check_work", "[DV_CHG_DFS]: unknown type to report\n");
            continue;
        }
        if (type == DFX_TYPE_NONE)
            continue;
        if (dfx_event_due(chg, row, now))
            set_bit(type, &chg->evt_report_bits);
    }
}

// Asks the report thread for a pass while anything is pending. The swap makes one wake-up per
// request: a thread already asked runs its pass and then sees the bits set since.
void vq_chg_dfx_request_report(struct chg_dfs *chg) {
    int pending = (int)hweight64(READ_ONCE(chg->evt_report_bits) & DFX_EVT_MASK);

    if (pending < 1)
        return;
    chg_dfs_info_in("handle_evt_cond_check_work", "%d dfx event need report\n", pending);
    if (atomic_cmpxchg(&chg->report_flag, 0, 1) == 0)
        wake_up_interruptible(&chg->report_wq);
}

void handle_evt_cond_check_work(struct work_struct *work) {
    struct chg_dfs *chg = container_of(to_delayed_work(work), struct chg_dfs, cond_check_work);
    time64_t now;
    int ok;

    mutex_lock(&chg->cond_check_lock);
    now = ktime_get_seconds();

    if (!IS_ERR_OR_NULL(chg->master_cp_chg)) {
        // The driver leaves the value alone when it cannot tell.
        ok = READ_ONCE(chg->cp_chip_ok);
        chargerpump_get_chip_ok(chg->master_cp_chg, &ok);
        WRITE_ONCE(chg->cp_chip_ok, ok);
    } else {
        WRITE_ONCE(chg->cp_chip_ok, 0);
    }
    WRITE_ONCE(chg->fg_status, fuel_gauge_check_fg_status(chg->fuel_gauge));

    chg_dfs_info(
        "cycle_cnt: %d, tbat: %d [%d %d], vbus: %d, tdie_temp: %d, tboard: %d, "
        "batt_auth: %d, soc: %d, rsoc: %d, vbat: %d, chip_chg_status: %d, "
        "adapter_svid: 0x%x, vbus_type: %d, fg_status: %d, cp_chip_ok: %d, "
        "pd_auth_fail: %d, pd_verify_done: %d\n",
        READ_ONCE(chg->cycle_cnt), READ_ONCE(chg->tbat), READ_ONCE(chg->tbat_min),
        READ_ONCE(chg->tbat_max), READ_ONCE(chg->vbus), READ_ONCE(chg->tdie_temp),
        READ_ONCE(chg->tboard), READ_ONCE(chg->batt_auth), READ_ONCE(chg->soc),
        READ_ONCE(chg->rsoc), READ_ONCE(chg->vbat), READ_ONCE(chg->chip_chg_status),
        READ_ONCE(chg->adapter_svid), READ_ONCE(chg->vbus_type), READ_ONCE(chg->fg_status),
        READ_ONCE(chg->cp_chip_ok), READ_ONCE(chg->pd_auth_fail), READ_ONCE(chg->pd_verify_done));

    vq_chg_dfx_check_conditions(chg, now);
    vq_chg_dfx_request_report(chg);

    mutex_unlock(&chg->cond_check_lock);

    queue_delayed_work_on(WORK_CPU_UNBOUND, system_wq, &chg->cond_check_work,
                          msecs_to_jiffies(READ_ONCE(chg->check_interval_ms)));
}
