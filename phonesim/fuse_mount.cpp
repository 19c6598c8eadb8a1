// FUSE low-level operations over the node tree. One thread serves the requests, so a round trip
// is the kernel's hand-over and the node's own work: entries and attributes stay in the kernel's
// cache (the tree tells us when a node goes or changes, and a notifier thread drops what the
// kernel holds), each open is one open file of the node (direct I/O, so one read() or write()
// reaches the node once), and permission checks are the kernel's own on our attributes
// (default_permissions) followed by the node's, as the caller's task.
#define FUSE_USE_VERSION 312
#include "phonesim/fuse_mount.h"

#include "simkernel/fs/node.h"
#include "simkernel/fs/vfs.h"
#include "simkernel/kernel/sim_time.h"
#include "simkernel/kernel/task.h"

#include <fcntl.h>
#include <fuse_lowlevel.h>
#include <pthread.h>
#include <signal.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace phonesim {

int fuse_errno(long result) {
    if (result >= 0)
        return 0;
    long e = -result;
    switch (e) {
        case 512:  // ERESTARTSYS
        case 513:  // ERESTARTNOINTR
        case 514:  // ERESTARTNOHAND
        case 516:  // ERESTART_RESTARTBLOCK
            return EINTR;
        case 515:  // ENOIOCTLCMD
            return ENOTTY;
        case 518:  // EOPENSTALE
            return ESTALE;
        case 524:  // ENOTSUPP
            return EOPNOTSUPP;
        default:
            return e < 512 ? static_cast<int>(e) : EIO;
    }
}

namespace {

using sim::fs::NodeRef;

// The kernel may cache an entry this long: removal and changes are told to it at once.
constexpr double kEntryTimeout = 3600;
// Attributes the tree does not report (a directory's link count) are refreshed this often.
constexpr double kAttrTimeout = 1;

void fill_stat(const sim::fs::Node &node, struct stat *st) {
    sim::vfs::Stat s;
    sim::vfs::stat_node(node, &s);
    *st = {};
    st->st_ino = s.ino;
    st->st_mode = s.mode;
    st->st_nlink = s.nlink;
    st->st_uid = s.uid;
    st->st_gid = s.gid;
    st->st_size = s.size;
    st->st_rdev = makedev(static_cast<unsigned>(s.rdev >> 20), s.rdev & 0xfffff);
    st->st_blksize = 4096;
    st->st_mtim.tv_sec = st->st_atim.tv_sec = st->st_ctim.tv_sec = s.mtime;
}

// Host processes as user tasks: one task per calling process, named as the process is now
// (exec renames it) and with its uid and gid.
class CallerTasks {
  public:
    ~CallerTasks() {
        for (auto &[pid, c] : callers_)
            drop(c);
    }

    struct task_struct *get(const struct fuse_ctx *ctx) {
        auto it = callers_.find(ctx->pid);
        char comm[TASK_COMM_LEN + 1];
        ssize_t n = -1;
        if (it != callers_.end()) {
            // A caller without a /proc entry (the kernel's own requests) keeps its first name.
            if (it->second.comm_fd < 0)
                return it->second.task;
            n = pread(it->second.comm_fd, comm, TASK_COMM_LEN, 0);
            if (n <= 0 || it->second.uid != ctx->uid || it->second.gid != ctx->gid) {
                drop(it->second);
                callers_.erase(it);
                it = callers_.end();
            }
        }
        if (it == callers_.end()) {
            sweep();
            Caller c;
            c.uid = ctx->uid;
            c.gid = ctx->gid;
            std::string path = "/proc/" + std::to_string(ctx->pid) + "/comm";
            c.comm_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
            n = c.comm_fd < 0 ? -1 : pread(c.comm_fd, comm, TASK_COMM_LEN, 0);
            if (n <= 0)
                n = snprintf(comm, sizeof(comm), "%d", ctx->pid);
            comm[n] = 0;
            if (char *nl = strchr(comm, '\n'))
                *nl = 0;
            c.task = sim::task_create_user(comm, c.uid, c.gid);
            it = callers_.emplace(ctx->pid, c).first;
            return c.task;
        }
        comm[n] = 0;
        if (char *nl = strchr(comm, '\n'))
            *nl = 0;
        struct task_struct *t = it->second.task;
        if (strcmp(t->comm, comm) != 0) {
            size_t len = strnlen(comm, TASK_COMM_LEN - 1);
            memcpy(t->comm, comm, len);
            t->comm[len] = 0;
        }
        return t;
    }

