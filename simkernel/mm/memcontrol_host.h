// The group tree of the memory controller, for the cgroup filesystem at /dev/memcg, the
// simulator's commands and tests. Changes are made under sim::mm::big_lock().
#pragma once

#include <platform/memcontrol.h>
#include <platform/types.h>

#include <string>
#include <string_view>
#include <vector>

struct task_struct;

namespace sim::mm {

void memcg_boot();
void memcg_shutdown();
// A new online group under parent (mkdir).
struct mem_cgroup *memcg_create(struct mem_cgroup *parent, const std::string &name);
// rmdir of an empty group: its pages go to the parent and it leaves the tree.
void memcg_offline(struct mem_cgroup *memcg);
struct mem_cgroup *memcg_child(struct mem_cgroup *parent, std::string_view name);
// "/" for the root, "/apps/uid_10010" below it.
std::string memcg_path(struct mem_cgroup *memcg);
// Pids of the tasks whose group is memcg, in task-list order.
std::vector<pid_t> memcg_tasks(struct mem_cgroup *memcg);
void memcg_attach_task(struct task_struct *t, struct mem_cgroup *memcg);
void memcg_forget_task(const struct task_struct *t);

}  // namespace sim::mm
