// The kernel's formatting on the C library's vsnprintf, for printk and the kernel's own
// formatting functions.
#pragma once

#include <cstdarg>
#include <cstddef>

namespace sim {

// vsnprintf() with the kernel's pointer extensions: "%pS", "%ps", "%pK", ... print the bare
// address, and the extension letters are consumed as the kernel consumes them.
int format_kernel(char *buf, size_t size, const char *fmt, va_list args);

}  // namespace sim
