// sysfs through kobjects and attribute groups: the access checks of kernfs at open, show into a
// zeroed page once per open, the page limits of show and store, named groups, removal with the
// last kobject_put and while files are open, and the failures modules must handle.
#include "tests/fs/fs_test_util.h"

#include "simkernel/kernel/fault.h"
#include "simkernel/kernel/task.h"

#include <gtest/gtest.h>

#include <platform/errno.h>
#include <platform/kobject.h>
#include <platform/sysfs.h>

#include <cstring>

namespace {

using sim::vfs::O_RDONLY_;
using sim::vfs::O_RDWR_;
using sim::vfs::O_WRONLY_;

int show_calls;
size_t show_len;  // bytes show reports
std::string stored;
size_t store_count;
bool store_nul_terminated, show_buf_zeroed;

ssize_t value_show(struct kobject *, struct kobj_attribute *, char *buf) {
    show_calls++;
    show_buf_zeroed = true;
    for (size_t i = 0; i < PAGE_SIZE; i++)
        if (buf[i])
            show_buf_zeroed = false;
    if (show_len) {
        memset(buf, 'x', show_len < PAGE_SIZE ? show_len : PAGE_SIZE);
        return show_len;
    }
    return sysfs_emit(buf, "%d\n", show_calls);
}

ssize_t value_store(struct kobject *, struct kobj_attribute *, const char *buf, size_t count) {
    store_count = count;
    store_nul_terminated = buf[count] == '\0';
    stored.assign(buf, count);
    return count;
}

struct kobj_attribute value_attr = __ATTR(value, 0664, value_show, value_store);
struct kobj_attribute ro_attr = __ATTR(ro, 0444, value_show, value_store);
struct kobj_attribute nostore_attr = __ATTR(nostore, 0664, value_show, nullptr);
struct kobj_attribute wo_attr = __ATTR(wo, 0200, nullptr, value_store);

struct attribute *test_attrs[] = {&value_attr.attr, &ro_attr.attr, &nostore_attr.attr,
                                  &wo_attr.attr, nullptr};
struct attribute_group plain_group = {nullptr, nullptr, nullptr, test_attrs, nullptr};
struct attribute_group named_group = {"grp", nullptr, nullptr, test_attrs, nullptr};

umode_t hide_second(struct kobject *, struct attribute *attr, int n) {
    return n == 1 ? 0 : attr->mode;
}
struct attribute_group visible_group = {"vis", hide_second, nullptr, test_attrs, nullptr};

class SysfsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        show_calls = 0;
        show_len = 0;
        stored.clear();
        store_count = 0;
        mark_ = sim::log_next_seq();
        kobj_ = kobject_create_and_add("fstest", kernel_kobj);
        ASSERT_NE(kobj_, nullptr);
    }
    void TearDown() override {
        sim::fault_clear();
        kobject_put(kobj_);
    }

    struct kobject *kobj_ = nullptr;
    uint64_t mark_ = 0;
    sim::vfs::Stat st_;
};

TEST_F(SysfsTest, Group_FilesWithModesInOrder) {
    ASSERT_EQ(sysfs_create_group(kobj_, &plain_group), 0);
    std::vector<sim::vfs::DirEntry> entries;
    ASSERT_EQ(sim::vfs::readdir("/sys/kernel/fstest", &entries), 0);
    ASSERT_EQ(entries.size(), 4u);
    const char *names[] = {"value", "ro", "nostore", "wo"};
    umode_t modes[] = {0664, 0444, 0664, 0200};
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(entries[i].name, names[i]);
        EXPECT_EQ(entries[i].mode, S_IFREG | modes[i]);
    }
    ASSERT_EQ(sim::vfs::stat("/sys/kernel/fstest/value", &st_), 0);
    EXPECT_EQ(st_.size, (loff_t)PAGE_SIZE);
    sysfs_remove_group(kobj_, &plain_group);
    EXPECT_EQ(sim::vfs::stat("/sys/kernel/fstest/value", &st_), -ENOENT);
}