  private:
    struct Caller {
        int comm_fd = -1;
        uid_t uid = 0;
        gid_t gid = 0;
        struct task_struct *task = nullptr;
    };
    static void drop(Caller &c) {
        if (c.comm_fd >= 0)
            ::close(c.comm_fd);
        sim::task_exit(c.task);
    }

    // Tasks of processes that have exited leave the task list when a new process calls, as the
    // processes of a shell script come and go.
    void sweep() {
        char byte;
        for (auto it = callers_.begin(); it != callers_.end();) {
            if (pread(it->second.comm_fd, &byte, 1, 0) == 1) {
                ++it;
                continue;
            }
            drop(it->second);
            it = callers_.erase(it);
        }
    }

    std::unordered_map<pid_t, Caller> callers_;
};

// An open file: the node's, and the task that opened it (which its struct file's credentials
// belong to, so it stays until the release).
struct OpenFile {
    int fd = -1;
    loff_t pos = 0;
    struct task_struct *task = nullptr;
};

struct OpenDir {
    std::vector<sim::vfs::DirEntry> entries;
};

}  // namespace

struct FuseMount::Impl : sim::fs::TreeObserver {
    struct fuse_session *se = nullptr;
    std::thread loop;
    std::atomic<bool> loop_done{false};
    std::atomic<bool> stopping{false};
    std::function<void()> on_unmounted;

    // Node ids handed to the kernel, and how many lookups each holds. Observer calls come from
    // any thread, so the table has a lock of its own, never held while calling into the tree.
    struct Entry {
        NodeRef node;
        uint64_t nlookup = 0;
    };
    std::mutex table_lock;
    std::unordered_map<fuse_ino_t, Entry> entries;
    std::unordered_map<const sim::fs::Node *, fuse_ino_t> ids;
    fuse_ino_t next_id = FUSE_ROOT_ID + 1;

    // Invalidations for the kernel's cache, sent from a thread of their own: the kernel may
    // need a lock that the request being served holds.
    struct Notice {
        fuse_ino_t ino;
        std::string name;  // empty: the inode's attributes
    };
    std::mutex notice_lock;
    std::condition_variable notice_cv;
    std::deque<Notice> notices;
    bool notifier_stop = false;
    std::thread notifier;

    // Served on the loop thread only.
    CallerTasks callers;
    std::vector<OpenFile> files;  // by the node file's descriptor
    std::vector<char> buf;

    ~Impl() { stop(); }

    void detached(const sim::fs::Dir &parent, const sim::fs::Node &node) override {
        fuse_ino_t pid;
        {
            std::lock_guard g(table_lock);
            auto it = ids.find(&parent);
            if (it == ids.end() || !ids.count(&node))
                return;
            pid = it->second;
        }
        queue({pid, node.name()});
    }

    void changed(const sim::fs::Node &node) override {
        fuse_ino_t id;
        {
            std::lock_guard g(table_lock);
            auto it = ids.find(&node);
            if (it == ids.end())
                return;
            id = it->second;
        }
        queue({id, {}});
    }

    void queue(Notice n) {
        std::lock_guard g(notice_lock);
        notices.push_back(std::move(n));
        notice_cv.notify_one();
    }

    void notify_loop() {
        std::unique_lock g(notice_lock);
        for (;;) {
            notice_cv.wait(g, [&] { return notifier_stop || !notices.empty(); });
            if (notifier_stop)
                return;
            Notice n = std::move(notices.front());
            notices.pop_front();
            g.unlock();
            if (n.name.empty())
                fuse_lowlevel_notify_inval_inode(se, n.ino, -1, 0);
            else
                fuse_lowlevel_notify_inval_entry(se, n.ino, n.name.c_str(), n.name.size());
            g.lock();
        }
    }

