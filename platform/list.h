// Doubly linked lists (include/linux/list.h).
#pragma once

#include <platform/compiler.h>

#define LIST_HEAD_INIT(name) \
    { &(name), &(name) }
#define LIST_HEAD(name) struct list_head name = LIST_HEAD_INIT(name)

static inline void INIT_LIST_HEAD(struct list_head *list) {
    WRITE_ONCE(list->next, list);
    list->prev = list;
}

static inline void __list_add(struct list_head *n, struct list_head *prev, struct list_head *next) {
    next->prev = n;
    n->next = next;
    n->prev = prev;
    WRITE_ONCE(prev->next, n);
}

static inline void list_add(struct list_head *n, struct list_head *head) {
    __list_add(n, head, head->next);
}

static inline void list_add_tail(struct list_head *n, struct list_head *head) {
    __list_add(n, head->prev, head);
}

static inline void __list_del(struct list_head *prev, struct list_head *next) {
    next->prev = prev;
    WRITE_ONCE(prev->next, next);
}

#define LIST_POISON1 ((struct list_head *)0x100)
#define LIST_POISON2 ((struct list_head *)0x122)

static inline void list_del(struct list_head *entry) {
    __list_del(entry->prev, entry->next);
    entry->next = LIST_POISON1;
    entry->prev = LIST_POISON2;
}

static inline void list_del_init(struct list_head *entry) {
    __list_del(entry->prev, entry->next);
    INIT_LIST_HEAD(entry);
}

static inline void list_move_tail(struct list_head *list, struct list_head *head) {
    __list_del(list->prev, list->next);
    list_add_tail(list, head);
}

static inline int list_empty(const struct list_head *head) {
    return READ_ONCE(head->next) == head;
}

static inline int list_is_singular(const struct list_head *head) {
    return !list_empty(head) && (head->next == head->prev);
}

#define list_entry(ptr, type, member) container_of(ptr, type, member)
#define list_first_entry(ptr, type, member) list_entry((ptr)->next, type, member)
#define list_last_entry(ptr, type, member) list_entry((ptr)->prev, type, member)
#define list_next_entry(pos, member) list_entry((pos)->member.next, __typeof__(*(pos)), member)
#define list_for_each(pos, head) for (pos = (head)->next; pos != (head); pos = pos->next)
#define list_for_each_safe(pos, n, head) \
    for (pos = (head)->next, n = pos->next; pos != (head); pos = n, n = pos->next)
#define list_for_each_entry(pos, head, member)                                           \
    for (pos = list_first_entry(head, __typeof__(*pos), member); &pos->member != (head); \
         pos = list_next_entry(pos, member))
#define list_for_each_entry_safe(pos, n, head, member)                                             \
    for (pos = list_first_entry(head, __typeof__(*pos), member), n = list_next_entry(pos, member); \
         &pos->member != (head); pos = n, n = list_next_entry(n, member))
