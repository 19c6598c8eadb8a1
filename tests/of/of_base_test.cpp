// The of_* API over the test data grafted under the live root: walks and look-ups with their
// references, property reads and their error codes, compatible scores and table matching, and
// the tree's view in /sys/firmware/devicetree and /proc/device-tree.
#include "tests/of/of_test_util.h"
#include "tests/support/node_files.h"

#include "simkernel/kernel/printk_log.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include <platform/errno.h>
#include <platform/mod_devicetable.h>
#include <platform/of.h>
#include <platform/of_device.h>

using oftest::Node;
using oftest::refs;

namespace {

class OfTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { oftest::attach_test_data(); }
};

std::vector<std::string> child_names(const struct device_node *parent, bool available) {
    std::vector<std::string> names;
    struct device_node *child;
    if (available) {
        for_each_available_child_of_node(parent, child) names.push_back(child->full_name);
    } else {
        for_each_child_of_node(parent, child) names.push_back(child->full_name);
    }
    return names;
}

TEST_F(OfTest, FindNodeByPathStepsDownFullNames) {
    Node root("/");
    ASSERT_TRUE(root.get());
    EXPECT_STREQ(root.get()->full_name, "/");
    EXPECT_EQ(root.get()->parent, nullptr);

    Node dev("/testcase-data/bus/device@100");
    ASSERT_TRUE(dev.get());
    EXPECT_STREQ(dev.get()->full_name, "device@100");
    EXPECT_STREQ(dev.get()->name, "device");
    EXPECT_EQ(sim::of_node_path(dev), "/testcase-data/bus/device@100");

    // A component matches the whole full name, unit address included.
    EXPECT_EQ(Node("/testcase-data/bus/device").get(), nullptr);
    EXPECT_EQ(Node("/testcase-data/nothing").get(), nullptr);
    EXPECT_EQ(Node("testcase-data").get(), nullptr);  // no /aliases in this tree
    // Options after ':' are not part of the path.
    Node props("/testcase-data/props:opts");
    ASSERT_TRUE(props.get());
    EXPECT_STREQ(props.get()->full_name, "props");

    // The default phone's nodes are there too.
    Node cpu("/cpus/cpu@7");
    ASSERT_TRUE(cpu.get());
    EXPECT_GT(of_device_is_compatible(cpu, "arm,cortex-x1"), 0);
}

TEST_F(OfTest, LookupsTakeAReferenceAndWalksMoveIt) {
    Node bus("/testcase-data/bus");
    int base = refs(bus);
    struct device_node *again = of_find_node_by_path("/testcase-data/bus");
    EXPECT_EQ(again, bus.get());
    EXPECT_EQ(refs(bus), base + 1);
    of_node_put(again);
    EXPECT_EQ(refs(bus), base);

    // A walk holds one reference at a time and none once it is done.
    Node data("/testcase-data");
    struct device_node *child;
    for_each_child_of_node(data.get(), child) {
        if (child == bus.get()) {
            EXPECT_EQ(refs(bus), base + 1);
        }
    }
    EXPECT_EQ(refs(bus), base);

    struct device_node *parent = of_get_parent(bus);
    EXPECT_EQ(parent, data.get());
    of_node_put(parent);
    EXPECT_EQ(of_get_parent(nullptr), nullptr);
}

TEST_F(OfTest, ChildrenComeInBlobOrder) {
    Node data("/testcase-data");
    EXPECT_EQ(
        child_names(data, false),
        (std::vector<std::string>{"props", "compat@10", "disabled-node", "ok-node", "bad-status",
                                  "bus", "unmapped-bus", "not-a-bus", "no-compat", "clash",
                                  "phandle-user", "target", "target2"}));
    // "disabled" and an unterminated "okay" are not available; "ok" and no status are.
    EXPECT_EQ(child_names(data, true),
              (std::vector<std::string>{"props", "compat@10", "ok-node", "bus", "unmapped-bus",
                                        "not-a-bus", "no-compat", "clash", "phandle-user", "target",
                                        "target2"}));
    EXPECT_EQ(of_get_child_count(data), 13);
    EXPECT_EQ(of_get_available_child_count(data), 11);

    struct device_node *c = of_get_child_by_name(data, "compat");
    ASSERT_TRUE(c);
    EXPECT_STREQ(c->full_name, "compat@10");
    of_node_put(c);
    EXPECT_EQ(of_get_child_by_name(data, "compat@1"), nullptr);

    c = of_get_compatible_child(data, "simple-bus");
    ASSERT_TRUE(c);
    EXPECT_STREQ(c->full_name, "bus");
    of_node_put(c);
}

