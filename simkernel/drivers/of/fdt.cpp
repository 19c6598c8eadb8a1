// Real model: drivers/of/fdt.c of 5.10. The blob is unflattened into device_nodes: children
// and properties in blob order, property names and values pointing into the kernel's copy of
// the blob, a "name" property made up from the unit name (version 16+ blobs carry none),
// phandles from "phandle" or "linux,phandle". Then the early scan the arch code does: machine
// model, CPUs, memory and the zram disksize.
#include "simkernel/drivers/of/of_host.h"
#include "simkernel/drivers/of/of_private.h"
#include "simkernel/kernel/boot.h"

extern "C" {
#include <libfdt.h>
}

#include <platform/printk.h>
#include <platform/string.h>

#include <deque>
#include <memory>

namespace sim::of {
namespace {

constexpr int kFdtMaxDepth = 64;
constexpr const char *kBadBlob = "not a flattened device tree";

// One unflattened blob. The kernel never frees the memory of its boot tree; here it lives
// until shutdown, when every node has let go of its sysfs directory.
struct Tree {
    std::unique_ptr<uint64_t[]> blob;  // libfdt wants the blob 8-byte aligned
    std::deque<struct device_node> nodes;
    std::deque<struct property> props;
    std::deque<std::string> strings;
    struct device_node *root = nullptr;

