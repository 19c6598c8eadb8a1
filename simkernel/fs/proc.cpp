// Real model: procfs entries of fs/proc/generic.c and the file operations of fs/proc/inode.c
// (use_pde()/unuse_pde() as active references, proc_entry_rundown() on removal), 5.10.
#include "simkernel/fs/fs_internal.h"
#include "simkernel/kernel/fault.h"
#include "simkernel/kernel/module_owner.h"

#include <platform/errno.h>
#include <platform/module.h>
#include <platform/proc_fs.h>
#include <platform/seq_file.h>

#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

struct proc_dir_entry {
    sim::fs::Node *node;  // the node that holds this entry
    struct proc_dir_entry *parent;
    const struct proc_ops *proc_ops;
    int (*single_show)(struct seq_file *, void *);
    void *data;
    std::string name;
};

namespace sim::fs {
namespace {

class ProcEntry {
  public:
    struct proc_dir_entry pde {};
};

struct proc_dir_entry *PDE(const struct inode *inode) {
    auto *e = dynamic_cast<ProcEntry *>(Node::of(inode));
    assert(e && "inode is not a procfs entry");
    return &e->pde;
}

bool pde_is_permanent(const struct proc_dir_entry *pde) {
    return pde->proc_ops && (pde->proc_ops->proc_flags & PROC_ENTRY_PERMANENT);
}

class ProcFile : public FileNode, public ProcEntry {
  public:
    ProcFile(std::string name, umode_t mode) : FileNode(std::move(name), mode) { pde.node = this; }

    int open(struct file *file) override {
        auto open = pde.proc_ops->proc_open;
        if (pde_is_permanent(&pde))
            return open ? open(inode(), file) : 0;
        ActiveRef ref(*this);
        if (!ref.ok())
            return -ENOENT;
        int rv = open ? open(inode(), file) : 0;
        // Every open file with a release routine is recorded so that removal can release it.
        if (rv == 0 && pde.proc_ops->proc_release) {
            std::lock_guard<std::mutex> g(openers_lock_);
            openers_[file] = false;
        }
        return rv;
    }

    ssize_t read(struct file *file, char __user *buf, size_t count, loff_t *pos) override {
        if (pde_is_permanent(&pde))
            return pde_read(file, buf, count, pos);
        ActiveRef ref(*this);
        if (!ref.ok())
            return -EIO;
        return pde_read(file, buf, count, pos);
    }

    ssize_t write(struct file *file, const char __user *buf, size_t count, loff_t *pos) override {
        if (pde_is_permanent(&pde))
            return pde_write(file, buf, count, pos);
        ActiveRef ref(*this);
        if (!ref.ok())
            return -EIO;
        return pde_write(file, buf, count, pos);
    }

    loff_t llseek(struct file *file, loff_t offset, int whence) override {
        if (pde_is_permanent(&pde))
            return pde_lseek(file, offset, whence);
        ActiveRef ref(*this);
        if (!ref.ok())
            return -EINVAL;
        return pde_lseek(file, offset, whence);
    }

    void release(struct file *file) override {
        if (pde_is_permanent(&pde)) {
            if (pde.proc_ops->proc_release)
                pde.proc_ops->proc_release(inode(), file);
            return;
        }
        std::unique_lock<std::mutex> g(openers_lock_);
        auto it = openers_.find(file);
        if (it != openers_.end())
            close_opener(g, it);
    }

  protected:
    // proc_entry_rundown(): no call is running any more; release every file still open.
    void removed_drained() override {
        std::unique_lock<std::mutex> g(openers_lock_);
        while (!openers_.empty())
            close_opener(g, openers_.begin());
        g.unlock();
        resource_remove(&pde);
    }

