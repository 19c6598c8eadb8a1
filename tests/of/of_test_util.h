// Shared by the device-tree tests: the test data grafted once under the live root (as the
// kernel's OF self-test adds its testcase-data), and node handles that drop their reference.
#pragma once

#include "simkernel/drivers/of/of_host.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include <platform/of.h>

namespace oftest {

inline std::string read_host_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Grafts tests/of/of_test.dts's /testcase-data once per test program.
inline void attach_test_data() {
    static bool attached = false;
    if (attached)
        return;
    std::string blob = read_host_file(OF_TEST_DTB);
    ASSERT_FALSE(blob.empty()) << OF_TEST_DTB;
    ASSERT_EQ(sim::of_attach_fdt(blob), "");
    attached = true;
}

// A node found by path, put when the test is done with it.
class Node {
  public:
    explicit Node(const char *path) : np_(of_find_node_by_path(path)) {}
    ~Node() { of_node_put(np_); }
    Node(const Node &) = delete;
    Node &operator=(const Node &) = delete;
    struct device_node *get() const {
        return np_;
    }
    operator struct device_node *() const { return np_; }

  private:
    struct device_node *np_;
};

// The node's reference count, as its kobject keeps it.
inline int refs(const struct device_node *np) {
    return __atomic_load_n(&np->kobj.kref.refcount, __ATOMIC_ACQUIRE);
}

}  // namespace oftest
