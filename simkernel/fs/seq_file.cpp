// Real model: fs/seq_file.c of 5.10 (seq_read_iter's buffer growth, traverse() on seeks, the
// single_open() record), line for line where readers can tell the difference.
#include "simkernel/fs/fs_internal.h"

#include <platform/err.h>
#include <platform/errno.h>
#include <platform/printk.h>
#include <platform/seq_file.h>
#include <platform/slab.h>
#include <platform/string.h>
#include <platform/uaccess.h>

#include <cassert>
#include <cstdlib>
#include <cstring>

namespace sim::fs {
namespace {

struct kmem_cache *seq_file_cache;

// kvmalloc() of a power of two is naturally aligned in the kernel (a page for the first
// buffer), which sysfs_emit() relies on.
char *seq_buf_alloc(size_t size) {
    if (size > MAX_RW_COUNT)
        return nullptr;
    size_t align = size >= PAGE_SIZE ? PAGE_SIZE : alignof(std::max_align_t);
    return static_cast<char *>(std::aligned_alloc(align, (size + align - 1) / align * align));
}

void seq_buf_free(char *buf) {
    std::free(buf);
}

void seq_set_overflow(struct seq_file *m) {
    m->count = m->size;
}

int traverse(struct seq_file *m, loff_t offset) {
    loff_t pos = 0;
    int error = 0;
    void *p;

    m->index = 0;
    m->count = m->from = 0;
    if (!offset)
        return 0;

    if (!m->buf) {
        m->buf = seq_buf_alloc(m->size = PAGE_SIZE);
        if (!m->buf)
            return -ENOMEM;
    }
    p = m->op->start(m, &m->index);
    while (p) {
        error = PTR_ERR(p);
        if (IS_ERR(p))
            break;
        error = m->op->show(m, p);
        if (error < 0)
            break;
        if (unlikely(error)) {
            error = 0;
            m->count = 0;
        }
        if (seq_has_overflowed(m)) {
            m->op->stop(m, p);
            seq_buf_free(m->buf);
            m->count = 0;
            m->buf = seq_buf_alloc(m->size <<= 1);
            return !m->buf ? -ENOMEM : -EAGAIN;
        }
        p = m->op->next(m, p, &m->index);
        if (pos + (loff_t)m->count > offset) {
            m->from = offset - pos;
            m->count -= m->from;
            break;
        }
        pos += m->count;
        m->count = 0;
        if (pos == offset)
            break;
    }
    m->op->stop(m, p);
    return error;
}

// copy_to_iter() for one user buffer: the bytes copied before a fault.
size_t copy_out(char __user *to, size_t *done, size_t room, const char *from, size_t n) {
    if (n > room - *done)
        n = room - *done;
    size_t left = copy_to_user(to + *done, from, n);
    *done += n - left;
    return n - left;
}

void *single_start(struct seq_file *, loff_t *pos) {
    return reinterpret_cast<void *>(static_cast<uintptr_t>(*pos == 0));
}

void *single_next(struct seq_file *, void *, loff_t *pos) {
    ++*pos;
    return nullptr;
}

void single_stop(struct seq_file *, void *) {}

}  // namespace

void seq_file_boot() {
    seq_file_cache = kmem_cache_create("seq_file", sizeof(struct seq_file),
                                       alignof(struct seq_file), SLAB_ACCOUNT, nullptr);
    assert(seq_file_cache);
}

void seq_file_shutdown() {
    kmem_cache_destroy(seq_file_cache);
    seq_file_cache = nullptr;
}

}  // namespace sim::fs

using sim::fs::seq_buf_alloc;
using sim::fs::seq_buf_free;

