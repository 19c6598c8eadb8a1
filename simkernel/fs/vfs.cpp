// Real model: the system calls of the in-process file API over the node tree (open with the
// path walk and permission checks of fs/namei.c, read/write/lseek as fs/read_write.c, close
// releasing the open file when its last user is gone), with one table of descriptors.
#include "simkernel/fs/vfs.h"

#include "simkernel/fs/node.h"

#include <platform/errno.h>
#include <platform/fs.h>
#include <platform/sched.h>
#include <platform/timekeeping.h>

#include <memory>
#include <mutex>

namespace sim::vfs {
namespace {

using fs::NodeRef;

struct OpenFile {
    struct file file {};
    NodeRef node;         // set once the node's open() succeeded
    std::mutex pos_lock;  // f_pos_lock: one read, write or seek at a time

    ~OpenFile() {
        if (node)
            node->release(&file);
    }
};

// Descriptors 0 to 2 are left to the standard streams of the shell and of FUSE callers.
constexpr int kFirstFd = 3;

struct FdTable {
    std::mutex lock;
    std::vector<std::shared_ptr<OpenFile>> files;  // index fd - kFirstFd
};

FdTable &fds() {
    static FdTable t;
    return t;
}

std::shared_ptr<OpenFile> get(int fd) {
    FdTable &t = fds();
    std::lock_guard<std::mutex> g(t.lock);
    size_t i = fd - kFirstFd;
    if (fd < kFirstFd || i >= t.files.size())
        return nullptr;
    return t.files[i];
}

int install(std::shared_ptr<OpenFile> of) {
    FdTable &t = fds();
    std::lock_guard<std::mutex> g(t.lock);
    for (size_t i = 0; i < t.files.size(); i++) {
        if (!t.files[i]) {
            t.files[i] = std::move(of);
            return kFirstFd + static_cast<int>(i);
        }
    }
    t.files.push_back(std::move(of));
    return kFirstFd + static_cast<int>(t.files.size() - 1);
}

}  // namespace

void close_all() {
    std::vector<std::shared_ptr<OpenFile>> files;
    {
        FdTable &t = fds();
        std::lock_guard<std::mutex> g(t.lock);
        files.swap(t.files);
    }
}

int open(std::string_view path, int flags) {
    NodeRef n;
    int err = fs::lookup(path, true, &n);
    if (err == -ENOENT && (flags & O_CREAT_)) {
        std::shared_ptr<fs::Dir> dir;
        std::string name;
        err = fs::lookup_parent(path, &dir, &name);
        if (err)
            return err;
        // procfs's lookup fails a missing name before creation is considered. sysfs and
        // cgroupfs first check that the caller may create in the directory, then refuse the
        // missing name; devtmpfs's directories here have no create operation.
        std::string where = dir->path();
        if (where == "/proc" || where.starts_with("/proc/"))
            return -ENOENT;
        if (where == "/sys" || where.starts_with("/sys/") || where == "/dev/memcg" ||
            where.starts_with("/dev/memcg/")) {
            if (int perm = dir->permission(fs::current_cred(), MAY_WRITE | MAY_EXEC))
                return perm;
            return -ENOENT;
        }
        return -EACCES;
    }
    if (err)
        return err;
    if ((flags & O_CREAT_) && (flags & O_EXCL))
        return -EEXIST;
    return open_node(n, flags);
}

int open_node(const NodeRef &n, int flags) {
    int acc = flags & O_ACCMODE;
    fmode_t fmode = 0;
    int mask = 0;
    if (acc == O_RDONLY_ || acc == O_RDWR_)
        fmode |= FMODE_READ;
    if (acc == O_WRONLY_ || acc == O_RDWR_)
        fmode |= FMODE_WRITE;
    // Access mode 3 opens for ioctl only but needs both permissions.
    if (acc == O_ACCMODE)
        mask = MAY_READ | MAY_WRITE;
    if (fmode & FMODE_READ)
        mask |= MAY_READ;
    // build_open_flags(): truncation needs write permission whatever the access mode.
    if ((fmode & FMODE_WRITE) || (flags & O_TRUNC_))
        mask |= MAY_WRITE;
    if (n->is_dir() && ((mask & MAY_WRITE) || (flags & O_CREAT_)))
        return -EISDIR;

    const struct cred *cred = fs::current_cred();
    int err = n->permission(cred, mask);
    if (err)
        return err;

    auto of = std::make_shared<OpenFile>();
    of->file.f_inode = n->inode();
    of->file.f_flags = flags & ~(O_CREAT_ | O_EXCL | O_NOCTTY | O_TRUNC_);
    of->file.f_mode = fmode | FMODE_LSEEK | FMODE_PREAD | FMODE_PWRITE | FMODE_ATOMIC_POS;
    of->file.f_cred = cred;
    err = n->open(&of->file);
    if (err)
        return err;
    of->node = n;
    return install(std::move(of));
}

ssize_t read(int fd, void *buf, size_t count) {
    std::shared_ptr<OpenFile> of = get(fd);
    if (!of)
        return -EBADF;
    if (!(of->file.f_mode & FMODE_READ))
        return -EBADF;
    if (count > MAX_RW_COUNT)
        count = MAX_RW_COUNT;
    std::lock_guard<std::mutex> g(of->pos_lock);
    loff_t pos = of->file.f_pos;
    ssize_t ret = of->node->read(&of->file, static_cast<char __user *>(buf), count, &pos);
    if (ret >= 0)
        of->file.f_pos = pos;
    return ret;
}

ssize_t write(int fd, const void *buf, size_t count) {
    std::shared_ptr<OpenFile> of = get(fd);
    if (!of)
        return -EBADF;
    if (!(of->file.f_mode & FMODE_WRITE))
        return -EBADF;
    if (count > MAX_RW_COUNT)
        count = MAX_RW_COUNT;
    std::lock_guard<std::mutex> g(of->pos_lock);
    loff_t pos = of->file.f_pos;
    ssize_t ret = of->node->write(&of->file, static_cast<const char __user *>(buf), count, &pos);
    if (ret >= 0)
        of->file.f_pos = pos;
    return ret;
}

loff_t lseek(int fd, loff_t offset, int whence) {
    std::shared_ptr<OpenFile> of = get(fd);
    if (!of)
        return -EBADF;
    if (whence < 0 || whence > SEEK_MAX)
        return -EINVAL;
    if (!(of->file.f_mode & FMODE_LSEEK))
        return -ESPIPE;
    std::lock_guard<std::mutex> g(of->pos_lock);
    return of->node->llseek(&of->file, offset, whence);
}

int close(int fd) {
    std::shared_ptr<OpenFile> of;
    {
        FdTable &t = fds();
        std::lock_guard<std::mutex> g(t.lock);
        size_t i = fd - kFirstFd;
        if (fd < kFirstFd || i >= t.files.size() || !t.files[i])
            return -EBADF;
        of = std::move(t.files[i]);
    }
    // The release runs here unless a read or write on another thread still uses the file.
    of.reset();
    return 0;
}

int stat(std::string_view path, Stat *st) {
    NodeRef n;
    int err = fs::lookup(path, false, &n);
    if (err)
        return err;
    stat_node(*n, st);
    return 0;
}

void stat_node(const fs::Node &n, Stat *st) {
    const struct inode *inode = const_cast<fs::Node &>(n).inode();
    st->mode = inode->i_mode;
    st->uid = inode->i_uid.val;
    st->gid = inode->i_gid.val;
    st->size = S_ISLNK(inode->i_mode) ? 0 : inode->i_size;
    if (auto *link = dynamic_cast<const fs::Symlink *>(&n))
        st->size = link->target().size();
    st->mtime = n.mtime();
    st->nlink = n.nlink();
    st->ino = inode->i_ino;
    st->rdev = n.rdev();
}

int readdir(std::string_view path, std::vector<DirEntry> *entries) {
    NodeRef n;
    int err = fs::lookup(path, true, &n);
    if (err)
        return err;
    return readdir_node(n, entries);
}

int readdir_node(const NodeRef &n, std::vector<DirEntry> *entries) {
    auto dir = std::dynamic_pointer_cast<fs::Dir>(n);
    if (!dir)
        return -ENOTDIR;
    if (int err = dir->permission(fs::current_cred(), MAY_READ))
        return err;
    entries->clear();
    for (const NodeRef &c : dir->children())
        entries->push_back({c->name(), c->mode(), c->inode()->i_ino});
    return 0;
}

int mkdir(std::string_view path, umode_t mode) {
    std::shared_ptr<fs::Dir> dir;
    std::string name;
    int err = fs::lookup_parent(path, &dir, &name);
    if (err)
        return err;
    if (name == "." || name == ".." || dir->lookup(name))
        return -EEXIST;
    err = dir->permission(fs::current_cred(), MAY_WRITE | MAY_EXEC);
    if (err)
        return err;
    return dir->mkdir(name, mode & S_IALLUGO);
}

int rmdir(std::string_view path) {
    std::shared_ptr<fs::Dir> dir;
    std::string name;
    int err = fs::lookup_parent(path, &dir, &name);
    if (err)
        return err == -EEXIST ? -EBUSY : err;
    if (name == ".")
        return -EINVAL;
    if (name == "..")
        return -ENOTEMPTY;
    NodeRef child = dir->lookup(name);
    if (!child)
        return -ENOENT;
    if (!child->is_dir())
        return -ENOTDIR;
    err = dir->permission(fs::current_cred(), MAY_WRITE | MAY_EXEC);
    if (err)
        return err;
    return dir->rmdir(child);
}

int readlink(std::string_view path, std::string *target) {
    NodeRef n;
    int err = fs::lookup(path, false, &n);
    if (err)
        return err;
    return readlink_node(*n, target);
}

int readlink_node(const fs::Node &n, std::string *target) {
    auto *link = dynamic_cast<const fs::Symlink *>(&n);
    if (!link)
        return -EINVAL;
    *target = link->target();
    return static_cast<int>(target->size());
}

int setattr_node(const NodeRef &n, const Attr &attr) {
    const struct cred *cred = fs::current_cred();
    const struct inode *inode = n->inode();
    const bool capable = cred->fsuid.val == 0;
    const bool owner = cred->fsuid.val == inode->i_uid.val;
    umode_t mode = attr.mode & S_IALLUGO;
    if (attr.valid & ATTR_SIZE_) {
        if (n->is_dir())
            return -EISDIR;
        if (!S_ISREG(inode->i_mode))
            return -EINVAL;
        if (int err = n->permission(cred, MAY_WRITE))
            return err;
    }
    if ((attr.valid & ATTR_MTIME_NOW_) && !owner && !capable) {
        if (int err = n->permission(cred, MAY_WRITE))
            return err;
    }
    if ((attr.valid & ATTR_UID_) && !capable && !(owner && attr.uid == inode->i_uid.val))
        return -EPERM;
    if ((attr.valid & ATTR_GID_) && !capable &&
        !(owner && (attr.gid == inode->i_gid.val || attr.gid == cred->fsgid.val)))
        return -EPERM;
    if ((attr.valid & (ATTR_MODE_ | ATTR_MTIME_)) && !owner && !capable)
        return -EPERM;
    if (attr.valid & ATTR_MODE_) {
        // Without CAP_FSETID, the set-group-ID bit needs membership of the file's group.
        gid_t group = (attr.valid & ATTR_GID_) ? attr.gid : inode->i_gid.val;
        if (!capable && group != cred->fsgid.val)
            mode &= ~S_ISGID;
    }

    if (attr.valid & (ATTR_UID_ | ATTR_GID_))
        n->set_owner((attr.valid & ATTR_UID_) ? attr.uid : inode->i_uid.val,
                     (attr.valid & ATTR_GID_) ? attr.gid : inode->i_gid.val);
    if (attr.valid & ATTR_MODE_)
        n->set_mode(mode);
    if (attr.valid & ATTR_MTIME_)
        n->set_mtime(attr.mtime);
    else if (attr.valid & ATTR_MTIME_NOW_)
        n->set_mtime(ktime_get_real_seconds());
    return 0;
}

int read_file(std::string_view path, std::string *out) {
    int fd = open(path, O_RDONLY_);
    if (fd < 0)
        return fd;
    out->clear();
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof(buf))) > 0)
        out->append(buf, n);
    close(fd);
    return n < 0 ? static_cast<int>(n) : 0;
}

int write_file(std::string_view path, std::string_view text) {
    int fd = open(path, O_WRONLY_);
    if (fd < 0)
        return fd;
    ssize_t n = write(fd, text.data(), text.size());
    close(fd);
    return static_cast<int>(n);
}

}  // namespace sim::vfs
