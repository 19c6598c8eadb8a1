// The cgroup v1 filesystem of the memory controller (kernel/cgroup/cgroup.c, cgroup-v1.c,
// fs/kernfs/file.c): a real model of group directories with mkdir/rmdir, the tasks and
// cgroup.procs files, and control files from cftype tables (the controller's own and those a
// module adds) with kernfs's write rules: a NUL-terminated copy, at most the file's limit.
#include "simkernel/fs/node.h"
#include "simkernel/fs/vfs.h"
#include "simkernel/kernel/module_owner.h"
#include "simkernel/mm/cgroup_fs.h"
#include "simkernel/mm/memcontrol_host.h"
#include "simkernel/mm/mm_internal.h"

#include <platform/errno.h>
#include <platform/kstrtox.h>
#include <platform/printk.h>
#include <platform/rcupdate.h>
#include <platform/sched.h>
#include <platform/seq_file.h>
#include <platform/string.h>
#include <platform/uaccess.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <list>
#include <memory>

extern "C" {
__attribute__((visibility("default"))) struct cgroup_subsys memory_cgrp_subsys = {
    "memory", "memory", 4, nullptr};
}

// The open file of a control file, as kernfs hands it to a cftype's write handler.
struct kernfs_open_file {
    struct kernfs_node *kn;
    struct file *file;
    struct seq_file *seq_file;
    void *priv;
    struct cftype *cft;
    struct cgroup_subsys_state *css;
};

namespace sim::mm {
namespace {

using fs::Dir;
using fs::FileNode;
using fs::NodeRef;

class CgroupDir;

// Registered cftype tables, in registration order; the controller's own come first.
std::list<struct cftype *> cftype_sets;
std::vector<std::shared_ptr<CgroupDir>> group_dirs;  // every online group's directory

umode_t cftype_mode(const struct cftype *cft) {
    umode_t mode = 0;
    if (cft->read_u64 || cft->read_s64 || cft->seq_show)
        mode |= 0444;
    if (cft->write_u64 || cft->write_s64 || cft->write)
        mode |= 0200;
    return mode;
}

std::string cftype_file_name(const struct cftype *cft) {
    if (cft->flags & CFTYPE_NO_PREFIX)
        return cft->name;
    return std::string(cft->ss ? cft->ss->name : "memory") + "." + cft->name;
}

int cft_read_u64_show(struct seq_file *sf, void *) {
    auto *of = static_cast<struct kernfs_open_file *>(sf->private_data);
    if (of->cft->read_u64)
        seq_printf(sf, "%llu\n", (unsigned long long)of->cft->read_u64(of->css, of->cft));
    else if (of->cft->read_s64)
        seq_printf(sf, "%lld\n", (long long)of->cft->read_s64(of->css, of->cft));
    else
        return of->cft->seq_show(sf, nullptr);
    return 0;
}

// A control file of one group.
class CftFile : public FileNode {
  public:
    CftFile(struct cftype *cft, struct mem_cgroup *memcg)
        : FileNode(cftype_file_name(cft), cftype_mode(cft)), cft_(cft), memcg_(memcg) {}

    struct cftype *cft() const {
        return cft_;
    }

    int open(struct file *file) override {
        fs::ActiveRef ref(*this);
        if (!ref.ok())
            return -ENODEV;
        auto *of = new kernfs_open_file{nullptr, file, nullptr, nullptr, cft_, &memcg_->css};
        if (cft_->read_u64 || cft_->read_s64 || cft_->seq_show) {
            int rv = single_open(file, cft_read_u64_show, of);
            if (rv) {
                delete of;
                return rv;
            }
            of->seq_file = static_cast<struct seq_file *>(file->private_data);
        } else {
            file->private_data = nullptr;
        }
        std::lock_guard g(lock_);
        opens_.push_back({file, of});
        return 0;
    }

    ssize_t read(struct file *file, char __user *buf, size_t count, loff_t *pos) override {
        fs::ActiveRef ref(*this);
        if (!ref.ok())
            return -ENODEV;
        if (!of_of(file)->seq_file)
            return -EINVAL;
        return seq_read(file, buf, count, pos);
    }

