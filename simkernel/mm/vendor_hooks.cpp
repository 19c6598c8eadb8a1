// The Android vendor hooks of the memory manager (drivers/android/vendor_hooks.c): a real
// model, each a tracepoint object that modules attach probes to.
#include <platform/trace/hooks/mm.h>
#include <platform/trace/hooks/vmscan.h>

// Declared extern "C" by the hook headers.
#define DEFINE_HOOK(name) struct tracepoint __tracepoint_##name = {#name, nullptr}

DEFINE_HOOK(android_vh_tune_scan_type);
DEFINE_HOOK(android_vh_page_should_be_protected);
DEFINE_HOOK(android_vh_do_traversal_lruvec);
DEFINE_HOOK(android_vh_update_page_mapcount);
DEFINE_HOOK(android_vh_add_page_to_lrulist);
DEFINE_HOOK(android_vh_del_page_from_lrulist);
