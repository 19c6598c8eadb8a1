// The module loader with the test-only modules: linking, licences, uses, init failure, leftovers.
#include "simkernel/kernel/module_loader.h"
#include "simkernel/fs/vfs.h"
#include "simkernel/kernel/printk_log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

// After the standard headers: platform/ defines attribute macros libstdc++ also uses.
#include "simkernel/kernel/task.h"

#include <platform/module.h>

namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

class ModuleLoaderTest : public ::testing::Test {
  protected:
    void SetUp() override { mark_ = sim::log_next_seq(); }

    void TearDown() override {
        for (const char *name : {"modtest_user", "modtest_prop", "modtest_dup", "modtest"})
            if (sim::module_find(name)) {
                EXPECT_EQ(sim::module_unload(name), 0) << name;
            }
    }

    std::vector<std::string> log() const { return sim::log_texts_since(mark_); }
    int log_count(const std::string &text) const {
        auto l = log();
        return int(std::count_if(l.begin(), l.end(), [&](const std::string &s) {
            return s.find(text) != std::string::npos;
        }));
    }
    static bool exists(const std::string &path) {
        sim::vfs::Stat st;
        return sim::vfs::stat(path, &st) == 0;
    }
    static const sim::ModuleInfo *info(const std::vector<sim::ModuleInfo> &l, const char *name) {
        auto it = std::find_if(l.begin(), l.end(), [&](const auto &m) { return m.name == name; });
        return it == l.end() ? nullptr : &*it;
    }
    static int call_counter() {
        auto *inc = reinterpret_cast<int (*)()>(sim::module_symbol_get("modtest_counter_inc"));
        if (!inc)
            return -1;
        int v = inc();
        sim::module_symbol_put("modtest_counter_inc");
        return v;
    }

    uint64_t mark_ = 0;
};

TEST_F(ModuleLoaderTest, Load_FreshModuleStateOnReload) {
    ASSERT_EQ(sim::module_load("modtest"), 0);
    EXPECT_EQ(call_counter(), 1);
    EXPECT_EQ(call_counter(), 2);
    ASSERT_EQ(sim::module_unload("modtest"), 0);
    ASSERT_EQ(sim::module_load("modtest"), 0);
    EXPECT_EQ(call_counter(), 1);
}

TEST_F(ModuleLoaderTest, Load_CreatesSysModuleDirectoryUntilUnload) {
    ASSERT_EQ(sim::module_load("modtest.ko"), 0);
    sim::vfs::Stat st;
    ASSERT_EQ(sim::vfs::stat("/sys/module/modtest", &st), 0);
    EXPECT_EQ(st.mode & 0170000, 0040000u);
    EXPECT_TRUE(exists("/sys/module/modtest/modtest_state"));
    ASSERT_EQ(sim::module_unload("modtest"), 0);
    EXPECT_FALSE(exists("/sys/module/modtest"));
}

TEST_F(ModuleLoaderTest, Load_ProprietaryImporterOfGplOnlyExportRefused) {
    ASSERT_EQ(sim::module_load("modtest"), 0);
    EXPECT_EQ(sim::module_load("modtest_prop"), -ENOENT);
    EXPECT_EQ(sim::module_load("modtest_prop"), -ENOENT);
    EXPECT_EQ(log_count("modtest_prop: Unknown symbol modtest_gpl_value (err -2)"), 2);
    // The taint is reported once per boot, whichever proprietary module came first.
    EXPECT_LE(log_count("module license 'Proprietary' taints kernel."), 1);
    EXPECT_TRUE(sim::kernel_tainted_proprietary());
    EXPECT_EQ(sim::module_find("modtest_prop"), nullptr);
    EXPECT_FALSE(exists("/sys/module/modtest_prop"));
    auto l = sim::module_list();
    ASSERT_NE(info(l, "modtest"), nullptr);
    EXPECT_TRUE(info(l, "modtest")->used_by.empty());
    EXPECT_EQ(info(l, "modtest")->refcount, 0);
}

TEST_F(ModuleLoaderTest, Load_UnknownSymbolsEachReported) {
    EXPECT_EQ(sim::module_load("modtest_user"), -ENOENT);
    EXPECT_EQ(log_count("modtest_user: Unknown symbol modtest_counter_inc (err -2)"), 1);
    EXPECT_EQ(log_count("modtest_user: Unknown symbol modtest_gpl_value (err -2)"), 1);
    EXPECT_EQ(sim::module_find("modtest_user"), nullptr);
    EXPECT_FALSE(exists("/sys/module/modtest_user"));
}

