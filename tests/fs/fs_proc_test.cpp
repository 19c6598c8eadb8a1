// procfs entries: creation and its failures, permissions at open as the task's credentials
// allow, -EIO for a missing write routine, removal while files are open and while a handler
// runs.
#include "tests/fs/fs_test_util.h"

#include "simkernel/kernel/fault.h"
#include "simkernel/kernel/task.h"

#include <gtest/gtest.h>

#include <platform/errno.h>
#include <platform/proc_fs.h>
#include <platform/seq_file.h>
#include <platform/uaccess.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

using sim::vfs::O_RDONLY_;
using sim::vfs::O_RDWR_;
using sim::vfs::O_WRONLY_;

constexpr uid_t kAppUid = 10123;

int releases;
std::string last_write;

int node_show(struct seq_file *m, void *) {
    seq_puts(m, "value\n");
    return 0;
}

int node_open(struct inode *inode, struct file *file) {
    return single_open(file, node_show, PDE_DATA(inode));
}

int node_release(struct inode *inode, struct file *file) {
    releases++;
    return single_release(inode, file);
}

ssize_t node_write(struct file *, const char __user *buf, size_t count, loff_t *) {
    char tmp[64] = {};
    size_t n = count < sizeof(tmp) - 1 ? count : sizeof(tmp) - 1;
    if (copy_from_user(tmp, buf, n))
        return -EFAULT;
    last_write.assign(tmp, n);
    return count;
}

constexpr struct proc_ops rw_ops = [] {
    struct proc_ops o {};
    o.proc_open = node_open;
    o.proc_read = seq_read;
    o.proc_lseek = seq_lseek;
    o.proc_release = node_release;
    o.proc_write = node_write;
    return o;
}();

constexpr struct proc_ops ro_ops = [] {
    struct proc_ops o {};
    o.proc_open = node_open;
    o.proc_read = seq_read;
    o.proc_lseek = seq_lseek;
    o.proc_release = node_release;
    return o;
}();

class ProcTest : public ::testing::Test {
  protected:
    void SetUp() override {
        releases = 0;
        last_write.clear();
        mark_ = sim::log_next_seq();
    }
    void TearDown() override {
        sim::fault_clear();
        for (const char *name : {"ptest", "ptest_ro", "ptest_dir"})
            if (sim::vfs::stat(std::string("/proc/") + name, &st_) == 0)
                remove_proc_entry(name, nullptr);
    }

    uint64_t mark_ = 0;
    sim::vfs::Stat st_;
};

TEST_F(ProcTest, Write_WithoutWriteRoutineIsEio) {
    ASSERT_NE(proc_create("ptest_ro", 0664, nullptr, &ro_ops), nullptr);
    EXPECT_EQ(sim::vfs::write_file("/proc/ptest_ro", "1"), -EIO);
    std::string out;
    EXPECT_EQ(sim::vfs::read_file("/proc/ptest_ro", &out), 0);
    EXPECT_EQ(out, "value\n");
}

TEST_F(ProcTest, Write_ReachesWriteRoutine) {
    ASSERT_NE(proc_create("ptest", 0664, nullptr, &rw_ops), nullptr);
    EXPECT_EQ(sim::vfs::write_file("/proc/ptest", "20000512"), 8);
    EXPECT_EQ(last_write, "20000512");
    EXPECT_EQ(releases, 1);
}

TEST_F(ProcTest, Open_PermissionsOfRootAndApp) {
    const struct {
        umode_t mode;
        uid_t uid;
        int flags;
        int open_result;  // 0: opens
    } cases[] = {
        {0440, 0, O_RDONLY_, 0},
        {0440, 0, O_WRONLY_, 0},
        {0440, kAppUid, O_RDONLY_, -EACCES},
        {0440, kAppUid, O_WRONLY_, -EACCES},
        {0664, 0, O_RDWR_, 0},
        {0664, kAppUid, O_RDONLY_, 0},
        {0664, kAppUid, O_WRONLY_, -EACCES},
        {0444, kAppUid, O_RDONLY_, 0},
        {0444, kAppUid, O_WRONLY_, -EACCES},
        {0444, 0, O_WRONLY_, 0},
    };
    struct task_struct *app = sim::task_create_user("app", kAppUid);
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "mode 0" << std::oct << c.mode << std::dec << " uid "
                                        << c.uid << " flags " << c.flags);
        ASSERT_NE(proc_create("ptest_ro", c.mode, nullptr, &ro_ops), nullptr);
        int fd;
        if (c.uid) {
            sim::TaskScope as(app);
            fd = sim::vfs::open("/proc/ptest_ro", c.flags);
        } else {
            fd = sim::vfs::open("/proc/ptest_ro", c.flags);
        }
        if (c.open_result) {
            EXPECT_EQ(fd, c.open_result);
        } else {
            EXPECT_GE(fd, 0);
            sim::vfs::close(fd);
        }
        remove_proc_entry("ptest_ro", nullptr);
    }
    sim::task_exit(app);
}

