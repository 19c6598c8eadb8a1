// Loading modules for devices, as user space does on a device: modprobe (a module and what it
// uses, from depmod's modules.dep, or the module an alias names in modules.alias) and ueventd
// (which runs modprobe for the MODALIAS of every device the kernel announces).
#pragma once

#include <string>

namespace sim {

// modprobe NAME or modprobe ALIAS: loads the module and, first, the modules it depends on;
// modules already loaded are left alone. 0, or -ENOENT when nothing matches, or the
// loader's error.
int modprobe(const std::string &name_or_alias);
// The module that an alias names (the first match of modules.alias), or "".
std::string modalias_lookup(const std::string &alias);

// ueventd's pass: modprobe for each "add" uevent with a MODALIAS sent since the last pass.
// Run by phonesim after boot (coldplug) and after every command.
void ueventd_run();

}  // namespace sim
