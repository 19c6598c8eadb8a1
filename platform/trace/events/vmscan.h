// Trace events of page reclaim (include/trace/events/vmscan.h), as tracepoints that tools and
// tests attach probes to.
#pragma once

#include <platform/gfp.h>
#include <platform/tracepoint.h>

// try_to_free_mem_cgroup_pages(): before and after its reclaim.
DECLARE_TRACE(mm_vmscan_memcg_reclaim_begin, TP_PROTO(int order, gfp_t gfp_flags),
              TP_ARGS(order, gfp_flags));
DECLARE_TRACE(mm_vmscan_memcg_reclaim_end, TP_PROTO(unsigned long nr_reclaimed),
              TP_ARGS(nr_reclaimed));