TEST_F(SysfsTest, Open_AccessChecksOfKernfs) {
    ASSERT_EQ(sysfs_create_group(kobj_, &plain_group), 0);
    const struct {
        const char *file;
        int flags;
        int result;  // 0: opens
    } cases[] = {
        {"ro", O_WRONLY_, -EACCES},                              // root too: no write bit
        {"ro", O_RDONLY_, 0},       {"wo", O_RDONLY_, -EACCES},  // root too: no read bit
        {"wo", O_WRONLY_, 0},       {"value", O_RDWR_, 0},      {"nostore", O_WRONLY_, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        int fd = sim::vfs::open(std::string("/sys/kernel/fstest/") + c.file, c.flags);
        if (c.result) {
            EXPECT_EQ(fd, c.result);
        } else {
            EXPECT_GE(fd, 0);
            sim::vfs::close(fd);
        }
    }
    struct task_struct *app = sim::task_create_user("app", 10123);
    {
        sim::TaskScope as(app);
        EXPECT_EQ(sim::vfs::open("/sys/kernel/fstest/value", O_WRONLY_), -EACCES);
        EXPECT_GE(sim::vfs::open("/sys/kernel/fstest/value", O_RDONLY_), 0);
    }
    sim::task_exit(app);
}

TEST_F(SysfsTest, Write_WithoutStoreIsEio) {
    ASSERT_EQ(sysfs_create_group(kobj_, &plain_group), 0);
    EXPECT_EQ(sim::vfs::write_file("/sys/kernel/fstest/nostore", "1"), -EIO);
}

TEST_F(SysfsTest, Read_ShowOncePerOpenIntoZeroedPage) {
    ASSERT_EQ(sysfs_create_group(kobj_, &plain_group), 0);
    int fd = sim::vfs::open("/sys/kernel/fstest/value", O_RDONLY_);
    ASSERT_GE(fd, 0);
    char c;
    EXPECT_EQ(sim::vfs::read(fd, &c, 1), 1);
    EXPECT_EQ(c, '1');
    EXPECT_EQ(sim::vfs::read(fd, &c, 1), 1);
    EXPECT_EQ(c, '\n');
    EXPECT_EQ(sim::vfs::read(fd, &c, 1), 0);
    EXPECT_EQ(show_calls, 1);
    EXPECT_TRUE(show_buf_zeroed);
    EXPECT_EQ(sim::vfs::lseek(fd, 0, sim::vfs::SEEK_SET_), 0);
    std::string out;
    fstest::read_all(fd, &out);
    EXPECT_EQ(out, "2\n");
    EXPECT_EQ(sim::vfs::lseek(fd, 0, sim::vfs::SEEK_END_), (loff_t)PAGE_SIZE);
    sim::vfs::close(fd);
}

TEST_F(SysfsTest, Read_ShowOfAPageIsCutWithWarning) {
    ASSERT_EQ(sysfs_create_group(kobj_, &plain_group), 0);
    const struct {
        size_t len;
        size_t expected;
        bool warned;
    } cases[] = {{4095, 4095, false}, {4096, 4095, true}, {5000, 4095, true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.len);
        uint64_t mark = sim::log_next_seq();
        show_len = c.len;
        std::string out;
        ASSERT_EQ(sim::vfs::read_file("/sys/kernel/fstest/value", &out), 0);
        EXPECT_EQ(out.size(), c.expected);
        EXPECT_EQ(fstest::logged_since(mark, "fill_read_buffer: kobj_attr_show"), c.warned);
        EXPECT_EQ(fstest::logged_since(mark, "returned bad count"), c.warned);
    }
}

TEST_F(SysfsTest, Write_StoreGetsAtMostAPageNulTerminated) {
    ASSERT_EQ(sysfs_create_group(kobj_, &plain_group), 0);
    const struct {
        size_t len;
        ssize_t result;
    } cases[] = {{1, 1}, {4096, 4096}, {6000, 4096}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.len);
        std::string text(c.len, 'a');
        text[0] = 'b';
        EXPECT_EQ(sim::vfs::write_file("/sys/kernel/fstest/value", text), c.result);
        EXPECT_EQ(store_count, (size_t)c.result);
        EXPECT_TRUE(store_nul_terminated);
        EXPECT_EQ(stored, text.substr(0, c.result));
    }
}

