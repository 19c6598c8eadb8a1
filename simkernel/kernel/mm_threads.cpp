// Placeholder body of kcompactd0 until the memory manager gives it work: it sleeps until it is
// stopped. kswapd0's body is the memory manager's (simkernel/mm/mm_boot.cpp).
#include "simkernel/kernel/sched_boot.h"
#include "simkernel/kernel/sched_internal.h"

namespace sim {
int kcompactd_main(void *pgdat) {
    return kthread_idle_main(pgdat);
}
}  // namespace sim