TEST_F(OfTest, CompatibleSearchWalksDepthFirst) {
    std::vector<std::string> found;
    struct device_node *np;
    for_each_compatible_node(np, nullptr, "phonesim,of-test-dev")
        found.push_back(sim::of_node_path(np));
    EXPECT_EQ(found, (std::vector<std::string>{
                         "/testcase-data/disabled-node", "/testcase-data/ok-node",
                         "/testcase-data/bad-status", "/testcase-data/bus/device@100",
                         "/testcase-data/bus/noreg", "/testcase-data/bus/gone@200",
                         "/testcase-data/unmapped-bus/dev@5", "/testcase-data/not-a-bus",
                         "/testcase-data/not-a-bus/inner", "/testcase-data/no-compat/inner"}));
    // With a type only nodes of that device_type count.
    np = of_find_compatible_node(nullptr, "widget", "vendor,second");
    ASSERT_TRUE(np);
    EXPECT_STREQ(np->full_name, "compat@10");
    of_node_put(np);
    EXPECT_EQ(of_find_compatible_node(nullptr, "gadget", "vendor,second"), nullptr);

    np = of_find_node_by_name(nullptr, "target2");
    ASSERT_TRUE(np);
    EXPECT_EQ(sim::of_node_path(np), "/testcase-data/target2");
    of_node_put(np);
}

TEST_F(OfTest, PhandlesLeadToTheirNodes) {
    Node user("/testcase-data/phandle-user");
    Node target("/testcase-data/target"), target2("/testcase-data/target2");
    EXPECT_EQ(target.get()->phandle, 0x100u);
    EXPECT_EQ(target2.get()->phandle, 0x101u);

    struct device_node *np = of_parse_phandle(user, "one", 0);
    EXPECT_EQ(np, target.get());
    of_node_put(np);
    np = of_parse_phandle(user, "two", 1);
    EXPECT_EQ(np, target2.get());
    of_node_put(np);
    EXPECT_EQ(of_parse_phandle(user, "two", 2), nullptr);
    EXPECT_EQ(of_parse_phandle(user, "two", -1), nullptr);
    EXPECT_EQ(of_parse_phandle(user, "three", 0), nullptr);
    EXPECT_EQ(of_find_node_by_phandle(0), nullptr);

    // The default phone's fuel gauge points at its battery.
    Node fg("/fuel-gauge@55");
    np = of_parse_phandle(fg, "monitored-battery", 0);
    ASSERT_TRUE(np);
    EXPECT_STREQ(np->full_name, "battery");
    of_node_put(np);
}

TEST_F(OfTest, GraftRefusesClashingPhandlesAndBadBlobs) {
    Node data("/testcase-data");
    int children = of_get_child_count(Node("/"));
    EXPECT_EQ(sim::of_attach_fdt(oftest::read_host_file(OF_TEST_DTB)),
              "phandle 256 is in the tree already");
    EXPECT_EQ(sim::of_attach_fdt("not a blob"), "not a flattened device tree");
    EXPECT_EQ(of_get_child_count(Node("/")), children);
}

