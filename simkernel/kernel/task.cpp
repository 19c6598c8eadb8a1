// Real model of tasks and the task list (kernel/fork.c, kernel/exit.c, kernel/pid.c): pids in
// creation order, the list under tasklist_lock with RCU-safe removal, credentials, address
// spaces, and `current` as the calling host thread's task.
#include <atomic>
#include <cstring>

#include "simkernel/kernel/sched_internal.h"
#include "simkernel/kernel/task.h"
#include "simkernel/mm/mm_host.h"
#include "simkernel/mm/mm_struct.h"

#include <platform/rcupdate.h>

namespace {
const struct cred init_cred {};
}  // namespace

extern "C" {

struct task_struct init_task = {
    .state = TASK_RUNNING,
    .flags = PF_KTHREAD | PF_IDLE,
    .pid = 0,
    .tgid = 0,
    .usage = 2,
    .comm = "swapper/0",
    .mm = nullptr,
    .active_mm = nullptr,
    .cpus_ptr = &init_task.cpus_mask,
    .cpus_mask = {{(1UL << NR_CPUS) - 1}},
    .nr_cpus_allowed = NR_CPUS,
    .cred = &init_cred,
    .real_cred = &init_cred,
    .real_parent = &init_task,
    .tasks = {&init_task.tasks, &init_task.tasks},
    .sim_host = nullptr,
};

rwlock_t tasklist_lock = __RW_LOCK_UNLOCKED(tasklist_lock);

}  // extern "C"

namespace sim {
namespace {

__thread struct task_struct *tls_task __attribute__((tls_model("initial-exec")));
std::atomic<struct task_struct *> boot_shell{nullptr};
pid_t next_pid = 1;  // under tasklist_lock

}  // namespace

struct task_struct *thread_task() {
    return tls_task;
}
void set_thread_task(struct task_struct *t) {
    tls_task = t;
}
void set_boot_shell(struct task_struct *sh) {
    boot_shell.store(sh);
}

void set_next_pid(pid_t pid) {
    write_lock_irq(&tasklist_lock);
    next_pid = pid;
    write_unlock_irq(&tasklist_lock);
}

struct task_struct *task_alloc(const char *comm, unsigned int flags, uid_t uid, bool with_mm) {
    auto *t = new task_struct{};
    auto *h = new sim_task_host{};
    t->sim_host = h;
    h->cred.uid = h->cred.euid = h->cred.suid = h->cred.fsuid = kuid_t{uid};
    h->cred.gid = h->cred.egid = h->cred.sgid = h->cred.fsgid = kgid_t{uid};
    t->cred = t->real_cred = &h->cred;
    if (with_mm) {
        h->mm = std::make_unique<mm_struct>(mm_struct{1, 1});
        t->mm = t->active_mm = h->mm.get();
    }
    t->state = TASK_NEW;
    t->flags = flags;
    t->usage = 1;
    strncpy(t->comm, comm, TASK_COMM_LEN - 1);
    cpumask_copy(&t->cpus_mask, cpu_possible_mask);
    t->cpus_ptr = &t->cpus_mask;
    t->nr_cpus_allowed = (int)cpumask_weight(&t->cpus_mask);
    t->real_parent = &init_task;
    INIT_LIST_HEAD(&t->tasks);
    return t;
}

void task_attach(struct task_struct *t) {
    write_lock_irq(&tasklist_lock);
    t->pid = t->tgid = next_pid++;
    struct list_head *head = &init_task.tasks, *prev = head->prev;
    t->tasks.next = head;
    t->tasks.prev = prev;
    head->prev = &t->tasks;
    // Published as rcu_assign_pointer() does, for walkers that hold only rcu_read_lock().
    __atomic_store_n(&prev->next, &t->tasks, __ATOMIC_RELEASE);
    write_unlock_irq(&tasklist_lock);
}

void task_detach(struct task_struct *t) {
    write_lock_irq(&tasklist_lock);
    // list_del_rcu(): next stays valid for a walker standing on t.
    __list_del(t->tasks.prev, t->tasks.next);
    t->tasks.prev = LIST_POISON2;
    write_unlock_irq(&tasklist_lock);
    synchronize_rcu();
}

struct task_struct *task_create_user(std::string_view comm, uid_t uid) {
    return task_create_user(comm, uid, uid);
}

struct task_struct *task_create_user(std::string_view comm, uid_t uid, gid_t gid) {
    std::string name(comm.substr(0, TASK_COMM_LEN - 1));
    struct task_struct *t = task_alloc(name.c_str(), 0, uid, true);
    t->sim_host->cred.gid = t->sim_host->cred.egid = t->sim_host->cred.sgid =
        t->sim_host->cred.fsgid = kgid_t{gid};
    if (struct task_struct *init = task_find_by_comm("init"))
        t->real_parent = init;
    t->state = TASK_RUNNING;
    task_attach(t);
    return t;
}

struct task_struct *task_find_by_comm(std::string_view comm) {
    struct task_struct *p, *found = nullptr;
    read_lock(&tasklist_lock);
    for_each_process(p) {
        if (comm == p->comm) {
            found = p;
            break;
        }
    }
    read_unlock(&tasklist_lock);
    return found;
}

void task_exit(struct task_struct *t) {
    mm_task_exit(t);
    task_detach(t);
    put_task_struct(t);
}

TaskScope::TaskScope(struct task_struct *t) : prev_(tls_task) {
    tls_task = t;
}
TaskScope::~TaskScope() {
    tls_task = prev_;
}

std::string cpumask_list(const struct cpumask &mask) {
    std::string out;
    for (unsigned int cpu = 0; cpu < nr_cpumask_bits;) {
        if (!cpumask_test_cpu((int)cpu, &mask)) {
            cpu++;
            continue;
        }
        unsigned int last = cpu;
        while (last + 1 < nr_cpumask_bits && cpumask_test_cpu((int)last + 1, &mask))
            last++;
        if (!out.empty())
            out += ',';
        out += std::to_string(cpu);
        if (last != cpu)
            out += '-' + std::to_string(last);
        cpu = last + 1;
    }
    return out;
}

}  // namespace sim

extern "C" {

struct task_struct *get_current(void) {
    if (sim::tls_task)
        return sim::tls_task;
    struct task_struct *sh = sim::boot_shell.load(std::memory_order_acquire);
    return sh ? sh : &init_task;
}

struct task_struct *find_task_by_vpid(pid_t nr) {
    for (struct task_struct *p = &init_task; (p = next_task(p)) != &init_task;)
        if (p->pid == nr)
            return p;
    return nullptr;
}

struct task_struct *find_get_task_by_vpid(pid_t nr) {
    rcu_read_lock();
    struct task_struct *t = find_task_by_vpid(nr);
    if (t)
        get_task_struct(t);
    rcu_read_unlock();
    return t;
}

void __put_task_struct(struct task_struct *t) {
    if (t == &init_task)
        return;
    delete t->sim_host;
    delete t;
}

void set_task_comm(struct task_struct *tsk, const char *from) {
    std::lock_guard g(sim::sched_mutex());
    char comm[TASK_COMM_LEN] = {};
    strncpy(comm, from, TASK_COMM_LEN - 1);
    memcpy(tsk->comm, comm, TASK_COMM_LEN);
}

}  // extern "C"
