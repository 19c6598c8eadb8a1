// Real model: misc_register()/misc_deregister() of drivers/char/misc.c (5.10) as far as user
// space sees them: a node /dev/NAME whose open pins the driver's module (fops_get) and then
// runs on the driver's file operations, as misc_open() swaps them in. No minor numbers and no
// class devices are modelled.
#include "simkernel/fs/node.h"
#include "simkernel/kernel/module_owner.h"

#include <platform/errno.h>
#include <platform/miscdevice.h>
#include <platform/module.h>

#include <map>
#include <mutex>

namespace {

class MiscNode : public sim::fs::Node {
  public:
    MiscNode(const struct miscdevice *misc, umode_t mode)
        : Node(misc->nodename ? misc->nodename : misc->name, (mode & ~S_IFMT) | S_IFCHR),
          fops_(misc->fops) {}

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
    const struct file_operations *fops_;
};

std::mutex misc_lock;
std::map<const struct miscdevice *, sim::fs::NodeRef> misc_nodes;

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
    auto node = std::make_shared<MiscNode>(misc, misc->mode ? misc->mode : 0600);
    std::lock_guard g(misc_lock);
    if (misc_nodes.count(misc) || dev->add(node) != 0)
        return -EBUSY;
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
    }
    sim::resource_remove(misc);
    sim::fs::remove_node(node);
}

}  // extern "C"
