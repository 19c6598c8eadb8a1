// Internal to the fs area: boot steps of its parts and the kernel's WARN() report.
#pragma once

#include "simkernel/fs/node.h"

#include <platform/compiler.h>

namespace sim::fs {

void seq_file_boot();
void seq_file_shutdown();
// /proc under root.
void proc_boot(const std::shared_ptr<Dir> &root);
void proc_shutdown();
// /sys under root.
void sysfs_boot(const std::shared_ptr<Dir> &root);
void sysfs_shutdown();
// The top-level kobjects: /sys/devices, bus, class, fs, kernel and module.
void kobjects_boot();
void kobjects_shutdown();

// WARN(1, fmt, ...) from function in file: the cut-here line, the message and where it
// happened, at warning level.
__printf(3, 4) void warn(const char *file, const char *function, const char *fmt, ...);

}  // namespace sim::fs
