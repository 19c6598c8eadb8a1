// Internal to sysfs and kobjects: kernfs nodes (the directory of a kobject, its attribute
// files and links) as fs/kernfs gives them to fs/sysfs.
#pragma once

#include "simkernel/fs/node.h"

#include <platform/kobject.h>

#include <string>

struct kernfs_node {
    sim::fs::Node *node;  // the tree node that holds this kernfs node
    void *priv;           // directory: its kobject; attribute file: its attribute
};

namespace sim::fs {

struct kernfs_node *sysfs_root_kn();
// A directory under parent; an error pointer (-EEXIST, -ENOENT once parent is removed).
struct kernfs_node *kernfs_create_dir(struct kernfs_node *parent, const char *name, umode_t mode,
                                      void *priv);
// Removes kn with everything below it, after the calls running in them have returned.
void kernfs_remove(struct kernfs_node *kn);
// 0 or -ENOENT.
int kernfs_remove_by_name(struct kernfs_node *parent, const char *name);
// The path below /sys: "/module/vmassist".
std::string kernfs_path(const struct kernfs_node *kn);
// "sysfs: cannot create duplicate filename ..."
void sysfs_warn_dup(struct kernfs_node *parent, const char *name);
// sysfs_create_dir_ns()/sysfs_remove_dir() for a kobject.
int sysfs_create_dir(struct kobject *kobj);
void sysfs_remove_dir(struct kobject *kobj);

}  // namespace sim::fs