    NodeRef node_of(fuse_ino_t ino) {
        std::lock_guard g(table_lock);
        auto it = entries.find(ino);
        return it == entries.end() ? nullptr : it->second.node;
    }

    fuse_ino_t remember(const NodeRef &node) {
        std::lock_guard g(table_lock);
        auto [it, fresh] = ids.emplace(node.get(), next_id);
        if (fresh)
            entries[next_id++].node = node;
        entries[it->second].nlookup++;
        return it->second;
    }

    void forget(fuse_ino_t ino, uint64_t n) {
        NodeRef gone;  // released outside the lock: a node's destructor may reach the tree
        std::lock_guard g(table_lock);
        auto it = entries.find(ino);
        if (ino == FUSE_ROOT_ID || it == entries.end())
            return;
        it->second.nlookup -= std::min(n, it->second.nlookup);
        if (it->second.nlookup)
            return;
        gone = std::move(it->second.node);
        ids.erase(gone.get());
        entries.erase(it);
    }

    void reply_entry(fuse_req_t req, const NodeRef &node) {
        struct fuse_entry_param e {};
        e.ino = remember(node);
        e.attr_timeout = kAttrTimeout;
        e.entry_timeout = kEntryTimeout;
        fill_stat(*node, &e.attr);
        if (fuse_reply_entry(req, &e) != 0)
            forget(e.ino, 1);
    }

    // The node a path names, for mkdir/rmdir/create, which the node API takes by path.
    static std::string child_path(const NodeRef &dir, const char *name) {
        std::string p = dir->path();
        if (p.empty())
            return {};
        if (p != "/")
            p += '/';
        return p + name;
    }

    void stop();
};

