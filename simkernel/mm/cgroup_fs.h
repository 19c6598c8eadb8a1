// The legacy memory-cgroup hierarchy mounted at /dev/memcg (kernel/cgroup/cgroup-v1.c).
#pragma once

#include <string>

namespace sim::mm {
void cgroup_fs_boot();
void cgroup_fs_shutdown();
// mkdir(2)/rmdir(2) of a group directory below /dev/memcg, as the calling task.
int cgroup_fs_mkdir(const std::string &path);
int cgroup_fs_rmdir(const std::string &path);
}  // namespace sim::mm
