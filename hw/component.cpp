// The registry of hardware components and model hooks.
#include "hw/component.h"

#include <algorithm>
#include <mutex>

namespace hw {
namespace {

std::mutex &lock() {
    static std::mutex m;
    return m;
}
std::vector<Component> &table() {
    static std::vector<Component> t;
    return t;
}
// Filled by static initialisers, before main.
std::vector<ModelHooks> &models() {
    static std::vector<ModelHooks> m;
    return m;
}

}  // namespace

void component_add(Component c) {
    std::lock_guard g(lock());
    auto &t = table();
    t.erase(
        std::remove_if(t.begin(), t.end(), [&](const Component &x) { return x.name == c.name; }),
        t.end());
    t.push_back(std::move(c));
}

void component_remove(const std::string &name) {
    std::lock_guard g(lock());
    auto &t = table();
    t.erase(std::remove_if(t.begin(), t.end(), [&](const Component &x) { return x.name == name; }),
            t.end());
}

std::vector<Component> components() {
    std::lock_guard g(lock());
    return table();
}

bool model_register(const ModelHooks &hooks) {
    models().push_back(hooks);
    return true;
}

void hw_boot() {
    for (const ModelHooks &m : models())
        if (m.boot)
            m.boot();
}

void hw_shutdown() {
    auto &m = models();
    for (auto it = m.rbegin(); it != m.rend(); ++it)
        if (it->shutdown)
            it->shutdown();
    std::lock_guard g(lock());
    table().clear();
}

}  // namespace hw
