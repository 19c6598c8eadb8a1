// Control groups, legacy (v1) hierarchy (include/linux/cgroup.h, cgroup-defs.h): the subsystem
// states, and the control-file types through which a controller (or a module) adds files to
// every group directory.
#pragma once

#include <platform/list.h>
#include <platform/types.h>

struct cgroup;
struct cgroup_subsys;
struct kernfs_open_file;
struct seq_file;

struct cgroup_subsys_state {
    struct cgroup *cgroup;
    struct cgroup_subsys *ss;
    struct cgroup_subsys_state *parent;
    unsigned int flags;
};

// css->flags
#define CSS_ONLINE (1 << 1)

#define MAX_CFTYPE_NAME 64

// cftype->flags
#define CFTYPE_ONLY_ON_ROOT (1 << 0)
#define CFTYPE_NOT_ON_ROOT (1 << 1)
#define CFTYPE_NO_PREFIX (1 << 3)

struct cftype {
    // The file name; the framework puts the controller's name and a dot in front.
    char name[MAX_CFTYPE_NAME];
    unsigned long private_data;  // the kernel's cft->private
    // Longest text a write may pass (-E2BIG beyond it); 0 means the framework's default,
    // PAGE_SIZE.
    size_t max_write_len;
    unsigned int flags;

    // Set by the framework while the table is registered.
    struct cgroup_subsys *ss;
    struct list_head node;

    u64 (*read_u64)(struct cgroup_subsys_state *css, struct cftype *cft);
    s64 (*read_s64)(struct cgroup_subsys_state *css, struct cftype *cft);
    int (*seq_show)(struct seq_file *sf, void *v);
    int (*write_u64)(struct cgroup_subsys_state *css, struct cftype *cft, u64 val);
    int (*write_s64)(struct cgroup_subsys_state *css, struct cftype *cft, s64 val);
    // Gets a NUL-terminated copy of the text written; returns nbytes or a negative errno.
    ssize_t (*write)(struct kernfs_open_file *of, char *buf, size_t nbytes, loff_t off);
};

struct cgroup_subsys {
    const char *name;
    const char *legacy_name;
    int id;
    // Host side of the controller; opaque to module code.
    struct sim_cgroup_subsys_host *sim_host;
};

extern "C" {
extern struct cgroup_subsys memory_cgrp_subsys;

// Adds the files of cfts (ended by an entry with an empty name) to every group of ss on the
// legacy hierarchy, present and future. 0 or a negative errno (-EINVAL if cfts are in use).
int cgroup_add_legacy_cftypes(struct cgroup_subsys *ss, struct cftype *cfts);
// Removes them again; -ENOENT if cfts are not registered.
int cgroup_rm_cftypes(struct cftype *cfts);

// The subsystem state of the group whose control file of is.
struct cgroup_subsys_state *of_css(struct kernfs_open_file *of);
// The control file behind an open file, and the seq_file's cftype for seq_show.
struct cftype *of_cft(struct kernfs_open_file *of);
struct cgroup_subsys_state *seq_css(struct seq_file *seq);
struct cftype *seq_cft(struct seq_file *seq);
}
