// Basic kernel types (include/linux/types.h).
#pragma once

#include <cstddef>
#include <cstdint>

typedef int8_t s8;
typedef uint8_t u8;
typedef int16_t s16;
typedef uint16_t u16;
typedef int32_t s32;
typedef uint32_t u32;
typedef int64_t s64;
typedef uint64_t u64;

typedef long ssize_t;
// 64 bits as in the kernel, spelled as the C library spells its own loff_t.
typedef long loff_t;
typedef unsigned short umode_t;
typedef unsigned int fmode_t;
typedef unsigned int gfp_t;
typedef int pid_t;
typedef unsigned int uid_t;
typedef unsigned int gid_t;
typedef s64 time64_t;
typedef s64 ktime_t;
// As the C library spells it, so host code can include both.
typedef unsigned long dev_t;

typedef struct {
    uid_t val;
} kuid_t;

typedef struct {
    gid_t val;
} kgid_t;

struct list_head {
    struct list_head *next, *prev;
};

struct hlist_head {
    struct hlist_node *first;
};

struct hlist_node {
    struct hlist_node *next, **pprev;
};
