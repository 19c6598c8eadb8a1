// The node tree behind the in-process file API (vfs.h): one tree from "/", with procfs at /proc,
// sysfs at /sys and /dev. A real model of what the VFS, procfs and kernfs do for their files.
//
// Adding a kind of node (a memory-cgroup control file, a device node):
// - derive from FileNode and override the file operations you need; each gets the kernel's
//   struct file of the open file, whose f_pos, f_mode and private_data it may use as a
//   kernel file operation does. The vfs serialises read/write/llseek on one open file (the
//   kernel's f_pos_lock) and calls release() once, when the last user of the open file is gone.
// - directories with mkdir/rmdir (memory cgroups) derive from Dir and override mkdir()/rmdir().
// - add nodes with Dir::add() and remove them with remove_node(). Removal detaches the subtree,
//   waits until no call holds an active reference (ActiveRef) on any of its nodes, then calls
//   each node's removed(). A node's own operations take an ActiveRef and return the error
//   their kernel code gives once the node is gone (procfs -EIO, kernfs -ENODEV), so a module
//   that removes its nodes can then be unloaded while files are still open.
// - permission() is the kernel's generic_permission() against the caller's fsuid/fsgid, with
//   root's override; open() runs after it for checks of the node's own (kernfs's has_read /
//   has_write).
#pragma once

#include <platform/fs.h>

#include <atomic>
#include <climits>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

struct cred;

namespace sim::fs {

class Dir;
class Node;
using NodeRef = std::shared_ptr<Node>;

class Node : public std::enable_shared_from_this<Node> {
  public:
    // mode includes the type bits (S_IFDIR, S_IFREG, S_IFLNK, ...).
    Node(std::string name, umode_t mode, uid_t uid = 0, gid_t gid = 0);
    virtual ~Node();
    Node(const Node &) = delete;
    Node &operator=(const Node &) = delete;

    const std::string &name() const { return name_; }
    umode_t mode() const { return inode_.i_mode; }
    void set_mode(umode_t mode);
    void set_owner(uid_t uid, gid_t gid);
    void set_size(loff_t size);
    void set_mtime(int64_t seconds);
    struct inode *inode() {
        return &inode_;
    }
    int64_t mtime() const { return mtime_.load(std::memory_order_relaxed); }
    bool is_dir() const { return S_ISDIR(inode_.i_mode); }
    // The directory holding this node; null at the root and once removed.
    std::shared_ptr<Dir> parent() const;
    // "/sys/module/vmassist" (empty once removed).
    std::string path() const;
    bool removed() const;

    // The node behind an inode handed to a file operation.
    static Node *of(const struct inode *inode);

    virtual unsigned int nlink() const { return 1; }
    // The device number of a device node (MKDEV(major, minor)); 0 for other nodes.
    virtual dev_t rdev() const { return 0; }
    // mask: MAY_READ / MAY_WRITE / MAY_EXEC; 0 or -EACCES.
    virtual int permission(const struct cred *cred, int mask) const;

    // File operations, as a struct file_operations would give them.
    virtual int open(struct file *file);
    virtual ssize_t read(struct file *file, char __user *buf, size_t count, loff_t *pos);
    virtual ssize_t write(struct file *file, const char __user *buf, size_t count, loff_t *pos);
    virtual loff_t llseek(struct file *file, loff_t offset, int whence);
    virtual void release(struct file *file);

    // Active references: calls into the node's handlers hold one; removal waits for them.
    bool active_get();
    void active_put();

  protected:
    // Called once after the node has left the tree and no call is active in it.
    virtual void removed_drained() {}

  private:
    friend class Dir;
    friend void remove_node(const NodeRef &node);
    friend int walk_locked(Node *start, std::string_view path, bool follow_last, int *links,
                           Node **out);
    void deactivate();
    void drain();

    std::string name_;
    struct inode inode_ {};
    std::atomic<int64_t> mtime_;
    std::weak_ptr<Dir> parent_;  // under tree_lock()