TEST_F(OfTest, U32ReadsAndTheirErrors) {
    Node p("/testcase-data/props");
    u32 v = 0xdead;
    EXPECT_EQ(of_property_read_u32(p, "u32-one", &v), 0);
    EXPECT_EQ(v, 0x12345678u);
    EXPECT_EQ(of_property_read_u32_index(p, "u32-three", 2, &v), 0);
    EXPECT_EQ(v, 3u);

    struct {
        const char *prop;
        u32 index;
        int err;
    } const bad[] = {
        {"missing", 0, -EINVAL},
        {"u32-three", 3, -EOVERFLOW},
        {"empty", 0, -EOVERFLOW},
        {"bytes-3", 0, -EOVERFLOW},
        {"u32-three", 0xffffffff, -EOVERFLOW},  // index + 1 must not wrap to 0
        {"u32-three", 0x3fffffff, -EOVERFLOW},
    };
    for (const auto &c : bad) {
        v = 0xdead;
        EXPECT_EQ(of_property_read_u32_index(p, c.prop, c.index, &v), c.err)
            << c.prop << "[" << c.index << "]";
        EXPECT_EQ(v, 0xdeadu) << "written on failure: " << c.prop;
    }
}

TEST_F(OfTest, U32ArrayAndU64Reads) {
    Node p("/testcase-data/props");
    u32 vals[5] = {};
    EXPECT_EQ(of_property_read_variable_u32_array(p, "u32-three", vals, 1, 5), 3);
    EXPECT_EQ(vals[0], 1u);
    EXPECT_EQ(vals[1], 2u);
    EXPECT_EQ(vals[2], 3u);
    EXPECT_EQ(vals[3], 0u);
    EXPECT_EQ(of_property_read_variable_u32_array(p, "u32-three", vals, 4, 5), -EOVERFLOW);
    EXPECT_EQ(of_property_read_variable_u32_array(p, "u32-three", vals, 1, 2), -EOVERFLOW);
    // Without a maximum exactly sz_min values are read.
    u32 two[2] = {};
    EXPECT_EQ(of_property_read_variable_u32_array(p, "u32-three", two, 2, 0), 2);
    EXPECT_EQ(two[1], 2u);
    EXPECT_EQ(of_property_read_u32_array(p, "u32-three", vals, 3), 0);
    EXPECT_EQ(of_property_read_u32_array(p, "missing", vals, 3), -EINVAL);

    u64 w = 7;
    EXPECT_EQ(of_property_read_u64(p, "u64", &w), 0);
    EXPECT_EQ(w, 0x100000002ull);
    w = 7;
    EXPECT_EQ(of_property_read_u64(p, "u32-one", &w), -EOVERFLOW);
    EXPECT_EQ(of_property_read_u64(p, "missing", &w), -EINVAL);
    EXPECT_EQ(w, 7u);

    EXPECT_EQ(of_property_count_u32_elems(p, "u32-three"), 3);
    EXPECT_EQ(of_property_count_elems_of_size(p, "empty", 4), 0);
    EXPECT_EQ(of_property_count_elems_of_size(p, "missing", 4), -EINVAL);
    uint64_t mark = sim::log_next_seq();
    EXPECT_EQ(of_property_count_elems_of_size(p, "bytes-3", 4), -EINVAL);
    std::vector<std::string> lines = sim::log_texts_since(mark);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "OF: size of bytes-3 in node /testcase-data/props is not a multiple of 4");

    EXPECT_TRUE(of_property_read_bool(p, "empty"));
    EXPECT_FALSE(of_property_read_bool(p, "missing"));
    int len = -1;
    EXPECT_NE(of_get_property(p, "bytes-3", &len), nullptr);
    EXPECT_EQ(len, 3);
    len = -1;
    EXPECT_EQ(of_get_property(p, "missing", &len), nullptr);
    EXPECT_EQ(len, -1);
}

