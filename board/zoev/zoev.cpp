// zoev: the event channel of the device's diagnostics service. A driver builds a record (an
// event id and key-and-value fields, in the order added), writes it to the channel and
// destroys it. The channel keeps the last ZOEV_MAX_RECORDS written records, each stamped with
// the monotonic time of its write, and /dev/zoev reads them one line each, oldest first:
//
//   [   75.000000] 909002004 chgErrInfo="CpVbusOVP" tbat=563
//
// String values are quoted (a '"' or '\' in them escaped with '\'), integers bare. Writing
// "clear" to /dev/zoev empties the channel.
#include <platform/errno.h>
#include <platform/fs.h>
#include <platform/list.h>
#include <platform/miscdevice.h>
#include <platform/module.h>
#include <platform/mutex.h>
#include <platform/seq_file.h>
#include <platform/slab.h>
#include <platform/string.h>
#include <platform/timekeeping.h>
#include <platform/uaccess.h>
#include <platform/zoev.h>

#define ZOEV_MAX_RECORDS 1024
#define ZOEV_FIELDS_LEN 1024

// A record being built: the fields as they will be printed.
struct tevent {
    u32 id;
    size_t len;
    char fields[ZOEV_FIELDS_LEN];
};

// A record written to the channel.
struct zoev_record {
    struct list_head list;
    u64 seq;
    u64 time_ns;
    u32 id;
    char fields[];
};

static DEFINE_MUTEX(zoev_lock);
static LIST_HEAD(zoev_records);
static unsigned int zoev_count;
static u64 zoev_next_seq;

struct tevent *cdev_tevent_alloc(u32 id) {
    struct tevent *ev = (struct tevent *)kmalloc(sizeof(*ev), GFP_KERNEL);
    if (!ev)
        return nullptr;
    ev->id = id;
    ev->len = 0;
    ev->fields[0] = 0;
    return ev;
}
EXPORT_SYMBOL_GPL(cdev_tevent_alloc);

// Appends text at the end of the fields, or nothing when it does not fit.
static int tevent_append(struct tevent *ev, const char *text, size_t n) {
    if (ev->len + n >= sizeof(ev->fields))
        return -ENOSPC;
    memcpy(ev->fields + ev->len, text, n);
    ev->len += n;
    ev->fields[ev->len] = 0;
    return 0;
}

int cdev_tevent_add_str(struct tevent *ev, const char *key, const char *value) {
    char buf[ZOEV_FIELDS_LEN];
    size_t n;

    if (!ev || !key || !value)
        return -EINVAL;
    n = scnprintf(buf, sizeof(buf), " %s=\"", key);
    for (const char *p = value; *p && n < sizeof(buf) - 3; p++) {
        if (*p == '"' || *p == '\\')
            buf[n++] = '\\';
        buf[n++] = *p;
    }
    if (n >= sizeof(buf) - 2)
        return -ENOSPC;
    buf[n++] = '"';
    return tevent_append(ev, buf, n);
}
EXPORT_SYMBOL_GPL(cdev_tevent_add_str);

int cdev_tevent_add_int(struct tevent *ev, const char *key, s64 value) {
    char buf[ZOEV_FIELDS_LEN];
    size_t n;

    if (!ev || !key)
        return -EINVAL;
    n = scnprintf(buf, sizeof(buf), " %s=%lld", key, (long long)value);
    return tevent_append(ev, buf, n);
}
EXPORT_SYMBOL_GPL(cdev_tevent_add_int);

