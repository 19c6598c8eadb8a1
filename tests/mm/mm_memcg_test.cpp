// The memory cgroup filesystem at /dev/memcg: groups, membership, the controller's files and
// control files added with cgroup_add_legacy_cftypes.
#include "tests/mm/mm_test_util.h"

#include <platform/errno.h>
#include <platform/memcontrol.h>
#include <platform/sched.h>

#include <cstring>
#include <string>

namespace {

using sim::vfs::read_file;
using sim::vfs::write_file;

std::string last_text;
size_t last_nbytes;
struct mem_cgroup *last_memcg;

ssize_t record_write(struct kernfs_open_file *of, char *buf, size_t nbytes, loff_t) {
    last_text = buf;  // NUL-terminated by the framework
    last_nbytes = nbytes;
    last_memcg = mem_cgroup_from_css(of_css(of));
    return (ssize_t)nbytes;
}

struct cftype test_files[3];

class MemcgFsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        memset(test_files, 0, sizeof(test_files));
        strcpy(test_files[0].name, "probe_once");
        test_files[0].write = record_write;
        strcpy(test_files[1].name, "short_limit");
        test_files[1].write = record_write;
        test_files[1].max_write_len = 8;
        ASSERT_EQ(sim::memcg_mkdir("fs_before"), 0);
    }
    void TearDown() override {
        cgroup_rm_cftypes(test_files);
        sim::memcg_rmdir("fs_before");
        sim::memcg_rmdir("fs_after");
    }
};

TEST_F(MemcgFsTest, Mkdir_NewGroupHasStandardFiles) {
    std::vector<sim::vfs::DirEntry> entries;
    ASSERT_EQ(sim::vfs::readdir("/dev/memcg/fs_before", &entries), 0);
    std::set<std::string> names;
    for (auto &e : entries)
        names.insert(e.name);
    for (const char *n :
         {"tasks", "cgroup.procs", "memory.usage_in_bytes", "memory.stat", "memory.swappiness"})
        EXPECT_TRUE(names.count(n)) << n;
    std::string usage;
    ASSERT_GE(read_file("/dev/memcg/fs_before/memory.usage_in_bytes", &usage), 0);
    EXPECT_EQ(usage, "0\n");
    EXPECT_EQ(sim::vfs::mkdir("/dev/memcg/fs_before", 0755), -EEXIST);
}

TEST_F(MemcgFsTest, Rmdir_BusyWithTaskOrChild) {
    struct task_struct *t = sim::task_create_user("fs_member");
    std::string pid = std::to_string(t->pid);
    EXPECT_EQ(write_file("/dev/memcg/fs_before/cgroup.procs", pid), (int)pid.size());
    std::string tasks;
    read_file("/dev/memcg/fs_before/tasks", &tasks);
    EXPECT_EQ(tasks, std::to_string(t->pid) + "\n");
    EXPECT_EQ(sim::memcg_rmdir("fs_before"), -EBUSY);
    sim::task_exit(t);
    ASSERT_EQ(sim::memcg_mkdir("fs_before/child"), 0);
    EXPECT_EQ(sim::memcg_rmdir("fs_before"), -EBUSY);
    EXPECT_EQ(sim::memcg_rmdir("fs_before/child"), 0);
    EXPECT_EQ(sim::memcg_rmdir("fs_before"), 0);
    EXPECT_EQ(sim::memcg_lookup("fs_before"), nullptr);
}

TEST_F(MemcgFsTest, WriteTasks_BadPidRefused) {
    EXPECT_EQ(write_file("/dev/memcg/fs_before/tasks", "abc"), -EINVAL);
    EXPECT_EQ(write_file("/dev/memcg/fs_before/tasks", "99999"), -ESRCH);
}

