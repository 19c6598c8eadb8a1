// Start-up and stop of pageshield, its tunables and its report: defaults, stores with their
// edge cases, the report's bytes, each failure path of start-up, and a clean unload.
#include "pageshield_test_util.h"

#include <platform/errno.h>

#include <cstdio>

namespace pageshield_test {
namespace {

class PageshieldStartupTest : public PageshieldTest {};

TEST_F(PageshieldStartupTest, Init_DefaultTunablesAndModes) {
    EXPECT_EQ(tunable("enabled"), "yes\n");
    EXPECT_EQ(tunable("mapcount_protect_thres"), "20\n");
    EXPECT_EQ(tunable("noprotect_thres_control"), "10\n");
    for (const char *name : {"enabled", "mapcount_protect_thres", "noprotect_thres_control"}) {
        sim::vfs::Stat st;
        ASSERT_EQ(sim::vfs::stat(kTunables + name, &st), 0) << name;
        EXPECT_EQ(st.mode & 07777, 0644u) << name;
    }
    sim::vfs::Stat st;
    ASSERT_EQ(sim::vfs::stat(kReport, &st), 0);
    EXPECT_EQ(st.mode, 0100444u);
}

TEST_F(PageshieldStartupTest, Init_DeclaresGplLicenceAndLogs) {
    auto l = sim::module_list();
    auto it =
        std::find_if(l.begin(), l.end(), [](const auto &m) { return m.name == "pageshield"; });
    ASSERT_NE(it, l.end());
    EXPECT_EQ(it->license, "GPL");
    auto recs = sim::log_records_since(mark_);
    ASSERT_FALSE(recs.empty());
    EXPECT_EQ(recs.back().text, "initialize mapped_protect voom voom!!!!");
    EXPECT_EQ(recs.back().level, 0);
}

// Every line but the counts is known; the counts are the ones the same read printed.
TEST_F(PageshieldStartupTest, Show_ReportBytes) {
    std::string text = read(kReport);
    Report r = report();
    unsigned long noprotect = totalram_pages() / 10;
    char expected[1024];
    snprintf(expected, sizeof(expected),
             "zo_mapped_protect_setup:     enable\n"
             "zo_cur_anon_mapped_pages:     %ld\n"
             "zo_cur_file_mapped_pages:     %ld\n"
             "zo_sum_anon_mapped_pages:     %ld\n"
             "zo_sum_file_mapped_pages:     %ld\n"
             "zo_max_sum_anon_mapped_pages:     %ld\n"
             "zo_max_sum_file_mapped_pages:     %ld\n"
             "zo_anon_mapped_pages_thres:     %lu\n"
             "zo_file_mapped_pages_thres:     %lu\n"
             "zo_memavail_noprotect_thres:     %lu\n"
             "zo_mapcount_protect_thres:     20\n"
             "\n",
             r.cur_anon(), r.cur_file(), r.sum_anon(), r.sum_file(), r.max_anon(), r.max_file(),
             noprotect / 2, noprotect / 2, noprotect);
    EXPECT_EQ(text, expected);
    // The boot population: the framework and native libraries, mapped by every process.
    EXPECT_GT(r.cur_file(), 0);
    expect_counts_agree(r);
    // The seed is not a maximum: only increments raise it.
    EXPECT_EQ(r.max_file(), 0);
}

TEST_F(PageshieldStartupTest, Show_TwoReadsPrintTheSameFreshCounts) {
    std::string first = read(kReport), second = read(kReport);
    EXPECT_EQ(first, second);
    ASSERT_GE(first.size(), 2u);
    EXPECT_EQ(first.substr(first.size() - 2), "\n\n");
}

struct StoreCase {
    const char *desc;
    const char *attr;
    const char *text;
    long result;  // 0: the whole length
    const char *reads;
};

const StoreCase kStores[] = {
    {"decimal", "mapcount_protect_thres", "25", 0, "25\n"},
    {"hex", "mapcount_protect_thres", "0x1e", 0, "30\n"},
    {"octal", "mapcount_protect_thres", "010\n", 0, "8\n"},
    {"zero", "mapcount_protect_thres", "0", 0, "0\n"},
    {"negative", "mapcount_protect_thres", "-1", -EINVAL, "20\n"},
    {"not a number", "mapcount_protect_thres", "abc", -EINVAL, "20\n"},
    {"over 32 bits", "mapcount_protect_thres", "4294967296", -EINVAL, "20\n"},
    {"32-bit max", "noprotect_thres_control", "4294967295", 0, "4294967295\n"},
    {"divisor negative", "noprotect_thres_control", "-1", -EINVAL, "10\n"},
    {"divisor text", "noprotect_thres_control", "ten", -EINVAL, "10\n"},
    {"divisor over range", "noprotect_thres_control", "0x100000000", -EINVAL, "10\n"},
    {"enable off", "enabled", "0", 0, "no\n"},
    {"enable n", "enabled", "n\n", 0, "no\n"},
    {"enable off word", "enabled", "off", 0, "no\n"},
    {"enable on word", "enabled", "on", 0, "yes\n"},
    {"enable bad", "enabled", "maybe", -EINVAL, "yes\n"},
};

TEST_F(PageshieldStartupTest, Store_Table) {
    for (const StoreCase &c : kStores) {
        SCOPED_TRACE(c.desc);
        ASSERT_EQ(sim::module_unload("pageshield"), 0);
        ASSERT_EQ(sim::module_load("pageshield"), 0);
        std::string before = read(kReport);
        long expect = c.result ? c.result : (long)strlen(c.text);
        EXPECT_EQ(set_tunable(c.attr, c.text), expect) << c.text;
        EXPECT_EQ(tunable(c.attr), c.reads);
        // Neither the threshold nor the switch moves the memory thresholds.
        if (strcmp(c.attr, "noprotect_thres_control") != 0 || c.result) {
            Report a = report();
            EXPECT_EQ(a.num("zo_memavail_noprotect_thres"), (long)(totalram_pages() / 10));
            EXPECT_EQ(a.num("zo_file_mapped_pages_thres"), (long)(totalram_pages() / 20));
        }
    }
}

TEST_F(PageshieldStartupTest, StoreThresControl_RecomputesThresholds) {
    const struct {
        const char *text;
        unsigned long divisor;
    } cases[] = {{"0", 0}, {"1", 1}, {"3", 3}, {"0x10", 16}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        ASSERT_EQ(set_tunable("noprotect_thres_control", c.text), (long)strlen(c.text));
        Report r = report();
        unsigned long noprotect = c.divisor ? totalram_pages() / c.divisor : 0;
        EXPECT_EQ(r.num("zo_memavail_noprotect_thres"), (long)noprotect);
        EXPECT_EQ(r.num("zo_anon_mapped_pages_thres"), (long)(noprotect >> 1));
        EXPECT_EQ(r.num("zo_file_mapped_pages_thres"), (long)(noprotect >> 1));
    }
}

TEST_F(PageshieldStartupTest, StoreEnabled_ReportLineFollows) {
    ASSERT_EQ(set_tunable("enabled", "0"), 1);
    EXPECT_EQ(report().v["zo_mapped_protect_setup"], "disable");
    ASSERT_EQ(set_tunable("enabled", "1"), 1);
    EXPECT_EQ(report().v["zo_mapped_protect_setup"], "enable");
}

TEST_F(PageshieldStartupTest, Init_KobjectFailureLeavesOnlyTheTunablesOut) {
    reload_with_fault(sim::fault_op::kobject_create_and_add);
    EXPECT_FALSE(exists("/sys/module/pageshield/mapped_protect"));
    EXPECT_TRUE(exists(kReport));
    EXPECT_EQ(log_count("mapped_protect: failed to create related sysfs"), 0);
    expect_counts_agree(report());
    simtest::expect_clean_unload("pageshield");
}

TEST_F(PageshieldStartupTest, Init_GroupFailureLoggedAndDirectoryKept) {
    reload_with_fault(sim::fault_op::sysfs_create_group);
    EXPECT_EQ(log_count("mapped_protect: failed to create related sysfs"), 1);
    EXPECT_TRUE(exists("/sys/module/pageshield/mapped_protect"));
    EXPECT_FALSE(exists(kTunables));
    EXPECT_EQ(report().v["zo_mapped_protect_setup"], "enable");
    simtest::expect_clean_unload("pageshield");
    EXPECT_FALSE(exists("/sys/module/pageshield"));
}

TEST_F(PageshieldStartupTest, Init_ProcFailureLeavesNoReport) {
    reload_with_fault(sim::fault_op::proc_create);
    EXPECT_FALSE(exists(kReport));
    EXPECT_EQ(tunable("enabled"), "yes\n");
    simtest::expect_clean_unload("pageshield");
}

// Each probe that cannot be attached is done without: the others are attached, the module
// works, and stop takes off only those.
TEST_F(PageshieldStartupTest, Init_ProbeRegistrationFailureLeavesOnlyThatProbeOut) {
    struct tracepoint *const hooks[] = {&__tracepoint_android_vh_update_page_mapcount,
                                        &__tracepoint_android_vh_add_page_to_lrulist,
                                        &__tracepoint_android_vh_del_page_from_lrulist,
                                        &__tracepoint_android_vh_page_should_be_protected,
                                        &__tracepoint_android_vh_do_traversal_lruvec};
    for (size_t i = 0; i < std::size(hooks); i++) {
        SCOPED_TRACE(hooks[i]->name);
        reload_with_fault(sim::fault_op::tracepoint_probe_register, i + 1);
        for (size_t j = 0; j < std::size(hooks); j++)
            EXPECT_EQ(hooks[j]->funcs != nullptr, i != j) << hooks[j]->name;
        EXPECT_EQ(tunable("enabled"), "yes\n");
        EXPECT_EQ(report().v["zo_mapped_protect_setup"], "enable");
        simtest::expect_clean_unload("pageshield");
        ASSERT_EQ(sim::module_load("pageshield"), 0);
    }
}

TEST_F(PageshieldStartupTest, Exit_RemovesNodesAndProbes) {
    mark_log();
    ASSERT_EQ(sim::module_unload("pageshield"), 0);
    EXPECT_FALSE(exists(kReport));
    EXPECT_FALSE(exists("/sys/module/pageshield"));
    auto recs = sim::log_records_since(mark_);
    ASSERT_FALSE(recs.empty());
    EXPECT_EQ(recs.back().text, "mapped_protect exit successful!!!!");
    EXPECT_EQ(recs.back().level, 0);
    for (const auto &r : recs)
        EXPECT_EQ(r.text.find("still"), std::string::npos) << r.text;
    for (struct tracepoint *tp : {&__tracepoint_android_vh_update_page_mapcount,
                                  &__tracepoint_android_vh_add_page_to_lrulist,
                                  &__tracepoint_android_vh_del_page_from_lrulist,
                                  &__tracepoint_android_vh_page_should_be_protected,
                                  &__tracepoint_android_vh_do_traversal_lruvec})
        EXPECT_EQ(tp->funcs, nullptr) << tp->name;
    // A second load starts from fresh state.
    ASSERT_EQ(sim::module_load("pageshield"), 0);
    EXPECT_EQ(tunable("enabled"), "yes\n");
    expect_counts_agree(report());
}

}  // namespace
}  // namespace pageshield_test
