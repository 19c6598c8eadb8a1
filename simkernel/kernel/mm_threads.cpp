// Placeholder bodies of kswapd0 and kcompactd0 until the memory manager gives them work: each
// sleeps until it is stopped.
#include "simkernel/kernel/sched_boot.h"
#include "simkernel/kernel/sched_internal.h"

namespace sim {
int kswapd_main(void *pgdat) {
    return kthread_idle_main(pgdat);
}
int kcompactd_main(void *pgdat) {
    return kthread_idle_main(pgdat);
}
}  // namespace sim
