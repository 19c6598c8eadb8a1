// Ownership of kernel objects by modules (a real model: address ranges of loaded modules and a
// registry of what each module registered, used for the loader's leftover report).
#include "simkernel/kernel/module_owner.h"

#include <platform/module.h>
#include <platform/printk.h>

#include <algorithm>
#include <mutex>

namespace sim {
namespace {

struct Range {
    struct module *mod;
    uintptr_t begin, end;
};

struct Resource {
    struct module *owner;
    const void *obj;
    std::string kind, name;
    std::function<void()> release;
};

struct OwnerTable {
    std::mutex lock;
    std::vector<Range> ranges;
    std::vector<Resource> resources;  // in registration order
};

OwnerTable &owners() {
    static OwnerTable t;
    return t;
}

}  // namespace

struct module *module_of_address(const void *addr) {
    OwnerTable &t = owners();
    auto a = reinterpret_cast<uintptr_t>(addr);
    std::lock_guard g(t.lock);
    for (const Range &r : t.ranges)
        if (a >= r.begin && a < r.end)
            return r.mod;
    return nullptr;
}

void module_range_add(struct module *mod, const void *base, size_t size) {
    OwnerTable &t = owners();
    auto b = reinterpret_cast<uintptr_t>(base);
    std::lock_guard g(t.lock);
    t.ranges.push_back({mod, b, b + size});
}

void module_range_remove(struct module *mod) {
    OwnerTable &t = owners();
    std::lock_guard g(t.lock);
    std::erase_if(t.ranges, [mod](const Range &r) { return r.mod == mod; });
}

void resource_add(struct module *owner, const void *obj, std::string kind, std::string name,
                  std::function<void()> release) {
    if (!owner)
        return;
    OwnerTable &t = owners();
    std::lock_guard g(t.lock);
    t.resources.push_back({owner, obj, std::move(kind), std::move(name), std::move(release)});
}

void resource_remove(const void *obj) {
    OwnerTable &t = owners();
    std::lock_guard g(t.lock);
    auto it = std::find_if(t.resources.rbegin(), t.resources.rend(),
                           [obj](const Resource &r) { return r.obj == obj; });
    if (it != t.resources.rend())
        t.resources.erase(std::next(it).base());
}

std::vector<Leftover> resource_list(const struct module *owner) {
    OwnerTable &t = owners();
    std::lock_guard g(t.lock);
    std::vector<Leftover> out;
    for (const Resource &r : t.resources)
        if (r.owner == owner)
            out.push_back({r.kind, r.name});
    return out;
}

std::vector<Leftover> resource_release_all(struct module *owner) {
    std::vector<Leftover> left;
    for (;;) {
        Resource r;
        {
            OwnerTable &t = owners();
            std::lock_guard g(t.lock);
            auto it = std::find_if(t.resources.rbegin(), t.resources.rend(),
                                   [owner](const Resource &x) { return x.owner == owner; });
            if (it == t.resources.rend())
                break;
            r = std::move(*it);
            t.resources.erase(std::next(it).base());
        }
        printk(KERN_ERR "%s: %s '%s' still registered after module exit, released\n", owner->name,
               r.kind.c_str(), r.name.c_str());
        left.push_back({r.kind, r.name});
        // The release may call back into resource_remove(), which then finds nothing.
        if (r.release)
            r.release();
    }
    return left;
}

}  // namespace sim
