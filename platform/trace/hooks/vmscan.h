// Android vendor hooks in page reclaim (include/trace/hooks/vmscan.h).
#pragma once

#include <platform/tracepoint.h>

struct page;
struct lruvec;

// get_scan_count(): may overwrite the one-byte scan balance (enum scan_balance) it chose.
DECLARE_HOOK(android_vh_tune_scan_type, TP_PROTO(char *scan_balance), TP_ARGS(scan_balance));
// Every page reclaim considers; a page for which a probe stores true goes back to its active
// list instead of being deactivated or reclaimed.
DECLARE_HOOK(android_vh_page_should_be_protected, TP_PROTO(struct page *page, bool *should_protect),
             TP_ARGS(page, should_protect));
// do_traversal_all_lruvec(): once per LRU vector, under the node's lru_lock with interrupts
// disabled.
DECLARE_HOOK(android_vh_do_traversal_lruvec, TP_PROTO(struct lruvec *lruvec), TP_ARGS(lruvec));
