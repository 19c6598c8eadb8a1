// The in-process file API over the node filesystem (procfs at /proc, sysfs at /sys, later
// /dev/memcg and /dev): what a user task's system calls would do. Every call runs as the
// calling thread's current task, whose credentials the permission checks use. Results are
// as the system calls return them: a value >= 0, or a negative errno.
#pragma once

#include <platform/types.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sim::fs {
class Node;
}

namespace sim::vfs {

// open(2) flags and lseek(2) whence, with Linux's values.
inline constexpr int O_RDONLY_ = 0, O_WRONLY_ = 1, O_RDWR_ = 2, O_CREAT_ = 0100, O_TRUNC_ = 01000,
                     O_APPEND_ = 02000;
inline constexpr int SEEK_SET_ = 0, SEEK_CUR_ = 1, SEEK_END_ = 2;

struct Stat {
    umode_t mode = 0;  // file type bits (S_IFDIR 0040000, S_IFREG 0100000, S_IFLNK 0120000) | perms
    uid_t uid = 0;
    gid_t gid = 0;
    loff_t size = 0;
    int64_t mtime = 0;  // wall-clock seconds
    unsigned int nlink = 1;
    unsigned long ino = 0;
    dev_t rdev = 0;  // MKDEV(major, minor) of a device node
};

struct DirEntry {
    std::string name;
    umode_t mode = 0;
    unsigned long ino = 0;
};

int open(std::string_view path, int flags);
ssize_t read(int fd, void *buf, size_t count);
ssize_t write(int fd, const void *buf, size_t count);
loff_t lseek(int fd, loff_t offset, int whence);
int close(int fd);
// A final symlink is not followed (lstat(2)): its own mode is S_IFLNK. Procfs files have size 0
// and sysfs attribute files one page, as the kernel reports them.
int stat(std::string_view path, Stat *st);
// Entries of a directory in the order the tree keeps them (creation order).
int readdir(std::string_view path, std::vector<DirEntry> *entries);
int mkdir(std::string_view path, umode_t mode);
int rmdir(std::string_view path);
// Target of a symbolic link.
int readlink(std::string_view path, std::string *target);

// What setattr() changes, as struct iattr's ia_valid says (ATTR_MTIME_NOW: the current time,
// as utimensat(2) with UTIME_NOW or no times).
inline constexpr unsigned int ATTR_MODE_ = 1, ATTR_UID_ = 2, ATTR_GID_ = 4, ATTR_SIZE_ = 8,
                              ATTR_MTIME_ = 16, ATTR_MTIME_NOW_ = 32;
struct Attr {
    unsigned int valid = 0;
    umode_t mode = 0;
    uid_t uid = 0;
    gid_t gid = 0;
    loff_t size = 0;
    int64_t mtime = 0;
};

// The calls above on a node already found, as a filesystem's own operations get it once the
// path walk is done (the FUSE mount's entries): open(2), lstat(2), getdents(2), readlink(2).
int open_node(const std::shared_ptr<fs::Node> &node, int flags);
void stat_node(const fs::Node &node, Stat *st);
int readdir_node(const std::shared_ptr<fs::Node> &node, std::vector<DirEntry> *entries);
int readlink_node(const fs::Node &node, std::string *target);
// chmod(2), chown(2), utimensat(2) and truncate(2) of a node: the checks of setattr_prepare()
// and utimes_common(), then the change as sysfs, procfs, cgroupfs and devtmpfs keep it (mode,
// owner and time; their files have no size to truncate, so a permitted truncate changes
// nothing).
int setattr_node(const std::shared_ptr<fs::Node> &node, const Attr &attr);

// Conveniences for tests and the shell: open, read everything (or write once), close.
// read_file: 0 or the error of open/read; write_file: what the one write returned.
int read_file(std::string_view path, std::string *out);
int write_file(std::string_view path, std::string_view text);

// Closes every descriptor still open (at shutdown, before the tree goes).
void close_all();

}  // namespace sim::vfs