TEST_F(SysfsTest, Write_ZeroBytesDoesNotStore) {
    ASSERT_EQ(sysfs_create_group(kobj_, &plain_group), 0);
    int fd = sim::vfs::open("/sys/kernel/fstest/value", O_WRONLY_);
    EXPECT_EQ(sim::vfs::write(fd, "", 0), 0);
    EXPECT_EQ(store_count, 0u);
    EXPECT_TRUE(stored.empty());
    sim::vfs::close(fd);
}

TEST_F(SysfsTest, Group_NamedIsSubdirectoryAndVisibilityFilters) {
    ASSERT_EQ(sysfs_create_group(kobj_, &named_group), 0);
    ASSERT_EQ(sysfs_create_group(kobj_, &visible_group), 0);
    ASSERT_EQ(sim::vfs::stat("/sys/kernel/fstest/grp", &st_), 0);
    EXPECT_EQ(st_.mode, S_IFDIR | 0755);
    std::string out;
    EXPECT_EQ(sim::vfs::read_file("/sys/kernel/fstest/grp/value", &out), 0);
    EXPECT_EQ(sim::vfs::stat("/sys/kernel/fstest/vis/value", &st_), 0);
    EXPECT_EQ(sim::vfs::stat("/sys/kernel/fstest/vis/ro", &st_), -ENOENT);
    EXPECT_EQ(sysfs_create_group(kobj_, &named_group), -EEXIST);
    EXPECT_TRUE(
        fstest::logged_since(mark_, "cannot create duplicate filename '/kernel/fstest/grp'"));
    sysfs_remove_group(kobj_, &named_group);
    EXPECT_EQ(sim::vfs::stat("/sys/kernel/fstest/grp", &st_), -ENOENT);
    sysfs_remove_group(kobj_, &named_group);
    EXPECT_TRUE(fstest::logged_since(mark_, "sysfs group 'grp' not found for kobject 'fstest'"));
}

TEST_F(SysfsTest, Put_LastReferenceRemovesTree) {
    struct kobject *child = kobject_create_and_add("child", kobj_);
    ASSERT_NE(child, nullptr);
    ASSERT_EQ(sysfs_create_group(child, &named_group), 0);
    ASSERT_EQ(sim::vfs::stat("/sys/kernel/fstest/child/grp/value", &st_), 0);
    kobject_get(child);
    kobject_put(child);
    EXPECT_EQ(sim::vfs::stat("/sys/kernel/fstest/child/grp/value", &st_), 0);
    kobject_put(child);
    EXPECT_EQ(sim::vfs::stat("/sys/kernel/fstest/child", &st_), -ENOENT);
}

TEST_F(SysfsTest, Create_DuplicateNameWarnsAndFails) {
    EXPECT_EQ(kobject_create_and_add("fstest", kernel_kobj), nullptr);
    EXPECT_TRUE(fstest::logged_since(
        mark_,
        "kobject_add_internal failed for fstest with -EEXIST, don't try to register "
        "things with the same name in the same directory."));
    EXPECT_EQ(sim::vfs::stat("/sys/kernel/fstest", &st_), 0);
}

TEST_F(SysfsTest, FaultInjection_CreationFails) {
    sim::FaultRule rule;
    rule.op = std::string(sim::fault_op::kobject_create_and_add);
    sim::fault_arm(rule);
    EXPECT_EQ(kobject_create_and_add("faulty", kobj_), nullptr);
    EXPECT_EQ(sim::vfs::stat("/sys/kernel/fstest/faulty", &st_), -ENOENT);

    rule.op = std::string(sim::fault_op::sysfs_create_group);
    sim::fault_arm(rule);
    EXPECT_EQ(sysfs_create_group(kobj_, &named_group), -ENOMEM);
    EXPECT_EQ(sim::vfs::stat("/sys/kernel/fstest/grp", &st_), -ENOENT);
    EXPECT_EQ(sysfs_create_group(kobj_, &named_group), 0);
}