    ssize_t write(struct file *file, const char __user *ubuf, size_t count, loff_t *) override {
        fs::ActiveRef ref(*this);
        if (!ref.ok())
            return -ENODEV;
        size_t limit = cft_->max_write_len ? cft_->max_write_len : PAGE_SIZE;
        if (count > limit)
            return -E2BIG;
        std::vector<char> buf(count + 1, 0);
        if (copy_from_user(buf.data(), ubuf, count))
            return -EFAULT;
        buf[count] = '\0';
        struct kernfs_open_file *of = of_of(file);
        if (cft_->write)
            return cft_->write(of, buf.data(), count, 0);
        int ret;
        if (cft_->write_u64) {
            unsigned long long v;
            ret = kstrtoull(strstrip(buf.data()), 0, &v);
            if (!ret)
                ret = cft_->write_u64(of->css, cft_, v);
        } else if (cft_->write_s64) {
            long long v;
            ret = kstrtoll(strstrip(buf.data()), 0, &v);
            if (!ret)
                ret = cft_->write_s64(of->css, cft_, v);
        } else {
            ret = -EINVAL;
        }
        return ret ? ret : (ssize_t)count;
    }

    void release(struct file *file) override {
        struct kernfs_open_file *of;
        {
            std::lock_guard g(lock_);
            auto it = std::find_if(opens_.begin(), opens_.end(),
                                   [file](auto &o) { return o.first == file; });
            if (it == opens_.end())
                return;
            of = it->second;
            opens_.erase(it);
        }
        if (of->seq_file)
            single_release(inode(), file);
        delete of;
    }

  private:
    struct kernfs_open_file *of_of(struct file *file) {
        std::lock_guard g(lock_);
        for (auto &o : opens_)
            if (o.first == file)
                return o.second;
        return nullptr;
    }

    struct cftype *cft_;
    struct mem_cgroup *memcg_;
    std::mutex lock_;
    std::vector<std::pair<struct file *, struct kernfs_open_file *>> opens_;
};

// tasks and cgroup.procs: the members' pids, one a line; writing a pid moves that task here.
class ProcsFile : public FileNode {
  public:
    ProcsFile(std::string name, struct mem_cgroup *memcg)
        : FileNode(std::move(name), 0644), memcg_(memcg) {}

    ssize_t read(struct file *, char __user *buf, size_t count, loff_t *pos) override {
        fs::ActiveRef ref(*this);
        if (!ref.ok())
            return -ENODEV;
        std::string text;
        for (pid_t pid : memcg_tasks(memcg_))
            text += std::to_string(pid) + "\n";
        if (*pos >= (loff_t)text.size())
            return 0;
        size_t n = std::min(count, text.size() - (size_t)*pos);
        if (copy_to_user(buf, text.data() + *pos, n))
            return -EFAULT;
        *pos += (loff_t)n;
        return (ssize_t)n;
    }

    ssize_t write(struct file *, const char __user *ubuf, size_t count, loff_t *) override {
        fs::ActiveRef ref(*this);
        if (!ref.ok())
            return -ENODEV;
        if (count > PAGE_SIZE)
            return -E2BIG;
        std::vector<char> buf(count + 1, 0);
        if (copy_from_user(buf.data(), ubuf, count))
            return -EFAULT;
        int pid;
        int ret = kstrtoint(strstrip(buf.data()), 0, &pid);
        if (ret)
            return ret;
        if (pid < 0)
            return -EINVAL;
        std::lock_guard g(big_lock());
        rcu_read_lock();
        struct task_struct *t = pid ? find_task_by_vpid(pid) : current;
        if (t)
            get_task_struct(t);
        rcu_read_unlock();
        if (!t)
            return -ESRCH;
        memcg_attach_task(t, memcg_);
        put_task_struct(t);
        return (ssize_t)count;
    }

  private:
    struct mem_cgroup *memcg_;
};

void add_cft_files(CgroupDir &dir, struct cftype *cfts);

class CgroupDir : public Dir {
  public:
    CgroupDir(std::string name, struct mem_cgroup *memcg)
        : Dir(std::move(name), 0755), memcg_(memcg) {}
    struct mem_cgroup *memcg() const {
        return memcg_;
    }

