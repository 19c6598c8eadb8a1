// Real model: the node tree, path walk, permission checks and the active references that let
// removal wait for running handlers (as kernfs_drain() and proc_entry_rundown() do).
#include "simkernel/fs/node.h"

#include <platform/errno.h>
#include <platform/sched.h>
#include <platform/timekeeping.h>

#include <algorithm>
#include <atomic>
#include <cassert>

namespace sim::fs {
namespace {

std::shared_ptr<Dir> &root_slot() {
    static std::shared_ptr<Dir> r;
    return r;
}

std::atomic<unsigned long> next_ino{1};
std::atomic<TreeObserver *> tree_observer{nullptr};

// The longest chain of symlinks a walk follows (the kernel's MAXSYMLINKS).
constexpr int kMaxSymlinks = 40;

std::vector<std::string_view> split(std::string_view path) {
    std::vector<std::string_view> parts;
    size_t i = 0;
    while (i < path.size()) {
        size_t j = path.find('/', i);
        if (j == std::string_view::npos)
            j = path.size();
        if (j > i)
            parts.push_back(path.substr(i, j - i));
        i = j + 1;
    }
    return parts;
}

}  // namespace

std::mutex &tree_lock() {
    static std::mutex m;
    return m;
}

std::shared_ptr<Dir> root() {
    std::lock_guard<std::mutex> g(tree_lock());
    return root_slot();
}

void set_root(std::shared_ptr<Dir> dir) {
    std::lock_guard<std::mutex> g(tree_lock());
    root_slot() = std::move(dir);
}

Node::Node(std::string name, umode_t mode, uid_t uid, gid_t gid)
    : name_(std::move(name)), mtime_(ktime_get_real_seconds()) {
    inode_.i_mode = mode;
    inode_.i_uid.val = uid;
    inode_.i_gid.val = gid;
    inode_.i_ino = next_ino.fetch_add(1, std::memory_order_relaxed);
    inode_.i_nlink = 1;
    inode_.sim_host = reinterpret_cast<struct sim_inode_host *>(this);
}

Node::~Node() = default;

Node *Node::of(const struct inode *inode) {
    return reinterpret_cast<Node *>(inode->sim_host);
}

void Node::set_mode(umode_t mode) {
    std::lock_guard<std::mutex> g(tree_lock());
    inode_.i_mode = (inode_.i_mode & S_IFMT) | (mode & ~S_IFMT);
    if (TreeObserver *o = tree_observer.load())
        o->changed(*this);
}

void Node::set_owner(uid_t uid, gid_t gid) {
    std::lock_guard<std::mutex> g(tree_lock());
    inode_.i_uid.val = uid;
    inode_.i_gid.val = gid;
    if (TreeObserver *o = tree_observer.load())
        o->changed(*this);
}

void Node::set_mtime(int64_t seconds) {
    mtime_.store(seconds, std::memory_order_relaxed);
}

void Node::set_size(loff_t size) {
    std::lock_guard<std::mutex> g(tree_lock());
    inode_.i_size = size;
}

std::shared_ptr<Dir> Node::parent() const {
    std::lock_guard<std::mutex> g(tree_lock());
    return parent_.lock();
}

std::string Node::path() const {
    std::lock_guard<std::mutex> g(tree_lock());
    std::string p;
    const Node *n = this;
    for (auto up = n->parent_.lock(); up; n = up.get(), up = up->parent_.lock())
        p = "/" + n->name_ + p;
    if (n != root_slot().get())
        return {};
    return p.empty() ? "/" : p;
}

bool Node::removed() const {
    std::lock_guard<std::mutex> g(active_lock_);
    return deactivated_;
}

int Node::permission(const struct cred *cred, int mask) const {
    return generic_permission(cred, &inode_, mask);
}

int Node::open(struct file *) {
    return 0;
}

ssize_t Node::read(struct file *, char __user *, size_t, loff_t *) {
    return -EINVAL;
}

ssize_t Node::write(struct file *, const char __user *, size_t, loff_t *) {
    return -EINVAL;
}

loff_t Node::llseek(struct file *file, loff_t offset, int whence) {
    return default_llseek(file, offset, whence);
}

void Node::release(struct file *) {}

bool Node::active_get() {
    std::lock_guard<std::mutex> g(active_lock_);
    if (deactivated_)
        return false;
    active_++;
    return true;
}

void Node::active_put() {
    std::lock_guard<std::mutex> g(active_lock_);
    if (--active_ == 0 && deactivated_)
        active_cv_.notify_all();
}

void Node::deactivate() {
    std::lock_guard<std::mutex> g(active_lock_);
    deactivated_ = true;
}

void Node::drain() {
    std::unique_lock<std::mutex> g(active_lock_);
    active_cv_.wait(g, [this] { return active_ == 0; });
}

int Dir::add(const NodeRef &child) {
    std::lock_guard<std::mutex> g(tree_lock());
    {
        std::lock_guard<std::mutex> a(active_lock_);
        if (deactivated_)
            return -ENOENT;
    }
    assert(!child->parent_.lock() && "node added twice");
    for (const NodeRef &c : children_)
        if (c->name_ == child->name_)
            return -EEXIST;
    children_.push_back(child);
    child->parent_ = std::static_pointer_cast<Dir>(shared_from_this());
    return 0;
}

NodeRef Dir::lookup(std::string_view name) const {
    std::lock_guard<std::mutex> g(tree_lock());
    for (const NodeRef &c : children_)
        if (c->name_ == name)
            return c;
    return nullptr;
}

std::vector<NodeRef> Dir::children() const {
    std::lock_guard<std::mutex> g(tree_lock());
    return children_;
}

unsigned int Dir::nlink() const {
    std::lock_guard<std::mutex> g(tree_lock());
    unsigned int n = 2;
    for (const NodeRef &c : children_)
        if (c->is_dir())
            n++;
    return n;
}

int Dir::mkdir(std::string_view, umode_t) {
    return -EPERM;
}

int Dir::rmdir(const NodeRef &) {
    return -EPERM;
}

int Dir::open(struct file *file) {
    if (file->f_mode & FMODE_WRITE)
        return -EISDIR;
    return 0;
}

ssize_t Dir::read(struct file *, char __user *, size_t, loff_t *) {
    return -EISDIR;
}

void remove_node(const NodeRef &node) {
    std::vector<NodeRef> gone;  // node first, then its descendants breadth-first
    {
        std::lock_guard<std::mutex> g(tree_lock());
        if (auto parent = node->parent_.lock()) {
            auto &siblings = parent->children_;
            siblings.erase(std::find(siblings.begin(), siblings.end(), node));
            node->parent_.reset();
            if (TreeObserver *o = tree_observer.load())
                o->detached(*parent, *node);
        } else if (node->removed() || node.get() != root_slot().get()) {
            return;
        }
        gone.push_back(node);
        for (size_t i = 0; i < gone.size(); i++) {
            if (auto *dir = dynamic_cast<Dir *>(gone[i].get())) {
                for (NodeRef &c : dir->children_) {
                    c->parent_.reset();
                    gone.push_back(std::move(c));
                }
                dir->children_.clear();
            }
        }
        for (const NodeRef &n : gone)
            n->deactivate();
    }
    for (auto it = gone.rbegin(); it != gone.rend(); ++it) {
        (*it)->drain();
        (*it)->removed_drained();
    }
}

void set_tree_observer(TreeObserver *observer) {
    tree_observer.store(observer);
}

const struct cred *current_cred() {
    return get_current()->cred;
}

int generic_permission(const struct cred *cred, const struct inode *inode, int mask) {
    umode_t mode = inode->i_mode;
    unsigned int perm;
    if (cred->fsuid.val == inode->i_uid.val)
        perm = mode >> 6;
    else if (cred->fsgid.val == inode->i_gid.val)
        perm = mode >> 3;
    else
        perm = mode;
    mask &= MAY_READ | MAY_WRITE | MAY_EXEC;
    if ((mask & ~perm & (MAY_READ | MAY_WRITE | MAY_EXEC)) == 0)
        return 0;
    // Root's CAP_DAC_OVERRIDE / CAP_DAC_READ_SEARCH: read and write always, search of a
    // directory always, execution of a file only when some execute bit is set.
    bool root = cred->fsuid.val == 0;
    if (root && (S_ISDIR(mode) || !(mask & MAY_EXEC) || (mode & S_IXUGO)))
        return 0;
    return -EACCES;
}

namespace {

// Resolves parts[from..] below start; out gets the node of the last part.
int walk(std::shared_ptr<Dir> start, const std::vector<std::string_view> &parts, bool follow_last,
         int *links, NodeRef *out) {
    const struct cred *cred = current_cred();
    NodeRef cur = start;
    for (size_t i = 0; i < parts.size(); i++) {
        auto dir = std::dynamic_pointer_cast<Dir>(cur);
        if (!dir)
            return -ENOTDIR;
        if (int err = dir->permission(cred, MAY_EXEC))
            return err;
        std::string_view part = parts[i];
        NodeRef next;
        if (part == ".") {
            next = dir;
        } else if (part == "..") {
            next = dir->parent();
            if (!next)
                next = dir;
        } else {
            next = dir->lookup(part);
            if (!next)
                return -ENOENT;
        }
        bool last = i + 1 == parts.size();
        if (auto *link = dynamic_cast<Symlink *>(next.get()); link && (!last || follow_last)) {
            if (++*links > kMaxSymlinks)
                return -ELOOP;
            const std::string &target = link->target();
            std::shared_ptr<Dir> base = target.starts_with('/') ? root() : dir;
            if (!base)
                return -ENOENT;
            int err = walk(base, split(target), true, links, &next);
            if (err)
                return err;
        }
        cur = next;
    }
    *out = cur;
    return 0;
}

}  // namespace

int lookup(std::string_view path, bool follow_last, NodeRef *out) {
    std::shared_ptr<Dir> r = root();
    if (!r)
        return -ENOENT;
    if (path.empty())
        return -ENOENT;
    int links = 0;
    NodeRef n;
    int err = walk(r, split(path), follow_last, &links, &n);
    if (err)
        return err;
    // "file/" names a directory.
    if (path.ends_with('/') && !n->is_dir())
        return -ENOTDIR;
    *out = n;
    return 0;
}

int lookup_parent(std::string_view path, std::shared_ptr<Dir> *dir, std::string *name) {
    std::vector<std::string_view> parts = split(path);
    if (parts.empty())
        return -EEXIST;  // the root itself
    std::string_view last = parts.back();
    parts.pop_back();
    std::shared_ptr<Dir> r = root();
    if (!r)
        return -ENOENT;
    int links = 0;
    NodeRef n;
    int err = walk(r, parts, true, &links, &n);
    if (err)
        return err;
    auto d = std::dynamic_pointer_cast<Dir>(n);
    if (!d)
        return -ENOTDIR;
    *dir = d;
    *name = std::string(last);
    return 0;
}

}  // namespace sim::fs
