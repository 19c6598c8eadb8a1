// The early scan of a blob at boot: what the kernel takes from the tree (model, CPUs, RAM, zram
// disksize) and the error texts for a tree it cannot boot, over blobs built here with libfdt.
#include "phonesim/devicetree.h"
#include "simkernel/drivers/of/of_host.h"
#include "simkernel/kernel/boot.h"

#include <gtest/gtest.h>

extern "C" {
#include <libfdt.h>
}

#include <functional>
#include <string>
#include <vector>

namespace {

struct TreeShape {
    const char *model = "test phone";
    const char *compatible = "test,phone";
    int ncpus = 2;
    bool cpus_node = true;
    bool memory = true;
    std::vector<uint32_t> reg = {0x0, 0x80000000, 0x0, 0x40000000};  // 1 GiB at 2 GiB
    int zram_len = 8;                                                // 0: no /zram
};

std::string build(const TreeShape &s) {
    std::vector<char> buf(8192);
    void *fdt = buf.data();
    EXPECT_EQ(fdt_create(fdt, (int)buf.size()), 0);
    fdt_finish_reservemap(fdt);
    fdt_begin_node(fdt, "");
    if (s.model)
        fdt_property_string(fdt, "model", s.model);
    if (s.compatible)
        fdt_property_string(fdt, "compatible", s.compatible);
    fdt_property_u32(fdt, "#address-cells", 2);
    fdt_property_u32(fdt, "#size-cells", 2);
    if (s.cpus_node) {
        fdt_begin_node(fdt, "cpus");
        for (int i = 0; i < s.ncpus; i++) {
            std::string name = "cpu@" + std::to_string(i);
            fdt_begin_node(fdt, name.c_str());
            fdt_property_string(fdt, "device_type", "cpu");
            fdt_end_node(fdt);
        }
        // Not a CPU: does not count.
        fdt_begin_node(fdt, "idle-states");
        fdt_end_node(fdt);
        fdt_end_node(fdt);
    }
    if (s.memory) {
        fdt_begin_node(fdt, "memory@80000000");
        fdt_property_string(fdt, "device_type", "memory");
        std::vector<uint32_t> be;
        for (uint32_t v : s.reg)
            be.push_back(cpu_to_fdt32(v));
        fdt_property(fdt, "reg", be.data(), (int)(be.size() * 4));
        fdt_end_node(fdt);
    }
    if (s.zram_len) {
        fdt_begin_node(fdt, "zram");
        uint32_t size[2] = {cpu_to_fdt32(0), cpu_to_fdt32(0x20000000)};  // 512 MiB
        fdt_property(fdt, "disksize", size, s.zram_len);
        fdt_end_node(fdt);
    }
    fdt_end_node(fdt);
    EXPECT_EQ(fdt_finish(fdt), 0);
    return std::string(buf.data(), fdt_totalsize(fdt));
}

TEST(OfBootScan, DefaultPhone) {
    sim::BootParams p;
    ASSERT_EQ(sim::of_scan_boot_params(phonesim::default_dtb(), &p), "");
    EXPECT_EQ(p.model, "phonesim reference phone");
    EXPECT_EQ(p.cpus, 8u);
    EXPECT_EQ(p.ram_bytes, 8ULL << 30);
    EXPECT_EQ(p.swap_bytes, 4ULL << 30);

    // The running kernel booted from it.
    const sim::BootParams &booted = sim::kernel_boot_params();
    EXPECT_EQ(booted.model, "phonesim reference phone");
    EXPECT_EQ(booted.cpus, 8u);
    EXPECT_EQ(booted.ram_bytes, 8ULL << 30);
    EXPECT_EQ(booted.swap_bytes, 4ULL << 30);
}

TEST(OfBootScan, ReadsModelCpusMemoryAndZram) {
    TreeShape s;
    s.ncpus = 3;
    s.reg = {0x0, 0x80000000, 0x0, 0x40000000, 0x1, 0x0, 0x0, 0x20000000};
    sim::BootParams p;
    ASSERT_EQ(sim::of_scan_boot_params(build(s), &p), "");
    EXPECT_EQ(p.model, "test phone");
    EXPECT_EQ(p.cpus, 3u);
    EXPECT_EQ(p.ram_bytes, (1ULL << 30) + (512ULL << 20));
    EXPECT_EQ(p.swap_bytes, 512ULL << 20);

    // No model: the first compatible names the machine; no /zram: no swap.
    s.model = nullptr;
    s.zram_len = 0;
    ASSERT_EQ(sim::of_scan_boot_params(build(s), &p), "");
    EXPECT_EQ(p.model, "test,phone");
    EXPECT_EQ(p.swap_bytes, 0u);
}

TEST(OfBootScan, TreesItCannotBoot) {
    struct Case {
        const char *what;
        std::function<void(TreeShape &)> change;
        const char *error;
    } const cases[] = {
        {"no /cpus", [](TreeShape &s) { s.cpus_node = false; }, "no /cpus node"},
        {"no CPU", [](TreeShape &s) { s.ncpus = 0; }, "the phone needs 1 to 8 CPUs under /cpus"},
        {"nine CPUs", [](TreeShape &s) { s.ncpus = 9; }, "the phone needs 1 to 8 CPUs under /cpus"},
        {"no memory", [](TreeShape &s) { s.memory = false; }, "no memory node"},
        {"reg of 3 cells",
         [](TreeShape &s) {
             s.reg = {0, 0x80000000, 0};
         },
         "bad reg in a memory node"},
        {"4-byte disksize", [](TreeShape &s) { s.zram_len = 4; }, "bad disksize in /zram"},
    };
    for (const Case &c : cases) {
        TreeShape s;
        c.change(s);
        sim::BootParams p;
        p.cpus = 5;
        EXPECT_EQ(sim::of_scan_boot_params(build(s), &p), c.error) << c.what;
        EXPECT_EQ(p.cpus, 5u) << "changed on failure: " << c.what;
    }
}

TEST(OfBootScan, NotABlob) {
    sim::BootParams p;
    EXPECT_EQ(sim::of_scan_boot_params("", &p), "not a flattened device tree");
    EXPECT_EQ(sim::of_scan_boot_params("# a shell script, not a device tree\n", &p),
              "not a flattened device tree");
    std::string blob(phonesim::default_dtb());
    EXPECT_EQ(sim::of_scan_boot_params(blob.substr(0, blob.size() / 2), &p),
              "not a flattened device tree");
    // A corrupt structure block is caught before any node is made.
    std::string bad = build(TreeShape{});
    uint32_t off = fdt_off_dt_struct(bad.data());
    bad[off + 3] = 0x7f;  // the first token
    EXPECT_EQ(sim::of_scan_boot_params(bad, &p), "not a flattened device tree");
}

}  // namespace
