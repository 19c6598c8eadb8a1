// Formatting (a thin mapping onto the C library's vsnprintf, whose rules match the kernel's for
// the conversions both have; the kernel's %p extensions print the plain address).
#include "simkernel/lib/format.h"

#include "simkernel/kernel/module_owner.h"
#include "simkernel/mm/slab_stats.h"

#include <cstdio>
#include <cstring>
#include <string>

#include <platform/slab.h>
#include <platform/string.h>

namespace sim {
namespace {

bool is_alnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Copies fmt into out without the letters after each %p; false when it had none.
bool strip_pointer_extensions(const char *fmt, std::string &out) {
    bool changed = false;
    for (const char *p = fmt; *p;) {
        if (*p != '%') {
            out += *p++;
            continue;
        }
        out += *p++;
        if (*p == '%') {
            out += *p++;
            continue;
        }
        while (*p && strchr("-+ #0123456789.*hlLqjzt", *p))
            out += *p++;
        if (!*p)
            break;
        char conv = *p++;
        out += conv;
        if (conv == 'p' && is_alnum(*p)) {
            changed = true;
            while (is_alnum(*p))
                p++;
        }
    }
    return changed;
}

}  // namespace

int format_kernel(char *buf, size_t size, const char *fmt, va_list args) {
    std::string plain;
    if (strip_pointer_extensions(fmt, plain))
        fmt = plain.c_str();
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    return vsnprintf(buf, size, fmt, args);
#pragma GCC diagnostic pop
}

namespace {

char *format_alloc(gfp_t gfp, struct module *owner, const char *fmt, va_list args) {
    va_list probe;
    va_copy(probe, args);
    int len = format_kernel(nullptr, 0, fmt, probe);
    va_end(probe);
    char *p = static_cast<char *>(slab_alloc(static_cast<size_t>(len) + 1, gfp, owner));
    if (p)
        format_kernel(p, static_cast<size_t>(len) + 1, fmt, args);
    return p;
}

}  // namespace
}  // namespace sim

extern "C" {

int vscnprintf(char *buf, size_t size, const char *fmt, va_list args) {
    int i = sim::format_kernel(buf, size, fmt, args);
    if (static_cast<size_t>(i) < size)
        return i;
    return size ? static_cast<int>(size - 1) : 0;
}

int scnprintf(char *buf, size_t size, const char *fmt, ...) {
    va_list args;
    va_start(args, fmt);
    int i = vscnprintf(buf, size, fmt, args);
    va_end(args);
    return i;
}

char *kvasprintf(gfp_t gfp, const char *fmt, va_list args) {
    return sim::format_alloc(gfp, SIM_CALLER_MODULE(), fmt, args);
}

char *kasprintf(gfp_t gfp, const char *fmt, ...) {
    va_list args;
    va_start(args, fmt);
    char *p = sim::format_alloc(gfp, SIM_CALLER_MODULE(), fmt, args);
    va_end(args);
    return p;
}

}  // extern "C"
