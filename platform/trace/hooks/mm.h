// Android vendor hooks in page mapping and the LRU lists (include/trace/hooks/mm.h).
#pragma once

#include <platform/mmzone.h>
#include <platform/tracepoint.h>

struct page;

// Before the kernel changes page->_mapcount by one (inc_size: up). A probe that makes the
// change itself stores true in *success and, if first_mapping is not null, whether the page
// went from unmapped to mapped (or lost its last mapping); the kernel then applies nothing.
DECLARE_HOOK(android_vh_update_page_mapcount,
             TP_PROTO(struct page *page, bool inc_size, bool compound, bool *first_mapping,
                      bool *success),
             TP_ARGS(page, inc_size, compound, first_mapping, success));
// add_page_to_lru_list() and del_page_from_lru_list(), and isolation from a list.
DECLARE_HOOK(android_vh_add_page_to_lrulist,
             TP_PROTO(struct page *page, bool compound, enum lru_list lru),
             TP_ARGS(page, compound, lru));
DECLARE_HOOK(android_vh_del_page_from_lrulist,
             TP_PROTO(struct page *page, bool compound, enum lru_list lru),
             TP_ARGS(page, compound, lru));
