// Real model: kernfs directories, attribute files and links as fs/sysfs of 5.10 uses them
// (kernfs_fop_open's access checks, sysfs_kf_seq_show over seq_file, kernfs_fop_write's one-page
// copy, active references), and attribute groups.
#include "simkernel/fs/fs_internal.h"
#include "simkernel/fs/sysfs_internal.h"
#include "simkernel/kernel/fault.h"
#include "simkernel/kernel/module_owner.h"

#include <platform/err.h>
#include <platform/errno.h>
#include <platform/printk.h>
#include <platform/seq_file.h>
#include <platform/slab.h>
#include <platform/string.h>
#include <platform/uaccess.h>

#include <dlfcn.h>
#include <link.h>

#include <cassert>
#include <map>
#include <memory>

namespace sim::fs {
namespace {

class KernfsEntry {
  public:
    struct kernfs_node kn {};
};

class SysfsDir : public Dir, public KernfsEntry {
  public:
    SysfsDir(std::string name, umode_t mode, void *priv) : Dir(std::move(name), mode) {
        kn.node = this;
        kn.priv = priv;
    }
};

class SysfsLink : public Symlink, public KernfsEntry {
  public:
    SysfsLink(std::string name, std::string target) : Symlink(std::move(name), std::move(target)) {
        kn.node = this;
    }
};

// "kobj_attr_show+0x0/0x40", as %pS prints a function.
std::string symbol_of(const void *addr) {
    Dl_info info;
    ElfW(Sym) *sym = nullptr;
    char buf[256];
    if (dladdr1(addr, &info, reinterpret_cast<void **>(&sym), RTLD_DL_SYMENT) && info.dli_sname &&
        sym) {
        snprintf(buf, sizeof(buf), "%s+0x%lx/0x%lx", info.dli_sname,
                 (unsigned long)((const char *)addr - (const char *)info.dli_saddr),
                 (unsigned long)sym->st_size);
    } else {
        snprintf(buf, sizeof(buf), "0x%lx", (unsigned long)addr);
    }
    return buf;
}

class SysfsAttr : public FileNode, public KernfsEntry {
  public:
    SysfsAttr(const char *name, umode_t mode, struct kobject *kobj, const struct attribute *attr,
              const struct sysfs_ops *ops)
        : FileNode(name, mode), kobj_(kobj), ops_(ops) {
        kn.node = this;
        kn.priv = const_cast<struct attribute *>(attr);
        // A sysfs attribute file is one page long.
        inode()->i_size = PAGE_SIZE;
    }

    // kernfs_fop_open(): the mode bits and the kobject's sysfs_ops decide what may be opened.
    int open(struct file *file) override {
        ActiveRef ref(*this);
        if (!ref.ok())
            return -ENODEV;
        bool has_read = ops_->show;
        bool has_write = ops_->store;
        if ((file->f_mode & FMODE_WRITE) && (!(mode() & S_IWUGO) || !has_write))
            return -EACCES;
        if ((file->f_mode & FMODE_READ) && (!(mode() & S_IRUGO) || !has_read))
            return -EACCES;
        int err = seq_open(file, has_read ? &seq_ops : nullptr);
        if (err)
            return err;
        static_cast<struct seq_file *>(file->private_data)->private_data = new OpenAttr{this, {}};
        return 0;
    }

    ssize_t read(struct file *file, char __user *buf, size_t count, loff_t *pos) override {
        return seq_read(file, buf, count, pos);
    }

    // kernfs_fop_write() and sysfs_kf_write(): store sees at most a page, NUL-terminated.
    ssize_t write(struct file *file, const char __user *user_buf, size_t count,
                  loff_t *pos) override {
        ssize_t len = count < PAGE_SIZE ? count : PAGE_SIZE;
        char *buf = static_cast<char *>(kmalloc(len + 1, GFP_KERNEL));
        if (!buf)
            return -ENOMEM;
        if (copy_from_user(buf, user_buf, len)) {
            kfree(buf);
            return -EFAULT;
        }
        buf[len] = '\0';
        {
            std::lock_guard<std::mutex> g(
                of(static_cast<struct seq_file *>(file->private_data))->mutex);
            ActiveRef ref(*this);
            if (!ref.ok()) {
                len = -ENODEV;
            } else if (len) {
                len = ops_->store(kobj_, static_cast<struct attribute *>(kn.priv), buf, len);
            }
        }
        if (len > 0)
            *pos += len;
        kfree(buf);
        return len;
    }

