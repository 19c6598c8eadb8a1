// Boot and shutdown of the node filesystem: the empty trees /proc, /sys (with /sys/module,
// /sys/kernel, /sys/class) and /dev.
#pragma once

namespace sim {
void fs_boot();
void fs_shutdown();
}  // namespace sim