    int mkdir(std::string_view name, umode_t) override {
        std::lock_guard g(big_lock());
        if (removed() || !mem_cgroup_online(memcg_))
            return -ENODEV;
        if (lookup(name))
            return -EEXIST;
        struct mem_cgroup *child = memcg_create(memcg_, std::string(name));
        auto dir = std::make_shared<CgroupDir>(std::string(name), child);
        dir->populate();
        int rv = add(dir);
        if (rv) {
            memcg_offline(child);
            return rv;
        }
        group_dirs.push_back(dir);
        return 0;
    }

    int rmdir(const NodeRef &node) override {
        auto dir = std::dynamic_pointer_cast<CgroupDir>(node);
        if (!dir)
            return -ENOTDIR;
        {
            std::lock_guard g(big_lock());
            struct mem_cgroup *memcg = dir->memcg();
            if (!mem_cgroup_online(memcg))
                return -ENOENT;
            if (!memcg->sim_host->children.empty() || !memcg_tasks(memcg).empty())
                return -EBUSY;
            memcg_offline(memcg);
            std::erase(group_dirs, dir);
        }
        // Waits for running handlers of its files, which may take big_lock() themselves.
        fs::remove_node(node);
        return 0;
    }

    void populate() {
        add(std::make_shared<ProcsFile>("cgroup.procs", memcg_));
        add(std::make_shared<ProcsFile>("tasks", memcg_));
        for (struct cftype *cfts : cftype_sets)
            add_cft_files(*this, cfts);
    }

  private:
    struct mem_cgroup *memcg_;
};

void add_cft_files(CgroupDir &dir, struct cftype *cfts) {
    bool root = dir.memcg() == root_mem_cgroup;
    for (struct cftype *cft = cfts; cft->name[0]; cft++) {
        if ((cft->flags & CFTYPE_ONLY_ON_ROOT) && !root)
            continue;
        if ((cft->flags & CFTYPE_NOT_ON_ROOT) && root)
            continue;
        dir.add(std::make_shared<CftFile>(cft, dir.memcg()));
    }
}

void remove_cft_files(CgroupDir &dir, struct cftype *cfts) {
    for (const NodeRef &child : dir.children()) {
        auto file = std::dynamic_pointer_cast<CftFile>(child);
        if (!file)
            continue;
        for (struct cftype *cft = cfts; cft->name[0]; cft++)
            if (file->cft() == cft)
                fs::remove_node(child);
    }
}

// The controller's own files (mem_cgroup_legacy_files).
u64 usage_read(struct cgroup_subsys_state *css, struct cftype *) {
    struct mem_cgroup *memcg = mem_cgroup_from_css(css);
    return (u64)std::max(0L, memcg_state(memcg, NR_CHARGED)) * PAGE_SIZE;
}

int stat_show(struct seq_file *sf, void *) {
    seq_puts(sf, memcg_stat_text(mem_cgroup_from_css(seq_css(sf))).c_str());
    return 0;
}

u64 swappiness_read(struct cgroup_subsys_state *css, struct cftype *) {
    return (u64)mem_cgroup_swappiness(mem_cgroup_from_css(css));
}

int swappiness_write(struct cgroup_subsys_state *css, struct cftype *, u64 val) {
    if (val > 100)
        return -EINVAL;
    if (css->parent)
        WRITE_ONCE(mem_cgroup_from_css(css)->swappiness, (int)val);
    else
        WRITE_ONCE(vm_swappiness, (int)val);
    return 0;
}

struct cftype mem_cgroup_legacy_files[4];

void init_legacy_files() {
    struct cftype *c = mem_cgroup_legacy_files;
    *c = {};
    strscpy(c->name, "usage_in_bytes", sizeof(c->name));
    c->read_u64 = usage_read;
    *++c = {};
    strscpy(c->name, "stat", sizeof(c->name));
    c->seq_show = stat_show;
    *++c = {};
    strscpy(c->name, "swappiness", sizeof(c->name));
    c->read_u64 = swappiness_read;
    c->write_u64 = swappiness_write;
    *++c = {};
}

std::shared_ptr<CgroupDir> memcg_root_dir;

int init_cftypes(struct cgroup_subsys *ss, struct cftype *cfts) {
    for (struct cftype *cft = cfts; cft->name[0]; cft++) {
        if (cft->ss) {
            printk(KERN_WARNING "WARNING: cgroup: cftype %s is registered already\n", cft->name);
            return -EINVAL;
        }
    }
    for (struct cftype *cft = cfts; cft->name[0]; cft++) {
        cft->ss = ss;
        INIT_LIST_HEAD(&cft->node);
    }
    return 0;
}

}  // namespace

void cgroup_fs_boot() {
    std::lock_guard g(big_lock());
    init_legacy_files();
    init_cftypes(&memory_cgrp_subsys, mem_cgroup_legacy_files);
    cftype_sets.push_back(mem_cgroup_legacy_files);
    NodeRef dev;
    if (fs::lookup("/dev", true, &dev) || !dev->is_dir()) {
        fprintf(stderr, "mm: no /dev to mount the memory cgroup on\n");
        abort();
    }
    memcg_root_dir = std::make_shared<CgroupDir>("memcg", root_mem_cgroup);
    memcg_root_dir->populate();
    std::static_pointer_cast<Dir>(dev)->add(memcg_root_dir);
    group_dirs.push_back(memcg_root_dir);
}

void cgroup_fs_shutdown() {
    std::lock_guard g(big_lock());
    if (memcg_root_dir)
        fs::remove_node(memcg_root_dir);
    memcg_root_dir.reset();
    group_dirs.clear();
    for (struct cftype *cfts : cftype_sets)
        for (struct cftype *cft = cfts; cft->name[0]; cft++)
            cft->ss = nullptr;
    cftype_sets.clear();
}

int cgroup_fs_mkdir(const std::string &path) {
    return vfs::mkdir(path, 0755);
}
int cgroup_fs_rmdir(const std::string &path) {
    return vfs::rmdir(path);
}

}  // namespace sim::mm

