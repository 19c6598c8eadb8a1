// The report thread: sleeps until the condition check asks for a pass, then turns every pending
// event into a "key:value,..." text and uploads it under its row's event id, counting and
// time-stamping the report in the row for the gates of the check.
#include "chg_dfs.h"

#include <platform/bitops.h>
#include <platform/errno.h>
#include <platform/kthread.h>
#include <platform/string.h>
#include <platform/timekeeping.h>

#include <cstdarg>

struct dfx_text {
    char *buf;
    size_t size;
    size_t len;
};

// Appends at the end of the text what fits in the room left, keeping it terminated.
__printf(2, 3) static void dfx_text_add(struct dfx_text *t, const char *fmt, ...) {
    va_list args;

    va_start(args, fmt);
    t->len += vscnprintf(t->buf + t->len, t->size - t->len, fmt, args);
    va_end(args);
}

static void dfx_text_begin(struct dfx_text *t, const char *category, const char *event) {
    dfx_text_add(t, "%s:%s", category, event);
}

static void dfx_text_int(struct dfx_text *t, const char *key, int value) {
    dfx_text_add(t, ",%s:%d", key, value);
}

#define ERR_INFO "chgErrInfo"
#define STAT_INFO "chgStatInfo"

int vq_chg_dfx_event_text(const struct chg_dfs *chg, int dfx_type, char *buf, size_t size) {
    struct dfx_text t = {buf, size, 0};

    if (!size)
        return -EINVAL;
    buf[0] = '\0';
    switch (dfx_type) {
        case DFX_NONE_STANDARD_CHG:
            dfx_text_begin(&t, ERR_INFO, "noneStandartChg");
            break;
        case DFX_FG_I2C_ERR:
            dfx_text_begin(&t, ERR_INFO, "fgI2cErr");
            break;
        case DFX_CP_I2C_ERR:
            dfx_text_begin(&t, ERR_INFO, "CpI2CErr");
            dfx_text_int(&t, "masterOk", READ_ONCE(chg->cp_chip_ok));
            break;
        case DFX_CP_EN_FAIL:
            // One charge pump: the master's id.
            dfx_text_begin(&t, ERR_INFO, "CpEnFail");
            dfx_text_int(&t, "cpId", 0);
            break;
        case DFX_NOT_CHG_IN_LOW_TEMP:
            dfx_text_begin(&t, ERR_INFO, "NotChgInLowTemp");
            dfx_text_int(&t, "tbat", READ_ONCE(chg->tbat));
            break;
        case DFX_NOT_CHG_IN_HIGH_TEMP:
            dfx_text_begin(&t, ERR_INFO, "NotChgInHighTemp");
            dfx_text_int(&t, "tbat", READ_ONCE(chg->tbat));
            break;
        case DFX_PD_AUTH_FAIL:
            dfx_text_begin(&t, ERR_INFO, "pdAuthFail");
            dfx_text_add(&t, ",%s:%x", "adapterId", (unsigned int)READ_ONCE(chg->adapter_svid));
            break;
        case DFX_CP_VBUS_OVP:
            dfx_text_begin(&t, ERR_INFO, "CpVbusOVP");
            break;
        case DFX_CP_IBUS_OCP:
            dfx_text_begin(&t, ERR_INFO, "CpIbusOcp");
            break;
        case DFX_CP_VBAT_OVP:
            dfx_text_begin(&t, ERR_INFO, "CpVbatOVP");
            dfx_text_int(&t, "vbat", READ_ONCE(chg->vbat));
            dfx_text_int(&t, "vbatMax", READ_ONCE(chg->vbat_max));
            break;
        case DFX_CP_IBAT_OCP:
            dfx_text_begin(&t, ERR_INFO, "CpIbatOcp");
            break;
        case DFX_CP_VAC_OVP:
            dfx_text_begin(&t, ERR_INFO, "CpVacOVP");
            break;
        case DFX_CP_TDIE_HOT:
            dfx_text_begin(&t, STAT_INFO, "CpTdieHot");
            dfx_text_int(&t, "Tdie_Temp", READ_ONCE(chg->tdie_temp));
            break;
        case DFX_CHG_BATT_CYCLE:
            dfx_text_begin(&t, STAT_INFO, "chgBattCycle");
            dfx_text_int(&t, "cycleCnt", READ_ONCE(chg->cycle_cnt));
            break;
        case DFX_SMART_ENDURA_TRIG:
            dfx_text_begin(&t, STAT_INFO, "SmartEnduraTrig");
            dfx_text_int(&t, "soc", READ_ONCE(chg->soc));
            break;
        case DFX_SOC_NOT_FULL:
            dfx_text_begin(&t, ERR_INFO, "SocNotFull");
            dfx_text_int(&t, "vbat", READ_ONCE(chg->vbat));
            dfx_text_int(&t, "soc", READ_ONCE(chg->soc));
            dfx_text_int(&t, "rsoc", READ_ONCE(chg->rsoc));
            break;
        case DFX_BATT_AUTH_FAIL:
            dfx_text_begin(&t, ERR_INFO, "BattAuthFail");
            break;
        case DFX_TBAT_HOT:
            // tbat in tenths of a degree, its maximum in whole degrees.
            dfx_text_begin(&t, STAT_INFO, "TbatHot");
            dfx_text_int(&t, "tbat", READ_ONCE(chg->tbat));
            dfx_text_int(&t, "tbatMax", READ_ONCE(chg->tbat_max) / 10);
            dfx_text_int(&t, "isCharging", READ_ONCE(chg->is_charging));
            dfx_text_int(&t, "tboard", READ_ONCE(chg->tboard));
            break;
        case DFX_TBAT_COLD:
            dfx_text_begin(&t, STAT_INFO, "TbatCold");
            dfx_text_int(&t, "tbat", READ_ONCE(chg->tbat));
            dfx_text_int(&t, "tbatMin", READ_ONCE(chg->tbat_min) / 10);
            dfx_text_int(&t, "isCharging", READ_ONCE(chg->is_charging));
            dfx_text_int(&t, "tboard", READ_ONCE(chg->tboard));
            break;
        case DFX_LPD_DETECTED:
            dfx_text_begin(&t, ERR_INFO, "LpdDetected");
            dfx_text_int(&t, "lpdFlag", READ_ONCE(chg->lpd_flag));
            break;
        case DFX_VBUS_UVLO:
            dfx_text_begin(&t, ERR_INFO, "VbusUvlo");
            dfx_text_int(&t, "vbat", READ_ONCE(chg->vbat));
            dfx_text_int(&t, "vbus", READ_ONCE(chg->vbus));
            dfx_text_int(&t, "aiclTh", READ_ONCE(chg->aicl_th));
            break;
        default:
            return -EINVAL;
    }
    return (int)t.len;
}

