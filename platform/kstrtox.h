// Number and boolean parsers (include/linux/kstrtox.h, lib/kstrtox.c).
// Base 0 picks 16 for "0x" followed by a hex digit, 8 for a leading 0, else 10; base 16 takes
// an optional "0x". One leading '+' is allowed, '-' only for signed types, and one trailing
// newline. Bad text gives -EINVAL, a value out of the type's range -ERANGE; *res is written
// only on success.
#pragma once

#include <platform/compiler.h>

extern "C" {
__must_check int kstrtoull(const char *s, unsigned int base, unsigned long long *res);
__must_check int kstrtoll(const char *s, unsigned int base, long long *res);
__must_check int kstrtouint(const char *s, unsigned int base, unsigned int *res);
__must_check int kstrtoint(const char *s, unsigned int base, int *res);
__must_check int kstrtou16(const char *s, unsigned int base, u16 *res);
__must_check int kstrtos16(const char *s, unsigned int base, s16 *res);
__must_check int kstrtou8(const char *s, unsigned int base, u8 *res);
__must_check int kstrtos8(const char *s, unsigned int base, s8 *res);
// y/Y/1 and "on" are true, n/N/0 and "of[f]" false, judged by the first one or two characters.
__must_check int kstrtobool(const char *s, bool *res);

// The same on at most count bytes of user memory; -EFAULT when the copy fails.
__must_check int kstrtoull_from_user(const char __user *s, size_t count, unsigned int base,
                                     unsigned long long *res);
__must_check int kstrtoll_from_user(const char __user *s, size_t count, unsigned int base,
                                    long long *res);
__must_check int kstrtouint_from_user(const char __user *s, size_t count, unsigned int base,
                                      unsigned int *res);
__must_check int kstrtoint_from_user(const char __user *s, size_t count, unsigned int base,
                                     int *res);
__must_check int kstrtobool_from_user(const char __user *s, size_t count, bool *res);

// Old-style parsers: no sign for the unsigned ones, no range check, stop at the first
// character that is not a digit of the base and report it through endp.
unsigned long long simple_strtoull(const char *cp, char **endp, unsigned int base);
unsigned long simple_strtoul(const char *cp, char **endp, unsigned int base);
long long simple_strtoll(const char *cp, char **endp, unsigned int base);
long simple_strtol(const char *cp, char **endp, unsigned int base);
}

// long is 64 bits here, so these are the 64-bit parsers (as include/linux/kstrtox.h has it).
static inline __must_check int kstrtoul(const char *s, unsigned int base, unsigned long *res) {
    return kstrtoull(s, base, (unsigned long long *)res);
}
static inline __must_check int kstrtol(const char *s, unsigned int base, long *res) {
    return kstrtoll(s, base, (long long *)res);
}
static inline __must_check int kstrtou64(const char *s, unsigned int base, u64 *res) {
    return kstrtoull(s, base, (unsigned long long *)res);
}
static inline __must_check int kstrtos64(const char *s, unsigned int base, s64 *res) {
    return kstrtoll(s, base, (long long *)res);
}
static inline __must_check int kstrtou32(const char *s, unsigned int base, u32 *res) {
    return kstrtouint(s, base, res);
}
static inline __must_check int kstrtos32(const char *s, unsigned int base, s32 *res) {
    return kstrtoint(s, base, res);
}
static inline __must_check int strtobool(const char *s, bool *res) {
    return kstrtobool(s, res);
}