using namespace sim::mm;

extern "C" {

__attribute__((visibility("default"))) int cgroup_add_legacy_cftypes(struct cgroup_subsys *ss,
                                                                     struct cftype *cfts) {
    struct module *owner = SIM_CALLER_MODULE();
    if (!cfts || !cfts[0].name[0])
        return 0;
    std::lock_guard g(big_lock());
    int ret = init_cftypes(ss, cfts);
    if (ret)
        return ret;
    cftype_sets.push_back(cfts);
    for (auto &dir : group_dirs)
        add_cft_files(*dir, cfts);
    sim::resource_add(owner, cfts, "cgroup cftypes", cfts[0].name,
                      [cfts] { cgroup_rm_cftypes(cfts); });
    return 0;
}

__attribute__((visibility("default"))) int cgroup_rm_cftypes(struct cftype *cfts) {
    if (!cfts || !cfts[0].ss)
        return -ENOENT;
    std::vector<std::shared_ptr<CgroupDir>> dirs;
    {
        std::lock_guard g(big_lock());
        auto it = std::find(cftype_sets.begin(), cftype_sets.end(), cfts);
        if (it == cftype_sets.end())
            return -ENOENT;
        cftype_sets.erase(it);
        dirs = group_dirs;
    }
    // Removal waits for running handlers, which may themselves take big_lock().
    for (auto &dir : dirs)
        remove_cft_files(*dir, cfts);
    for (struct cftype *cft = cfts; cft->name[0]; cft++)
        cft->ss = nullptr;
    sim::resource_remove(cfts);
    return 0;
}

__attribute__((visibility("default"))) struct cgroup_subsys_state *of_css(
    struct kernfs_open_file *of) {
    return of->css;
}

__attribute__((visibility("default"))) struct cftype *of_cft(struct kernfs_open_file *of) {
    return of->cft;
}

__attribute__((visibility("default"))) struct cgroup_subsys_state *seq_css(struct seq_file *seq) {
    return static_cast<struct kernfs_open_file *>(seq->private_data)->css;
}

__attribute__((visibility("default"))) struct cftype *seq_cft(struct seq_file *seq) {
    return static_cast<struct kernfs_open_file *>(seq->private_data)->cft;
}

}  // extern "C"
