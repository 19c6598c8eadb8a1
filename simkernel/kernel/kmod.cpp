// modprobe and ueventd over the module directory's modules.alias and modules.dep.
#include "simkernel/kernel/kmod.h"

#include "simkernel/drivers/base/uevent_host.h"
#include "simkernel/kernel/module_loader.h"

#include <fnmatch.h>

#include <fstream>
#include <mutex>
#include <sstream>
#include <vector>

#include <platform/errno.h>

namespace sim {
namespace {

std::mutex ueventd_lock;
uint64_t ueventd_next;

// "NAME.ko: A.ko B.ko" for name: the dependencies, listed so that the last loads first.
std::vector<std::string> module_deps(const std::string &name) {
    std::ifstream in(module_dir() + "/modules.dep");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string first;
        words >> first;
        if (first != name + ".ko:")
            continue;
        std::vector<std::string> deps;
        for (std::string dep; words >> dep;)
            deps.push_back(dep.substr(0, dep.size() - 3));
        return deps;
    }
    return {};
}

bool module_file_exists(const std::string &name) {
    return std::ifstream(module_dir() + "/" + name + ".ko").good();
}

int load_if_needed(const std::string &name) {
    if (module_find(name))
        return 0;
    int r = module_load(name);
    return r == -EEXIST ? 0 : r;
}

}  // namespace

std::string modalias_lookup(const std::string &alias) {
    std::ifstream in(module_dir() + "/modules.alias");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string keyword, pattern, module;
        if (!(words >> keyword >> pattern >> module) || keyword != "alias")
            continue;
        if (fnmatch(pattern.c_str(), alias.c_str(), 0) == 0)
            return module;
    }
    return "";
}

int modprobe(const std::string &name_or_alias) {
    std::string name = name_or_alias;
    if (!module_file_exists(name)) {
        name = modalias_lookup(name_or_alias);
        if (name.empty())
            return -ENOENT;
    }
    std::vector<std::string> deps = module_deps(name);
    for (auto it = deps.rbegin(); it != deps.rend(); ++it)
        if (int r = load_if_needed(*it))
            return r;
    return load_if_needed(name);
}

void ueventd_run() {
    std::lock_guard g(ueventd_lock);
    for (;;) {
        std::vector<Uevent> events = uevents_since(ueventd_next);
        if (events.empty())
            return;
        for (const Uevent &ev : events) {
            ueventd_next = ev.seqnum + 1;
            if (ev.action != "add")
                continue;
            for (const std::string &var : ev.env)
                if (var.starts_with("MODALIAS="))
                    modprobe(var.substr(9));
        }
    }
}

}  // namespace sim
