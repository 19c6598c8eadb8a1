// chgsentry's state: one chg_dfs record per bound device, and the module-wide event table that
// the condition check gates on and the report pass counts in.
//
// The notifier callbacks, the condition check and the report thread run concurrently and share
// the record without a lock (only the check takes cond_check_lock, against itself). Every shared
// field is one word, read with READ_ONCE and written with WRITE_ONCE; the pending set and the
// report request are atomic.
#pragma once

#include "chg_stack.h"

#include <platform/atomic.h>
#include <platform/mutex.h>
#include <platform/notifier.h>
#include <platform/printk.h>
#include <platform/sched.h>
#include <platform/wait.h>
#include <platform/workqueue.h>

// Every line names the routine it speaks for; a helper speaks for the routine it serves.
#define chg_dfs_info_in(fn, fmt, ...) pr_info("[DV_CHG_DFS][%s]:" fmt, fn, ##__VA_ARGS__)
#define chg_dfs_err_in(fn, fmt, ...) pr_err("[DV_CHG_DFS][%s]:" fmt, fn, ##__VA_ARGS__)
#define chg_dfs_info(fmt, ...) chg_dfs_info_in(__func__, fmt, ##__VA_ARGS__)
#define chg_dfs_err(fmt, ...) chg_dfs_err_in(__func__, fmt, ##__VA_ARGS__)

// Event types: the row of dfx_evt_cond and the bit of evt_report_bits. 0 and 5 are unused.
enum dfx_evt_type {
    DFX_TYPE_NONE = 0,
    DFX_NONE_STANDARD_CHG = 1,
    DFX_FG_I2C_ERR = 2,
    DFX_CP_I2C_ERR = 3,
    DFX_CP_EN_FAIL = 4,
    DFX_NOT_CHG_IN_LOW_TEMP = 6,
    DFX_NOT_CHG_IN_HIGH_TEMP = 7,
    DFX_PD_AUTH_FAIL = 8,
    DFX_CP_VBUS_OVP = 9,
    DFX_CP_IBUS_OCP = 10,
    DFX_CP_VBAT_OVP = 11,
    DFX_CP_IBAT_OCP = 12,
    DFX_CP_VAC_OVP = 13,
    DFX_CP_TDIE_HOT = 14,
    DFX_CHG_BATT_CYCLE = 15,
    DFX_SMART_ENDURA_TRIG = 16,
    DFX_SOC_NOT_FULL = 17,
    DFX_BATT_AUTH_FAIL = 18,
    DFX_TBAT_HOT = 19,
    DFX_TBAT_COLD = 20,
    DFX_LPD_DETECTED = 21,
    DFX_VBUS_UVLO = 22,
    DFX_EVT_MAX = 23,  // rows of dfx_evt_cond, bits of evt_report_bits in use
};

#define CHG_DFS_FIRST_CHECK_DELAY 15000  // jiffies from probe to the first check
#define CHG_DFS_CHECK_INTERVAL_MS 10000
#define CHG_DFS_CHECK_INTERVAL_CHARGING_MS 5000
#define CHG_DFS_AICL_TH 4000
#define CHG_DFS_TEXT_LEN 128  // event texts, and zoevent_upload's copy of them

struct dfx_evt_cond {
    int dfx_type;  // 0: empty row
    int dfx_id;    // event id on the event channel
    u8 para_cnt;
    int report_cnt;       // reports since the last adapter plug-in
    int max_report_cnt;   // count gate; 0: not count-gated
    s64 report_time;      // monotonic seconds of the last report; 0: never
    int report_interval;  // time gate in seconds; 0: not time-gated
};

extern struct dfx_evt_cond dfx_evt_cond[DFX_EVT_MAX];

// Chains a probe has joined, so that teardown leaves exactly those.
enum chg_dfs_chain {
    CHG_DFS_CHAIN_PSY = 1U << 0,
    CHG_DFS_CHAIN_CP = 1U << 1,
    CHG_DFS_CHAIN_FG = 1U << 2,
    CHG_DFS_CHAIN_CM = 1U << 3,
};

struct chg_dfs {
    struct task_struct *report_task;  // or the error of its creation
    struct wait_queue_head report_wq;
    atomic_t report_flag;           // 1: a report pass is requested
    unsigned long evt_report_bits;  // bit n: event type n pending
    struct notifier_block psy_nb;
    struct notifier_block cp_nb;
    struct notifier_block fg_nb;
    struct notifier_block cm_nb;
    struct charger_device *primary_chg;
    struct adapter_device *pd_adapter;
    struct chargerpump_dev *master_cp_chg;  // may be null
    struct fuel_gauge_dev *fuel_gauge;
    struct delayed_work cond_check_work;
    struct mutex cond_check_lock;
    int check_interval_ms;
    int is_eea;
    int tbat;  // tenths of a degree Celsius
    int tbat_max;
    int tbat_min;
    int batt_auth;
    int chip_chg_status;  // POWER_SUPPLY_STATUS_*
    int cycle_cnt;
    int last_cycle_cnt;  // cycle_cnt as the previous check saw it
    int vbat;
    int vbat_max;  // highest vbat of the battery notifications
    int soc;
    int rsoc;
    int vbus_type;
    int vbus;
    int tboard;
    int is_charging;  // between an adapter plug-in and the next plug-out
    int cp_chip_ok;
    int adapter_svid;
    int pd_auth_fail;
    int pd_verify_done;
    int fg_status;  // FG_STATUS_* bits
    int cp_ibat_ocp;
    int cp_ibus_ocp;
    int cp_vbus_ovp;
    int cp_vbat_ovp;
    int cp_vac_ovp;
    int cp_tdie_fault;
    int cp_en_fail;
    int smart_endura_trig;
    int lpd_flag;
    int tdie_temp;
    int vbus_uvlo;
    int aicl_th;

    // Teardown bookkeeping, written by probe only.
    unsigned int chains;  // CHG_DFS_CHAIN_* joined
    bool check_armed;     // cond_check_work initialised and queued
};

// Notifier callbacks.
int chg_dfs_psy_notifier_call(struct notifier_block *nb, unsigned long event, void *data);
int chg_cp_charger_notifier_call(struct notifier_block *nb, unsigned long event, void *data);
int chg_dfs_fg_notifier_call(struct notifier_block *nb, unsigned long event, void *data);
int chg_dfs_cm_notifier_call(struct notifier_block *nb, unsigned long event, void *data);

// Condition check: the periodic work, the gates and conditions of one pass over the table
// (marks due events pending), and the report request that follows it.
void handle_evt_cond_check_work(struct work_struct *work);
void vq_chg_dfx_check_conditions(struct chg_dfs *chg, time64_t now);
void vq_chg_dfx_request_report(struct chg_dfs *chg);

// Reporting: the report thread, one pass, and the text of one event (its length, or -EINVAL
// for a type without a text).
int vq_chg_dfx_report_thread_fn(void *data);
void vq_chg_dfx_report_events(struct chg_dfs *chg);
int vq_chg_dfx_event_text(const struct chg_dfs *chg, int dfx_type, char *buf, size_t size);

// Event upload: one event-channel record from a "key:value,key:value" text, and the step that
// takes the next field off the text (false once the text is used up).
void zoevent_upload(int zoev_code, const char *text, u8 para_cnt);
bool zoevent_next_field(char **rest, const char **key, const char **value);
