// Real model of the scheduler area's part of boot (init/main.c rest_init(), kthreadd, the
// workqueue, compaction and reclaim initcalls): boot tasks with a real boot's pids, and their
// shutdown.
#include <cassert>
#include <vector>

#include "simkernel/kernel/boot.h"
#include "simkernel/kernel/sched_boot.h"
#include "simkernel/kernel/sched_internal.h"
#include "simkernel/kernel/sim_time.h"
#include "simkernel/kernel/task.h"

#include <platform/printk.h>

namespace sim {

void sched_boot(const BootParams &params) {
    assert(params.cpus == NR_CPUS && "the simulated phone has NR_CPUS CPUs");
    clock_set_wall(params.wall_clock_start);

    set_next_pid(1);
    struct task_struct *init = task_alloc("init", 0, 0, true);
    init->state = TASK_RUNNING;
    task_attach(init);
    wake_up_process(kthread_create_kernel(kthread_idle_main, nullptr, "kthreadd", 0));

    set_next_pid(4);
    workqueue_boot();

    set_next_pid(44);
    wake_up_process(kthread_create_kernel(kcompactd_main, nullptr, "kcompactd0", 0));
    set_next_pid(61);
    wake_up_process(kthread_create_kernel(kswapd_main, nullptr, "kswapd0", PF_KSWAPD));

    set_next_pid(120);
    struct task_struct *sh = task_create_user("sh", 0);
    set_boot_shell(sh);
    settle();
}

void sched_shutdown() {
    realtime_stop();
    settle();
    workqueue_shutdown();
    kthreads_stop_all();
    set_boot_shell(nullptr);
    std::vector<struct task_struct *> users;
    struct task_struct *p;
    read_lock(&tasklist_lock);
    for_each_process(p) users.push_back(p);
    read_unlock(&tasklist_lock);
    for (struct task_struct *t : users)
        task_exit(t);
}

}  // namespace sim
