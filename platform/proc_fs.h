// procfs (include/linux/proc_fs.h, fs/proc/generic.c): entries under /proc with their table of
// operations. A proc_dir_entry is opaque; PDE_DATA() gives an open routine its private data.
#pragma once

#include <platform/fs.h>

struct proc_dir_entry;
struct seq_file;
struct kiocb;
struct iov_iter;

// The entry is never removed: procfs skips the in-use accounting of its calls.
#define PROC_ENTRY_PERMANENT 1U

struct proc_ops {
    unsigned int proc_flags;
    int (*proc_open)(struct inode *, struct file *);
    ssize_t (*proc_read)(struct file *, char __user *, size_t, loff_t *);
    ssize_t (*proc_read_iter)(struct kiocb *, struct iov_iter *);
    ssize_t (*proc_write)(struct file *, const char __user *, size_t, loff_t *);
    loff_t (*proc_lseek)(struct file *, loff_t, int);
    int (*proc_release)(struct inode *, struct file *);
    __poll_t (*proc_poll)(struct file *, struct poll_table_struct *);
    long (*proc_ioctl)(struct file *, unsigned int, unsigned long);
    long (*proc_compat_ioctl)(struct file *, unsigned int, unsigned long);
    int (*proc_mmap)(struct file *, struct vm_area_struct *);
    unsigned long (*proc_get_unmapped_area)(struct file *, unsigned long, unsigned long,
                                            unsigned long, unsigned long);
};

extern "C" {
// A null parent means /proc itself. Mode without type bits is a regular file; mode without
// permission bits becomes 0444. Null on failure.
struct proc_dir_entry *proc_create(const char *name, umode_t mode, struct proc_dir_entry *parent,
                                   const struct proc_ops *proc_ops);
struct proc_dir_entry *proc_create_data(const char *name, umode_t mode,
                                        struct proc_dir_entry *parent,
                                        const struct proc_ops *proc_ops, void *data);
// An entry read through single_open() with show; data is the seq_file's private.
struct proc_dir_entry *proc_create_single_data(const char *name, umode_t mode,
                                               struct proc_dir_entry *parent,
                                               int (*show)(struct seq_file *, void *), void *data);
struct proc_dir_entry *proc_mkdir(const char *name, struct proc_dir_entry *parent);
struct proc_dir_entry *proc_mkdir_mode(const char *name, umode_t mode,
                                       struct proc_dir_entry *parent);
struct proc_dir_entry *proc_mkdir_data(const char *name, umode_t mode,
                                       struct proc_dir_entry *parent, void *data);
struct proc_dir_entry *proc_symlink(const char *name, struct proc_dir_entry *parent,
                                    const char *dest);
void proc_set_size(struct proc_dir_entry *de, loff_t size);
void proc_set_user(struct proc_dir_entry *de, kuid_t uid, kgid_t gid);

// Waits for calls already running in the entry's routines, releases its open files and
// removes it. Both take the name relative to parent (null: /proc).
void remove_proc_entry(const char *name, struct proc_dir_entry *parent);
int remove_proc_subtree(const char *name, struct proc_dir_entry *parent);
void proc_remove(struct proc_dir_entry *de);

void *PDE_DATA(const struct inode *inode);
void *proc_get_parent_data(const struct inode *inode);
}

#define proc_create_single(name, mode, parent, show) \
    proc_create_single_data(name, mode, parent, show, NULL)