TEST_F(ModuleLoaderTest, Unload_ExporterInUseUntilImporterGoes) {
    ASSERT_EQ(sim::module_load("modtest"), 0);
    ASSERT_EQ(sim::module_load("modtest_user"), 0);
    EXPECT_EQ(log_count("modtest_user: counter 1 value 42"), 1);

    auto l = sim::module_list();
    ASSERT_GE(l.size(), 2u);
    EXPECT_EQ(l[0].name, "modtest_user");
    EXPECT_EQ(l[1].name, "modtest");
    EXPECT_THAT(l[1].used_by, ElementsAre("modtest_user"));
    EXPECT_EQ(l[1].refcount, 1);
    EXPECT_GT(l[1].size, 0u);
    EXPECT_EQ(l[0].state, "Live");

    EXPECT_EQ(sim::module_unload("modtest"), -EBUSY);
    EXPECT_NE(sim::module_find("modtest"), nullptr);
    ASSERT_EQ(sim::module_unload("modtest_user"), 0);
    l = sim::module_list();
    EXPECT_TRUE(info(l, "modtest")->used_by.empty());
    EXPECT_EQ(info(l, "modtest")->refcount, 0);
    EXPECT_EQ(sim::module_unload("modtest"), 0);
}

TEST_F(ModuleLoaderTest, Unload_PinnedModuleRefusedUntilPut) {
    ASSERT_EQ(sim::module_load("modtest"), 0);
    struct module *mod = sim::module_find("modtest");
    ASSERT_TRUE(try_module_get(mod));
    EXPECT_EQ(module_refcount(mod), 1);
    EXPECT_EQ(sim::module_unload("modtest"), -EBUSY);
    module_put(mod);
    EXPECT_EQ(sim::module_unload("modtest"), 0);
}

TEST_F(ModuleLoaderTest, TryModuleGet_ConcurrentPinsBalance) {
    ASSERT_EQ(sim::module_load("modtest"), 0);
    struct module *mod = sim::module_find("modtest");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++)
        threads.emplace_back([mod] {
            for (int i = 0; i < 2000; i++)
                if (try_module_get(mod))
                    module_put(mod);
        });
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(module_refcount(mod), 0);
    EXPECT_EQ(sim::module_unload("modtest"), 0);
}

struct InitFailureCase {
    const char *desc;
    const char *args;
    int expected;
    int leftover_lines;  // lines naming modtest's objects released by the loader
};

void PrintTo(const InitFailureCase &c, std::ostream *os) {
    *os << c.desc;
}

class ModuleLoaderInitFailureTest : public ModuleLoaderTest,
                                    public ::testing::WithParamInterface<InitFailureCase> {};

