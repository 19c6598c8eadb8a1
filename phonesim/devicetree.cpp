#include "phonesim/devicetree.h"

extern "C" {
#include <libfdt.h>
}

#include <cstring>

extern "C" const char phonesim_default_dtb_start[];
extern "C" const char phonesim_default_dtb_end[];

namespace phonesim {

std::string_view default_dtb() {
    return {phonesim_default_dtb_start,
            static_cast<size_t>(phonesim_default_dtb_end - phonesim_default_dtb_start)};
}

namespace {

int cells(const void *fdt, int node, const char *name, int fallback) {
    int len = 0;
    const auto *v = static_cast<const fdt32_t *>(fdt_getprop(fdt, node, name, &len));
    return v && len == 4 ? static_cast<int>(fdt32_to_cpu(*v)) : fallback;
}

uint64_t read_cells(const fdt32_t *p, int n) {
    uint64_t v = 0;
    for (int i = 0; i < n; i++)
        v = (v << 32) | fdt32_to_cpu(p[i]);
    return v;
}

bool is_device_type(const void *fdt, int node, const char *type) {
    int len = 0;
    const char *v = static_cast<const char *>(fdt_getprop(fdt, node, "device_type", &len));
    return v && std::strcmp(v, type) == 0;
}

}  // namespace

std::string describe_phone(std::vector<char> dtb, PhoneDescription *out) {
    const void *fdt = dtb.data();
    if (dtb.size() < sizeof(struct fdt_header) || fdt_check_header(fdt) != 0 ||
        fdt_totalsize(fdt) > dtb.size())
        return "not a flattened device tree";

    sim::BootParams params;
    int len = 0;
    if (const char *model = static_cast<const char *>(fdt_getprop(fdt, 0, "model", &len)))
        params.model = model;

    int cpus = fdt_path_offset(fdt, "/cpus");
    if (cpus < 0)
        return "no /cpus node";
    unsigned int ncpus = 0;
    int child;
    fdt_for_each_subnode(child, fdt, cpus) {
        if (is_device_type(fdt, child, "cpu"))
            ncpus++;
    }
    if (ncpus == 0 || ncpus > 8)
        return "the phone needs 1 to 8 CPUs under /cpus";
    params.cpus = ncpus;

    int addr_cells = cells(fdt, 0, "#address-cells", 2);
    int size_cells = cells(fdt, 0, "#size-cells", 1);
    uint64_t ram = 0;
    fdt_for_each_subnode(child, fdt, 0) {
        if (!is_device_type(fdt, child, "memory"))
            continue;
        const auto *reg = static_cast<const fdt32_t *>(fdt_getprop(fdt, child, "reg", &len));
        int entry = (addr_cells + size_cells) * 4;
        if (!reg || len % entry)
            return "bad reg in a memory node";
        for (int off = 0; off < len; off += entry)
            ram += read_cells(reg + off / 4 + addr_cells, size_cells);
    }
    if (ram == 0)
        return "no memory node";
    params.ram_bytes = ram;

    // The zram swap device: /zram with a 64-bit "disksize" in bytes; none without the node.
    params.swap_bytes = 0;
    if (int zram = fdt_path_offset(fdt, "/zram"); zram >= 0) {
        const auto *size = static_cast<const fdt32_t *>(fdt_getprop(fdt, zram, "disksize", &len));
        if (!size || len != 8)
            return "bad disksize in /zram";
        params.swap_bytes = read_cells(size, 2);
    }

    out->params = params;
    out->dtb = std::move(dtb);
    return "";
}

}  // namespace phonesim
