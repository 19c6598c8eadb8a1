// Real model: the generic llseek routines of fs/read_write.c.
#include <platform/errno.h>
#include <platform/fs.h>

namespace {

loff_t vfs_setpos(struct file *file, loff_t offset, loff_t maxsize) {
    if (offset < 0)
        return -EINVAL;
    if (offset > maxsize)
        return -EINVAL;
    if (offset != file->f_pos)
        file->f_pos = offset;
    return offset;
}

}  // namespace

extern "C" {

loff_t default_llseek(struct file *file, loff_t offset, int whence) {
    struct inode *inode = file_inode(file);
    switch (whence) {
        case SEEK_END:
            offset += i_size_read(inode);
            break;
        case SEEK_CUR:
            if (offset == 0)
                return file->f_pos;
            offset += file->f_pos;
            break;
        case SEEK_DATA:
            if (offset >= inode->i_size)
                return -ENXIO;
            break;
        case SEEK_HOLE:
            if (offset >= inode->i_size)
                return -ENXIO;
            offset = inode->i_size;
            break;
    }
    if (offset < 0)
        return -EINVAL;
    file->f_pos = offset;
    return offset;
}

loff_t generic_file_llseek(struct file *file, loff_t offset, int whence) {
    loff_t eof = i_size_read(file_inode(file));
    switch (whence) {
        case SEEK_END:
            offset += eof;
            break;
        case SEEK_CUR:
            if (offset == 0)
                return file->f_pos;
            return vfs_setpos(file, file->f_pos + offset, MAX_LFS_FILESIZE);
        case SEEK_DATA:
            if ((unsigned long long)offset >= (unsigned long long)eof)
                return -ENXIO;
            break;
        case SEEK_HOLE:
            if ((unsigned long long)offset >= (unsigned long long)eof)
                return -ENXIO;
            offset = eof;
            break;
    }
    return vfs_setpos(file, offset, MAX_LFS_FILESIZE);
}

loff_t noop_llseek(struct file *file, loff_t, int) {
    return file->f_pos;
}

loff_t no_llseek(struct file *, loff_t, int) {
    return -ESPIPE;
}

int nonseekable_open(struct inode *, struct file *filp) {
    filp->f_mode &= ~(FMODE_LSEEK | FMODE_PREAD | FMODE_PWRITE);
    return 0;
}

}  // extern "C"