    // kernfs's active count: the number of active references, with kDeactivatedBias added
    // once the node has left the tree, so that taking one is a single atomic operation. The
    // lock and condition variable serve only the wait for the last reference to go.
    static constexpr int kDeactivatedBias = INT_MIN + 1;
    std::atomic<int> active_{0};
    std::mutex drain_lock_;
    std::condition_variable drain_cv_;
};

// Holds an active reference for a scope; check ok() before calling into handlers.
class ActiveRef {
  public:
    explicit ActiveRef(Node &node) : node_(node), ok_(node.active_get()) {}
    ~ActiveRef() {
        if (ok_)
            node_.active_put();
    }
    ActiveRef(const ActiveRef &) = delete;
    ActiveRef &operator=(const ActiveRef &) = delete;
    bool ok() const { return ok_; }

  private:
    Node &node_;
    bool ok_;
};

// A node with file operations. The defaults are those of a file whose file_operations has none
// (-EINVAL for read and write) and default_llseek().
class FileNode : public Node {
  public:
    FileNode(std::string name, umode_t mode, uid_t uid = 0, gid_t gid = 0)
        : Node(std::move(name), (mode & ~S_IFMT) | S_IFREG, uid, gid) {}
};

class Dir : public Node {
  public:
    Dir(std::string name, umode_t mode, uid_t uid = 0, gid_t gid = 0)
        : Node(std::move(name), (mode & ~S_IFMT) | S_IFDIR, uid, gid) {}

    // 0, or -EEXIST when the name is taken (or -ENOENT once this directory is removed).
    int add(const NodeRef &child);
    NodeRef lookup(std::string_view name) const;
    // In the order they were added.
    std::vector<NodeRef> children() const;
    unsigned int nlink() const override;

    // mkdir(2)/rmdir(2) of an entry here, after the vfs has checked the name and the caller's
    // write permission on this directory. Plain directories refuse with -EPERM.
    virtual int mkdir(std::string_view name, umode_t mode);
    virtual int rmdir(const NodeRef &child);

    int open(struct file *file) override;
    ssize_t read(struct file *file, char __user *buf, size_t count, loff_t *pos) override;

  private:
    friend void remove_node(const NodeRef &node);
    friend int walk_locked(Node *start, std::string_view path, bool follow_last, int *links,
                           Node **out);
    Node *find_locked(std::string_view name) const;
    std::vector<NodeRef> children_;  // under tree_lock()
};

class Symlink : public Node {
  public:
    Symlink(std::string name, std::string target)
        : Node(std::move(name), S_IFLNK | 0777), target_(std::move(target)) {}
    const std::string &target() const { return target_; }

  private:
    std::string target_;
};

// Guards the shape of the tree: children lists and parent links. Never held across a call
// into a node's handlers.
std::mutex &tree_lock();

// The root directory; null before fs_boot() and after fs_shutdown().
std::shared_ptr<Dir> root();
void set_root(std::shared_ptr<Dir> dir);

// Detaches node and everything below it, waits for active calls to finish and then lets each
// node (deepest first) handle its removal. A node already removed is left alone.
void remove_node(const NodeRef &node);

// Told about changes that a cache of the tree (the FUSE mount's) must drop: a node detached
// from its directory by remove_node(), and a node whose mode or owner changed. Calls come
// from any thread, possibly under the tree lock, so an observer only records them.
class TreeObserver {
  public:
    virtual void detached(const Dir &parent, const Node &node) = 0;
    virtual void changed(const Node &node) = 0;

  protected:
    ~TreeObserver() = default;
};
// One observer at a time; null removes it.
void set_tree_observer(TreeObserver *observer);

// Path walk as the calling task. follow_last: resolve a final symlink (a trailing slash always
// does, and then requires a directory). 0 or -ENOENT, -ENOTDIR, -EACCES (a directory without
// search permission), -ELOOP.
int lookup(std::string_view path, bool follow_last, NodeRef *out);
// The directory that holds the final component of path, and that component.
int lookup_parent(std::string_view path, std::shared_ptr<Dir> *dir, std::string *name);

// The walk itself, under tree_lock(), from start; the tree keeps the nodes it passes alive.
int walk_locked(Node *start, std::string_view path, bool follow_last, int *links, Node **out);

// The credentials of the calling task.
const struct cred *current_cred();
// The kernel's generic_permission() of the inode for cred.
int generic_permission(const struct cred *cred, const struct inode *inode, int mask);

}  // namespace sim::fs