  private:
    ssize_t pde_read(struct file *file, char __user *buf, size_t count, loff_t *pos) {
        if (pde.proc_ops->proc_read)
            return pde.proc_ops->proc_read(file, buf, count, pos);
        if (pde.proc_ops->proc_read_iter) {
            fprintf(stderr, "procfs: proc_read_iter of /proc entry '%s' is not modelled\n",
                    pde.name.c_str());
            abort();
        }
        return -EIO;
    }

    ssize_t pde_write(struct file *file, const char __user *buf, size_t count, loff_t *pos) {
        if (pde.proc_ops->proc_write)
            return pde.proc_ops->proc_write(file, buf, count, pos);
        return -EIO;
    }

    loff_t pde_lseek(struct file *file, loff_t offset, int whence) {
        auto lseek = pde.proc_ops->proc_lseek ? pde.proc_ops->proc_lseek : default_llseek;
        return lseek(file, offset, whence);
    }

    // close_pdeo(): whoever comes first releases the file; the other waits until it is done.
    void close_opener(std::unique_lock<std::mutex> &g, std::map<struct file *, bool>::iterator it) {
        struct file *file = it->first;
        if (it->second) {
            openers_cv_.wait(g, [&] { return !openers_.count(file); });
            return;
        }
        it->second = true;
        g.unlock();
        pde.proc_ops->proc_release(inode(), file);
        g.lock();
        openers_.erase(file);
        openers_cv_.notify_all();
    }

    std::mutex openers_lock_;
    std::condition_variable openers_cv_;
    std::map<struct file *, bool> openers_;  // open file -> being released
};

class ProcDir : public Dir, public ProcEntry {
  public:
    ProcDir(std::string name, umode_t mode) : Dir(std::move(name), mode) { pde.node = this; }

  protected:
    void removed_drained() override { resource_remove(&pde); }
};

class ProcLink : public Symlink, public ProcEntry {
  public:
    ProcLink(std::string name, std::string target) : Symlink(std::move(name), std::move(target)) {
        pde.node = this;
    }