int cdev_tevent_write(struct tevent *ev) {
    struct zoev_record *rec, *old = nullptr;

    if (!ev)
        return -EINVAL;
    rec = (struct zoev_record *)kmalloc(sizeof(*rec) + ev->len + 1, GFP_KERNEL);
    if (!rec)
        return -ENOMEM;
    rec->id = ev->id;
    rec->time_ns = ktime_get_ns();
    memcpy(rec->fields, ev->fields, ev->len + 1);

    mutex_lock(&zoev_lock);
    rec->seq = zoev_next_seq++;
    list_add_tail(&rec->list, &zoev_records);
    if (++zoev_count > ZOEV_MAX_RECORDS) {
        old = list_first_entry(&zoev_records, struct zoev_record, list);
        list_del(&old->list);
        zoev_count--;
    }
    mutex_unlock(&zoev_lock);
    kfree(old);
    return 0;
}
EXPORT_SYMBOL_GPL(cdev_tevent_write);

void cdev_tevent_destroy(struct tevent *ev) {
    kfree(ev);
}
EXPORT_SYMBOL_GPL(cdev_tevent_destroy);

static void zoev_clear(void) {
    struct zoev_record *rec, *tmp;
    LIST_HEAD(gone);

    mutex_lock(&zoev_lock);
    list_for_each_entry_safe(rec, tmp, &zoev_records, list) list_move_tail(&rec->list, &gone);
    zoev_count = 0;
    mutex_unlock(&zoev_lock);
    list_for_each_entry_safe(rec, tmp, &gone, list) kfree(rec);
}

// The position is the sequence number of the next record to show, so records dropped or
// cleared while a reader is part-way through do not shift what it reads next.
static void *zoev_seq_start(struct seq_file *, loff_t *pos) {
    struct zoev_record *rec;

    mutex_lock(&zoev_lock);
    list_for_each_entry(rec, &zoev_records, list) {
        if (rec->seq >= (u64)*pos)
            return rec;
    }
    return nullptr;
}

static void *zoev_seq_next(struct seq_file *, void *v, loff_t *pos) {
    struct zoev_record *rec = (struct zoev_record *)v;

    *pos = (loff_t)(rec->seq + 1);
    if (rec->list.next == &zoev_records)
        return nullptr;
    return list_next_entry(rec, list);
}

static void zoev_seq_stop(struct seq_file *, void *) {
    mutex_unlock(&zoev_lock);
}

static int zoev_seq_show(struct seq_file *m, void *v) {
    struct zoev_record *rec = (struct zoev_record *)v;
    u64 secs = rec->time_ns / 1000000000ULL;
    unsigned long usecs = (unsigned long)(rec->time_ns % 1000000000ULL / 1000);

    seq_printf(m, "[%5llu.%06lu] %u%s\n", (unsigned long long)secs, usecs, rec->id, rec->fields);
    return 0;
}

static const struct seq_operations zoev_seq_ops = {
    .start = zoev_seq_start,
    .stop = zoev_seq_stop,
    .next = zoev_seq_next,
    .show = zoev_seq_show,
};

static int zoev_open(struct inode *, struct file *file) {
    return seq_open(file, &zoev_seq_ops);
}

static ssize_t zoev_write(struct file *, const char __user *ubuf, size_t count, loff_t *) {
    char buf[8] = {};

    if (count >= sizeof(buf))
        return -EINVAL;
    if (copy_from_user(buf, ubuf, count))
        return -EFAULT;
    if (count && buf[count - 1] == '\n')
        buf[count - 1] = 0;
    if (strcmp(buf, "clear"))
        return -EINVAL;
    zoev_clear();
    return count;
}

static const struct file_operations zoev_fops = {
    .owner = THIS_MODULE,
    .llseek = seq_lseek,
    .read = seq_read,
    .write = zoev_write,
    .open = zoev_open,
    .release = seq_release,
};

static struct miscdevice zoev_misc = {
    .minor = MISC_DYNAMIC_MINOR,
    .name = "zoev",
    .fops = &zoev_fops,
    .mode = 0644,
};

static int __init zoev_init(void) {
    return misc_register(&zoev_misc);
}
module_init(zoev_init);

static void __exit zoev_exit(void) {
    misc_deregister(&zoev_misc);
    zoev_clear();
}
module_exit(zoev_exit);

MODULE_DESCRIPTION("Diagnostic event channel");
MODULE_LICENSE("GPL v2");
