// Real model: drivers/of/kobj.c and of_core_init() of 5.10. Every node is a directory under
// /sys/firmware/devicetree/base named by its full name (0755), every property a read-only
// binary file with the property's raw bytes (0444; 0400 and size 0 for "security-*"), a name
// already taken in the directory gets "#1", "#2", ... appended. /proc/device-tree links there.
#include "simkernel/drivers/of/of_host.h"
#include "simkernel/drivers/of/of_private.h"
#include "simkernel/fs/fs_internal.h"
#include "simkernel/fs/sysfs_internal.h"

#include <platform/errno.h>
#include <platform/printk.h>
#include <platform/proc_fs.h>
#include <platform/string.h>
#include <platform/uaccess.h>

extern "C" {
// /sys/firmware (drivers/base/firmware.c).
struct kobject *firmware_kobj;
}

namespace sim::of {
namespace {

struct kobject *of_kset;  // /sys/firmware/devicetree

// A property as sysfs_create_bin_file() shows it: a file as long as the value, read with
// memory_read_from_buffer(), no write.
class PropertyFile : public fs::FileNode {
  public:
    PropertyFile(std::string name, umode_t mode, const struct property *pp, loff_t size)
        : FileNode(std::move(name), mode), pp_(pp) {
        set_size(size);
    }

    // kernfs_fop_open(): a file without a write routine opens for reading only.
    int open(struct file *file) override {
        fs::ActiveRef ref(*this);
        if (!ref.ok())
            return -ENODEV;
        if (file->f_mode & FMODE_WRITE)
            return -EACCES;
        return 0;
    }

    ssize_t read(struct file *, char __user *buf, size_t count, loff_t *pos) override {
        fs::ActiveRef ref(*this);
        if (!ref.ok())
            return -ENODEV;
        loff_t size = inode()->i_size;
        if (*pos < 0)
            return -EINVAL;
        if (!count)
            return 0;
        if (size) {
            if (*pos >= size)
                return 0;
            if (*pos + (loff_t)count > size)
                count = size - *pos;
        }
        // of_node_property_read(): memory_read_from_buffer() over the value.
        if (*pos >= pp_->length)
            return 0;
        if (*pos + (loff_t)count > pp_->length)
            count = pp_->length - *pos;
        if (copy_to_user(buf, static_cast<const char *>(pp_->value) + *pos, count))
            return -EFAULT;
        *pos += count;
        return count;
    }

    loff_t llseek(struct file *file, loff_t offset, int whence) override {
        return generic_file_llseek(file, offset, whence);
    }

  private:
    const struct property *pp_;
};

fs::Dir *dir_of(struct kobject *kobj) {
    return kobj && kobj->sd ? dynamic_cast<fs::Dir *>(kobj->sd->node) : nullptr;
}

// safe_name(): orig_name, or orig_name#N when the directory has that name already.
std::string safe_name(struct kobject *kobj, const char *orig_name) {
    std::string name = orig_name;
    fs::Dir *dir = dir_of(kobj);
    int i = 0;
    // Don't be a hero: after 16 tries give up.
    while (dir && i < 16 && dir->lookup(name))
        name = std::string(orig_name) + "#" + std::to_string(++i);
    if (i)
        pr_warn("OF: Duplicate name in %s, renamed to \"%s\"\n", kobject_name(kobj), name.c_str());
    return name;
}

int add_property_sysfs(struct device_node *np, struct property *pp) {
    fs::Dir *dir = dir_of(&np->kobj);
    if (!dir)
        return 0;
    // Important: don't leak passwords.
    bool secure = strncmp(pp->name, "security-", 9) == 0;
    std::string name = safe_name(&np->kobj, pp->name);
    auto file =
        std::make_shared<PropertyFile>(name, secure ? 0400 : 0444, pp, secure ? 0 : pp->length);
    int rc = dir->add(file);
    if (rc)
        fs::warn("drivers/of/kobj.c", "__of_add_property_sysfs",
                 "error adding attribute %s to node %s\n", pp->name, of_node_path(np).c_str());
    return rc;
}

}  // namespace

bool of_kset_ready() {
    return of_kset != nullptr;
}

int __of_attach_node_sysfs(struct device_node *np) {
    if (!of_kset)
        return 0;
    struct kobject *parent = np->parent ? &np->parent->kobj : of_kset;
    std::string name = np->parent ? safe_name(parent, np->full_name) : safe_name(of_kset, "base");
    int rc = kobject_add(&np->kobj, parent, "%s", name.c_str());
    if (rc)
        return rc;
    for (struct property *pp = np->properties; pp; pp = pp->next)
        add_property_sysfs(np, pp);
    of_node_get(np);
    return 0;
}

}  // namespace sim::of

namespace sim {

using namespace of;

void of_core_init() {
    firmware_kobj = kobject_create_and_add("firmware", nullptr);
    if (!firmware_kobj)
        return;
    of_kset = kobject_create_and_add("devicetree", firmware_kobj);
    if (!of_kset) {
        pr_err("OF: failed to register existing nodes\n");
        return;
    }
    for (struct device_node *np = __of_find_all_nodes(nullptr); np; np = __of_find_all_nodes(np))
        __of_attach_node_sysfs(np);
    // The symlink in /proc that user space expects.
    if (of_root)
        proc_symlink("device-tree", nullptr, "/sys/firmware/devicetree/base");
}

void of_shutdown() {
    of_depopulate_all();
    of_alias_clear();
    of_node_put(of_chosen);
    of_node_put(of_aliases);
    of_chosen = of_aliases = nullptr;
    if (of_root && of_kset)
        remove_proc_entry("device-tree", nullptr);
    of_release_trees();
    of_root = nullptr;
    kobject_put(of_kset);
    of_kset = nullptr;
    kobject_put(firmware_kobj);
    firmware_kobj = nullptr;
}

}  // namespace sim
