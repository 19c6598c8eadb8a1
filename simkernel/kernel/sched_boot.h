// Boot and shutdown of the scheduler area: the boot tasks, kernel threads and workqueues.
#pragma once

namespace sim {
struct BootParams;
// Creates swapper (init_task, pid 0), init (1), kthreadd (2), the system workqueues' workers,
// kswapd0, kcompactd0 and the shell task "sh", and sets the clocks from params.
void sched_boot(const BootParams &params);
// Stops every kernel thread (reporting any that will not stop) and frees the tasks.
void sched_shutdown();

// Bodies of kswapd0 and kcompactd0 (mm/vmscan.c kswapd(), mm/compaction.c kcompactd()), with
// the node's pgdat as argument; the memory manager provides them.
int kswapd_main(void *pgdat);
int kcompactd_main(void *pgdat);
}  // namespace sim