TEST_F(OfTest, StringReadsAndTheirErrors) {
    Node p("/testcase-data/props");
    const char *s = "untouched";
    EXPECT_EQ(of_property_read_string(p, "str", &s), 0);
    EXPECT_STREQ(s, "hello");
    s = "untouched";
    EXPECT_EQ(of_property_read_string(p, "unterminated", &s), -EILSEQ);
    EXPECT_EQ(of_property_read_string(p, "empty", &s), -EILSEQ);
    EXPECT_EQ(of_property_read_string(p, "missing", &s), -EINVAL);
    EXPECT_STREQ(s, "untouched");

    EXPECT_EQ(of_property_read_string_index(p, "strings", 1, &s), 0);
    EXPECT_STREQ(s, "beta");
    EXPECT_EQ(of_property_read_string_index(p, "strings", 2, &s), 0);
    EXPECT_STREQ(s, "gamma");
    s = "untouched";
    EXPECT_EQ(of_property_read_string_index(p, "strings", 3, &s), -ENODATA);
    EXPECT_EQ(of_property_read_string_index(p, "empty", 0, &s), -ENODATA);
    EXPECT_EQ(of_property_read_string_index(p, "strings", -1, &s), -EINVAL);
    EXPECT_EQ(of_property_read_string_index(p, "missing", 0, &s), -EINVAL);
    EXPECT_STREQ(s, "untouched");
    // A list whose last string lacks its NUL: what comes before it is still readable.
    EXPECT_EQ(of_property_read_string_index(p, "bad-list", 0, &s), 0);
    EXPECT_STREQ(s, "one");
    EXPECT_EQ(of_property_read_string_index(p, "bad-list", 1, &s), -EILSEQ);

    EXPECT_EQ(of_property_count_strings(p, "strings"), 3);
    EXPECT_EQ(of_property_count_strings(p, "empty"), -ENODATA);
    EXPECT_EQ(of_property_count_strings(p, "bad-list"), -EILSEQ);
    EXPECT_EQ(of_property_count_strings(p, "missing"), -EINVAL);
    EXPECT_EQ(of_property_match_string(p, "strings", "gamma"), 2);
    EXPECT_EQ(of_property_match_string(p, "strings", "delta"), -ENODATA);
    EXPECT_EQ(of_property_match_string(p, "bad-list", "tw"), -EILSEQ);

    std::vector<std::string> all;
    struct property *prop;
    const char *it;
    of_property_for_each_string(p.get(), "bad-list", prop, it) all.push_back(it);
    EXPECT_EQ(all, std::vector<std::string>{"one"});
}

TEST_F(OfTest, NodesGetANamePropertyFromTheirUnitName) {
    Node c("/testcase-data/compat@10");
    int len = 0;
    const char *name = static_cast<const char *>(of_get_property(c, "name", &len));
    ASSERT_TRUE(name);
    EXPECT_STREQ(name, "compat");
    EXPECT_EQ(len, 7);
    EXPECT_TRUE(of_node_name_eq(c, "compat"));
    EXPECT_FALSE(of_node_name_eq(c, "compat@10"));
    EXPECT_FALSE(of_node_name_eq(c, "comp"));
}

TEST_F(OfTest, CompatibleScoresFavourEarlierEntries) {
    Node c("/testcase-data/compat@10");
    const int top = INT_MAX / 2;
    EXPECT_EQ(of_device_is_compatible(c, "vendor,first"), top);
    EXPECT_EQ(of_device_is_compatible(c, "vendor,second"), top - 4);
    EXPECT_EQ(of_device_is_compatible(c, "VENDOR,Second"), top - 4);
    EXPECT_EQ(of_device_is_compatible(c, "Generic Thing"), top - 8);
    EXPECT_EQ(of_device_is_compatible(c, "vendor,firs"), 0);
    EXPECT_EQ(of_device_is_compatible(c, "vendor"), 0);
    EXPECT_EQ(of_device_is_compatible(nullptr, "vendor,first"), 0);

    EXPECT_FALSE(of_device_is_available(Node("/testcase-data/disabled-node")));
    EXPECT_FALSE(of_device_is_available(Node("/testcase-data/bad-status")));
    EXPECT_TRUE(of_device_is_available(Node("/testcase-data/ok-node")));
    EXPECT_TRUE(of_device_is_available(Node("/testcase-data/props")));
    EXPECT_FALSE(of_device_is_available(nullptr));
}

