// Real model: drivers/of/platform.c and the bus-id naming of 5.10. Populating makes a platform
// device for every available node with a "compatible" below the root, and descends into nodes
// that match the bus table (simple-bus and the like). A device is named after its node: the
// translated address of its "reg" and the node's name ("6b.charger"), or the node's full name
// prefixed by its parents' until one has a translatable address ("soc:leds").
#include "simkernel/drivers/of/of_host.h"
#include "simkernel/drivers/of/of_private.h"

#include <platform/device.h>
#include <platform/errno.h>
#include <platform/of_device.h>
#include <platform/of_platform.h>
#include <platform/platform_device.h>
#include <platform/string.h>

namespace {

constexpr u64 OF_BAD_ADDR = ~0ULL;
constexpr int OF_MAX_ADDR_CELLS = 4;

// np->data, the device made from the node, changes under this lock.
std::mutex &populated_lock() {
    static std::mutex lock;
    return lock;
}

const struct of_device_id of_skipped_node_table[] = {
    {"", "", "operating-points-v2", nullptr},
    {},
};

// Nodes of /reserved-memory that get a device of their own at boot.
const struct of_device_id reserved_mem_matches[] = {
    {"", "", "qcom,rmtfs-mem", nullptr},
    {"", "", "qcom,cmd-db", nullptr},
    {"", "", "ramoops", nullptr},
    {},
};

u32 be32_at(const void *p) {
    u32 v;
    memcpy(&v, p, sizeof(v));
    return __builtin_bswap32(v);
}

u64 of_read_number(const u32 *cells, int size) {
    u64 r = 0;
    for (; size--; cells++)
        r = (r << 32) | be32_at(cells);
    return r;
}

// of_bus_n_addr_cells()/of_bus_n_size_cells(): from the nearest ancestor that says; the root
// defaults to one cell of each.
int bus_cells(const struct device_node *np, const char *name) {
    if (np->parent)
        np = np->parent;
    for (; np; np = np->parent) {
        u32 cells;
        if (!of_property_read_u32(np, name, &cells))
            return (int)cells;
    }
    return 1;
}

bool check_counts(int na, int ns) {
    return na > 0 && na <= OF_MAX_ADDR_CELLS && ns > 0;
}

// of_translate_one() on the default bus: maps addr through bus's "ranges" into the parent's
// address space; false when it cannot.
bool translate_one(const struct device_node *bus, u32 *addr, int na, int ns, int pna) {
    int rlen = 0;
    const u32 *ranges = static_cast<const u32 *>(of_get_property(bus, "ranges", &rlen));
    u64 offset = OF_BAD_ADDR;
    if (!ranges)
        return false;
    if (rlen == 0) {
        // Empty ranges: a 1:1 mapping.
        offset = of_read_number(addr, na);
        memset(addr, 0, pna * 4);
    } else {
        int rone = na + pna + ns;
        int n = rlen / 4;
        for (; n >= rone; n -= rone, ranges += rone) {
            u64 cp = of_read_number(ranges, na);
            u64 s = of_read_number(ranges + na + pna, ns);
            u64 da = of_read_number(addr, na);
            if (da >= cp && da < cp + s) {
                offset = da - cp;
                break;
            }
        }
        if (offset == OF_BAD_ADDR)
            return false;
        memcpy(addr, ranges + na, 4 * pna);
    }
    // of_bus_default_translate()
    u64 a = of_read_number(addr, pna) + offset;
    memset(addr, 0, pna * 4);
    if (pna > 1)
        addr[pna - 2] = __builtin_bswap32((u32)(a >> 32));
    addr[pna - 1] = __builtin_bswap32((u32)(a & 0xffffffffu));
    return true;
}

// of_translate_address() of the node's first "reg" entry, up to the root.
u64 translate_reg(const struct device_node *dev, const void *reg, int reg_len) {
    const struct device_node *parent = dev->parent;
    if (!parent)
        return OF_BAD_ADDR;
    int na = bus_cells(dev, "#address-cells");
    int ns = bus_cells(dev, "#size-cells");
    // A reg shorter than one address is not read past its end.
    if (!check_counts(na, ns) || reg_len < na * 4)
        return OF_BAD_ADDR;
    u32 addr[OF_MAX_ADDR_CELLS];
    memcpy(addr, reg, na * 4);
    for (;;) {
        dev = parent;
        parent = dev->parent;
        if (!parent)
            return of_read_number(addr, na);
        int pna = bus_cells(dev, "#address-cells");
        int pns = bus_cells(dev, "#size-cells");
        if (!check_counts(pna, pns))
            return OF_BAD_ADDR;
        if (!translate_one(dev, addr, na, ns, pna))
            return OF_BAD_ADDR;
        na = pna;
        ns = pns;
    }
}

// of_device_make_bus_id()
void of_device_make_bus_id(struct device *dev) {
    struct device_node *node = dev->of_node;
    while (node->parent) {
        // A translatable address is as unique as a name needs to be: it goes first, and ends it.
        int len = 0;
        const void *reg = of_get_property(node, "reg", &len);
        u64 addr;
        std::string name(sim::of::of_node_short_name(node));
        if (reg && (addr = translate_reg(node, reg, len)) != OF_BAD_ADDR) {
            if (dev_name(dev))
                dev_set_name(dev, "%llx.%s:%s", (unsigned long long)addr, name.c_str(),
                             dev_name(dev));
            else
                dev_set_name(dev, "%llx.%s", (unsigned long long)addr, name.c_str());
            return;
        }
        if (dev_name(dev))
            dev_set_name(dev, "%s:%s", node->full_name, dev_name(dev));
        else
            dev_set_name(dev, "%s", node->full_name);
        node = node->parent;
    }
}

struct platform_device *of_device_alloc(struct device_node *np, const char *bus_id,
                                        struct device *parent) {
    struct platform_device *dev = platform_device_alloc("", PLATFORM_DEVID_NONE);
    if (!dev)
        return nullptr;
    dev->dev.of_node = of_node_get(np);
    dev->dev.parent = parent ? parent : &platform_bus;
    if (bus_id)
        dev_set_name(&dev->dev, "%s", bus_id);
    else
        of_device_make_bus_id(&dev->dev);
    return dev;
}

// of_device_add(): the bus matches on the name, so it is the device's.
int of_device_add(struct platform_device *ofdev) {
    ofdev->name = dev_name(&ofdev->dev);
    ofdev->id = PLATFORM_DEVID_NONE;
    return device_add(&ofdev->dev);
}

struct platform_device *of_platform_device_create_pdata(struct device_node *np, const char *bus_id,
                                                        void *platform_data,
                                                        struct device *parent) {
    if (!of_device_is_available(np) || of_node_test_and_set_flag(np, OF_POPULATED))
        return nullptr;
    struct platform_device *dev = of_device_alloc(np, bus_id, parent);
    if (!dev) {
        of_node_clear_flag(np, OF_POPULATED);
        return nullptr;
    }
    dev->dev.bus = &platform_bus_type;
    dev->dev.platform_data = platform_data;
    {
        std::lock_guard<std::mutex> g(populated_lock());
        np->data = dev;
    }
    if (of_device_add(dev) != 0) {
        {
            std::lock_guard<std::mutex> g(populated_lock());
            np->data = nullptr;
        }
        platform_device_put(dev);
        of_node_clear_flag(np, OF_POPULATED);
        return nullptr;
    }
    return dev;
}

int of_platform_bus_create(struct device_node *bus, const struct of_device_id *matches,
                           struct device *parent, bool strict) {
    if (strict && !of_get_property(bus, "compatible", nullptr))
        return 0;
    if (of_match_node(of_skipped_node_table, bus))
        return 0;
    if (of_node_check_flag(bus, OF_POPULATED_BUS))
        return 0;
    struct platform_device *dev = of_platform_device_create_pdata(bus, nullptr, nullptr, parent);
    if (!dev || !of_match_node(matches, bus))
        return 0;
    struct device_node *child;
    int rc = 0;
    for_each_child_of_node(bus, child) {
        rc = of_platform_bus_create(child, matches, &dev->dev, strict);
        if (rc) {
            of_node_put(child);
            break;
        }
    }
    of_node_set_flag(bus, OF_POPULATED_BUS);
    return rc;
}

}  // namespace

