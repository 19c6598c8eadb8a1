// Timestamped record logs for the memory services: two rings of the last 2048 records
// (perflock_records, zomdlog) and a table of the last 128 distinct exception texts with counts.
// Writers never wait: a busy lock drops the record.
#include "vmassist/vmassist.h"

#include <platform/errno.h>
#include <platform/printk.h>
#include <platform/rtc.h>
#include <platform/spinlock.h>
#include <platform/string.h>
#include <platform/timekeeping.h>
#include <platform/uaccess.h>

#include <climits>

#define LOG_RECORDS 2048
#define LOG_TEXT 128
#define EXCEPTION_RECORDS 128
#define EXCEPTION_TEXT 1024

struct log_record {
    char text[LOG_TEXT];
    struct timespec64 time;
};

struct exception_record {
    char text[EXCEPTION_TEXT];
    struct timespec64 time;
    int count;  // further writes of the same text
};

static struct log_record plr_buff[LOG_RECORDS];
static int plr_num;
static DEFINE_SPINLOCK(plr_lock);

static struct log_record ml_buff[LOG_RECORDS];
static int ml_num;
static DEFINE_SPINLOCK(ml_lock);

static struct exception_record ple_buff[EXCEPTION_RECORDS];
static int ple_num;
static int ple_write_index;
static DEFINE_SPINLOCK(ple_lock);

// Appends the user's text to a ring whose next slot is *m; returns len, or an error.
static ssize_t log_ring_append(struct log_record *buff, int *num, int *m, spinlock_t *lock,
                               const char __user *ubuf, size_t len) {
    char kbuf[LOG_TEXT] = {};
    struct log_record *rec;

    if (len > LOG_TEXT)
        return -EINVAL;
    if (copy_from_user(kbuf, ubuf, len))
        return -EFAULT;
    if (!spin_trylock(lock))
        return len;
    rec = &buff[*m];
    ktime_get_real_ts64(&rec->time);
    strscpy(rec->text, kbuf, sizeof(rec->text));
    *m = *m + 1 == LOG_RECORDS ? 0 : *m + 1;
    if (*num < LOG_RECORDS)
        (*num)++;
    spin_unlock(lock);
    return len;
}

// Slot i of a listing, oldest first: slots from the write position once the ring is full.
static int log_slot(int i, int num, int pos, int capacity) {
    return num < capacity ? i : (pos + i) % capacity;
}

static void log_ring_show(struct seq_file *s, const struct log_record *buff, int num, int pos) {
    for (int i = 0; i < num; i++) {
        const struct log_record *rec = &buff[log_slot(i, num, pos, LOG_RECORDS)];
        struct rtc_time tm;

        rtc_time64_to_tm(rec->time.tv_sec, &tm);
        seq_printf(s, "%d-%02d-%02d %02d:%02d:%02d UTC { %s }\n", tm.tm_year + 1900, tm.tm_mon + 1,
                   tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, rec->text);
    }
}

static int plr_m;

ssize_t perflock_records_write(struct file *, const char __user *buf, size_t len, loff_t *) {
    return log_ring_append(plr_buff, &plr_num, &plr_m, &plr_lock, buf, len);
}

int perflock_records_show(struct seq_file *s, void *) {
    spin_lock(&plr_lock);
    log_ring_show(s, plr_buff, plr_num, plr_m);
    spin_unlock(&plr_lock);
    return 0;
}

static int ml_m;

ssize_t zomdlog_write(struct file *, const char __user *buf, size_t len, loff_t *) {
    return log_ring_append(ml_buff, &ml_num, &ml_m, &ml_lock, buf, len);
}

int zomd_show(struct seq_file *s, void *) {
    spin_lock(&ml_lock);
    log_ring_show(s, ml_buff, ml_num, ml_m);
    spin_unlock(&ml_lock);
    return 0;
}

ssize_t perflock_exception_write(struct file *, const char __user *buf, size_t len, loff_t *) {
    // One byte more than a write may carry, so a full-length text is still terminated.
    char kbuf[EXCEPTION_TEXT + 1] = {};
    struct exception_record *rec;

    if (len > EXCEPTION_TEXT) {
        pr_err("perflock_exception userbuf size longer than 1024");
        return -EINVAL;
    }
    if (copy_from_user(kbuf, buf, len)) {
        pr_err("perflock_exception cant copy_from_userbuf");
        return -EFAULT;
    }
    kbuf[EXCEPTION_TEXT - 1] = '\0';
    if (!spin_trylock(&ple_lock))
        return len;
    for (int i = 0; i < ple_num; i++) {
        rec = &ple_buff[i];
        if (!strcmp(rec->text, kbuf) && rec->count < INT_MAX) {
            rec->count++;
            spin_unlock(&ple_lock);
            return len;
        }
    }
    rec = &ple_buff[ple_write_index];
    ktime_get_real_ts64(&rec->time);
    strscpy(rec->text, kbuf, sizeof(rec->text));
    rec->count = 0;
    ple_write_index = (ple_write_index + 1) % EXCEPTION_RECORDS;
    if (ple_num < EXCEPTION_RECORDS)
        ple_num++;
    spin_unlock(&ple_lock);
    return len;
}

int perflock_exception_show(struct seq_file *s, void *) {
    spin_lock(&ple_lock);
    for (int i = 0; i < ple_num; i++) {
        const struct exception_record *rec =
            &ple_buff[log_slot(i, ple_num, ple_write_index, EXCEPTION_RECORDS)];
        struct rtc_time tm;

        rtc_time64_to_tm(rec->time.tv_sec, &tm);
        // Widened: a saturated count still reads as its number of writes.
        seq_printf(s, "%d-%02d-%02d %02d:%02d:%02d UTC { %s count = %lld }\n", tm.tm_year + 1900,
                   tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, rec->text,
                   (long long)rec->count + 1);
    }
    spin_unlock(&ple_lock);
    return 0;
}