    loff_t llseek(struct file *file, loff_t offset, int whence) override {
        return generic_file_llseek(file, offset, whence);
    }

    void release(struct file *file) override {
        delete of(static_cast<struct seq_file *>(file->private_data));
        seq_release(inode(), file);
    }

  private:
    // kernfs_open_file: the calls through one open file are serialised.
    struct OpenAttr {
        SysfsAttr *attr;
        std::mutex mutex;
    };

    static OpenAttr *of(struct seq_file *sf) { return static_cast<OpenAttr *>(sf->private_data); }

    // kernfs_seq_start(): one record, shown only while the file is still there.
    static void *seq_start(struct seq_file *sf, loff_t *ppos) {
        OpenAttr *o = of(sf);
        o->mutex.lock();
        if (!o->attr->active_get())
            return ERR_PTR(-ENODEV);
        return reinterpret_cast<void *>(static_cast<uintptr_t>(*ppos == 0));
    }

    static void *seq_next(struct seq_file *, void *, loff_t *ppos) {
        ++*ppos;
        return nullptr;
    }

    static void seq_stop(struct seq_file *sf, void *v) {
        OpenAttr *o = of(sf);
        if (v != ERR_PTR(-ENODEV))
            o->attr->active_put();
        o->mutex.unlock();
    }

    // sysfs_kf_seq_show(): show fills a zeroed page.
    static int seq_show(struct seq_file *sf, void *) {
        SysfsAttr *a = of(sf)->attr;
        char *buf;
        ssize_t count = seq_get_buf(sf, &buf);
        if (count < (ssize_t)PAGE_SIZE) {
            seq_commit(sf, -1);
            return 0;
        }
        memset(buf, 0, PAGE_SIZE);
        count = a->ops_->show(a->kobj_, static_cast<struct attribute *>(a->kn.priv), buf);
        if (count < 0)
            return count;
        if (count >= (ssize_t)PAGE_SIZE) {
            printk("fill_read_buffer: %s returned bad count\n",
                   symbol_of(reinterpret_cast<const void *>(a->ops_->show)).c_str());
            count = PAGE_SIZE - 1;
        }
        seq_commit(sf, count);
        return 0;
    }

    static constexpr struct seq_operations seq_ops = {
        .start = seq_start,
        .stop = seq_stop,
        .next = seq_next,
        .show = seq_show,
    };