    const char *keep(std::string s) { return strings.emplace_back(std::move(s)).c_str(); }
};

std::mutex trees_lock;
std::vector<std::unique_ptr<Tree>> trees;  // under trees_lock: the live root's, then grafts

u32 be32_at(const void *p) {
    u32 v;
    memcpy(&v, p, sizeof(v));
    return __builtin_bswap32(v);  // cells are big-endian; the host is little-endian
}

bool populate_properties(Tree &t, const void *fdt, int offset, struct device_node *np,
                         const char *nodename) {
    struct property **pprev = &np->properties;
    bool has_name = false;
    int cur;
    fdt_for_each_property_offset(cur, fdt, offset) {
        const char *pname;
        int sz;
        const void *val = fdt_getprop_by_offset(fdt, cur, &pname, &sz);
        if (!val)
            return false;
        if (!pname)
            continue;
        if (!strcmp(pname, "name"))
            has_name = true;
        // A phandle is one cell; a shorter value is not read past its end.
        if ((!strcmp(pname, "phandle") || !strcmp(pname, "linux,phandle")) && sz == 4 &&
            !np->phandle)
            np->phandle = be32_at(val);
        if (!strcmp(pname, "ibm,phandle") && sz == 4)
            np->phandle = be32_at(val);
        struct property *pp = &t.props.emplace_back();
        pp->name = const_cast<char *>(pname);
        pp->length = sz;
        pp->value = const_cast<void *>(val);
        *pprev = pp;
        pprev = &pp->next;
    }
    if (cur != -FDT_ERR_NOTFOUND)
        return false;
    if (!has_name) {
        // The unit name up to its '@': "battery" for "battery@0", "" for the root.
        std::string_view n(nodename);
        n = n.substr(0, n.find('@'));
        struct property *pp = &t.props.emplace_back();
        pp->name = const_cast<char *>("name");
        pp->value = const_cast<char *>(t.keep(std::string(n)));
        pp->length = static_cast<int>(n.size() + 1);
        *pprev = pp;
    }
    return true;
}

struct device_node *populate_node(Tree &t, const void *fdt, int offset, struct device_node *dad,
                                  int depth) {
    if (depth >= kFdtMaxDepth)
        return nullptr;
    int len;
    const char *pathp = fdt_get_name(fdt, offset, &len);
    if (!pathp)
        return nullptr;
    struct device_node *np = &t.nodes.emplace_back();
    of_node_init(np);
    np->full_name = dad ? t.keep(pathp) : "/";
    np->parent = dad;
    if (!populate_properties(t, fdt, offset, np, pathp))
        return nullptr;
    np->name = static_cast<const char *>(__of_get_property(np, "name", nullptr));
    if (!np->name)
        np->name = "<NULL>";

    // Children stay in blob order: drivers rely on it.
    struct device_node **link = &np->child;
    int child;
    fdt_for_each_subnode(child, fdt, offset) {
        struct device_node *c = populate_node(t, fdt, child, np, depth + 1);
        if (!c)
            return nullptr;
        *link = c;
        link = &c->sibling;
    }
    return child == -FDT_ERR_NOTFOUND ? np : nullptr;
}

std::unique_ptr<Tree> unflatten(std::string_view blob, std::string *err) {
    if (blob.size() < sizeof(struct fdt_header)) {
        *err = kBadBlob;
        return nullptr;
    }
    auto t = std::make_unique<Tree>();
    t->blob.reset(new uint64_t[(blob.size() + 7) / 8]);
    void *fdt = t->blob.get();
    memcpy(fdt, blob.data(), blob.size());
    if (fdt_check_header(fdt) != 0 || fdt_totalsize(fdt) > blob.size() ||
        fdt_check_full(fdt, fdt_totalsize(fdt)) != 0) {
        *err = kBadBlob;
        return nullptr;
    }
    t->root = populate_node(*t, fdt, 0, nullptr, 0);
    if (!t->root) {
        *err = kBadBlob;
        return nullptr;
    }
    return t;
}

struct device_node *child_named(const struct device_node *parent, const char *full_name) {
    for (struct device_node *c = parent->child; c; c = c->sibling)
        if (!strcmp(c->full_name, full_name))
            return c;
    return nullptr;
}

bool is_type(const struct device_node *np, const char *type) {
    int len = 0;
    const char *v = static_cast<const char *>(__of_get_property(np, "device_type", &len));
    return v && strnlen(v, len) < (size_t)len && !strcmp(v, type);
}

// A string property's value, if it is NUL-terminated.
const char *string_prop(const struct device_node *np, const char *name) {
    int len = 0;
    const char *v = static_cast<const char *>(__of_get_property(np, name, &len));
    return v && strnlen(v, len) < (size_t)len ? v : nullptr;
}

int root_cells(const struct device_node *root, const char *name, int fallback) {
    int len = 0;
    const void *v = __of_get_property(root, name, &len);
    return v && len == 4 ? static_cast<int>(be32_at(v)) : fallback;
}

uint64_t read_cells(const char *p, int n) {
    uint64_t v = 0;
    for (int i = 0; i < n; i++)
        v = (v << 32) | be32_at(p + 4 * i);
    return v;
}

struct Scanned {
    std::string model;
    unsigned int cpus = 0;
    uint64_t ram_bytes = 0;
    uint64_t swap_bytes = 0;
};

// early_init_dt_scan_root/_memory and setup_machine_fdt, on the unflattened nodes.
std::string scan_tree(const struct device_node *root, Scanned *params) {
    // The machine name is the model, or else the first compatible.
    const char *model = string_prop(root, "model");
    if (!model)
        model = string_prop(root, "compatible");
    params->model = model ? model : "";

    const struct device_node *cpus = child_named(root, "cpus");
    if (!cpus)
        return "no /cpus node";
    unsigned int ncpus = 0;
    for (const struct device_node *c = cpus->child; c; c = c->sibling)
        if (is_type(c, "cpu"))
            ncpus++;
    if (ncpus == 0 || ncpus > 8)
        return "the phone needs 1 to 8 CPUs under /cpus";
    params->cpus = ncpus;

    // Without #address-cells/#size-cells the root has one cell of each.
    int addr_cells = root_cells(root, "#address-cells", 1);
    int size_cells = root_cells(root, "#size-cells", 1);
    int entry = (addr_cells + size_cells) * 4;
    uint64_t ram = 0;
    for (const struct device_node *c = root->child; c; c = c->sibling) {
        if (!is_type(c, "memory"))
            continue;
        int len = 0;
        const char *reg = static_cast<const char *>(__of_get_property(c, "reg", &len));
        if (!reg || entry <= 0 || len % entry)
            return "bad reg in a memory node";
        for (int off = 0; off < len; off += entry)
            ram += read_cells(reg + off + addr_cells * 4, size_cells);
    }
    if (ram == 0)
        return "no memory node";
    params->ram_bytes = ram;

    // The zram swap device: /zram with a 64-bit "disksize" in bytes; none without the node.
    params->swap_bytes = 0;
    if (const struct device_node *zram = child_named(root, "zram")) {
        int len = 0;
        const char *size = static_cast<const char *>(__of_get_property(zram, "disksize", &len));
        if (!size || len != 8)
            return "bad disksize in /zram";
        params->swap_bytes = read_cells(size, 2);
    }
    return "";
}

std::string scan(const struct device_node *root, BootParams *params) {
    Scanned s;
    std::string err = scan_tree(root, &s);
    if (!err.empty())
        return err;
    params->model = s.model;
    params->cpus = s.cpus;
    params->ram_bytes = s.ram_bytes;
    params->swap_bytes = s.swap_bytes;
    return "";
}

// Puts every node's reference, children first, so each directory goes before its parent's.
void release_nodes(struct device_node *np) {
    for (struct device_node *c = np->child; c; c = c->sibling)
        release_nodes(c);
    of_node_set_flag(np, OF_DETACHED);
    if (np->kobj.state_in_sysfs)
        of_node_put(np);  // the reference sysfs attachment took
    int left = __atomic_load_n(&np->kobj.kref.refcount, __ATOMIC_ACQUIRE);
    if (left != 1)
        pr_err("OF: %s still has %d reference%s at shutdown\n", of_node_path(np).c_str(), left - 1,
               left == 2 ? "" : "s");
    of_node_put(np);
}

}  // namespace

void of_release_trees() {
    std::vector<std::unique_ptr<Tree>> gone;
    {
        std::lock_guard<std::mutex> g(trees_lock);
        gone.swap(trees);
    }
    // Grafts hang at the end of the boot root's children: the newest goes first, and leaves
    // the root's list before the root itself is released.
    for (auto it = gone.rbegin(); it != gone.rend(); ++it) {
        Tree &t = **it;
        if (t.root == of_root) {
            release_nodes(t.root);
            continue;
        }
        if (of_root) {
            std::lock_guard<std::mutex> g(devtree_lock());
            struct device_node **link = &of_root->child;
            while (*link && *link != t.root->child)
                link = &(*link)->sibling;
            *link = nullptr;
        }
        for (struct device_node *c = t.root->child; c;) {
            struct device_node *next = c->sibling;
            release_nodes(c);
            c = next;
        }
    }
}

}  // namespace sim::of

