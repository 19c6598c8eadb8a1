// Strings and formatting (include/linux/string.h, linux/kernel.h; lib/string.c, lib/vsprintf.c).
// Functions that C also has keep C's contract in the kernel and resolve against the C library:
// they are declared as the C library declares them for C++, so that host code may include this
// header together with <cstring> and <cstdio>. The kernel's own functions are the simkernel's.
#pragma once

#include <platform/compiler.h>

#include <cstdarg>

extern "C" {
void *memcpy(void *dest, const void *src, size_t n) noexcept;
void *memmove(void *dest, const void *src, size_t n) noexcept;
void *memset(void *s, int c, size_t n) noexcept;
int memcmp(const void *a, const void *b, size_t n) noexcept;
size_t strlen(const char *s) noexcept;
size_t strnlen(const char *s, size_t maxlen) noexcept;
int strcmp(const char *a, const char *b) noexcept;
int strncmp(const char *a, const char *b, size_t n) noexcept;
int strcasecmp(const char *a, const char *b) noexcept;
int strncasecmp(const char *a, const char *b, size_t n) noexcept;
char *strcpy(char *dest, const char *src) noexcept;
// Pads dest with NULs up to n; leaves it unterminated when src has n or more characters.
char *strncpy(char *dest, const char *src, size_t n) noexcept;
char *strcat(char *dest, const char *src) noexcept;
char *strncat(char *dest, const char *src, size_t n) noexcept;
size_t strspn(const char *s, const char *accept) noexcept;
size_t strcspn(const char *s, const char *reject) noexcept;
// Cuts the next token off *s at any character of delim; *s becomes null after the last one.
char *strsep(char **s, const char *delim) noexcept;

// Return the length the whole output needs, not counting the NUL.
__printf(2, 3) int sprintf(char *buf, const char *fmt, ...) noexcept;
__printf(3, 4) int snprintf(char *buf, size_t size, const char *fmt, ...) noexcept;
__printf(3, 0) int vsnprintf(char *buf, size_t size, const char *fmt, va_list args) noexcept;
__printf(2, 0) int vsprintf(char *buf, const char *fmt, va_list args) noexcept;

// Return what was written into buf, not counting the NUL; 0 when size is 0.
__printf(3, 4) int scnprintf(char *buf, size_t size, const char *fmt, ...);
__printf(3, 0) int vscnprintf(char *buf, size_t size, const char *fmt, va_list args);
// A kmalloc'ed formatted string, or null.
__printf(2, 3) char *kasprintf(gfp_t gfp, const char *fmt, ...);
__printf(2, 0) char *kvasprintf(gfp_t gfp, const char *fmt, va_list args);

// Returns strlen(src); copies what fits and NUL-terminates when size is not 0.
size_t strlcpy(char *dest, const char *src, size_t size);
// Returns the length copied, or -E2BIG when src did not fit (dest is still NUL-terminated
// when size is not 0).
ssize_t strscpy(char *dest, const char *src, size_t size);
// Cuts trailing white space in place and returns the first non-space character.
char *strim(char *s);
char *skip_spaces(const char *s);
// Looks for s2 in the first len bytes of s1.
char *strnstr(const char *s1, const char *s2, size_t len);
// Equal, ignoring one trailing newline on either side (as sysfs writes carry).
bool sysfs_streq(const char *s1, const char *s2);
// Index of string in array (stopping at a null entry), or -EINVAL.
int match_string(const char *const *array, size_t n, const char *string);
int __sysfs_match_string(const char *const *array, size_t n, const char *s);

char *kstrdup(const char *s, gfp_t gfp);
// Copies at most max bytes of s and NUL-terminates.
char *kstrndup(const char *s, size_t max, gfp_t gfp);
void *kmemdup(const void *src, size_t len, gfp_t gfp);
}

// C++ overloads on constness, as the C library declares them.
extern "C++" {
char *strchr(char *s, int c) noexcept __asm__("strchr");
const char *strchr(const char *s, int c) noexcept __asm__("strchr");
char *strrchr(char *s, int c) noexcept __asm__("strrchr");
const char *strrchr(const char *s, int c) noexcept __asm__("strrchr");
char *strstr(char *haystack, const char *needle) noexcept __asm__("strstr");
const char *strstr(const char *haystack, const char *needle) noexcept __asm__("strstr");
char *strpbrk(char *s, const char *accept) noexcept __asm__("strpbrk");
const char *strpbrk(const char *s, const char *accept) noexcept __asm__("strpbrk");
void *memchr(void *s, int c, size_t n) noexcept __asm__("memchr");
const void *memchr(const void *s, int c, size_t n) noexcept __asm__("memchr");
}

static inline char *strstrip(char *s) {
    return strim(s);
}

#define sysfs_match_string(_a, _s) __sysfs_match_string(_a, ARRAY_SIZE(_a), _s)