    struct kobject *kobj_;
    const struct sysfs_ops *ops_;
};

std::shared_ptr<SysfsDir> sysfs_root_node;

KernfsEntry *entry_of(const NodeRef &n) {
    return dynamic_cast<KernfsEntry *>(n.get());
}

Dir *dir_of(struct kernfs_node *kn) {
    auto *d = dynamic_cast<Dir *>(kn->node);
    assert(d && "kernfs node is not a directory");
    return d;
}

// Attribute groups created by modules, as resources: one token per (kobject, group).
struct GroupTokens {
    std::mutex lock;
    std::map<std::pair<const struct kobject *, const struct attribute_group *>,
             std::unique_ptr<char>>
        tokens;
};

GroupTokens &group_tokens() {
    static GroupTokens t;
    return t;
}

void group_forget(const struct kobject *kobj, const struct attribute_group *grp) {
    GroupTokens &t = group_tokens();
    std::unique_ptr<char> token;
    {
        std::lock_guard<std::mutex> g(t.lock);
        auto it = t.tokens.find({kobj, grp});
        if (it == t.tokens.end())
            return;
        token = std::move(it->second);
        t.tokens.erase(it);
    }
    resource_remove(token.get());
}

void group_record(struct module *owner, struct kobject *kobj, const struct attribute_group *grp) {
    if (!owner)
        return;
    auto token = std::make_unique<char>();
    const void *key = token.get();
    {
        std::lock_guard<std::mutex> g(group_tokens().lock);
        group_tokens().tokens[{kobj, grp}] = std::move(token);
    }
    resource_add(owner, key, "attribute group", grp->name ? grp->name : kobject_name(kobj),
                 [kobj, grp] { sysfs_remove_group(kobj, grp); });
}

int add_file(struct kernfs_node *parent, const struct attribute *attr, umode_t mode) {
    auto *kobj = static_cast<struct kobject *>(parent->priv);
    const struct sysfs_ops *ops = kobj->ktype ? kobj->ktype->sysfs_ops : nullptr;
    if (!ops) {
        warn("fs/sysfs/file.c", "sysfs_add_file_mode_ns",
             "missing sysfs attribute operations for kobject: %s\n", kobject_name(kobj));
        return -EINVAL;
    }
    auto node = std::make_shared<SysfsAttr>(attr->name, mode & 0777, kobj, attr, ops);
    int err = dir_of(parent)->add(node);
    if (err == -EEXIST)
        sysfs_warn_dup(parent, attr->name);
    return err;
}

void remove_files(struct kernfs_node *parent, const struct attribute_group *grp) {
    if (grp->attrs)
        for (struct attribute *const *attr = grp->attrs; *attr; attr++)
            kernfs_remove_by_name(parent, (*attr)->name);
}

int create_files(struct kernfs_node *parent, struct kobject *kobj,
                 const struct attribute_group *grp) {
    int error = 0;
    if (grp->bin_attrs) {
        fprintf(stderr, "sysfs: binary attributes of group '%s' are not modelled\n",
                grp->name ? grp->name : "");
        abort();
    }
    int i = 0;
    for (struct attribute *const *attr = grp->attrs; *attr && !error; i++, attr++) {
        umode_t mode = (*attr)->mode;
        if (grp->is_visible) {
            mode = grp->is_visible(kobj, *attr, i);
            if (!mode)
                continue;
        }
        if (mode & ~(SYSFS_PREALLOC | 0664))
            warn("fs/sysfs/group.c", "create_files", "Attribute %s: Invalid permissions 0%o\n",
                 (*attr)->name, mode);
        mode &= SYSFS_PREALLOC | 0664;
        error = add_file(parent, *attr, mode);
    }
    if (error)
        remove_files(parent, grp);
    return error;
}

int create_group(struct kobject *kobj, const struct attribute_group *grp, struct module *owner) {
    if (!kobj || !kobj->sd) {
        warn("fs/sysfs/group.c", "internal_create_group",
             "sysfs group on a kobject not in sysfs\n");
        return -EINVAL;
    }
    if (!grp->attrs && !grp->bin_attrs) {
        warn("fs/sysfs/group.c", "internal_create_group",
             "sysfs: (bin_)attrs not set by subsystem for group: %s/%s\n", kobj->name,
             grp->name ? grp->name : "");
        return -EINVAL;
    }
    if (fault_should_fail(fault_op::sysfs_create_group, owner))
        return -ENOMEM;
    struct kernfs_node *kn = kobj->sd;
    if (grp->name) {
        kn = kernfs_create_dir(kobj->sd, grp->name, S_IRWXU | S_IRUGO | S_IXUGO, kobj);
        if (IS_ERR(kn)) {
            if (PTR_ERR(kn) == -EEXIST)
                sysfs_warn_dup(kobj->sd, grp->name);
            return PTR_ERR(kn);
        }
    }
    int error = create_files(kn, kobj, grp);
    if (error) {
        if (grp->name)
            kernfs_remove(kn);
        return error;
    }
    group_record(owner, kobj, grp);
    return 0;
}

void remove_group(struct kobject *kobj, const struct attribute_group *grp) {
    struct kernfs_node *parent = kobj->sd;
    group_forget(kobj, grp);
    if (!parent)
        return;
    struct kernfs_node *kn = parent;
    NodeRef holder;
    if (grp->name) {
        holder = dir_of(parent)->lookup(grp->name);
        KernfsEntry *e = entry_of(holder);
        if (!e || !holder->is_dir()) {
            warn("fs/sysfs/group.c", "sysfs_remove_group",
                 "sysfs group '%s' not found for kobject '%s'\n", grp->name, kobject_name(kobj));
            return;
        }
        kn = &e->kn;
    }
    remove_files(kn, grp);
    if (grp->name)
        kernfs_remove(kn);
}

// A kobject keeps its directory's node, as kobject->sd holds a kernfs reference: the directory
// may leave the tree with an ancestor's before the kobject lets go of it.
struct DirPins {
    std::mutex lock;
    std::map<const struct kobject *, NodeRef> nodes;
};

DirPins &dir_pins() {
    static DirPins p;
    return p;
}

// The path of to as seen from directory from: "../../devices/platform/led".
std::string relative_path(const std::string &from, const std::string &to) {
    size_t common = 0;
    for (size_t i = 0; i <= from.size() && i <= to.size(); i++) {
        bool end_from = i == from.size() || from[i] == '/';
        bool end_to = i == to.size() || to[i] == '/';
        if (end_from && end_to)
            common = i;
        if (i == from.size() || i == to.size() || from[i] != to[i])
            break;
    }
    std::string rel;
    for (size_t i = common; i < from.size(); i++)
        if (from[i] == '/')
            rel += "../";
    std::string rest = to.substr(common);
    if (!rest.empty() && rest[0] == '/')
        rest.erase(0, 1);
    return rel + rest;
}

}  // namespace

struct kernfs_node *sysfs_root_kn() {
    return &sysfs_root_node->kn;
}

struct kernfs_node *kernfs_create_dir(struct kernfs_node *parent, const char *name, umode_t mode,
                                      void *priv) {
    auto node = std::make_shared<SysfsDir>(name, mode, priv);
    int err = dir_of(parent)->add(node);
    if (err)
        return static_cast<struct kernfs_node *>(ERR_PTR(err));
    return &node->kn;
}

void kernfs_remove(struct kernfs_node *kn) {
    if (kn)
        remove_node(kn->node->shared_from_this());
}

int kernfs_remove_by_name(struct kernfs_node *parent, const char *name) {
    NodeRef n = dir_of(parent)->lookup(name);
    if (!entry_of(n))
        return -ENOENT;
    remove_node(n);
    return 0;
}

std::string kernfs_path(const struct kernfs_node *kn) {
    std::string p = kn->node->path();
    std::string root = sysfs_root_node->path();
    if (p.starts_with(root))
        p.erase(0, root.size());
    return p.empty() ? "/" : p;
}

void sysfs_warn_dup(struct kernfs_node *parent, const char *name) {
    std::string path = kernfs_path(parent);
    if (path == "/")
        path.clear();
    printk(KERN_WARNING "sysfs: cannot create duplicate filename '%s/%s'\n", path.c_str(), name);
}

int sysfs_create_dir(struct kobject *kobj) {
    struct kernfs_node *parent = kobj->parent ? kobj->parent->sd : sysfs_root_kn();
    if (!parent)
        return -ENOENT;
    struct kernfs_node *kn =
        kernfs_create_dir(parent, kobject_name(kobj), S_IRWXU | S_IRUGO | S_IXUGO, kobj);
    if (IS_ERR(kn)) {
        if (PTR_ERR(kn) == -EEXIST)
            sysfs_warn_dup(parent, kobject_name(kobj));
        return PTR_ERR(kn);
    }
    kobj->sd = kn;
    std::lock_guard<std::mutex> g(dir_pins().lock);
    dir_pins().nodes[kobj] = kn->node->shared_from_this();
    return 0;
}

void sysfs_remove_dir(struct kobject *kobj) {
    struct kernfs_node *kn = kobj->sd;
    kobj->sd = nullptr;
    NodeRef pin;
    {
        std::lock_guard<std::mutex> g(dir_pins().lock);
        auto it = dir_pins().nodes.find(kobj);
        if (it != dir_pins().nodes.end()) {
            pin = std::move(it->second);
            dir_pins().nodes.erase(it);
        }
    }
    {
        // Groups go with the directory.
        std::vector<const struct attribute_group *> grps;
        {
            std::lock_guard<std::mutex> g(group_tokens().lock);
            for (auto &[key, token] : group_tokens().tokens)
                if (key.first == kobj)
                    grps.push_back(key.second);
        }
        for (const struct attribute_group *grp : grps)
            group_forget(kobj, grp);
    }
    kernfs_remove(kn);
}

void sysfs_boot(const std::shared_ptr<Dir> &root) {
    sysfs_root_node = std::make_shared<SysfsDir>("sys", S_IRWXU | S_IRUGO | S_IXUGO, nullptr);
    int err = root->add(sysfs_root_node);
    assert(!err);
    (void)err;
}

void sysfs_shutdown() {
    sysfs_root_node.reset();
}

}  // namespace sim::fs

