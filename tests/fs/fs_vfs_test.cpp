// The file API over the tree: the boot-time layout, path-walk errors, descriptors, directories
// and the mode/owner stat reports.
#include "tests/fs/fs_test_util.h"

#include "simkernel/kernel/task.h"

#include <gtest/gtest.h>

#include <platform/errno.h>
#include <platform/stat.h>

namespace {

using sim::vfs::DirEntry;
using sim::vfs::O_CREAT_;
using sim::vfs::O_RDONLY_;
using sim::vfs::O_RDWR_;
using sim::vfs::O_WRONLY_;
using sim::vfs::SEEK_SET_;
using sim::vfs::Stat;

std::vector<std::string> names(const std::string &dir) {
    std::vector<DirEntry> entries;
    EXPECT_EQ(sim::vfs::readdir(dir, &entries), 0) << dir;
    std::vector<std::string> out;
    for (const DirEntry &e : entries)
        out.push_back(e.name);
    return out;
}

TEST(VfsTree, Boot_TopLevelDirectories) {
    EXPECT_EQ(names("/"), (std::vector<std::string>{"proc", "sys", "dev"}));
    EXPECT_EQ(names("/sys"), (std::vector<std::string>{"devices", "bus", "class", "fs", "kernel",
                                                       "module", "block", "firmware"}));
    const struct {
        const char *path;
        umode_t mode;
    } cases[] = {{"/", S_IFDIR | 0755},
                 {"/proc", S_IFDIR | 0555},
                 {"/sys", S_IFDIR | 0755},
                 {"/sys/kernel", S_IFDIR | 0755},
                 {"/dev", S_IFDIR | 0755}};
    for (const auto &c : cases) {
        Stat st;
        ASSERT_EQ(sim::vfs::stat(c.path, &st), 0) << c.path;
        EXPECT_EQ(st.mode, c.mode) << c.path;
        EXPECT_EQ(st.uid, 0u);
    }
}

TEST(VfsTree, Lookup_ErrorsOfThePathWalk) {
    const struct {
        const char *path;
        int flags;
        int result;
    } cases[] = {
        {"/nothing", O_RDONLY_, -ENOENT},
        {"/proc/nothing/deeper", O_RDONLY_, -ENOENT},
        {"/nothing", O_WRONLY_ | O_CREAT_, -EACCES},
        {"/sys/kernel", O_WRONLY_, -EISDIR},
        {"/sys/kernel", O_RDWR_, -EISDIR},
        {"", O_RDONLY_, -ENOENT},
    };
    for (const auto &c : cases)
        EXPECT_EQ(sim::vfs::open(c.path, c.flags), c.result) << c.path;
}

// A shell's "echo x > PATH" on a name that does not exist: procfs refuses the name itself;
// sysfs and cgroupfs check the caller may create there, then refuse the name.
TEST(VfsTree, Create_MissingNodeErrorsAsEachFilesystemGivesThem) {
    const int create = O_WRONLY_ | O_CREAT_;
    EXPECT_EQ(sim::vfs::open("/proc/some_node", create), -ENOENT);
    EXPECT_EQ(sim::vfs::open("/sys/kernel/some_node", create), -ENOENT);
    EXPECT_EQ(sim::vfs::open("/dev/memcg/nope", create), -ENOENT);
    struct task_struct *app = sim::task_create_user("app", 10123);
    {
        sim::TaskScope as(app);
        EXPECT_EQ(sim::vfs::open("/proc/some_node", create), -ENOENT);
        EXPECT_EQ(sim::vfs::open("/sys/kernel/some_node", create), -EACCES);
        EXPECT_EQ(sim::vfs::open("/dev/memcg/nope", create), -EACCES);
    }
    sim::task_exit(app);
}

TEST(VfsTree, Descriptors_ReadOnDirectoryAndBadDescriptors) {
    int fd = sim::vfs::open("/sys/kernel/../kernel/.", O_RDONLY_);
    ASSERT_GE(fd, 0);
    char c;
    EXPECT_EQ(sim::vfs::read(fd, &c, 1), -EISDIR);
    EXPECT_EQ(sim::vfs::write(fd, &c, 1), -EBADF);
    EXPECT_EQ(sim::vfs::close(fd), 0);
    EXPECT_EQ(sim::vfs::close(fd), -EBADF);
    EXPECT_EQ(sim::vfs::read(fd, &c, 1), -EBADF);
    EXPECT_EQ(sim::vfs::lseek(fd, 0, SEEK_SET_), -EBADF);
    EXPECT_EQ(sim::vfs::close(-1), -EBADF);
    // The lowest free descriptor is reused.
    int a = sim::vfs::open("/proc", O_RDONLY_);
    int b = sim::vfs::open("/proc", O_RDONLY_);
    sim::vfs::close(a);
    EXPECT_EQ(sim::vfs::open("/sys", O_RDONLY_), a);
    sim::vfs::close(a);
    sim::vfs::close(b);
}

TEST(VfsTree, Dirs_ReaddirOfFileAndMissing) {
    std::vector<DirEntry> entries;
    EXPECT_EQ(sim::vfs::readdir("/nothing", &entries), -ENOENT);
    std::string target;
    EXPECT_EQ(sim::vfs::readlink("/sys", &target), -EINVAL);
    EXPECT_EQ(sim::vfs::rmdir("/nothing"), -ENOENT);
    EXPECT_EQ(sim::vfs::mkdir("/dev", 0755), -EEXIST);
    EXPECT_EQ(sim::vfs::mkdir("/nothing/sub", 0755), -ENOENT);
}

}  // namespace
