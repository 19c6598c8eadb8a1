// Tasks and the scheduler (include/linux/sched.h, sched/signal.h, sched/task.h, cred.h).
#pragma once

#include <platform/cpumask.h>
#include <platform/list.h>
#include <platform/spinlock.h>

#include <climits>

#define TASK_RUNNING 0x0000
#define TASK_INTERRUPTIBLE 0x0001
#define TASK_UNINTERRUPTIBLE 0x0002
#define __TASK_STOPPED 0x0004
#define EXIT_DEAD 0x0010
#define EXIT_ZOMBIE 0x0020
#define TASK_DEAD 0x0080
#define TASK_WAKEKILL 0x0100
#define TASK_NOLOAD 0x0400
#define TASK_NEW 0x0800
#define TASK_KILLABLE (TASK_WAKEKILL | TASK_UNINTERRUPTIBLE)
#define TASK_IDLE (TASK_UNINTERRUPTIBLE | TASK_NOLOAD)
#define TASK_NORMAL (TASK_INTERRUPTIBLE | TASK_UNINTERRUPTIBLE)

#define PF_IDLE 0x00000002
#define PF_EXITING 0x00000004
#define PF_WQ_WORKER 0x00000020
#define PF_MEMALLOC 0x00000800
#define PF_NOFREEZE 0x00008000
#define PF_KSWAPD 0x00020000
#define PF_KTHREAD 0x00200000

#define TASK_COMM_LEN 16
#define MAX_SCHEDULE_TIMEOUT LONG_MAX

struct cred {
    kuid_t uid, euid, suid, fsuid;
    kgid_t gid, egid, sgid, fsgid;
};

struct mm_struct;
struct sim_task_host;

struct task_struct {
    // Written with release ordering by set_current_state() and by wake-ups.
    long state;
    unsigned int flags;
    pid_t pid;
    pid_t tgid;
    int usage;
    char comm[TASK_COMM_LEN];
    struct mm_struct *mm;
    struct mm_struct *active_mm;
    const cpumask_t *cpus_ptr;
    cpumask_t cpus_mask;
    int nr_cpus_allowed;
    const struct cred *cred;
    const struct cred *real_cred;
    struct task_struct *real_parent;
    struct list_head tasks;
    // Host side of the task (its thread, wait state); opaque to module code.
    struct sim_task_host *sim_host;
};

extern "C" {
extern struct task_struct init_task;
// Taken for writing while tasks join or leave the task list.
extern rwlock_t tasklist_lock;

struct task_struct *get_current(void);

// Lookup in the caller's pid namespace; the caller holds rcu_read_lock().
struct task_struct *find_task_by_vpid(pid_t nr);
struct task_struct *find_get_task_by_vpid(pid_t nr);
void __put_task_struct(struct task_struct *t);

void schedule(void);
long schedule_timeout(long timeout);
long schedule_timeout_interruptible(long timeout);
long schedule_timeout_uninterruptible(long timeout);
int wake_up_process(struct task_struct *tsk);
int wake_up_state(struct task_struct *tsk, unsigned int state);
int _cond_resched(void);
void yield(void);

int set_cpus_allowed_ptr(struct task_struct *p, const struct cpumask *new_mask);
void set_task_comm(struct task_struct *tsk, const char *from);

void msleep(unsigned int msecs);
unsigned long msleep_interruptible(unsigned int msecs);
void usleep_range(unsigned long min, unsigned long max);
}

#define current get_current()

// The store is ordered before the caller's later test of its wake-up condition.
#define __set_current_state(state_value) \
    __atomic_store_n(&current->state, (long)(state_value), __ATOMIC_RELAXED)
#define set_current_state(state_value) \
    __atomic_store_n(&current->state, (long)(state_value), __ATOMIC_SEQ_CST)

#define cond_resched() _cond_resched()

static inline void get_task_struct(struct task_struct *t) {
    __atomic_fetch_add(&t->usage, 1, __ATOMIC_RELAXED);
}

static inline void put_task_struct(struct task_struct *t) {
    if (__atomic_sub_fetch(&t->usage, 1, __ATOMIC_ACQ_REL) == 0)
        __put_task_struct(t);
}

// An rcu_dereference() of the link, so walkers under rcu_read_lock() alone see whole tasks.
static inline struct task_struct *next_task(struct task_struct *p) {
    return list_entry(__atomic_load_n(&p->tasks.next, __ATOMIC_ACQUIRE), struct task_struct, tasks);
}

#define for_each_process(p) for (p = &init_task; (p = next_task(p)) != &init_task;)

// Simulated tasks take no signals.
static inline int signal_pending(struct task_struct *) {
    return 0;
}
static inline int fatal_signal_pending(struct task_struct *) {
    return 0;
}

static inline pid_t task_pid_nr(struct task_struct *tsk) {
    return tsk->pid;
}

static inline kuid_t current_uid(void) {
    return current->cred->uid;
}
static inline kuid_t current_euid(void) {
    return current->cred->euid;
}
static inline kuid_t current_fsuid(void) {
    return current->cred->fsuid;
}
#define GLOBAL_ROOT_UID ((kuid_t){0})
static inline bool uid_eq(kuid_t a, kuid_t b) {
    return a.val == b.val;
}
