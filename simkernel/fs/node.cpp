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

// The component of path at *pos or after it, skipping slashes; empty at the end.
std::string_view next_part(std::string_view path, size_t *pos) {
    size_t i = path.find_first_not_of('/', *pos);
    if (i == std::string_view::npos) {
        *pos = path.size();
        return {};
    }
    size_t j = path.find('/', i);
    if (j == std::string_view::npos)
        j = path.size();
    *pos = j;
    return path.substr(i, j - i);
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
    return active_.load(std::memory_order_acquire) < 0;
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

// atomic_inc_unless_negative(), as kernfs_get_active() does.
bool Node::active_get() {
    int v = active_.load(std::memory_order_relaxed);
    do {
        if (v < 0)
            return false;
    } while (!active_.compare_exchange_weak(v, v + 1, std::memory_order_acquire,
                                            std::memory_order_relaxed));
    return true;
}

void Node::active_put() {
    // Only the last reference of a removed node has anyone to wake. Taking the lock after the
    // count dropped orders the wake-up after the drainer's test of it.
    if (active_.fetch_sub(1, std::memory_order_release) - 1 == kDeactivatedBias) {
        std::lock_guard<std::mutex> g(drain_lock_);
        drain_cv_.notify_all();
    }
}

void Node::deactivate() {
    active_.fetch_add(kDeactivatedBias, std::memory_order_relaxed);
}

void Node::drain() {
    std::unique_lock<std::mutex> g(drain_lock_);
    drain_cv_.wait(g,
                   [this] { return active_.load(std::memory_order_acquire) == kDeactivatedBias; });
}

int Dir::add(const NodeRef &child) {
    std::lock_guard<std::mutex> g(tree_lock());
    if (removed())
        return -ENOENT;
    assert(!child->parent_.lock() && "node added twice");
    for (const NodeRef &c : children_)
        if (c->name_ == child->name_)
            return -EEXIST;
    children_.push_back(child);
    child->parent_ = std::static_pointer_cast<Dir>(shared_from_this());
    return 0;
}

Node *Dir::find_locked(std::string_view name) const {
    for (const NodeRef &c : children_)
        if (c->name_ == name)
            return c.get();
    return nullptr;
}

NodeRef Dir::lookup(std::string_view name) const {
    std::lock_guard<std::mutex> g(tree_lock());
    Node *n = find_locked(name);
    return n ? n->shared_from_this() : nullptr;
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

int walk_locked(Node *start, std::string_view path, bool follow_last, int *links, Node **out) {
    const struct cred *cred = current_cred();
    Node *cur = start;
    size_t pos = 0;
    std::string_view part = next_part(path, &pos);
    while (!part.empty()) {
        if (!cur->is_dir())
            return -ENOTDIR;
        auto *dir = static_cast<Dir *>(cur);
        if (int err = dir->permission(cred, MAY_EXEC))
            return err;
        Node *next;
        if (part == ".") {
            next = dir;
        } else if (part == "..") {
            std::shared_ptr<Dir> up = dir->parent_.lock();
            next = up ? up.get() : dir;
        } else {
            next = dir->find_locked(part);
            if (!next)
                return -ENOENT;
        }
        part = next_part(path, &pos);
        if (S_ISLNK(next->mode()) && (!part.empty() || follow_last)) {
            if (++*links > kMaxSymlinks)
                return -ELOOP;
            const std::string &target = static_cast<Symlink *>(next)->target();
            Node *base = target.starts_with('/') ? root_slot().get() : dir;
            if (!base)
                return -ENOENT;
            if (int err = walk_locked(base, target, true, links, &next))
                return err;
        }
        cur = next;
    }
    // "name/" names a directory, and a final symlink is followed to it.
    if (path.ends_with('/') && !cur->is_dir())
        return -ENOTDIR;
    *out = cur;
    return 0;
}

int lookup(std::string_view path, bool follow_last, NodeRef *out) {
    if (path.empty())
        return -ENOENT;
    std::lock_guard<std::mutex> g(tree_lock());
    Dir *r = root_slot().get();
    if (!r)
        return -ENOENT;
    int links = 0;
    Node *n;
    if (int err = walk_locked(r, path, follow_last || path.ends_with('/'), &links, &n))
        return err;
    *out = n->shared_from_this();
    return 0;
}

int lookup_parent(std::string_view path, std::shared_ptr<Dir> *dir, std::string *name) {
    size_t end = path.find_last_not_of('/');
    if (end == std::string_view::npos)
        return -EEXIST;  // the root itself
    size_t slash = path.rfind('/', end);
    size_t start = slash == std::string_view::npos ? 0 : slash + 1;
    std::lock_guard<std::mutex> g(tree_lock());
    Dir *r = root_slot().get();
    if (!r)
        return -ENOENT;
    int links = 0;
    Node *n;
    if (int err = walk_locked(r, path.substr(0, start), true, &links, &n))
        return err;
    if (!n->is_dir())
        return -ENOTDIR;
    *dir = std::static_pointer_cast<Dir>(n->shared_from_this());
    *name = std::string(path.substr(start, end + 1 - start));
    return 0;
}

}  // namespace sim::fs