namespace sim {

using namespace of;

std::string of_scan_boot_params(std::string_view blob, BootParams *params) {
    std::string err;
    std::unique_ptr<Tree> t = unflatten(blob, &err);
    if (!t)
        return err;
    return scan(t->root, params);
}

std::string of_unflatten(std::string_view blob, BootParams *params) {
    std::string err;
    std::unique_ptr<Tree> t = unflatten(blob, &err);
    if (!t)
        return err;
    if (params) {
        err = scan(t->root, params);
        if (!err.empty())
            return err;
    }
    of_root = t->root;
    {
        std::lock_guard<std::mutex> g(trees_lock);
        trees.push_back(std::move(t));
    }
    of_chosen = of_find_node_by_path("/chosen");
    if (!of_chosen)
        of_chosen = of_find_node_by_path("/chosen@0");
    of_aliases = of_find_node_by_path("/aliases");
    of_alias_scan();
    return "";
}

std::string of_attach_fdt(std::string_view blob) {
    if (!of_root)
        return "no live tree";
    std::string err;
    std::unique_ptr<Tree> t = unflatten(blob, &err);
    if (!t)
        return err;
    // A phandle the live tree has already would make references ambiguous.
    for (struct device_node &np : t->nodes)
        if (np.phandle)
            if (struct device_node *dup = of_find_node_by_phandle(np.phandle)) {
                of_node_put(dup);
                return "phandle " + std::to_string(np.phandle) + " is in the tree already";
            }
    // The graft's top-level nodes join the live root's children at the end.
    {
        std::lock_guard<std::mutex> g(devtree_lock());
        struct device_node **link = &of_root->child;
        while (*link)
            link = &(*link)->sibling;
        *link = t->root->child;
        for (struct device_node *c = t->root->child; c; c = c->sibling)
            c->parent = of_root;
    }
    if (of_kset_ready()) {
        for (struct device_node *np = t->root->child; np;) {
            __of_attach_node_sysfs(np);
            // Depth-first through the graft only.
            if (np->child) {
                np = np->child;
                continue;
            }
            while (np && !np->sibling && np->parent != of_root)
                np = np->parent;
            np = np ? np->sibling : nullptr;
        }
    }
    std::lock_guard<std::mutex> g(trees_lock);
    trees.push_back(std::move(t));
    return "";
}

}  // namespace sim