  protected:
    void removed_drained() override { resource_remove(&pde); }
};

std::shared_ptr<ProcDir> proc_root_node;

struct proc_dir_entry *proc_root() {
    return &proc_root_node->pde;
}

Dir *dir_of(struct proc_dir_entry *pde) {
    auto *d = dynamic_cast<Dir *>(pde->node);
    assert(d && "procfs parent is not a directory");
    return d;
}

// __xlate_proc_name(): "a/b/c" under *parent names c in directory a/b.
int xlate_proc_name(const char *name, struct proc_dir_entry **parent, const char **residual) {
    struct proc_dir_entry *de = *parent ? *parent : proc_root();
    const char *cp = name;
    for (const char *next; (next = strchr(cp, '/'));) {
        NodeRef n = dir_of(de)->lookup(std::string_view(cp, next - cp));
        auto *e = dynamic_cast<ProcEntry *>(n.get());
        if (!e || !S_ISDIR(n->mode())) {
            warn("fs/proc/generic.c", "__xlate_proc_name", "name '%s'\n", name);
            return -ENOENT;
        }
        de = &e->pde;
        cp = next + 1;
    }
    *residual = cp;
    *parent = de;
    return 0;
}

bool proc_name_ok(const char *fn) {
    size_t len = strlen(fn);
    if (len == 0 || len >= 256) {
        warn("fs/proc/generic.c", "__proc_create", "name len %zu\n", len);
        return false;
    }
    if (!strcmp(fn, ".") || !strcmp(fn, "..")) {
        warn("fs/proc/generic.c", "__proc_create", "name '%s'\n", fn);
        return false;
    }
    return true;
}

void drop_entry(struct proc_dir_entry *pde) {
    remove_node(pde->node->shared_from_this());
}

// __proc_create() + proc_register(): node is the new entry's, not yet in the tree.
struct proc_dir_entry *proc_register(struct proc_dir_entry *parent,
                                     const std::shared_ptr<Node> &node, struct module *owner) {
    auto *e = dynamic_cast<ProcEntry *>(node.get());
    struct proc_dir_entry *pde = &e->pde;
    pde->parent = parent;
    pde->name = node->name();
    if (dir_of(parent)->add(node)) {
        warn("fs/proc/generic.c", "proc_register", "proc_dir_entry '%s/%s' already registered\n",
             parent->name.c_str(), pde->name.c_str());
        return nullptr;
    }
    resource_add(owner, pde, "proc entry", pde->name, [pde] { drop_entry(pde); });
    return pde;
}

// The name checks and allocation of __proc_create(); residual is the name in *parent.
bool proc_prepare(const char *name, struct proc_dir_entry **parent, const char **residual,
                  struct module *owner) {
    if (xlate_proc_name(name, parent, residual))
        return false;
    if (!proc_name_ok(*residual))
        return false;
    return !fault_should_fail(fault_op::proc_create, owner);
}

struct proc_dir_entry *create_reg(const char *name, umode_t mode, struct proc_dir_entry *parent,
                                  const struct proc_ops *ops,
                                  int (*show)(struct seq_file *, void *), void *data,
                                  struct module *owner) {
    if ((mode & S_IFMT) == 0)
        mode |= S_IFREG;
    if ((mode & S_IALLUGO) == 0)
        mode |= S_IRUGO;
    if (!S_ISREG(mode)) {
        warn("fs/proc/generic.c", "proc_create_reg", "mode 0%o is not a regular file\n", mode);
        return nullptr;
    }
    const char *fn;
    if (!proc_prepare(name, &parent, &fn, owner))
        return nullptr;
    auto node = std::make_shared<ProcFile>(fn, mode);
    node->pde.proc_ops = ops;
    node->pde.single_show = show;
    node->pde.data = data;
    return proc_register(parent, node, owner);
}

struct proc_dir_entry *create_dir(const char *name, umode_t mode, struct proc_dir_entry *parent,
                                  void *data, struct module *owner) {
    if (mode == 0)
        mode = S_IRUGO | S_IXUGO;
    const char *fn;
    if (!proc_prepare(name, &parent, &fn, owner))
        return nullptr;
    auto node = std::make_shared<ProcDir>(fn, mode);
    node->pde.data = data;
    return proc_register(parent, node, owner);
}

int proc_single_open(struct inode *inode, struct file *file) {
    struct proc_dir_entry *pde = PDE(inode);
    return single_open(file, pde->single_show, pde->data);
}

constexpr struct proc_ops proc_single_ops = [] {
    struct proc_ops ops {};
    ops.proc_open = proc_single_open;
    ops.proc_read = seq_read;
    ops.proc_lseek = seq_lseek;
    ops.proc_release = single_release;
    return ops;
}();

// The entry named name in parent, unlinked by the caller; warns when there is none.
NodeRef find_entry(const char *name, struct proc_dir_entry *parent, const char *function) {
    const char *fn;
    if (xlate_proc_name(name, &parent, &fn))
        return nullptr;
    NodeRef n = dir_of(parent)->lookup(fn);
    auto *e = dynamic_cast<ProcEntry *>(n.get());
    if (!e) {
        warn("fs/proc/generic.c", function, "name '%s'\n", name);
        return nullptr;
    }
    if (pde_is_permanent(&e->pde)) {
        warn("fs/proc/generic.c", function, "removing permanent /proc entry '%s'", name);
        return nullptr;
    }
    return n;
}

}  // namespace

void proc_boot(const std::shared_ptr<Dir> &root) {
    proc_root_node = std::make_shared<ProcDir>("proc", S_IRUGO | S_IXUGO);
    proc_root_node->pde.name = "/proc";
    int err = root->add(proc_root_node);
    assert(!err);
    (void)err;
}

void proc_shutdown() {
    proc_root_node.reset();
}

}  // namespace sim::fs

using namespace sim::fs;

