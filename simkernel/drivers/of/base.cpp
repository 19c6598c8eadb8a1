// Real model: drivers/of/base.c of 5.10 — node references, walks and look-ups (by path with
// aliases, name, phandle, compatible), compatible scores and table matching, availability, and
// the /aliases list. Node references are the nodes' kobject counts; a node whose count drops
// to zero without having been detached is reported as of_node_release() does.
#include "simkernel/drivers/of/of_host.h"
#include "simkernel/drivers/of/of_private.h"

#include <platform/errno.h>
#include <platform/kstrtox.h>
#include <platform/of_device.h>
#include <platform/printk.h>
#include <platform/string.h>

#include <climits>

namespace sim::of {

struct device_node *of_root;
struct device_node *of_chosen;
struct device_node *of_aliases;

namespace {

std::vector<AliasProp> alias_list;  // under of_mutex()

void of_node_release(struct kobject *kobj) {
    struct device_node *node = container_of(kobj, struct device_node, kobj);
    // Nodes of the boot tree are never freed; only a detached node may lose its last reference.
    if (!of_node_check_flag(node, OF_DETACHED))
        pr_err("OF: ERROR: Bad of_node_put() on %s\n", of_node_path(node).c_str());
}

const struct kobj_type of_node_ktype = {of_node_release, nullptr, nullptr, nullptr};

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// The property's value as a string, if it holds a NUL-terminated one.
const char *prop_string(const struct property *pp) {
    if (!pp || !pp->value || pp->length <= 0)
        return nullptr;
    const char *s = static_cast<const char *>(pp->value);
    return strnlen(s, pp->length) < (size_t)pp->length ? s : nullptr;
}

bool node_is_type(const struct device_node *np, const char *type) {
    const char *match = prop_string(__of_find_property(np, "device_type", nullptr));
    return np && match && type && !strcmp(match, type);
}

struct device_node *find_child_by_path(struct device_node *parent, const char *path) {
    size_t len = strcspn(path, "/:");
    if (!len)
        return nullptr;
    for (struct device_node *child = parent->child; child; child = child->sibling) {
        std::string_view name = child->full_name;
        if (name == std::string_view(path, len))
            return child;
    }
    return nullptr;
}

// Steps down from node along path ("/soc/charger@6b"), dropping node's reference and taking
// one on the result; stops at the ':' that starts the options.
struct device_node *find_node_by_full_path(struct device_node *node, const char *path) {
    const char *separator = strchr(path, ':');
    while (node && *path == '/') {
        struct device_node *tmp = node;
        path++;
        node = of_node_get(find_child_by_path(node, path));
        of_node_put(tmp);
        path += strcspn(path, "/");
        if (separator && separator < path)
            break;
    }
    return node;
}

}  // namespace

std::mutex &devtree_lock() {
    static std::mutex lock;
    return lock;
}

std::mutex &of_mutex() {
    static std::mutex lock;
    return lock;
}

const std::vector<AliasProp> &aliases_lookup() {
    return alias_list;
}

void of_node_init(struct device_node *np) {
    kobject_init(&np->kobj, &of_node_ktype);
}

std::string_view of_node_short_name(const struct device_node *np) {
    std::string_view n = np->parent ? np->full_name : "";
    size_t slash = n.rfind('/');
    if (slash != std::string_view::npos)
        n.remove_prefix(slash + 1);
    return n.substr(0, n.find('@'));
}

struct property *__of_find_property(const struct device_node *np, const char *name, int *lenp) {
    if (!np)
        return nullptr;
    for (struct property *pp = np->properties; pp; pp = pp->next) {
        if (!strcmp(pp->name, name)) {
            if (lenp)
                *lenp = pp->length;
            return pp;
        }
    }
    return nullptr;
}

const void *__of_get_property(const struct device_node *np, const char *name, int *lenp) {
    struct property *pp = __of_find_property(np, name, lenp);
    return pp ? pp->value : nullptr;
}

int __of_device_is_compatible(const struct device_node *device, const char *compat,
                              const char *type, const char *name) {
    int index = 0, score = 0;
    // A compatible match counts most, and more the earlier it is in the node's list.
    if (compat && compat[0]) {
        struct property *prop = __of_find_property(device, "compatible", nullptr);
        for (const char *cp = of_prop_next_string(prop, nullptr); cp;
             cp = of_prop_next_string(prop, cp), index++) {
            if (!strcasecmp(cp, compat)) {
                score = INT_MAX / 2 - (index << 2);
                break;
            }
        }
        if (!score)
            return 0;
    }
    // A matching type is better than a matching name.
    if (type && type[0]) {
        if (!node_is_type(device, type))
            return 0;
        score += 2;
    }
    if (name && name[0]) {
        if (!of_node_name_eq(device, name))
            return 0;
        score++;
    }
    return score;
}

bool __of_device_is_available(const struct device_node *device) {
    if (!device)
        return false;
    int statlen = 0;
    struct property *pp = __of_find_property(device, "status", &statlen);
    if (!pp)
        return true;
    // A status that is not a terminated string is not "okay" (and is not read past its end).
    const char *status = prop_string(pp);
    return status && (!strcmp(status, "okay") || !strcmp(status, "ok"));
}

struct device_node *__of_find_all_nodes(struct device_node *prev) {
    struct device_node *np;
    if (!prev) {
        np = of_root;
    } else if (prev->child) {
        np = prev->child;
    } else {
        np = prev;
        while (np->parent && !np->sibling)
            np = np->parent;
        np = np->sibling;
    }
    return np;
}

void of_alias_scan() {
    if (!of_aliases)
        return;
    std::lock_guard<std::mutex> g(of_mutex());
    for (struct property *pp = of_aliases->properties; pp; pp = pp->next) {
        if (!strcmp(pp->name, "name") || !strcmp(pp->name, "phandle") ||
            !strcmp(pp->name, "linux,phandle"))
            continue;
        const char *path = prop_string(pp);
        if (!path)
            continue;
        struct device_node *np = of_find_node_by_path(path);
        if (!np)
            continue;
        // The id is the alias's trailing digits, the stem what comes before them.
        const char *start = pp->name;
        const char *end = start + strlen(start);
        while (end > start && is_digit(end[-1]))
            end--;
        int id;
        if (kstrtoint(end, 10, &id) < 0) {
            of_node_put(np);
            continue;
        }
        alias_list.push_back({np, start, std::string(start, end - start), id});
    }
}

void of_alias_clear() {
    std::vector<AliasProp> gone;
    {
        std::lock_guard<std::mutex> g(of_mutex());
        gone.swap(alias_list);
    }
    for (AliasProp &ap : gone)
        of_node_put(const_cast<struct device_node *>(ap.np));
}

}  // namespace sim::of

