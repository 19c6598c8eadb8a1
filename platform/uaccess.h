// Copies between kernel and user memory (include/linux/uaccess.h).
// Both copies return the number of bytes NOT copied: 0 on success. A copy from user memory
// that stops early zero-fills the rest of the destination.
#pragma once

#include <platform/compiler.h>
#include <platform/errno.h>

extern "C" {
unsigned long _copy_from_user(void *to, const void __user *from, unsigned long n);
unsigned long _copy_to_user(void __user *to, const void *from, unsigned long n);
}

static __always_inline __must_check unsigned long copy_from_user(void *to, const void __user *from,
                                                                 unsigned long n) {
    return _copy_from_user(to, from, n);
}

static __always_inline __must_check unsigned long copy_to_user(void __user *to, const void *from,
                                                               unsigned long n) {
    return _copy_to_user(to, from, n);
}

// Only rejects a null pointer: a bad address shows up when the copy itself faults.
static inline bool __access_ok(const void __user *addr, unsigned long) {
    return addr != nullptr;
}
#define access_ok(addr, size) __access_ok((const void __user *)(addr), (size))

// 0 or -EFAULT; on a fault get_user() sets x to 0, as the kernel does.
#define get_user(x, ptr)                                                             \
    ({                                                                               \
        __typeof__(*(ptr)) __gu_val;                                                 \
        unsigned long __gu_left = _copy_from_user(&__gu_val, (ptr), sizeof(*(ptr))); \
        (x) = __gu_left ? (__typeof__(*(ptr)))0 : __gu_val;                          \
        __gu_left ? -EFAULT : 0;                                                     \
    })
#define put_user(x, ptr)                                               \
    ({                                                                 \
        __typeof__(*(ptr)) __pu_val = (x);                             \
        _copy_to_user((ptr), &__pu_val, sizeof(*(ptr))) ? -EFAULT : 0; \
    })