using namespace sim::fs;

extern "C" {

int sysfs_create_group(struct kobject *kobj, const struct attribute_group *grp) {
    return create_group(kobj, grp, SIM_CALLER_MODULE());
}

void sysfs_remove_group(struct kobject *kobj, const struct attribute_group *grp) {
    remove_group(kobj, grp);
}

int sysfs_create_groups(struct kobject *kobj, const struct attribute_group **groups) {
    struct module *owner = SIM_CALLER_MODULE();
    if (!groups)
        return 0;
    for (int i = 0; groups[i]; i++) {
        int error = create_group(kobj, groups[i], owner);
        if (error) {
            while (--i >= 0)
                remove_group(kobj, groups[i]);
            return error;
        }
    }
    return 0;
}

void sysfs_remove_groups(struct kobject *kobj, const struct attribute_group **groups) {
    if (!groups)
        return;
    for (int i = 0; groups[i]; i++)
        remove_group(kobj, groups[i]);
}

int sysfs_create_file_ns(struct kobject *kobj, const struct attribute *attr, const void *) {
    if (!kobj || !kobj->sd || !attr) {
        warn("fs/sysfs/file.c", "sysfs_create_file_ns", "bad sysfs_create_file() arguments\n");
        return -EINVAL;
    }
    return add_file(kobj->sd, attr, attr->mode);
}

void sysfs_remove_file_ns(struct kobject *kobj, const struct attribute *attr, const void *) {
    if (kobj->sd)
        kernfs_remove_by_name(kobj->sd, attr->name);
}

int sysfs_create_link(struct kobject *kobj, struct kobject *target, const char *name) {
    struct kernfs_node *parent = kobj ? kobj->sd : sysfs_root_kn();
    if (!parent || !target->sd)
        return -ENOENT;
    std::string to = target->sd->node->path();
    std::string from = parent->node->path();
    int err = dir_of(parent)->add(std::make_shared<SysfsLink>(name, relative_path(from, to)));
    if (err == -EEXIST)
        sysfs_warn_dup(parent, name);
    return err;
}

void sysfs_remove_link(struct kobject *kobj, const char *name) {
    struct kernfs_node *parent = kobj ? kobj->sd : sysfs_root_kn();
    if (parent)
        kernfs_remove_by_name(parent, name);
}

int sysfs_emit(char *buf, const char *fmt, ...) {
    if (!buf || ((unsigned long)buf & (PAGE_SIZE - 1))) {
        warn("fs/sysfs/file.c", "sysfs_emit", "invalid sysfs_emit: buf:%p\n", buf);
        return 0;
    }
    va_list args;
    va_start(args, fmt);
    int len = vscnprintf(buf, PAGE_SIZE, fmt, args);
    va_end(args);
    return len;
}

int sysfs_emit_at(char *buf, int at, const char *fmt, ...) {
    if (!buf || ((unsigned long)buf & (PAGE_SIZE - 1)) || at < 0 || at >= (int)PAGE_SIZE) {
        warn("fs/sysfs/file.c", "sysfs_emit_at", "invalid sysfs_emit_at: buf:%p at:%d\n", buf, at);
        return 0;
    }
    va_list args;
    va_start(args, fmt);
    int len = vscnprintf(buf + at, PAGE_SIZE - at, fmt, args);
    va_end(args);
    return len;
}

}  // extern "C"