static void vq_chg_dfx_handle_event_report(struct chg_dfs *chg, struct dfx_evt_cond *row) {
    char text[CHG_DFS_TEXT_LEN] = {};
    int cnt;
    s64 now;

    if (vq_chg_dfx_event_text(chg, row->dfx_type, text, sizeof(text)) < 0) {
        chg_dfs_err("[DV_CHG_DFS]: unknown type to report\n");
        return;
    }

    // Plain stores: a plug-in may reset the count meanwhile, and either value is fine.
    cnt = READ_ONCE(row->report_cnt) + 1;
    WRITE_ONCE(row->report_cnt, cnt);
    now = ktime_get_seconds();
    WRITE_ONCE(row->report_time, now);

    chg_dfs_info(
        "dfx_type = %d, dfx_id = %d, para_cnt = %d, report_cnt = %d, "
        "report_time = %llds \n",
        row->dfx_type, row->dfx_id, row->para_cnt, cnt, (long long)now);
    zoevent_upload(row->dfx_id, text, row->para_cnt);
}

// Handles pending events in ascending order. A bit is cleared only after its upload, so a
// check that finds the event again meanwhile merges into this report; bits set above the
// current one are still handled in this pass, those at or below it in the next one.
void vq_chg_dfx_report_events(struct chg_dfs *chg) {
    // A snapshot of the set per step: the check sets bits while the pass runs.
    unsigned long pending = READ_ONCE(chg->evt_report_bits);
    unsigned long n;

    chg_dfs_info("evt_report_bits = 0x%X\n", (unsigned int)pending);

    n = find_next_bit(&pending, DFX_EVT_MAX, 0);
    while (n < DFX_EVT_MAX) {
        vq_chg_dfx_handle_event_report(chg, &dfx_evt_cond[n]);
        clear_bit(n, &chg->evt_report_bits);
        pending = READ_ONCE(chg->evt_report_bits);
        n = find_next_bit(&pending, DFX_EVT_MAX, n + 1);
    }
}

// A pass runs for every request. A request still standing when the device goes is served
// before the thread returns, so events made pending before then are uploaded; a stop with no
// request runs no pass, which keeps a failed probe silent.
int vq_chg_dfx_report_thread_fn(void *data) {
    struct chg_dfs *chg = (struct chg_dfs *)data;

    while (!kthread_should_stop() || atomic_read_acquire(&chg->report_flag)) {
        wait_event_interruptible(
            chg->report_wq, atomic_read_acquire(&chg->report_flag) != 0 || kthread_should_stop());
        if (!atomic_xchg(&chg->report_flag, 0))
            continue;
        vq_chg_dfx_report_events(chg);
    }
    return 0;
}