extern "C" {

struct proc_dir_entry *proc_create_data(const char *name, umode_t mode,
                                        struct proc_dir_entry *parent,
                                        const struct proc_ops *proc_ops, void *data) {
    return create_reg(name, mode, parent, proc_ops, nullptr, data, SIM_CALLER_MODULE());
}

struct proc_dir_entry *proc_create(const char *name, umode_t mode, struct proc_dir_entry *parent,
                                   const struct proc_ops *proc_ops) {
    return create_reg(name, mode, parent, proc_ops, nullptr, nullptr, SIM_CALLER_MODULE());
}

struct proc_dir_entry *proc_create_single_data(const char *name, umode_t mode,
                                               struct proc_dir_entry *parent,
                                               int (*show)(struct seq_file *, void *), void *data) {
    return create_reg(name, mode, parent, &proc_single_ops, show, data, SIM_CALLER_MODULE());
}

struct proc_dir_entry *proc_mkdir(const char *name, struct proc_dir_entry *parent) {
    return create_dir(name, 0, parent, nullptr, SIM_CALLER_MODULE());
}

struct proc_dir_entry *proc_mkdir_mode(const char *name, umode_t mode,
                                       struct proc_dir_entry *parent) {
    return create_dir(name, mode, parent, nullptr, SIM_CALLER_MODULE());
}

struct proc_dir_entry *proc_mkdir_data(const char *name, umode_t mode,
                                       struct proc_dir_entry *parent, void *data) {
    return create_dir(name, mode, parent, data, SIM_CALLER_MODULE());
}

struct proc_dir_entry *proc_symlink(const char *name, struct proc_dir_entry *parent,
                                    const char *dest) {
    struct module *owner = SIM_CALLER_MODULE();
    const char *fn;
    if (!proc_prepare(name, &parent, &fn, owner))
        return nullptr;
    return proc_register(parent, std::make_shared<ProcLink>(fn, dest ? dest : ""), owner);
}

void proc_set_size(struct proc_dir_entry *de, loff_t size) {
    de->node->set_size(size);
}

void proc_set_user(struct proc_dir_entry *de, kuid_t uid, kgid_t gid) {
    de->node->set_owner(uid.val, gid.val);
}

void remove_proc_entry(const char *name, struct proc_dir_entry *parent) {
    NodeRef n = find_entry(name, parent, "remove_proc_entry");
    if (!n)
        return;
    if (auto *d = dynamic_cast<Dir *>(n.get())) {
        std::vector<NodeRef> left = d->children();
        if (!left.empty()) {
            struct proc_dir_entry *de = &dynamic_cast<ProcEntry *>(n.get())->pde;
            warn("fs/proc/generic.c", "remove_proc_entry",
                 "%s: removing non-empty directory '%s/%s', leaking at least '%s'\n",
                 "remove_proc_entry", de->parent->name.c_str(), de->name.c_str(),
                 left.front()->name().c_str());
        }
    }
    remove_node(n);
}

int remove_proc_subtree(const char *name, struct proc_dir_entry *parent) {
    const char *fn;
    if (xlate_proc_name(name, &parent, &fn))
        return -ENOENT;
    NodeRef n = dir_of(parent)->lookup(fn);
    auto *e = dynamic_cast<ProcEntry *>(n.get());
    if (!e)
        return -ENOENT;
    if (pde_is_permanent(&e->pde)) {
        warn("fs/proc/generic.c", "remove_proc_subtree", "removing permanent /proc entry '%s'",
             name);
        return -EINVAL;
    }
    remove_node(n);
    return 0;
}

void proc_remove(struct proc_dir_entry *de) {
    if (de)
        remove_proc_subtree(de->name.c_str(), de->parent);
}

void *PDE_DATA(const struct inode *inode) {
    return PDE(inode)->data;
}

void *proc_get_parent_data(const struct inode *inode) {
    return PDE(inode)->parent->data;
}

}  // extern "C"