TEST_F(SysfsTest, Remove_WhileOpenGivesEnodev) {
    ASSERT_EQ(sysfs_create_group(kobj_, &plain_group), 0);
    int rfd = sim::vfs::open("/sys/kernel/fstest/value", O_RDONLY_);
    int wfd = sim::vfs::open("/sys/kernel/fstest/value", O_WRONLY_);
    ASSERT_GE(rfd, 0);
    ASSERT_GE(wfd, 0);
    sysfs_remove_group(kobj_, &plain_group);
    char buf[8];
    EXPECT_EQ(sim::vfs::read(rfd, buf, sizeof(buf)), -ENODEV);
    EXPECT_EQ(sim::vfs::write(wfd, "1", 1), -ENODEV);
    EXPECT_EQ(show_calls, 0);
    EXPECT_EQ(sim::vfs::close(rfd), 0);
    EXPECT_EQ(sim::vfs::close(wfd), 0);
}

TEST_F(SysfsTest, Mkdir_RefusedInSysfs) {
    EXPECT_EQ(sim::vfs::mkdir("/sys/kernel/fstest/new", 0755), -EPERM);
    EXPECT_EQ(sim::vfs::rmdir("/sys/kernel/fstest"), -EPERM);
    struct task_struct *app = sim::task_create_user("app", 10123);
    {
        sim::TaskScope as(app);
        EXPECT_EQ(sim::vfs::mkdir("/sys/kernel/fstest/new", 0755), -EACCES);
    }
    sim::task_exit(app);
}

TEST_F(SysfsTest, Emit_RejectsBufferNotPageAligned) {
    alignas(4096) static char page[2 * 4096];
    EXPECT_EQ(sysfs_emit(page, "%s", "ok"), 2);
    EXPECT_EQ(sysfs_emit_at(page, 2, "%d", 7), 1);
    EXPECT_STREQ(page, "ok7");
    EXPECT_EQ(sysfs_emit(page + 1, "x"), 0);
    EXPECT_TRUE(fstest::logged_since(mark_, "invalid sysfs_emit"));
    EXPECT_EQ(sysfs_emit_at(page, 4096, "x"), 0);
    std::string big(5000, 'y');
    EXPECT_EQ(sysfs_emit(page, "%s", big.c_str()), 4095);
}

TEST_F(SysfsTest, Link_RelativeTargetResolves) {
    ASSERT_EQ(sysfs_create_group(kobj_, &plain_group), 0);
    ASSERT_EQ(sysfs_create_link(kernel_kobj, kobj_, "fstest_link"), 0);
    std::string target;
    ASSERT_GT(sim::vfs::readlink("/sys/kernel/fstest_link", &target), 0);
    EXPECT_EQ(target, "fstest");
    ASSERT_EQ(sim::vfs::stat("/sys/kernel/fstest_link", &st_), 0);
    EXPECT_TRUE(S_ISLNK(st_.mode));
    std::string out;
    EXPECT_EQ(sim::vfs::read_file("/sys/kernel/fstest_link/value", &out), 0);
    EXPECT_EQ(out, "1\n");
    sysfs_remove_link(kernel_kobj, "fstest_link");
    EXPECT_EQ(sim::vfs::readlink("/sys/kernel/fstest_link", &target), -ENOENT);
}

// A trailing slash follows a final symlink even where the call itself would not (lstat,
// readlink), and then requires a directory.
TEST_F(SysfsTest, Link_TrailingSlashFollowsToTheDirectory) {
    ASSERT_EQ(sysfs_create_group(kobj_, &plain_group), 0);
    ASSERT_EQ(sysfs_create_link(kernel_kobj, kobj_, "fstest_link"), 0);
    ASSERT_EQ(sim::vfs::stat("/sys/kernel/fstest_link/", &st_), 0);
    EXPECT_EQ(st_.mode, S_IFDIR | 0755);
    std::string target;
    EXPECT_EQ(sim::vfs::readlink("/sys/kernel/fstest_link//", &target), -EINVAL);
    EXPECT_EQ(sim::vfs::stat("/sys/kernel/fstest_link/value/", &st_), -ENOTDIR);
    sysfs_remove_link(kernel_kobj, "fstest_link");
}

}  // namespace