TEST_F(ProcTest, Write_RootOn0440OpensThenEio) {
    ASSERT_NE(proc_create("ptest_ro", 0440, nullptr, &ro_ops), nullptr);
    int fd = sim::vfs::open("/proc/ptest_ro", O_WRONLY_);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(sim::vfs::write(fd, "1", 1), -EIO);
    char c;
    EXPECT_EQ(sim::vfs::read(fd, &c, 1), -EBADF);
    sim::vfs::close(fd);
}

TEST_F(ProcTest, Create_ModesAsTheKernelGivesThem) {
    const struct {
        umode_t mode;
        umode_t expected;
    } cases[] = {
        {0, S_IFREG | 0444},
        {0664, S_IFREG | 0664},
        {0440, S_IFREG | 0440},
        {S_IFREG, S_IFREG | 0444},
    };
    for (const auto &c : cases) {
        ASSERT_NE(proc_create_single("ptest", c.mode, nullptr, node_show), nullptr);
        ASSERT_EQ(sim::vfs::stat("/proc/ptest", &st_), 0);
        EXPECT_EQ(st_.mode, c.expected) << std::oct << c.mode;
        EXPECT_EQ(st_.size, 0);
        EXPECT_EQ(st_.uid, 0u);
        remove_proc_entry("ptest", nullptr);
    }
    EXPECT_EQ(proc_create("ptest", S_IFDIR | 0555, nullptr, &ro_ops), nullptr);
}

TEST_F(ProcTest, Create_FaultInjectionGivesNull) {
    sim::FaultRule rule;
    rule.op = std::string(sim::fault_op::proc_create);
    sim::fault_arm(rule);
    EXPECT_EQ(proc_create("ptest", 0664, nullptr, &rw_ops), nullptr);
    EXPECT_EQ(sim::vfs::stat("/proc/ptest", &st_), -ENOENT);
    EXPECT_EQ(sim::fault_injected_count(sim::fault_op::proc_create), 1u);
    EXPECT_NE(proc_create("ptest", 0664, nullptr, &rw_ops), nullptr);
}

TEST_F(ProcTest, Create_DuplicateNameWarnsAndFails) {
    ASSERT_NE(proc_create("ptest", 0664, nullptr, &rw_ops), nullptr);
    EXPECT_EQ(proc_create("ptest", 0664, nullptr, &ro_ops), nullptr);
    EXPECT_TRUE(fstest::logged_since(mark_, "proc_dir_entry '/proc/ptest' already registered"));
}

TEST_F(ProcTest, Remove_MissingNameWarns) {
    remove_proc_entry("ptest_missing", nullptr);
    EXPECT_TRUE(fstest::logged_since(mark_, "name 'ptest_missing'"));
    EXPECT_TRUE(fstest::logged_since(mark_, "cut here"));
}

TEST_F(ProcTest, Remove_WhileOpenReleasesAndFailsLaterCalls) {
    ASSERT_NE(proc_create("ptest", 0664, nullptr, &rw_ops), nullptr);
    int fd = sim::vfs::open("/proc/ptest", O_RDWR_);
    ASSERT_GE(fd, 0);
    remove_proc_entry("ptest", nullptr);
    // Removal released the open file, so close does not release it again.
    EXPECT_EQ(releases, 1);
    char buf[8];
    EXPECT_EQ(sim::vfs::read(fd, buf, sizeof(buf)), -EIO);
    EXPECT_EQ(sim::vfs::write(fd, "1", 1), -EIO);
    EXPECT_EQ(sim::vfs::lseek(fd, 0, sim::vfs::SEEK_SET_), -EINVAL);
    EXPECT_EQ(sim::vfs::close(fd), 0);
    EXPECT_EQ(releases, 1);
    EXPECT_EQ(sim::vfs::open("/proc/ptest", O_RDONLY_), -ENOENT);
}

// A write routine that blocks until the test lets it go.
std::mutex gate_lock;
std::condition_variable gate_cv;
bool gate_entered, gate_open;