namespace {

FuseMount::Impl *impl_of(fuse_req_t req) {
    return static_cast<FuseMount::Impl *>(fuse_req_userdata(req));
}

// Runs the rest of a request as the calling process's task.
struct AsCaller {
    explicit AsCaller(fuse_req_t req)
        : task(impl_of(req)->callers.get(fuse_req_ctx(req))), scope(task) {}
    struct task_struct *task;
    sim::TaskScope scope;
};

void op_lookup(fuse_req_t req, fuse_ino_t parent, const char *name) {
    FuseMount::Impl *m = impl_of(req);
    auto dir = std::dynamic_pointer_cast<sim::fs::Dir>(m->node_of(parent));
    if (!dir) {
        fuse_reply_err(req, dir ? ENOTDIR : ENOENT);
        return;
    }
    NodeRef child = dir->lookup(name);
    if (!child) {
        // No negative entry: nodes appear without telling the kernel.
        fuse_reply_err(req, ENOENT);
        return;
    }
    m->reply_entry(req, child);
}

void op_forget(fuse_req_t req, fuse_ino_t ino, uint64_t nlookup) {
    impl_of(req)->forget(ino, nlookup);
    fuse_reply_none(req);
}

void op_forget_multi(fuse_req_t req, size_t count, struct fuse_forget_data *forgets) {
    for (size_t i = 0; i < count; i++)
        impl_of(req)->forget(forgets[i].ino, forgets[i].nlookup);
    fuse_reply_none(req);
}

void op_getattr(fuse_req_t req, fuse_ino_t ino, struct fuse_file_info *) {
    NodeRef node = impl_of(req)->node_of(ino);
    if (!node) {
        fuse_reply_err(req, ENOENT);
        return;
    }
    struct stat st;
    fill_stat(*node, &st);
    fuse_reply_attr(req, &st, kAttrTimeout);
}

void op_setattr(fuse_req_t req, fuse_ino_t ino, struct stat *attr, int to_set,
                struct fuse_file_info *) {
    NodeRef node = impl_of(req)->node_of(ino);
    if (!node) {
        fuse_reply_err(req, ENOENT);
        return;
    }
    sim::vfs::Attr a;
    if (to_set & FUSE_SET_ATTR_MODE) {
        a.valid |= sim::vfs::ATTR_MODE_;
        a.mode = attr->st_mode;
    }
    if (to_set & FUSE_SET_ATTR_UID) {
        a.valid |= sim::vfs::ATTR_UID_;
        a.uid = attr->st_uid;
    }
    if (to_set & FUSE_SET_ATTR_GID) {
        a.valid |= sim::vfs::ATTR_GID_;
        a.gid = attr->st_gid;
    }
    if (to_set & FUSE_SET_ATTR_SIZE) {
        a.valid |= sim::vfs::ATTR_SIZE_;
        a.size = attr->st_size;
    }
    if (to_set & FUSE_SET_ATTR_MTIME_NOW) {
        a.valid |= sim::vfs::ATTR_MTIME_NOW_;
    } else if (to_set & FUSE_SET_ATTR_MTIME) {
        a.valid |= sim::vfs::ATTR_MTIME_;
        a.mtime = attr->st_mtim.tv_sec;
    }
    AsCaller as(req);
    if (int err = sim::vfs::setattr_node(node, a)) {
        fuse_reply_err(req, fuse_errno(err));
        return;
    }
    struct stat st;
    fill_stat(*node, &st);
    fuse_reply_attr(req, &st, kAttrTimeout);
}

void op_readlink(fuse_req_t req, fuse_ino_t ino) {
    NodeRef node = impl_of(req)->node_of(ino);
    std::string target;
    int err = node ? sim::vfs::readlink_node(*node, &target) : -ENOENT;
    if (err < 0)
        fuse_reply_err(req, fuse_errno(err));
    else
        fuse_reply_readlink(req, target.c_str());
}

void op_mkdir(fuse_req_t req, fuse_ino_t parent, const char *name, mode_t mode) {
    FuseMount::Impl *m = impl_of(req);
    NodeRef dir = m->node_of(parent);
    std::string path = dir ? FuseMount::Impl::child_path(dir, name) : std::string();
    if (path.empty()) {
        fuse_reply_err(req, ENOENT);
        return;
    }
    AsCaller as(req);
    int err = sim::vfs::mkdir(path, static_cast<umode_t>(mode));
    NodeRef made;
    if (!err)
        err = sim::fs::lookup(path, false, &made);
    if (err)
        fuse_reply_err(req, fuse_errno(err));
    else
        m->reply_entry(req, made);
}

void op_rmdir(fuse_req_t req, fuse_ino_t parent, const char *name) {
    NodeRef dir = impl_of(req)->node_of(parent);
    std::string path = dir ? FuseMount::Impl::child_path(dir, name) : std::string();
    if (path.empty()) {
        fuse_reply_err(req, ENOENT);
        return;
    }
    AsCaller as(req);
    fuse_reply_err(req, fuse_errno(sim::vfs::rmdir(path)));
}

// mknod(2), symlink(2), link(2), unlink(2) and rename(2): the directories of these
// filesystems have none of these operations, so the VFS refuses them with -EPERM.
void op_mknod(fuse_req_t req, fuse_ino_t, const char *, mode_t, dev_t) {
    fuse_reply_err(req, EPERM);
}
void op_symlink(fuse_req_t req, const char *, fuse_ino_t, const char *) {
    fuse_reply_err(req, EPERM);
}
void op_link(fuse_req_t req, fuse_ino_t, fuse_ino_t, const char *) {
    fuse_reply_err(req, EPERM);
}
void op_unlink(fuse_req_t req, fuse_ino_t, const char *) {
    fuse_reply_err(req, EPERM);
}
void op_rename(fuse_req_t req, fuse_ino_t, const char *, fuse_ino_t, const char *, unsigned int) {
    fuse_reply_err(req, EPERM);
}

int open_as_caller(fuse_req_t req, const NodeRef &node, struct fuse_file_info *fi,
                   struct task_struct **task) {
    AsCaller as(req);
    int fd = sim::vfs::open_node(node, fi->flags & (O_ACCMODE | O_APPEND | O_TRUNC | O_NONBLOCK));
    *task = as.task;
    return fd;
}

void keep_open(FuseMount::Impl *m, int fd, struct task_struct *task, struct fuse_file_info *fi) {
    if (m->files.size() <= static_cast<size_t>(fd))
        m->files.resize(fd + 1);
    get_task_struct(task);
    m->files[fd] = {fd, 0, task};
    fi->fh = static_cast<uint64_t>(fd);
    fi->direct_io = 1;
}

void op_open(fuse_req_t req, fuse_ino_t ino, struct fuse_file_info *fi) {
    FuseMount::Impl *m = impl_of(req);
    NodeRef node = m->node_of(ino);
    if (!node || node->removed()) {
        fuse_reply_err(req, ENOENT);
        return;
    }
    struct task_struct *task;
    int fd = open_as_caller(req, node, fi, &task);
    if (fd < 0) {
        fuse_reply_err(req, fuse_errno(fd));
        return;
    }
    keep_open(m, fd, task, fi);
    if (fuse_reply_open(req, fi) != 0) {
        sim::TaskScope scope(task);
        sim::vfs::close(fd);
        put_task_struct(task);
    }
}

void op_create(fuse_req_t req, fuse_ino_t parent, const char *name, mode_t,
               struct fuse_file_info *fi) {
    FuseMount::Impl *m = impl_of(req);
    NodeRef dir = m->node_of(parent);
    std::string path = dir ? FuseMount::Impl::child_path(dir, name) : std::string();
    if (path.empty()) {
        fuse_reply_err(req, ENOENT);
        return;
    }
    // None of these filesystems creates files; the open says how it refuses.
    AsCaller as(req);
    int fd = sim::vfs::open(
        path, (fi->flags & (O_ACCMODE | O_APPEND | O_TRUNC | O_EXCL)) | sim::vfs::O_CREAT_);
    NodeRef node;
    if (fd >= 0 && sim::fs::lookup(path, false, &node) != 0) {
        sim::vfs::close(fd);
        fd = -ENOENT;
    }
    if (fd < 0) {
        fuse_reply_err(req, fuse_errno(fd));
        return;
    }
    keep_open(m, fd, as.task, fi);
    struct fuse_entry_param e {};
    e.ino = m->remember(node);
    e.attr_timeout = kAttrTimeout;
    e.entry_timeout = kEntryTimeout;
    fill_stat(*node, &e.attr);
    fuse_reply_create(req, &e, fi);
}

void op_read(fuse_req_t req, fuse_ino_t, size_t size, off_t off, struct fuse_file_info *fi) {
    FuseMount::Impl *m = impl_of(req);
    OpenFile &f = m->files[fi->fh];
    AsCaller as(req);
    if (off != f.pos) {
        loff_t at = sim::vfs::lseek(f.fd, off, sim::vfs::SEEK_SET_);
        if (at < 0) {
            fuse_reply_err(req, fuse_errno(at));
            return;
        }
        f.pos = at;
    }
    if (m->buf.size() < size)
        m->buf.resize(size);
    ssize_t n = sim::vfs::read(f.fd, m->buf.data(), size);
    if (n < 0) {
        fuse_reply_err(req, fuse_errno(n));
        return;
    }
    f.pos += n;
    fuse_reply_buf(req, m->buf.data(), static_cast<size_t>(n));
}

void op_write(fuse_req_t req, fuse_ino_t, const char *data, size_t size, off_t off,
              struct fuse_file_info *fi) {
    FuseMount::Impl *m = impl_of(req);
    OpenFile &f = m->files[fi->fh];
    ssize_t n;
    {
        AsCaller as(req);
        if (off != f.pos && !(fi->flags & O_APPEND)) {
            loff_t at = sim::vfs::lseek(f.fd, off, sim::vfs::SEEK_SET_);
            if (at < 0) {
                fuse_reply_err(req, fuse_errno(at));
                return;
            }
            f.pos = at;
        }
        n = sim::vfs::write(f.fd, data, size);
    }
    // What the write set going finishes before the caller goes on, as the shell's commands do.
    if (!sim::realtime_enabled())
        sim::settle();
    if (n < 0) {
        fuse_reply_err(req, fuse_errno(n));
        return;
    }
    f.pos += n;
    fuse_reply_write(req, static_cast<size_t>(n));
}

void op_release(fuse_req_t req, fuse_ino_t, struct fuse_file_info *fi) {
    FuseMount::Impl *m = impl_of(req);
    OpenFile &f = m->files[fi->fh];
    {
        sim::TaskScope scope(f.task);
        sim::vfs::close(f.fd);
    }
    put_task_struct(f.task);
    f = {};
    fuse_reply_err(req, 0);
}

void op_opendir(fuse_req_t req, fuse_ino_t ino, struct fuse_file_info *fi) {
    FuseMount::Impl *m = impl_of(req);
    NodeRef node = m->node_of(ino);
    if (!node || node->removed()) {
        fuse_reply_err(req, ENOENT);
        return;
    }
    auto d = std::make_unique<OpenDir>();
    int err;
    {
        AsCaller as(req);
        err = sim::vfs::readdir_node(node, &d->entries);
    }
    if (err) {
        fuse_reply_err(req, fuse_errno(err));
        return;
    }
    fi->fh = reinterpret_cast<uint64_t>(d.get());
    if (fuse_reply_open(req, fi) == 0)
        d.release();
}

void op_readdir(fuse_req_t req, fuse_ino_t ino, size_t size, off_t off, struct fuse_file_info *fi) {
    FuseMount::Impl *m = impl_of(req);
    auto *d = reinterpret_cast<OpenDir *>(fi->fh);
    if (m->buf.size() < size)
        m->buf.resize(size);
    size_t used = 0;
    // Offsets 0 and 1 are "." and "..", then the entries in the tree's order.
    for (size_t i = static_cast<size_t>(off); i < d->entries.size() + 2; i++) {
        struct stat st {};
        const char *name;
        if (i < 2) {
            name = i == 0 ? "." : "..";
            st.st_ino = ino;
            st.st_mode = S_IFDIR;
        } else {
            name = d->entries[i - 2].name.c_str();
            st.st_ino = d->entries[i - 2].ino;
            st.st_mode = d->entries[i - 2].mode;
        }
        size_t len = fuse_add_direntry(req, m->buf.data() + used, size - used, name, &st,
                                       static_cast<off_t>(i + 1));
        if (len > size - used)
            break;
        used += len;
    }
    fuse_reply_buf(req, m->buf.data(), used);
}

void op_releasedir(fuse_req_t req, fuse_ino_t, struct fuse_file_info *fi) {
    delete reinterpret_cast<OpenDir *>(fi->fh);
    fuse_reply_err(req, 0);
}

void op_access(fuse_req_t req, fuse_ino_t ino, int mask) {
    NodeRef node = impl_of(req)->node_of(ino);
    if (!node) {
        fuse_reply_err(req, ENOENT);
        return;
    }
    AsCaller as(req);
    int may =
        (mask & R_OK ? MAY_READ : 0) | (mask & W_OK ? MAY_WRITE : 0) | (mask & X_OK ? MAY_EXEC : 0);
    fuse_reply_err(req, fuse_errno(node->permission(sim::fs::current_cred(), may)));
}

void op_init(void *, struct fuse_conn_info *conn) {
    // O_TRUNC comes with the open: truncation is the open's, as these filesystems have it.
    if (conn->capable & FUSE_CAP_ATOMIC_O_TRUNC)
        conn->want |= FUSE_CAP_ATOMIC_O_TRUNC;
    // Reads of a node are never merged or read ahead.
    conn->want &= ~FUSE_CAP_ASYNC_READ;
}

const struct fuse_lowlevel_ops kOps = [] {
    struct fuse_lowlevel_ops ops {};
    ops.init = op_init;
    ops.lookup = op_lookup;
    ops.forget = op_forget;
    ops.forget_multi = op_forget_multi;
    ops.getattr = op_getattr;
    ops.setattr = op_setattr;
    ops.readlink = op_readlink;
    ops.mknod = op_mknod;
    ops.symlink = op_symlink;
    ops.link = op_link;
    ops.unlink = op_unlink;
    ops.rename = op_rename;
    ops.mkdir = op_mkdir;
    ops.rmdir = op_rmdir;
    ops.open = op_open;
    ops.create = op_create;
    ops.read = op_read;
    ops.write = op_write;
    ops.release = op_release;
    ops.opendir = op_opendir;
    ops.readdir = op_readdir;
    ops.releasedir = op_releasedir;
    ops.access = op_access;
    return ops;
}();

// Interrupts the loop thread's wait for a request, so that it sees the session has ended.
void wake_handler(int) {}
constexpr int kWakeSignal = SIGUSR2;

}  // namespace

