// insmod's "name=value" arguments applied to a module's parameters (kernel/params.c).
#pragma once

#include <cstddef>
#include <string_view>

struct kernel_param;

namespace sim {
// parse_args() for a module: unknown parameters are reported and ignored; a bad value is
// reported and its error returned.
int module_parse_args(const char *modname, std::string_view args, const struct kernel_param *kp,
                      size_t num);
}  // namespace sim
