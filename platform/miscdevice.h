// Miscellaneous character devices (include/linux/miscdevice.h, drivers/char/misc.c): a driver
// names a node and its file operations; the node appears as /dev/NAME.
#pragma once

#include <platform/fs.h>
#include <platform/list.h>

struct attribute_group;
struct device;

#define MISC_DYNAMIC_MINOR 255

struct miscdevice {
    int minor;
    const char *name;
    const struct file_operations *fops;
    struct list_head list;
    struct device *parent;
    struct device *this_device;
    const struct attribute_group **groups;
    const char *nodename;
    umode_t mode;  // of /dev/NAME; 0 means 0600, as devtmpfs makes it
};

extern "C" {
// 0, -EINVAL (no name or no file operations) or -EBUSY (the name is taken).
int misc_register(struct miscdevice *misc);
void misc_deregister(struct miscdevice *misc);
}
