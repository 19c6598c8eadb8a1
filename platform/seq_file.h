// Sequential files (include/linux/seq_file.h, fs/seq_file.c): output built record by record in
// a buffer that starts at one page and doubles whenever a record does not fit, then copied to
// the reader from wherever its file position is.
#pragma once

#include <platform/compiler.h>
#include <platform/fs.h>
#include <platform/mutex.h>

#include <cstdarg>

struct seq_operations;

struct seq_file {
    char *buf;
    size_t size;
    size_t from;
    size_t count;
    size_t pad_until;
    loff_t index;
    loff_t read_pos;
    struct mutex lock;
    const struct seq_operations *op;
    int poll_event;
    const struct file *file;
    // The kernel's `private` (a C++ keyword): single_open()'s data.
    void *private_data;
};

struct seq_operations {
    void *(*start)(struct seq_file *m, loff_t *pos);
    void (*stop)(struct seq_file *m, void *v);
    void *(*next)(struct seq_file *m, void *v, loff_t *pos);
    int (*show)(struct seq_file *m, void *v);
};

#define SEQ_SKIP 1

extern "C" {
int seq_open(struct file *file, const struct seq_operations *op);
ssize_t seq_read(struct file *file, char __user *buf, size_t size, loff_t *ppos);
loff_t seq_lseek(struct file *file, loff_t offset, int whence);
int seq_release(struct inode *inode, struct file *file);

// One record: show runs when a read starts at offset 0 (or at an offset reached by seeking),
// not again for the rest of the same output.
int single_open(struct file *file, int (*show)(struct seq_file *, void *), void *data);
int single_open_size(struct file *file, int (*show)(struct seq_file *, void *), void *data,
                     size_t size);
int single_release(struct inode *inode, struct file *file);

__printf(2, 0) void seq_vprintf(struct seq_file *m, const char *fmt, va_list args);
__printf(2, 3) void seq_printf(struct seq_file *m, const char *fmt, ...);
void seq_puts(struct seq_file *m, const char *s);
void seq_putc(struct seq_file *m, char c);
int seq_write(struct seq_file *seq, const void *data, size_t len);
}

// True when the last output did not fit: the record is shown again in a bigger buffer.
static inline bool seq_has_overflowed(struct seq_file *m) {
    return m->count == m->size;
}

// The free part of the buffer, for output written straight into it; commit it after.
static inline size_t seq_get_buf(struct seq_file *m, char **bufp) {
    if (m->count < m->size)
        *bufp = m->buf + m->count;
    else
        *bufp = nullptr;
    return m->size - m->count;
}

// num bytes written at seq_get_buf(); negative marks an overflow.
static inline void seq_commit(struct seq_file *m, int num) {
    if (num < 0) {
        m->count = m->size;
    } else {
        m->count += num;
    }
}