namespace sim {

int of_populate_init() {
    if (!of::of_root)
        return -ENODEV;
    struct device_node *node;
    // Only some /reserved-memory nodes get devices, not every one with a compatible.
    for (node = of_find_all_nodes(nullptr); node; node = of_find_all_nodes(node))
        if (of_match_node(reserved_mem_matches, node))
            of_platform_device_create(node, nullptr, nullptr);
    node = of_find_node_by_path("/firmware");
    if (node) {
        of_platform_populate(node, nullptr, nullptr, nullptr);
        of_node_put(node);
    }
    return of_platform_default_populate(nullptr, nullptr, nullptr);
}

namespace of {

// Children before parents: a bus's devices go before the bus's own.
void depopulate(struct device_node *np) {
    for (struct device_node *c = np->child; c; c = c->sibling)
        depopulate(c);
    struct platform_device *pdev = of_find_device_by_node(np);
    if (!pdev)
        return;
    of_platform_device_destroy(&pdev->dev, nullptr);
    put_device(&pdev->dev);
}

void of_depopulate_all() {
    if (of_root)
        depopulate(of_root);
}

}  // namespace of
}  // namespace sim

extern "C" {

const struct of_device_id of_default_bus_match_table[] = {
    {"", "", "simple-bus", nullptr},
    {"", "", "simple-mfd", nullptr},
    {"", "", "isa", nullptr},
    {},
};

int of_platform_populate(struct device_node *root, const struct of_device_id *matches, const void *,
                         struct device *parent) {
    root = root ? of_node_get(root) : of_find_node_by_path("/");
    if (!root)
        return -EINVAL;
    struct device_node *child;
    int rc = 0;
    for_each_child_of_node(root, child) {
        rc = of_platform_bus_create(child, matches, parent, true);
        if (rc) {
            of_node_put(child);
            break;
        }
    }
    of_node_set_flag(root, OF_POPULATED_BUS);
    of_node_put(root);
    return rc;
}

int of_platform_default_populate(struct device_node *root, const void *lookup,
                                 struct device *parent) {
    return of_platform_populate(root, of_default_bus_match_table, lookup, parent);
}

struct platform_device *of_platform_device_create(struct device_node *np, const char *bus_id,
                                                  struct device *parent) {
    return of_platform_device_create_pdata(np, bus_id, nullptr, parent);
}

int of_platform_device_destroy(struct device *dev, void *) {
    // Devices not made from the tree are not touched.
    if (!dev->of_node || !of_node_check_flag(dev->of_node, OF_POPULATED))
        return 0;
    // A bus's children go first.
    if (of_node_check_flag(dev->of_node, OF_POPULATED_BUS))
        device_for_each_child(dev, nullptr, of_platform_device_destroy);
    {
        std::lock_guard<std::mutex> g(populated_lock());
        if (dev->of_node->data == to_platform_device(dev))
            dev->of_node->data = nullptr;
    }
    of_node_clear_flag(dev->of_node, OF_POPULATED);
    of_node_clear_flag(dev->of_node, OF_POPULATED_BUS);
    if (dev->bus == &platform_bus_type)
        platform_device_unregister(to_platform_device(dev));
    return 0;
}

void of_platform_depopulate(struct device *parent) {
    if (parent && parent->of_node && of_node_check_flag(parent->of_node, OF_POPULATED_BUS)) {
        device_for_each_child(parent, nullptr, of_platform_device_destroy);
        of_node_clear_flag(parent->of_node, OF_POPULATED_BUS);
    }
}

struct platform_device *of_find_device_by_node(struct device_node *np) {
    if (!np)
        return nullptr;
    std::lock_guard<std::mutex> g(populated_lock());
    auto *pdev = static_cast<struct platform_device *>(np->data);
    if (pdev)
        get_device(&pdev->dev);
    return pdev;
}

}  // extern "C"
