// Real model: the root of the node tree and the order its filesystems come up and go down.
#include "simkernel/fs/fs_boot.h"

#include "simkernel/fs/fs_internal.h"
#include "simkernel/fs/vfs.h"

#include <platform/printk.h>
#include <platform/sched.h>
#include <platform/string.h>

#include <cassert>
#include <cstdarg>

namespace sim {

void fs_boot() {
    assert(!fs::root() && "fs_boot() called twice");
    auto root = std::make_shared<fs::Dir>("", 0755);
    fs::set_root(root);
    fs::seq_file_boot();
    fs::proc_boot(root);
    fs::sysfs_boot(root);
    fs::kobjects_boot();
    int err = root->add(std::make_shared<fs::Dir>("dev", 0755));
    assert(!err);
    (void)err;
}

void fs_shutdown() {
    std::shared_ptr<fs::Dir> root = fs::root();
    if (!root)
        return;
    vfs::close_all();
    fs::kobjects_shutdown();
    fs::remove_node(root);
    fs::sysfs_shutdown();
    fs::proc_shutdown();
    fs::seq_file_shutdown();
    fs::set_root(nullptr);
}

namespace fs {

void warn(const char *file, const char *function, const char *fmt, ...) {
    char msg[512];
    va_list args;
    va_start(args, fmt);
    vsnprintf(msg, sizeof(msg), fmt, args);
    va_end(args);
    printk(KERN_WARNING "------------[ cut here ]------------\n");
    size_t len = strlen(msg);
    printk(KERN_WARNING "%s%s", msg, len && msg[len - 1] == '\n' ? "" : "\n");
    printk(KERN_WARNING "WARNING: PID: %d at %s %s\n", get_current()->pid, file, function);
}

}  // namespace fs
}  // namespace sim
