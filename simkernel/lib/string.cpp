// The kernel's own string functions (a real model of lib/string.c, lib/string_helpers.c and the
// string duplicates of mm/util.c); the ones C also has come from the C library.
#include "simkernel/kernel/module_owner.h"
#include "simkernel/mm/slab_stats.h"

#include <platform/errno.h>
#include <platform/slab.h>
#include <platform/string.h>

namespace {

// The kernel's isspace() (lib/ctype.c) also counts Latin-1's no-break space, 0xA0.
bool kernel_isspace(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return u == ' ' || (u >= '\t' && u <= '\r') || u == 0xa0;
}

char *dup_bytes(const void *src, size_t len, size_t alloc, gfp_t gfp, struct module *owner) {
    char *buf = static_cast<char *>(sim::slab_alloc(alloc, gfp, owner));
    if (buf)
        memcpy(buf, src, len);
    return buf;
}

}  // namespace

extern "C" {

size_t strlcpy(char *dest, const char *src, size_t size) {
    size_t ret = strlen(src);
    if (size) {
        size_t len = ret >= size ? size - 1 : ret;
        memcpy(dest, src, len);
        dest[len] = '\0';
    }
    return ret;
}

ssize_t strscpy(char *dest, const char *src, size_t count) {
    if (count == 0)
        return -E2BIG;
    for (size_t i = 0; i < count; i++) {
        dest[i] = src[i];
        if (!src[i])
            return static_cast<ssize_t>(i);
    }
    dest[count - 1] = '\0';
    return -E2BIG;
}

char *skip_spaces(const char *str) {
    while (kernel_isspace(*str))
        ++str;
    return const_cast<char *>(str);
}

char *strim(char *s) {
    size_t size = strlen(s);
    if (!size)
        return s;
    char *end = s + size - 1;
    while (end >= s && kernel_isspace(*end))
        end--;
    *(end + 1) = '\0';
    return skip_spaces(s);
}

// As lib/string.c does it, this compares len bytes whatever NULs s1 holds: callers pass a
// len within s1.
char *strnstr(const char *s1, const char *s2, size_t len) {
    size_t l2 = strlen(s2);
    if (!l2)
        return const_cast<char *>(s1);
    while (len >= l2) {
        len--;
        if (!memcmp(s1, s2, l2))
            return const_cast<char *>(s1);
        s1++;
    }
    return nullptr;
}

bool sysfs_streq(const char *s1, const char *s2) {
    while (*s1 && *s1 == *s2) {
        s1++;
        s2++;
    }
    if (*s1 == *s2)
        return true;
    if (!*s1 && *s2 == '\n' && !s2[1])
        return true;
    if (*s1 == '\n' && !s1[1] && !*s2)
        return true;
    return false;
}

int match_string(const char *const *array, size_t n, const char *string) {
    for (size_t index = 0; index < n && array[index]; index++)
        if (!strcmp(array[index], string))
            return static_cast<int>(index);
    return -EINVAL;
}

int __sysfs_match_string(const char *const *array, size_t n, const char *str) {
    for (size_t index = 0; index < n && array[index]; index++)
        if (sysfs_streq(array[index], str))
            return static_cast<int>(index);
    return -EINVAL;
}

char *kstrdup(const char *s, gfp_t gfp) {
    if (!s)
        return nullptr;
    size_t len = strlen(s) + 1;
    return dup_bytes(s, len, len, gfp, SIM_CALLER_MODULE());
}

char *kstrndup(const char *s, size_t max, gfp_t gfp) {
    if (!s)
        return nullptr;
    size_t len = strnlen(s, max);
    char *buf = dup_bytes(s, len, len + 1, gfp, SIM_CALLER_MODULE());
    if (buf)
        buf[len] = '\0';
    return buf;
}

void *kmemdup(const void *src, size_t len, gfp_t gfp) {
    return dup_bytes(src, len, len, gfp, SIM_CALLER_MODULE());
}

}  // extern "C"