namespace sim {

std::string of_node_path(const struct device_node *np) {
    if (!np)
        return "(null)";
    if (!np->parent)
        return "/";
    std::string path;
    for (; np->parent; np = np->parent)
        path = "/" + std::string(np->full_name) + path;
    return path;
}

}  // namespace sim

using namespace sim::of;

extern "C" {

struct device_node *of_node_get(struct device_node *node) {
    if (node)
        kobject_get(&node->kobj);
    return node;
}

void of_node_put(struct device_node *node) {
    if (node)
        kobject_put(&node->kobj);
}

struct property *of_find_property(const struct device_node *np, const char *name, int *lenp) {
    std::lock_guard<std::mutex> g(devtree_lock());
    return __of_find_property(np, name, lenp);
}

const void *of_get_property(const struct device_node *np, const char *name, int *lenp) {
    struct property *pp = of_find_property(np, name, lenp);
    return pp ? pp->value : nullptr;
}

const char *of_prop_next_string(struct property *prop, const char *cur) {
    if (!prop || !prop->value)
        return nullptr;
    const char *start = static_cast<const char *>(prop->value);
    const char *end = start + prop->length;
    const char *curv = cur ? cur + strnlen(cur, end - cur) + 1 : start;
    if (curv >= end)
        return nullptr;
    // A last string without its NUL is not handed out.
    if (strnlen(curv, end - curv) == (size_t)(end - curv))
        return nullptr;
    return curv;
}

struct device_node *of_find_all_nodes(struct device_node *prev) {
    std::lock_guard<std::mutex> g(devtree_lock());
    struct device_node *np = __of_find_all_nodes(prev);
    of_node_get(np);
    of_node_put(prev);
    return np;
}

struct device_node *of_find_node_by_path(const char *path) {
    struct device_node *np = nullptr;
    if (!path)
        return nullptr;
    if (!strcmp(path, "/"))
        return of_node_get(of_root);
    const char *separator = strchr(path, ':');
    // A path may begin with an alias: "serial0:115200" or "battery0/cell".
    if (*path != '/') {
        const char *p = separator ? separator : path + strcspn(path, "/");
        size_t len = p - path;
        if (!of_aliases)
            return nullptr;
        for (struct property *pp = of_aliases->properties; pp; pp = pp->next) {
            if (strlen(pp->name) == len && !strncmp(pp->name, path, len)) {
                int vlen = pp->length;
                const char *v = static_cast<const char *>(pp->value);
                if (v && vlen > 0 && strnlen(v, vlen) < (size_t)vlen && *v == '/')
                    np = of_find_node_by_path(v);
                break;
            }
        }
        if (!np)
            return nullptr;
        path = p;
    }
    std::lock_guard<std::mutex> g(devtree_lock());
    if (!np)
        np = of_node_get(of_root);
    return find_node_by_full_path(np, path);
}

struct device_node *of_find_node_by_name(struct device_node *from, const char *name) {
    struct device_node *np;
    {
        std::lock_guard<std::mutex> g(devtree_lock());
        for (np = __of_find_all_nodes(from); np; np = __of_find_all_nodes(np))
            if (of_node_name_eq(np, name) && of_node_get(np))
                break;
    }
    of_node_put(from);
    return np;
}

struct device_node *of_find_compatible_node(struct device_node *from, const char *type,
                                            const char *compatible) {
    struct device_node *np;
    {
        std::lock_guard<std::mutex> g(devtree_lock());
        for (np = __of_find_all_nodes(from); np; np = __of_find_all_nodes(np))
            if (__of_device_is_compatible(np, compatible, type, nullptr) && of_node_get(np))
                break;
    }
    of_node_put(from);
    return np;
}

struct device_node *of_find_node_by_phandle(phandle handle) {
    if (!handle)
        return nullptr;
    std::lock_guard<std::mutex> g(devtree_lock());
    struct device_node *np;
    for (np = __of_find_all_nodes(nullptr); np; np = __of_find_all_nodes(np))
        if (np->phandle == handle && !of_node_check_flag(np, OF_DETACHED))
            break;
    return of_node_get(np);
}

struct device_node *of_parse_phandle(const struct device_node *np, const char *phandle_name,
                                     int index) {
    if (index < 0)
        return nullptr;
    int len = 0;
    const void *list = of_get_property(np, phandle_name, &len);
    if (!list || (size_t)len < ((size_t)index + 1) * sizeof(u32))
        return nullptr;
    u32 be;
    memcpy(&be, static_cast<const char *>(list) + index * sizeof(u32), sizeof(be));
    return of_find_node_by_phandle(__builtin_bswap32(be));
}

struct device_node *of_get_parent(const struct device_node *node) {
    if (!node)
        return nullptr;
    std::lock_guard<std::mutex> g(devtree_lock());
    return of_node_get(node->parent);
}

struct device_node *of_get_next_child(const struct device_node *node, struct device_node *prev) {
    if (!node)
        return nullptr;
    struct device_node *next;
    {
        std::lock_guard<std::mutex> g(devtree_lock());
        next = prev ? prev->sibling : node->child;
        of_node_get(next);
    }
    of_node_put(prev);
    return next;
}

struct device_node *of_get_next_available_child(const struct device_node *node,
                                                struct device_node *prev) {
    if (!node)
        return nullptr;
    struct device_node *next;
    {
        std::lock_guard<std::mutex> g(devtree_lock());
        for (next = prev ? prev->sibling : node->child; next; next = next->sibling)
            if (__of_device_is_available(next))
                break;
        of_node_get(next);
    }
    of_node_put(prev);
    return next;
}

struct device_node *of_get_child_by_name(const struct device_node *node, const char *name) {
    struct device_node *child;
    for_each_child_of_node(node, child) if (of_node_name_eq(child, name)) break;
    return child;
}

struct device_node *of_get_compatible_child(const struct device_node *parent,
                                            const char *compatible) {
    struct device_node *child;
    for_each_child_of_node(parent, child) if (of_device_is_compatible(child, compatible)) break;
    return child;
}

int of_get_child_count(const struct device_node *np) {
    struct device_node *child;
    int num = 0;
    for_each_child_of_node(np, child) num++;
    return num;
}

int of_get_available_child_count(const struct device_node *np) {
    struct device_node *child;
    int num = 0;
    for_each_available_child_of_node(np, child) num++;
    return num;
}

bool of_node_name_eq(const struct device_node *np, const char *name) {
    if (!np || !name)
        return false;
    return of_node_short_name(np) == std::string_view(name);
}

int of_device_is_compatible(const struct device_node *device, const char *compat) {
    std::lock_guard<std::mutex> g(devtree_lock());
    return __of_device_is_compatible(device, compat, nullptr, nullptr);
}

bool of_device_is_available(const struct device_node *device) {
    std::lock_guard<std::mutex> g(devtree_lock());
    return __of_device_is_available(device);
}

const struct of_device_id *of_match_node(const struct of_device_id *matches,
                                         const struct device_node *node) {
    if (!matches)
        return nullptr;
    const struct of_device_id *best_match = nullptr;
    int best_score = 0;
    std::lock_guard<std::mutex> g(devtree_lock());
    for (; matches->name[0] || matches->type[0] || matches->compatible[0]; matches++) {
        int score =
            __of_device_is_compatible(node, matches->compatible, matches->type, matches->name);
        if (score > best_score) {
            best_match = matches;
            best_score = score;
        }
    }
    return best_match;
}

int of_alias_get_id(struct device_node *np, const char *stem) {
    int id = -ENODEV;
    std::lock_guard<std::mutex> g(of_mutex());
    for (const AliasProp &ap : alias_list) {
        if (ap.stem != stem)
            continue;
        if (ap.np == np) {
            id = ap.id;
            break;
        }
    }
    return id;
}

}  // extern "C"
