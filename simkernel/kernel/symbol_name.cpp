// Thin mapping of symbol lookup onto the host's dynamic linker (dladdr).
#include "simkernel/kernel/symbol_name.h"

#include <dlfcn.h>

#include <cstdio>

namespace sim {

std::string symbol_name(const void *addr) {
    Dl_info info;
    if (dladdr(addr, &info) && info.dli_sname)
        return info.dli_sname;
    char buf[32];
    snprintf(buf, sizeof(buf), "%p", addr);
    return buf;
}

}  // namespace sim
