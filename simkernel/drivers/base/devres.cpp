// Device-managed resources (drivers/base/devres.c): allocations and actions tied to a device's
// binding, released newest first after the driver's remove or a failed probe. Each is also
// recorded against the module that asked for it, so the loader can report one left behind.
#include "simkernel/drivers/base/base.h"

#include "simkernel/fs/fs_internal.h"
#include "simkernel/kernel/fault.h"
#include "simkernel/kernel/module_owner.h"

#include <cstring>

#include <platform/errno.h>
#include <platform/slab.h>
#include <platform/string.h>

struct devres_node {
    dr_release_t release;
    const char *name;
    size_t size;
    alignas(16) unsigned char data[];
};

namespace sim::drivers {
namespace {

devres_node *node_of(void *res) {
    return reinterpret_cast<devres_node *>(static_cast<unsigned char *>(res) -
                                           offsetof(devres_node, data));
}

devres_node *alloc_node(dr_release_t release, size_t size, gfp_t gfp, const char *name) {
    auto *node = static_cast<devres_node *>(kmalloc(sizeof(devres_node) + size, gfp));
    if (!node)
        return nullptr;
    node->release = release;
    node->name = name;
    node->size = size;
    if (gfp & __GFP_ZERO)
        memset(node->data, 0, size);
    return node;
}

void add_node(struct device *dev, devres_node *node, struct module *owner) {
    {
        std::lock_guard g(dev->p->devres_lock);
        dev->p->devres.push_back(node);
    }
    resource_add(owner, node, "devres", std::string(node->name) + " of " + dev_name(dev),
                 [dev, node] {
                     {
                         std::lock_guard g(dev->p->devres_lock);
                         auto &v = dev->p->devres;
                         for (auto it = v.begin(); it != v.end(); ++it)
                             if (*it == node) {
                                 v.erase(it);
                                 break;
                             }
                     }
                     node->release(dev, node->data);
                     kfree(node);
                 });
}

void devm_kmalloc_release(struct device *, void *) {}

struct action_data {
    void (*action)(void *);
    void *data;
};

void devm_action_release(struct device *, void *res) {
    auto *a = static_cast<action_data *>(res);
    a->action(a->data);
}

// Removes the newest node that match() accepts, without releasing it; null if none.
template <typename Match>
devres_node *remove_node(struct device *dev, Match match) {
    std::lock_guard g(dev->p->devres_lock);
    auto &v = dev->p->devres;
    for (auto it = v.rbegin(); it != v.rend(); ++it) {
        if (match(*it)) {
            devres_node *node = *it;
            v.erase(std::next(it).base());
            return node;
        }
    }
    return nullptr;
}

}  // namespace

void devres_release_all(struct device *dev) {
    if (!dev->p)
        return;
    std::vector<devres_node *> nodes;
    {
        std::lock_guard g(dev->p->devres_lock);
        nodes.swap(dev->p->devres);
    }
    for (auto it = nodes.rbegin(); it != nodes.rend(); ++it) {
        resource_remove(*it);
        (*it)->release(dev, (*it)->data);
        kfree(*it);
    }
}

}  // namespace sim::drivers

using namespace sim::drivers;

extern "C" {

void *devm_kmalloc(struct device *dev, size_t size, gfp_t gfp) {
    struct module *owner = SIM_CALLER_MODULE();
    if (sim::fault_should_fail(sim::fault_op::kmalloc, owner))
        return nullptr;
    devres_node *node = alloc_node(devm_kmalloc_release, size, gfp, "devm_kzalloc_release");
    if (!node)
        return nullptr;
    add_node(dev, node, owner);
    return node->data;
}

void devm_kfree(struct device *dev, const void *p) {
    devres_node *node = remove_node(
        dev, [p](devres_node *n) { return n->release == devm_kmalloc_release && n->data == p; });
    if (!node) {
        sim::fs::warn("drivers/base/devres.c", "devm_kfree", "devm_kfree: %p is not managed\n", p);
        return;
    }
    sim::resource_remove(node);
    kfree(node);
}

char *devm_kstrdup(struct device *dev, const char *s, gfp_t gfp) {
    if (!s)
        return nullptr;
    size_t size = strlen(s) + 1;
    devres_node *node = alloc_node(devm_kmalloc_release, size, gfp, "devm_kzalloc_release");
    if (!node)
        return nullptr;
    memcpy(node->data, s, size);
    add_node(dev, node, SIM_CALLER_MODULE());
    return reinterpret_cast<char *>(node->data);
}

int devm_add_action(struct device *dev, void (*action)(void *), void *data) {
    struct module *owner = SIM_CALLER_MODULE();
    if (sim::fault_should_fail(sim::fault_op::kmalloc, owner))
        return -ENOMEM;
    devres_node *node =
        alloc_node(devm_action_release, sizeof(action_data), GFP_KERNEL, "devm_action_release");
    if (!node)
        return -ENOMEM;
    *reinterpret_cast<action_data *>(node->data) = {action, data};
    add_node(dev, node, owner);
    return 0;
}

void devm_remove_action(struct device *dev, void (*action)(void *), void *data) {
    devres_node *node = remove_node(dev, [action, data](devres_node *n) {
        auto *a = reinterpret_cast<action_data *>(n->data);
        return n->release == devm_action_release && a->action == action && a->data == data;
    });
    if (!node)
        return;
    sim::resource_remove(node);
    kfree(node);
}

void *__devres_alloc_node(dr_release_t release, size_t size, gfp_t gfp, int, const char *name) {
    devres_node *node = alloc_node(release, size, gfp | __GFP_ZERO, name);
    return node ? node->data : nullptr;
}

void devres_add(struct device *dev, void *res) {
    add_node(dev, node_of(res), SIM_CALLER_MODULE());
}

void devres_free(void *res) {
    if (res)
        kfree(node_of(res));
}

}  // extern "C"