TEST_F(OfTest, MatchNodePicksTheBestScore) {
    Node c("/testcase-data/compat@10");
    static const struct of_device_id by_compat[] = {
        {"", "", "vendor,second", nullptr},
        {"", "", "vendor,first", nullptr},
        {},
    };
    EXPECT_EQ(of_match_node(by_compat, c), &by_compat[1]);

    // A matching type adds 2, a matching name 1; a mismatch rules the entry out.
    static const struct of_device_id by_type[] = {
        {"", "", "vendor,second", nullptr},
        {"", "widget", "vendor,second", nullptr},
        {"", "gadget", "vendor,first", nullptr},
        {},
    };
    EXPECT_EQ(of_match_node(by_type, c), &by_type[1]);
    static const struct of_device_id by_name[] = {
        {"compat", "", "", nullptr},
        {"compat", "widget", "", nullptr},
        {"other", "widget", "", nullptr},
        {},
    };
    EXPECT_EQ(of_match_node(by_name, c), &by_name[1]);
    static const struct of_device_id none[] = {
        {"", "", "vendor,third", nullptr},
        {},
    };
    EXPECT_EQ(of_match_node(none, c), nullptr);
    EXPECT_EQ(of_match_node(nullptr, c), nullptr);
}

TEST_F(OfTest, SysfsShowsNodesAndRawProperties) {
    const std::string base = "/sys/firmware/devicetree/base/testcase-data";
    EXPECT_EQ(simtest::mode(base), 0755u);
    EXPECT_EQ(simtest::mode(base + "/props/str"), 0444u);
    EXPECT_EQ(simtest::read(base + "/props/str"), std::string("hello\0", 6));
    EXPECT_EQ(simtest::read(base + "/props/u32-three"),
              std::string("\0\0\0\1\0\0\0\2\0\0\0\3", 12));
    EXPECT_EQ(simtest::read(base + "/props/empty"), "");
    sim::vfs::Stat st;
    ASSERT_EQ(sim::vfs::stat(base + "/props/u32-three", &st), 0);
    EXPECT_EQ(st.size, 12);

    // Secrets: owner-only, and no size given away.
    EXPECT_EQ(simtest::mode(base + "/props/security-password"), 0400u);
    ASSERT_EQ(sim::vfs::stat(base + "/props/security-password", &st), 0);
    EXPECT_EQ(st.size, 0);

    // Properties in blob order, then the made-up name; child directories after them.
    std::vector<sim::vfs::DirEntry> entries;
    ASSERT_EQ(sim::vfs::readdir(base + "/compat@10", &entries), 0);
    std::vector<std::string> names;
    for (const auto &e : entries)
        names.push_back(e.name);
    EXPECT_EQ(names, (std::vector<std::string>{"compatible", "device_type", "reg", "name"}));

    // Read-only, even for root.
    EXPECT_EQ(simtest::write(base + "/props/str", "x"), -EACCES);
}

TEST_F(OfTest, NameClashGetsASuffix) {
    const std::string clash = "/sys/firmware/devicetree/base/testcase-data/clash";
    EXPECT_EQ(simtest::read(clash + "/twin"), std::string("\0\0\0\1", 4));
    EXPECT_EQ(simtest::mode(clash + "/twin#1"), 0755u);
    EXPECT_EQ(simtest::read(clash + "/twin#1/name"), std::string("twin\0", 5));
    bool warned = false;
    for (const std::string &l : sim::log_texts_since(0))
        warned |= l == "OF: Duplicate name in clash, renamed to \"twin#1\"";
    EXPECT_TRUE(warned);
}

TEST_F(OfTest, ProcDeviceTreeLinksToTheSysfsTree) {
    std::string target;
    ASSERT_GE(sim::vfs::readlink("/proc/device-tree", &target), 0);
    EXPECT_EQ(target, "/sys/firmware/devicetree/base");
    EXPECT_EQ(simtest::read("/proc/device-tree/model"),
              std::string("phonesim reference phone\0", 25));
    EXPECT_EQ(simtest::read("/proc/device-tree/charger@6b/charger-name"),
              std::string("primary_chg\0", 12));
    EXPECT_EQ(simtest::read("/proc/device-tree/charger@6b/reg"),
              std::string("\0\0\0\0\0\0\0\x6b\0\0\0\0\0\0\0\1", 16));
    EXPECT_TRUE(simtest::exists("/proc/device-tree/cpus/cpu@0/device_type"));
    EXPECT_EQ(simtest::read("/proc/device-tree/name"), std::string("\0", 1));
}

}  // namespace