TEST_F(MemcgFsTest, Rmdir_PagesMoveToParent) {
    struct task_struct *t = sim::task_create_user("fs_pages");
    sim::memcg_move_task(t, sim::memcg_lookup("fs_before"));
    ASSERT_EQ(sim::mm_file_read("/data/test/fs_pages.bin", 0), 0);
    {
        sim::TaskScope as(t);
        ASSERT_EQ(sim::mm_file_read("/data/test/fs_pages.bin", 10), 0);
    }
    sim::task_exit(t);
    auto root0 = mm_test::memcg_stat("");
    ASSERT_EQ(sim::memcg_rmdir("fs_before"), 0);
    auto root1 = mm_test::memcg_stat("");
    EXPECT_EQ(root1["cache"] - root0["cache"], 10 * 4096);
    EXPECT_EQ(root1["total_cache"], root0["total_cache"]);
    EXPECT_EQ(sim::mm_file_page("/data/test/fs_pages.bin", 3)->mem_cgroup, root_mem_cgroup);
}

TEST_F(MemcgFsTest, Swappiness_ReadWriteAndRange) {
    EXPECT_EQ(write_file("/dev/memcg/fs_before/memory.swappiness", "100\n"), 4);
    std::string v;
    read_file("/dev/memcg/fs_before/memory.swappiness", &v);
    EXPECT_EQ(v, "100\n");
    EXPECT_EQ(write_file("/dev/memcg/fs_before/memory.swappiness", "101"), -EINVAL);
    EXPECT_EQ(write_file("/dev/memcg/fs_before/memory.swappiness", "x"), -EINVAL);
    read_file("/dev/memcg/fs_before/memory.swappiness", &v);
    EXPECT_EQ(v, "100\n");
}

TEST_F(MemcgFsTest, AddLegacyCftypes_FilesInEveryGroupPresentAndFuture) {
    ASSERT_EQ(cgroup_add_legacy_cftypes(&memory_cgrp_subsys, test_files), 0);
    EXPECT_EQ(cgroup_add_legacy_cftypes(&memory_cgrp_subsys, test_files), -EINVAL);
    ASSERT_EQ(sim::memcg_mkdir("fs_after"), 0);
    for (const char *group : {"", "/fs_before", "/fs_after", "/apps/uid_10010"}) {
        std::string path = std::string("/dev/memcg") + group + "/memory.probe_once";
        sim::vfs::Stat st;
        ASSERT_EQ(sim::vfs::stat(path, &st), 0) << path;
        EXPECT_EQ(st.mode & 0777, 0200) << path;
    }
    EXPECT_EQ(write_file("/dev/memcg/fs_after/memory.probe_once", "20000256\n"), 9);
    EXPECT_EQ(last_text, "20000256\n");
    EXPECT_EQ(last_nbytes, 9u);
    EXPECT_EQ(last_memcg, sim::memcg_lookup("fs_after"));

    ASSERT_EQ(cgroup_rm_cftypes(test_files), 0);
    sim::vfs::Stat st;
    EXPECT_EQ(sim::vfs::stat("/dev/memcg/fs_after/memory.probe_once", &st), -ENOENT);
    EXPECT_EQ(cgroup_rm_cftypes(test_files), -ENOENT);
    ASSERT_EQ(sim::memcg_mkdir("fs_after/later"), 0);
    EXPECT_EQ(sim::vfs::stat("/dev/memcg/fs_after/later/memory.probe_once", &st), -ENOENT);
    EXPECT_EQ(sim::memcg_rmdir("fs_after/later"), 0);
}

TEST_F(MemcgFsTest, Write_LongerThanLimitRefused) {
    ASSERT_EQ(cgroup_add_legacy_cftypes(&memory_cgrp_subsys, test_files), 0);
    last_text.clear();
    EXPECT_EQ(write_file("/dev/memcg/fs_before/memory.short_limit", "123456789"), -E2BIG);
    EXPECT_EQ(last_text, "");
    EXPECT_EQ(write_file("/dev/memcg/fs_before/memory.short_limit", "12345678"), 8);
    EXPECT_EQ(last_text, "12345678");
}

}  // namespace
