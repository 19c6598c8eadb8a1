// Open files and inodes (include/linux/fs.h): the parts that file operations of procfs, sysfs
// and character devices see.
#pragma once

#include <platform/compiler.h>
#include <platform/stat.h>
#include <platform/types.h>

#include <climits>

typedef unsigned int __poll_t;

struct cred;
struct module;
struct poll_table_struct;
struct vm_area_struct;
struct sim_inode_host;

#define FMODE_READ ((fmode_t)0x1)
#define FMODE_WRITE ((fmode_t)0x2)
#define FMODE_LSEEK ((fmode_t)0x4)
#define FMODE_PREAD ((fmode_t)0x8)
#define FMODE_PWRITE ((fmode_t)0x10)
#define FMODE_EXEC ((fmode_t)0x20)
#define FMODE_ATOMIC_POS ((fmode_t)0x8000)
#define FMODE_CAN_READ ((fmode_t)0x20000)
#define FMODE_CAN_WRITE ((fmode_t)0x40000)

#define MAY_EXEC 0x00000001
#define MAY_WRITE 0x00000002
#define MAY_READ 0x00000004
#define MAY_APPEND 0x00000008
#define MAY_ACCESS 0x00000010
#define MAY_OPEN 0x00000020

// open(2) flags that are the same on arm64 and on the host; the C library may define them too.
#ifndef O_ACCMODE
#define O_ACCMODE 00000003
#define O_RDONLY 00000000
#define O_WRONLY 00000001
#define O_RDWR 00000002
#define O_CREAT 00000100
#define O_EXCL 00000200
#define O_NOCTTY 00000400
#define O_TRUNC 00001000
#define O_APPEND 00002000
#define O_NONBLOCK 00004000
#endif

#ifndef SEEK_SET
#define SEEK_SET 0
#define SEEK_CUR 1
#define SEEK_END 2
#endif
#define SEEK_DATA 3
#define SEEK_HOLE 4
#define SEEK_MAX SEEK_HOLE

#define MAX_LFS_FILESIZE ((loff_t)LLONG_MAX)
#define MAX_RW_COUNT (INT_MAX & ~(PAGE_SIZE - 1))

struct inode {
    umode_t i_mode;
    unsigned int i_nlink;
    kuid_t i_uid;
    kgid_t i_gid;
    unsigned long i_ino;
    loff_t i_size;
    void *i_private;
    // The node of the simulated filesystem behind this inode; opaque to module code.
    struct sim_inode_host *sim_host;
};

struct file {
    struct inode *f_inode;
    const struct file_operations *f_op;
    unsigned int f_flags;
    fmode_t f_mode;
    loff_t f_pos;
    const struct cred *f_cred;
    void *private_data;
};

struct file_operations {
    struct module *owner;
    loff_t (*llseek)(struct file *, loff_t, int);
    ssize_t (*read)(struct file *, char __user *, size_t, loff_t *);
    ssize_t (*write)(struct file *, const char __user *, size_t, loff_t *);
    __poll_t (*poll)(struct file *, struct poll_table_struct *);
    long (*unlocked_ioctl)(struct file *, unsigned int, unsigned long);
    long (*compat_ioctl)(struct file *, unsigned int, unsigned long);
    int (*mmap)(struct file *, struct vm_area_struct *);
    int (*open)(struct inode *, struct file *);
    int (*release)(struct inode *, struct file *);
    int (*fasync)(int, struct file *, int);
};

static inline struct inode *file_inode(const struct file *f) {
    return f->f_inode;
}
static inline loff_t i_size_read(const struct inode *inode) {
    return inode->i_size;
}

extern "C" {
loff_t default_llseek(struct file *file, loff_t offset, int whence);
loff_t generic_file_llseek(struct file *file, loff_t offset, int whence);
loff_t noop_llseek(struct file *file, loff_t offset, int whence);
loff_t no_llseek(struct file *file, loff_t offset, int whence);
int nonseekable_open(struct inode *inode, struct file *filp);
}
