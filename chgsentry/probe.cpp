// chgsentry's platform driver: binding to the "vantor,chgsentry" node, the per-device record,
// and everything a bound device runs (report thread, condition check, notifier memberships),
// which remove and every failed probe take down again before the record goes.
#include "chg_dfs.h"

#include <platform/device.h>
#include <platform/err.h>
#include <platform/errno.h>
#include <platform/kthread.h>
#include <platform/mod_devicetable.h>
#include <platform/module.h>
#include <platform/platform_device.h>
#include <platform/slab.h>
#include <platform/string.h>

#include <climits>

// Board region from the board-information record: "eea" boards are the European ones.
static void chgsentry_pcba_init(struct chg_dfs *chg) {
    struct pcba_msg *msg = get_pcba_msg();
    const char *version = msg ? msg->board_version : nullptr;

    chg->is_eea = 0;
    if (IS_ERR_OR_NULL(version)) {
        chg_dfs_err("get board version fail\n");
        return;
    }
    chg->is_eea = strstr(version, "eea") ? 1 : 0;
    chg_dfs_info("board version = %d\n", chg->is_eea);
}

// Leaves the chains first, so no callback writes into the record any more, then stops the
// check (waiting for a pass in progress; the pass cannot re-arm itself past the cancel), then
// the report thread, whose last pass still uploads what was pending.
static void chg_dfs_teardown(struct chg_dfs *chg) {
    if (chg->chains & CHG_DFS_CHAIN_PSY)
        power_supply_unreg_notifier(&chg->psy_nb);
    if (chg->chains & CHG_DFS_CHAIN_CP)
        dv_chargerpump_notifier_unregister(&chg->cp_nb);
    if (chg->chains & CHG_DFS_CHAIN_CM)
        dv_chargermanager_notifier_unregister(&chg->cm_nb);
    if (chg->chains & CHG_DFS_CHAIN_FG)
        dv_fg_notifier_unregister(&chg->fg_nb);
    chg->chains = 0;

    if (chg->check_armed) {
        cancel_delayed_work_sync(&chg->cond_check_work);
        chg->check_armed = false;
    }

    if (!IS_ERR_OR_NULL(chg->report_task)) {
        kthread_stop(chg->report_task);
        chg->report_task = (struct task_struct *)ERR_PTR(-ESRCH);
    }
}