TEST_P(ModuleLoaderInitFailureTest, Load_InitFailureLeavesNothing) {
    const InitFailureCase &c = GetParam();
    EXPECT_EQ(sim::module_load("modtest", c.args), c.expected) << c.desc;
    EXPECT_EQ(sim::module_find("modtest"), nullptr);
    EXPECT_FALSE(exists("/sys/module/modtest"));
    EXPECT_EQ(log_count("still registered"), c.leftover_lines) << c.desc;
    EXPECT_EQ(sim::task_find_by_comm("modtest_thread"), nullptr) << c.desc;
    if (c.leftover_lines) {
        EXPECT_EQ(log_count("modtest_state"), 1) << c.desc;
    }
    // Nothing stale blocks the next load, whose state starts afresh.
    ASSERT_EQ(sim::module_load("modtest"), 0) << c.desc;
    EXPECT_EQ(call_counter(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ModuleLoaderInitFailureTest,
    ::testing::Values(InitFailureCase{"clean failure", "init_errno=-5", -EIO, 0},
                      InitFailureCase{"failure leaving kobject, allocation and thread",
                                      "init_errno=-19 leak=7", -ENODEV, 3},
                      InitFailureCase{"bad parameter value", "init_errno=abc", -EINVAL, 0}));

TEST_F(ModuleLoaderTest, Unload_LeftoversReportedAndReleased) {
    ASSERT_EQ(sim::module_load("modtest", "leak=1"), 0);
    ASSERT_TRUE(exists("/sys/module/modtest/modtest_state"));
    ASSERT_EQ(sim::module_unload("modtest"), 0);
    EXPECT_EQ(log_count("still registered"), 1);
    EXPECT_EQ(log_count("modtest_state"), 1);
    EXPECT_THAT(log(), Contains(HasSubstr("modtest: ")));
    EXPECT_FALSE(exists("/sys/module/modtest/modtest_state"));
    EXPECT_FALSE(exists("/sys/module/modtest"));
}

TEST_F(ModuleLoaderTest, Unload_LeftoverThreadStopped) {
    ASSERT_EQ(sim::module_load("modtest", "leak=4"), 0);
    ASSERT_NE(sim::task_find_by_comm("modtest_thread"), nullptr);
    ASSERT_EQ(sim::module_unload("modtest"), 0);
    EXPECT_EQ(log_count("modtest_thread"), 1);
    EXPECT_EQ(sim::task_find_by_comm("modtest_thread"), nullptr);
}

TEST_F(ModuleLoaderTest, Load_SameNameTwiceIsEexist) {
    ASSERT_EQ(sim::module_load("modtest"), 0);
    EXPECT_EQ(sim::module_load("modtest"), -EEXIST);
    auto l = sim::module_list();
    EXPECT_EQ(std::count_if(l.begin(), l.end(), [](auto &m) { return m.name == "modtest"; }), 1);
}

TEST_F(ModuleLoaderTest, Load_DuplicateExportRefused) {
    ASSERT_EQ(sim::module_load("modtest"), 0);
    EXPECT_EQ(sim::module_load("modtest_dup"), -ENOEXEC);
    EXPECT_EQ(log_count("modtest_dup: exports duplicate symbol modtest_counter_inc (owned by "
                        "modtest)"),
              1);
    EXPECT_EQ(sim::module_find("modtest_dup"), nullptr);
    EXPECT_EQ(call_counter(), 1);
}

TEST_F(ModuleLoaderTest, Load_PositiveInitResultWarnsAndLoads) {
    ASSERT_EQ(sim::module_load("modtest", "init_errno=1"), 0);
    EXPECT_EQ(log_count("do_init_module: 'modtest'->init suspiciously returned 1, it should "
                        "follow 0/-E convention"),
              1);
    EXPECT_NE(sim::module_find("modtest"), nullptr);
}

TEST_F(ModuleLoaderTest, Load_UnknownParameterIgnored) {
    ASSERT_EQ(sim::module_load("modtest", "bogus=1"), 0);
    EXPECT_EQ(log_count("modtest: unknown parameter 'bogus' ignored"), 1);
}

TEST_F(ModuleLoaderTest, Load_MissingFileIsEnoent) {
    EXPECT_EQ(sim::module_load("no_such_module"), -ENOENT);
    EXPECT_EQ(sim::module_load(sim::module_dir() + "/no_such_module.ko"), -ENOENT);
}

TEST_F(ModuleLoaderTest, Load_NotAModuleIsEnoexec) {
    // A text file, and a shared object without .modinfo (the kernel library itself).
    std::string text = ::testing::TempDir() + "module_loader_test_not_elf.ko";
    std::ofstream(text) << "not an object\n";
    EXPECT_EQ(sim::module_load(text), -ENOEXEC);
    std::remove(text.c_str());
    Dl_info dl;
    ASSERT_NE(dladdr(reinterpret_cast<void *>(&sim::module_load), &dl), 0);
    EXPECT_EQ(sim::module_load(dl.dli_fname), -ENOEXEC);
}

TEST_F(ModuleLoaderTest, Unload_NotLoadedIsEnoent) {
    EXPECT_EQ(sim::module_unload("modtest"), -ENOENT);
}

TEST_F(ModuleLoaderTest, Unload_ModuleWithoutExitIsPermanent) {
    if (!sim::module_find("modtest_noexit")) {
        ASSERT_EQ(sim::module_load("modtest_noexit"), 0);
    }
    EXPECT_EQ(sim::module_unload("modtest_noexit"), -EBUSY);
    auto l = sim::module_list();
    const sim::ModuleInfo *m = info(l, "modtest_noexit");
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->license, "Dual BSD/GPL");
    EXPECT_THAT(m->devtables, ElementsAre("of:modtest_noexit_of_match"));
    EXPECT_TRUE(m->taints.empty());
    EXPECT_TRUE(exists("/sys/module/modtest_noexit"));
}

TEST_F(ModuleLoaderTest, ReadInfo_MetadataOfUnloadedFile) {
    std::vector<std::pair<std::string, std::string>> mi;
    ASSERT_EQ(sim::module_read_info("modtest", &mi), 0);
    using P = std::pair<std::string, std::string>;
    EXPECT_THAT(mi, Contains(P{"license", "GPL"}));
    EXPECT_THAT(mi, Contains(P{"description", "Loader test module"}));
    EXPECT_THAT(mi, Contains(P{"softdep", "pre: modtest_noexit"}));
    EXPECT_THAT(mi, Contains(P{"parmtype", "init_errno:int"}));
    EXPECT_THAT(mi, Contains(P{"name", "modtest"}));
    EXPECT_THAT(mi, Not(Contains(P{"license", "Proprietary"})));
    EXPECT_EQ(sim::module_read_info("no_such_module", &mi), -ENOENT);
}

}  // namespace
