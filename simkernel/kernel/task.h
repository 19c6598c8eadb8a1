// Host-side API of simulated tasks, for the simulator, phonesim and tests (module code uses
// platform/sched.h). A real model: tasks have pids, comm, flags, credentials, an address space
// or none, an allowed-CPU mask and a state, and live on the kernel's task list.
#pragma once

#include <string>
#include <string_view>

#include <platform/sched.h>

namespace sim {

// Creates a user task (with an address space of its own) named comm, cut to 15 characters, as
// a child of init, with uid and gid; it is on the task list until task_exit().
struct task_struct *task_create_user(std::string_view comm, uid_t uid = 0);
// The same with a group of its own (the other creates the user's own group, gid == uid).
struct task_struct *task_create_user(std::string_view comm, uid_t uid, gid_t gid);
// The first task on the task list whose comm equals comm, or null.
struct task_struct *task_find_by_comm(std::string_view comm);
// A user task exits: it leaves the task list and its reference is dropped.
void task_exit(struct task_struct *t);

// While alive, the calling host thread runs as task t (current == t). Host threads that are not
// tasks (a test's main thread) run as the shell task "sh" once the kernel has booted.
class TaskScope {
  public:
    explicit TaskScope(struct task_struct *t);
    ~TaskScope();
    TaskScope(const TaskScope &) = delete;
    TaskScope &operator=(const TaskScope &) = delete;

  private:
    struct task_struct *prev_;
};

// "0-7", "0-1,5-6": the allowed CPUs of a task in the kernel's list format.
std::string cpumask_list(const struct cpumask &mask);

}  // namespace sim