// The record is a device-managed allocation: after a failed probe the platform frees it, so
// each failure path tears down first.
static int chgsentry_probe(struct platform_device *pdev) {
    struct chg_dfs *chg_dfs;
    int ret;

    chg_dfs = (struct chg_dfs *)devm_kzalloc(&pdev->dev, sizeof(*chg_dfs), GFP_KERNEL);
    if (!chg_dfs)
        return -ENOMEM;
    platform_set_drvdata(pdev, chg_dfs);

    init_waitqueue_head(&chg_dfs->report_wq);

    chg_dfs->report_task = kthread_create_on_node(vq_chg_dfx_report_thread_fn, chg_dfs,
                                                  NUMA_NO_NODE, "vq_chg_dfx_report_thread");
    // Without the thread nothing is uploaded, but the device still binds.
    if (!IS_ERR(chg_dfs->report_task))
        wake_up_process(chg_dfs->report_task);

    chg_dfs->master_cp_chg = chargerpump_find_dev_by_name(CHG_DFS_MASTER_CP_NAME);
    if (!chg_dfs->master_cp_chg)
        chg_dfs->cp_chip_ok = 0;

    chg_dfs->pd_adapter = get_adapter_by_name(CHG_DFS_PD_ADAPTER_NAME);
    if (!chg_dfs->pd_adapter) {
        ret = -EPROBE_DEFER;
        goto fail;
    }
    chg_dfs->fuel_gauge = fuel_gauge_find_dev_by_name(CHG_DFS_FUEL_GAUGE_NAME);
    if (!chg_dfs->fuel_gauge) {
        ret = -EPROBE_DEFER;
        goto fail;
    }

    chg_dfs->last_cycle_cnt = -1;
    chg_dfs->check_interval_ms = CHG_DFS_CHECK_INTERVAL_MS;
    chg_dfs->tbat_max = INT_MIN;
    chg_dfs->tbat_min = INT_MAX;
    chg_dfs->aicl_th = CHG_DFS_AICL_TH;
    chg_dfs->vbat_max = INT_MIN;
    chg_dfs->tboard = 0;
    chg_dfs->adapter_svid = 0;
    chg_dfs->pd_auth_fail = 0;
    chg_dfs->pd_verify_done = 0;
    chg_dfs->batt_auth = 0;

    chgsentry_pcba_init(chg_dfs);

    mutex_init(&chg_dfs->cond_check_lock);

    chg_dfs->evt_report_bits = 0;
    atomic_set(&chg_dfs->report_flag, 0);

    INIT_DELAYED_WORK(&chg_dfs->cond_check_work, handle_evt_cond_check_work);
    queue_delayed_work_on(WORK_CPU_UNBOUND, system_wq, &chg_dfs->cond_check_work,
                          CHG_DFS_FIRST_CHECK_DELAY);
    chg_dfs->check_armed = true;

    chg_dfs->psy_nb.notifier_call = chg_dfs_psy_notifier_call;
    ret = power_supply_reg_notifier(&chg_dfs->psy_nb);
    if (ret < 0) {
        chg_dfs_err("couldn't register psy notifier ret = %d\n", ret);
        goto fail;
    }
    chg_dfs->chains |= CHG_DFS_CHAIN_PSY;

    chg_dfs->cp_nb.notifier_call = chg_cp_charger_notifier_call;
    ret = dv_chargerpump_notifier_register(&chg_dfs->cp_nb);
    if (ret < 0) {
        chg_dfs_err("couldn't register charger notifier, ret = %d\n", ret);
        goto fail;
    }
    chg_dfs->chains |= CHG_DFS_CHAIN_CP;

    chg_dfs->fg_nb.notifier_call = chg_dfs_fg_notifier_call;
    ret = dv_fg_notifier_register(&chg_dfs->fg_nb);
    if (ret < 0) {
        chg_dfs_err("couldn't register fg notifier, ret = %d\n", ret);
        goto fail;
    }
    chg_dfs->chains |= CHG_DFS_CHAIN_FG;

    chg_dfs->cm_nb.notifier_call = chg_dfs_cm_notifier_call;
    ret = dv_chargermanager_notifier_register(&chg_dfs->cm_nb);
    if (ret < 0) {
        chg_dfs_err("couldn't register charger manager notifier, ret = %d\n", ret);
        goto fail;
    }
    chg_dfs->chains |= CHG_DFS_CHAIN_CM;

    // Only gates the probe: nothing else talks to the charger.
    chg_dfs->primary_chg = charger_find_dev_by_name(CHG_DFS_PRIMARY_CHG_NAME);
    if (!chg_dfs->primary_chg) {
        chg_dfs_err("failed to find primary_chg device\n");
        ret = -EPROBE_DEFER;
        goto fail;
    }

    chg_dfs_info("success...\n");
    return 0;

fail:
    chg_dfs_teardown(chg_dfs);
    platform_set_drvdata(pdev, nullptr);
    return ret;
}

static int chgsentry_remove(struct platform_device *pdev) {
    struct chg_dfs *chg = (struct chg_dfs *)platform_get_drvdata(pdev);

    if (chg)
        chg_dfs_teardown(chg);
    return 0;
}

static const struct of_device_id chgsentry_of_match[] = {
    {.compatible = "vantor,chgsentry"},
    {},
};
MODULE_DEVICE_TABLE(of, chgsentry_of_match);

static struct platform_driver chgsentry_driver = {
    .probe = chgsentry_probe,
    .remove = chgsentry_remove,
    .driver =
        {
            .name = "chgsentry",
            .of_match_table = chgsentry_of_match,
        },
};

module_platform_driver(chgsentry_driver);

MODULE_DESCRIPTION("Vantor Charge DFS Driver");
MODULE_LICENSE("GPL v2");
