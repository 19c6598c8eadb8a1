// Event upload: one event-channel record per event text. Each "key:value" item of the text
// becomes a field, an integer when the value is a decimal number and a string otherwise.
#include "chg_dfs.h"

#include <platform/err.h>
#include <platform/kstrtox.h>
#include <platform/string.h>

#define upload_info(fmt, ...) chg_dfs_info_in("zoevent_upload", fmt, ##__VA_ARGS__)
#define upload_err(fmt, ...) chg_dfs_err_in("zoevent_upload", fmt, ##__VA_ARGS__)

// Cuts the next field off *rest, in place. An item is "key:value"; an item without ':' is a
// key without a value ("None"); when an item holds more pairs ("a:b:c:d") the last one counts.
// Empty items are skipped: they name no field.
bool zoevent_next_field(char **rest, const char **key, const char **value) {
    while (*rest && **rest) {
        char *item = strsep(rest, ",");
        const char *k, *v;

        if (!*item)
            continue;
        for (;;) {
            k = strsep(&item, ":");
            upload_info("[CHG_DFS] key:%s\n", k);
            if (!item) {
                upload_err("[CHG_DFS] none value\n");
                v = "None";
            } else {
                v = strsep(&item, ":");
                upload_info("[CHG_DFS] value:%s\n", v);
            }
            if (!item || !*item)
                break;
        }
        *key = k;
        *value = v;
        return true;
    }
    return false;
}

void zoevent_upload(int zoev_code, const char *text, u8 para_cnt) {
    char buf[CHG_DFS_TEXT_LEN] = {};
    char *rest = buf;
    const char *key, *value;
    struct tevent *ev;
    int num;

    ev = cdev_tevent_alloc((u32)zoev_code);
    if (IS_ERR_OR_NULL(ev)) {
        upload_err("alloc tevent fail, zoev_code=%d\n", zoev_code);
        return;
    }

    // The fields point into this copy until the record is destroyed.
    strscpy(buf, text, sizeof(buf));
    upload_info("zoev_code=%d para_cnt=%d\n", zoev_code, para_cnt);

    while (zoevent_next_field(&rest, &key, &value)) {
        if (!kstrtoint(value, 10, &num)) {
            cdev_tevent_add_int(ev, key, (s64)num);
            upload_info("type=int, %s:%d\n", key, num);
        } else {
            cdev_tevent_add_str(ev, key, value);
            upload_info("type=string, %s:%s\n", key, value);
        }
    }

    cdev_tevent_write(ev);
    cdev_tevent_destroy(ev);
}
