// Names of kernel and module code for reports (kallsyms in spirit): the symbol at an address.
#pragma once

#include <string>

namespace sim {
// The dynamic symbol that addr starts or lies in, or the address in hex if none is known.
std::string symbol_name(const void *addr);
}  // namespace sim