extern "C" {

int seq_open(struct file *file, const struct seq_operations *op) {
    if (file->private_data)
        printk(KERN_WARNING "seq_open: file already has private data\n");
    auto *p =
        static_cast<struct seq_file *>(kmem_cache_zalloc(sim::fs::seq_file_cache, GFP_KERNEL));
    if (!p)
        return -ENOMEM;
    file->private_data = p;
    mutex_init(&p->lock);
    p->op = op;
    p->file = file;
    // Positions are the sequence's own: pwrite() makes no sense on it.
    file->f_mode &= ~FMODE_PWRITE;
    return 0;
}

ssize_t seq_read(struct file *file, char __user *buf, size_t size, loff_t *ppos) {
    struct seq_file *m = static_cast<struct seq_file *>(file->private_data);
    size_t copied = 0;
    size_t n;
    void *p;
    int err = 0;

    if (!size)
        return 0;

    mutex_lock(&m->lock);

    // A read from offset 0 starts from the first record again.
    if (*ppos == 0) {
        m->index = 0;
        m->count = 0;
    }

    if (unlikely(*ppos != m->read_pos)) {
        while ((err = sim::fs::traverse(m, *ppos)) == -EAGAIN) {
        }
        if (err) {
            m->read_pos = 0;
            m->index = 0;
            m->count = 0;
            goto Done;
        } else {
            m->read_pos = *ppos;
        }
    }

    if (!m->buf) {
        m->buf = seq_buf_alloc(m->size = PAGE_SIZE);
        if (!m->buf)
            goto Enomem;
    }
    // Something left in the buffer: copy it out first.
    if (m->count) {
        n = sim::fs::copy_out(buf, &copied, size, m->buf + m->from, m->count);
        m->count -= n;
        m->from += n;
        if (m->count)
            goto Done;
    }
    // Get a non-empty record in the buffer.
    m->from = 0;
    p = m->op->start(m, &m->index);
    while (1) {
        err = PTR_ERR(p);
        if (!p || IS_ERR(p))
            break;
        err = m->op->show(m, p);
        if (err < 0)
            break;
        if (unlikely(err))
            m->count = 0;
        if (unlikely(!m->count)) {
            p = m->op->next(m, p, &m->index);
            continue;
        }
        if (!seq_has_overflowed(m))
            goto Fill;
        // Need a bigger buffer.
        m->op->stop(m, p);
        seq_buf_free(m->buf);
        m->count = 0;
        m->buf = seq_buf_alloc(m->size <<= 1);
        if (!m->buf)
            goto Enomem;
        p = m->op->start(m, &m->index);
    }
    // EOF or an error.
    m->op->stop(m, p);
    m->count = 0;
    goto Done;
Fill:
    // One non-empty record is in the buffer; fit more if the reader wants more, advancing the
    // iterator once for every record shown.
    while (1) {
        size_t offs = m->count;
        loff_t pos = m->index;

        p = m->op->next(m, p, &m->index);
        if (pos == m->index) {
            printk(KERN_INFO "buggy .next function %p did not update position index\n",
                   reinterpret_cast<void *>(m->op->next));
            m->index++;
        }
        if (!p || IS_ERR(p))
            break;
        if (m->count >= size - copied)
            break;
        err = m->op->show(m, p);
        if (err > 0) {
            m->count = offs;
        } else if (err || seq_has_overflowed(m)) {
            m->count = offs;
            break;
        }
    }
    m->op->stop(m, p);
    n = sim::fs::copy_out(buf, &copied, size, m->buf, m->count);
    m->count -= n;
    m->from = n;
Done:
    if (unlikely(!copied)) {
        copied = m->count ? -EFAULT : err;
    } else {
        *ppos += copied;
        m->read_pos += copied;
    }
    mutex_unlock(&m->lock);
    return copied;
Enomem:
    err = -ENOMEM;
    goto Done;
}

loff_t seq_lseek(struct file *file, loff_t offset, int whence) {
    struct seq_file *m = static_cast<struct seq_file *>(file->private_data);
    loff_t retval = -EINVAL;

    mutex_lock(&m->lock);
    switch (whence) {
        case SEEK_CUR:
            offset += file->f_pos;
            [[fallthrough]];
        case SEEK_SET:
            if (offset < 0)
                break;
            retval = offset;
            if (offset != m->read_pos) {
                while ((retval = sim::fs::traverse(m, offset)) == -EAGAIN) {
                }
                if (retval) {
                    file->f_pos = 0;
                    m->read_pos = 0;
                    m->index = 0;
                    m->count = 0;
                } else {
                    m->read_pos = offset;
                    retval = file->f_pos = offset;
                }
            } else {
                file->f_pos = offset;
            }
    }
    mutex_unlock(&m->lock);
    return retval;
}

int seq_release(struct inode *, struct file *file) {
    struct seq_file *m = static_cast<struct seq_file *>(file->private_data);
    seq_buf_free(m->buf);
    kmem_cache_free(sim::fs::seq_file_cache, m);
    return 0;
}

int single_open(struct file *file, int (*show)(struct seq_file *, void *), void *data) {
    auto *op = static_cast<struct seq_operations *>(
        kmalloc(sizeof(struct seq_operations), GFP_KERNEL_ACCOUNT));
    int res = -ENOMEM;

    if (op) {
        op->start = sim::fs::single_start;
        op->next = sim::fs::single_next;
        op->stop = sim::fs::single_stop;
        op->show = show;
        res = seq_open(file, op);
        if (!res)
            static_cast<struct seq_file *>(file->private_data)->private_data = data;
        else
            kfree(op);
    }
    return res;
}

int single_open_size(struct file *file, int (*show)(struct seq_file *, void *), void *data,
                     size_t size) {
    char *buf = seq_buf_alloc(size);
    int ret;
    if (!buf)
        return -ENOMEM;
    ret = single_open(file, show, data);
    if (ret) {
        seq_buf_free(buf);
        return ret;
    }
    static_cast<struct seq_file *>(file->private_data)->buf = buf;
    static_cast<struct seq_file *>(file->private_data)->size = size;
    return 0;
}

int single_release(struct inode *inode, struct file *file) {
    const struct seq_operations *op = static_cast<struct seq_file *>(file->private_data)->op;
    int res = seq_release(inode, file);
    kfree(op);
    return res;
}

void seq_vprintf(struct seq_file *m, const char *f, va_list args) {
    int len;

    if (m->count < m->size) {
        len = vsnprintf(m->buf + m->count, m->size - m->count, f, args);
        if (m->count + len < m->size) {
            m->count += len;
            return;
        }
    }
    sim::fs::seq_set_overflow(m);
}

void seq_printf(struct seq_file *m, const char *f, ...) {
    va_list args;

    va_start(args, f);
    seq_vprintf(m, f, args);
    va_end(args);
}

void seq_puts(struct seq_file *m, const char *s) {
    size_t len = strlen(s);

    if (m->count + len >= m->size) {
        sim::fs::seq_set_overflow(m);
        return;
    }
    memcpy(m->buf + m->count, s, len);
    m->count += len;
}

void seq_putc(struct seq_file *m, char c) {
    if (m->count >= m->size)
        return;
    m->buf[m->count++] = c;
}

int seq_write(struct seq_file *seq, const void *data, size_t len) {
    if (seq->count + len < seq->size) {
        memcpy(seq->buf + seq->count, data, len);
        seq->count += len;
        return 0;
    }
    sim::fs::seq_set_overflow(seq);
    return -1;
}

}  // extern "C"
