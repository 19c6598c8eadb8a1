// Real model: misc_register()/misc_deregister() of drivers/char/misc.c (5.10) as far as user
// space sees them: a node /dev/NAME whose open pins the driver's module (fops_get) and then
// runs on the driver's file operations, as misc_open() swaps them in, with the device number
// (major 10, the driver's minor or a dynamic one counted down from 63). No class devices are
// modelled.
#include "simkernel/fs/node.h"
#include "simkernel/kernel/module_owner.h"

#include <platform/errno.h>
#include <platform/miscdevice.h>
#include <platform/module.h>

#include <bitset>
#include <map>
#include <mutex>

namespace {

class MiscNode : public sim::fs::Node {
  public:
    MiscNode(const struct miscdevice *misc, umode_t mode)
        : Node(misc->nodename ? misc->nodename : misc->name, (mode & ~S_IFMT) | S_IFCHR),
          fops_(misc->fops),
          minor_(misc->minor) {}

    // The kernel's MKDEV(MISC_MAJOR, minor).
    dev_t rdev() const override { return (dev_t{kMiscMajor} << 20) | static_cast<dev_t>(minor_); }

    int open(struct file *file) override {
        sim::fs::ActiveRef ref(*this);
        if (!ref.ok())
            return -ENODEV;
        if (!try_module_get(fops_->owner))
            return -ENODEV;
        file->f_op = fops_;
        int err = fops_->open ? fops_->open(inode(), file) : 0;
        if (err) {
            file->f_op = nullptr;
            module_put(fops_->owner);
        }
        return err;
    }

    // The open file keeps the module pinned, so its operations outlive the node's removal.
    ssize_t read(struct file *file, char __user *buf, size_t count, loff_t *pos) override {
        return fops_->read ? fops_->read(file, buf, count, pos) : -EINVAL;
    }
    ssize_t write(struct file *file, const char __user *buf, size_t count, loff_t *pos) override {
        return fops_->write ? fops_->write(file, buf, count, pos) : -EINVAL;
    }
    loff_t llseek(struct file *file, loff_t offset, int whence) override {
        return fops_->llseek ? fops_->llseek(file, offset, whence) : -ESPIPE;
    }
    void release(struct file *file) override {
        if (fops_->release)
            fops_->release(inode(), file);
        module_put(fops_->owner);
    }

  private:
    static constexpr unsigned int kMiscMajor = 10;
    const struct file_operations *fops_;
    int minor_;
};

// Dynamic minors, as misc.c hands them out: 63 first, then downwards.
constexpr int kDynamicMinors = 64;

std::mutex misc_lock;
std::map<const struct miscdevice *, sim::fs::NodeRef> misc_nodes;
std::bitset<kDynamicMinors> misc_minors;  // under misc_lock

}  // namespace

extern "C" {

int misc_register(struct miscdevice *misc) {
    if (!misc || !misc->name || !misc->fops)
        return -EINVAL;
    std::shared_ptr<sim::fs::Dir> dev;
    sim::fs::NodeRef found;
    if (sim::fs::lookup("/dev", true, &found) == 0)
        dev = std::dynamic_pointer_cast<sim::fs::Dir>(found);
    if (!dev)
        return -ENODEV;
    std::lock_guard g(misc_lock);
    if (misc_nodes.count(misc))
        return -EBUSY;
    bool dynamic = misc->minor == MISC_DYNAMIC_MINOR;
    if (dynamic) {
        int i = 0;
        while (i < kDynamicMinors && misc_minors[i])
            i++;
        if (i == kDynamicMinors)
            return -EBUSY;
        misc->minor = kDynamicMinors - i - 1;
    }
    auto node = std::make_shared<MiscNode>(misc, misc->mode ? misc->mode : 0600);
    if (dev->add(node) != 0) {
        if (dynamic)
            misc->minor = MISC_DYNAMIC_MINOR;
        return -EBUSY;
    }
    if (dynamic)
        misc_minors[kDynamicMinors - misc->minor - 1] = true;
    misc_nodes[misc] = node;
    misc->this_device = nullptr;
    sim::resource_add(SIM_CALLER_MODULE(), misc, "misc device", misc->name,
                      [misc] { misc_deregister(misc); });
    return 0;
}

void misc_deregister(struct miscdevice *misc) {
    sim::fs::NodeRef node;
    {
        std::lock_guard g(misc_lock);
        auto it = misc_nodes.find(misc);
        if (it == misc_nodes.end())
            return;
        node = it->second;
        misc_nodes.erase(it);
        if (misc->minor >= 0 && misc->minor < kDynamicMinors) {
            misc_minors[kDynamicMinors - misc->minor - 1] = false;
            misc->minor = MISC_DYNAMIC_MINOR;
        }
    }
    sim::resource_remove(misc);
    sim::fs::remove_node(node);
}

}  // extern "C"