ssize_t blocking_write(struct file *, const char __user *, size_t count, loff_t *) {
    std::unique_lock<std::mutex> g(gate_lock);
    gate_entered = true;
    gate_cv.notify_all();
    gate_cv.wait(g, [] { return gate_open; });
    return count;
}

constexpr struct proc_ops blocking_ops = [] {
    struct proc_ops o {};
    o.proc_write = blocking_write;
    return o;
}();

TEST_F(ProcTest, Remove_WaitsForRunningHandler) {
    gate_entered = gate_open = false;
    ASSERT_NE(proc_create("ptest", 0664, nullptr, &blocking_ops), nullptr);
    std::thread writer([] { EXPECT_EQ(sim::vfs::write_file("/proc/ptest", "1"), 1); });
    {
        std::unique_lock<std::mutex> g(gate_lock);
        gate_cv.wait(g, [] { return gate_entered; });
    }
    std::atomic<bool> removed{false};
    std::thread remover([&] {
        remove_proc_entry("ptest", nullptr);
        removed = true;
    });
    // Once the entry has left the tree the remover waits for the handler to return.
    sim::vfs::Stat st;
    while (sim::vfs::stat("/proc/ptest", &st) == 0)
        std::this_thread::yield();
    EXPECT_FALSE(removed.load());
    {
        std::lock_guard<std::mutex> g(gate_lock);
        gate_open = true;
        gate_cv.notify_all();
    }
    writer.join();
    remover.join();
    EXPECT_TRUE(removed.load());
}

TEST_F(ProcTest, Mkdir_SubdirectoryEntriesAndRefusedMkdir) {
    struct proc_dir_entry *dir = proc_mkdir("ptest_dir", nullptr);
    ASSERT_NE(dir, nullptr);
    ASSERT_NE(proc_create("b", 0444, dir, &ro_ops), nullptr);
    ASSERT_NE(proc_create("a", 0444, dir, &ro_ops), nullptr);
    ASSERT_NE(proc_create_single("ptest_dir/c", 0444, nullptr, node_show), nullptr);
    std::vector<sim::vfs::DirEntry> entries;
    ASSERT_EQ(sim::vfs::readdir("/proc/ptest_dir", &entries), 0);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, "b");
    EXPECT_EQ(entries[1].name, "a");
    EXPECT_EQ(entries[2].name, "c");
    ASSERT_EQ(sim::vfs::stat("/proc/ptest_dir", &st_), 0);
    EXPECT_EQ(st_.mode, S_IFDIR | 0555);

    EXPECT_EQ(sim::vfs::mkdir("/proc/ptest_dir/new", 0755), -EPERM);
    EXPECT_EQ(sim::vfs::rmdir("/proc/ptest_dir"), -EPERM);
    EXPECT_EQ(sim::vfs::mkdir("/proc/ptest_dir", 0755), -EEXIST);
    struct task_struct *app = sim::task_create_user("app", kAppUid);
    {
        sim::TaskScope as(app);
        EXPECT_EQ(sim::vfs::mkdir("/proc/new", 0755), -EACCES);
        // procfs fails the missing name before it considers creating it.
        EXPECT_EQ(sim::vfs::open("/proc/new", O_WRONLY_ | sim::vfs::O_CREAT_), -ENOENT);
    }
    sim::task_exit(app);
    EXPECT_EQ(sim::vfs::open("/proc/ptest_dir", O_WRONLY_), -EISDIR);
    EXPECT_EQ(sim::vfs::open("/proc/ptest_dir/a/x", O_RDONLY_), -ENOTDIR);

    remove_proc_entry("ptest_dir", nullptr);
    EXPECT_TRUE(fstest::logged_since(mark_, "removing non-empty directory '/proc/ptest_dir'"));
    EXPECT_EQ(sim::vfs::stat("/proc/ptest_dir/a", &st_), -ENOENT);
}

TEST_F(ProcTest, PdeData_ReachesSeqPrivate) {
    static int cookie;
    auto show = [](struct seq_file *m, void *) {
        seq_printf(m, "%d\n", m->private_data == &cookie);
        return 0;
    };
    ASSERT_NE(proc_create_single_data("ptest", 0, nullptr, show, &cookie), nullptr);
    std::string out;
    ASSERT_EQ(sim::vfs::read_file("/proc/ptest", &out), 0);
    EXPECT_EQ(out, "1\n");
}

}  // namespace