void FuseMount::Impl::stop() {
    if (stopping.exchange(true))
        return;
    sim::fs::set_tree_observer(nullptr);
    if (notifier.joinable()) {
        {
            std::lock_guard g(notice_lock);
            notifier_stop = true;
            notice_cv.notify_one();
        }
        notifier.join();
    }
    if (loop.joinable()) {
        fuse_session_exit(se);
        while (!loop_done.load()) {
            pthread_kill(loop.native_handle(), kWakeSignal);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        loop.join();
    }
    // Files the kernel still held open when the mount went.
    for (OpenFile &f : files) {
        if (!f.task)
            continue;
        sim::TaskScope scope(f.task);
        sim::vfs::close(f.fd);
        put_task_struct(f.task);
        f = {};
    }
    if (se) {
        fuse_session_unmount(se);
        fuse_session_destroy(se);
        se = nullptr;
    }
    std::lock_guard g(table_lock);
    entries.clear();
    ids.clear();
}

FuseMount::FuseMount(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

FuseMount::~FuseMount() = default;

std::unique_ptr<FuseMount> FuseMount::mount(const std::string &dir, std::string *error) {
    if (access("/dev/fuse", R_OK | W_OK) != 0) {
        *error = std::string("/dev/fuse: ") + strerror(errno);
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    std::string opts = "fsname=phonesim,subtype=phonesim,default_permissions";
    if (geteuid() == 0)
        opts += ",allow_other";
    const char *argv[] = {"phonesim", "-o", opts.c_str()};
    struct fuse_args args = FUSE_ARGS_INIT(3, const_cast<char **>(argv));
    impl->se = fuse_session_new(&args, &kOps, sizeof(kOps), impl.get());
    if (!impl->se) {
        *error = "cannot start a FUSE session";
        return nullptr;
    }
    if (fuse_session_mount(impl->se, dir.c_str()) != 0) {
        fuse_session_destroy(impl->se);
        impl->se = nullptr;
        *error = dir + ": cannot mount";
        return nullptr;
    }
    impl->entries[FUSE_ROOT_ID].node = sim::fs::root();
    impl->entries[FUSE_ROOT_ID].nlookup = 1;
    impl->ids[sim::fs::root().get()] = FUSE_ROOT_ID;
    return std::unique_ptr<FuseMount>(new FuseMount(std::move(impl)));
}

void FuseMount::serve(std::function<void()> on_unmounted) {
    Impl *m = impl_.get();
    m->on_unmounted = std::move(on_unmounted);
    struct sigaction sa {};
    sa.sa_handler = wake_handler;  // no SA_RESTART: the wait ends with EINTR
    sigaction(kWakeSignal, &sa, nullptr);
    sim::fs::set_tree_observer(m);
    m->notifier = std::thread([m] { m->notify_loop(); });
    m->loop = std::thread([m] {
        sigset_t wake;
        sigemptyset(&wake);
        sigaddset(&wake, kWakeSignal);
        pthread_sigmask(SIG_UNBLOCK, &wake, nullptr);
        fuse_session_loop(m->se);
        m->loop_done.store(true);
        if (!m->stopping.load() && m->on_unmounted)
            m->on_unmounted();
    });
}

void FuseMount::unmount() {
    impl_->stop();
}

}  // namespace phonesim
