// Boot and shutdown of the scheduler area: the boot tasks, kernel threads and workqueues.
#pragma once

namespace sim {
struct BootParams;
// Creates swapper (init_task, pid 0), init (1), kthreadd (2), the system workqueues' workers,
// kswapd0, kcompactd0 and the shell task "sh", and sets the clocks from params.
void sched_boot(const BootParams &params);
// Stops every kernel thread (reporting any that will not stop) and frees the tasks.
void sched_shutdown();
}  // namespace sim
